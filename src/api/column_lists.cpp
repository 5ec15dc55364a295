// Frame methods that read a column back as a Python list: ints(), floats(),
// strings().
#include <algorithm>
#include <array>
#include <cstdint>
#include <string_view>

#include "api/arguments.hpp"
#include "api/frame_object.hpp"
#include "base/text_cache.hpp"

namespace tarnwick::api {

namespace {

constexpr std::array<const char*, 1> name_only{"name"};

// Sets list items [begin, end) to the entries of those rows: make(position)
// for a present entry (a new reference, or nullptr after raising), None for a
// missing one. The row-to-position mapping and the presence test are template
// arguments, so the loop for the common case (no selection, nothing missing)
// holds no test but the end of the range.
template <bool Selected, bool Missing, class Make>
bool fill_rows(PyObject* list, const std::uint32_t* selection, const std::uint8_t* present,
               std::size_t begin, std::size_t end, Make& make) {
    PyObject* none = Py_None;  // a call in the limited API: made once
    for (std::size_t row = begin; row < end; ++row) {
        std::size_t position = Selected ? std::size_t{selection[row]} : row;
        PyObject* item;
        if (Missing && present[position] == 0) {
            item = Py_NewRef(none);
        } else {
            item = make(position);
            if (item == nullptr) return false;
        }
        PyList_SetItem(list, static_cast<Py_ssize_t>(row), item);
    }
    return true;
}

// The rows of a frame and the entries of one of its columns, as the list
// fillers need them.
struct RowSource {
    const std::uint32_t* selection;  // nullptr: row r is stored at r
    const std::uint8_t* present;     // nullptr: no entry is missing

    RowSource(const Frame& frame, const ColumnValues& values)
        : selection(frame.selection() ? frame.selection()->data() : nullptr),
          present(values.presence()) {}

    template <class Make>
    bool fill(PyObject* list, std::size_t begin, std::size_t end, Make& make) const {
        if (selection != nullptr) {
            return present != nullptr
                       ? fill_rows<true, true>(list, selection, present, begin, end, make)
                       : fill_rows<true, false>(list, selection, present, begin, end, make);
        }
        return present != nullptr
                   ? fill_rows<false, true>(list, selection, present, begin, end, make)
                   : fill_rows<false, false>(list, selection, present, begin, end, make);
    }
};

// PyLong_FromLong rather than PyLong_FromInt64: on this platform they take the
// same values, and the first is the interpreter's quicker path (it reuses freed
// ints); profiles put it at numpy's cost per int.
static_assert(sizeof(long) == sizeof(std::int64_t));

struct MakeInt {
    const std::int64_t* values;
    PyObject* operator()(std::size_t position) const { return PyLong_FromLong(values[position]); }
};

struct MakeFloat {
    const double* values;
    PyObject* operator()(std::size_t position) const {
        return PyFloat_FromDouble(values[position]);
    }
};

// A fresh str for every entry.
struct DecodeText {
    const std::uint64_t* offsets;
    const char* bytes;
    PyObject* operator()(std::size_t position) const {
        std::uint64_t start = offsets[position];
        return PyUnicode_DecodeUTF8(
            bytes + start, static_cast<Py_ssize_t>(offsets[position + 1] - start), nullptr);
    }
};

// One str for all equal entries: the first is decoded and remembered, the
// others share it. The look-up is inlined into the row loop; decoding a text
// met for the first time is not. A shared str is put in the list without a
// reference of its own: the cache counts the uses, and SharedUses adds them.
struct ShareText {
    DecodeText decode;
    TextCache& cache;
    const HashKeys keys = process_hash_keys();
    std::size_t found = 0;

    [[gnu::always_inline]] PyObject* operator()(std::size_t position) {
        std::uint64_t start = decode.offsets[position];
        TextKey key({decode.bytes + start, decode.offsets[position + 1] - start}, keys);
        if (void* known = cache.use(key)) {
            ++found;
            return static_cast<PyObject*>(known);
        }
        return first_time(position, key);
    }

    [[gnu::noinline]] PyObject* first_time(std::size_t position, const TextKey& key) {
        PyObject* item = decode(position);
        if (item == nullptr) return nullptr;
        try {
            cache.remember(key, item);  // may run out of memory growing
        } catch (...) {
            Py_DECREF(item);
            throw;
        }
        return item;
    }
};

// Adds to each shared str the references of the rows that share it: one call
// per distinct str instead of one per row. It must run before the cache
// forgets its texts and before the list is handed out or dropped, on every
// path: nothing reads these counts meanwhile (the fill runs no Python code and
// frees nothing).
struct SharedUses {
    const TextCache& cache;
    void settle() const {
        cache.for_each_use([](void* object, std::uint64_t uses) {
            auto* text = static_cast<PyObject*>(object);
            Py_SET_REFCNT(text, Py_REFCNT(text) + static_cast<Py_ssize_t>(uses));
        });
    }
    ~SharedUses() { settle(); }
};

template <class Make>
PyObject* number_list(const Frame& frame, const ColumnValues& values, Make make) {
    std::size_t rows = frame.height();
    Ref list(PyList_New(static_cast<Py_ssize_t>(rows)));
    if (!list) return nullptr;
    if (!RowSource(frame, values).fill(list.get(), 0, rows, make)) return nullptr;
    return list.release();
}

PyObject* int_list(const Frame& frame, const ColumnValues& values) {
    return number_list(frame, values, MakeInt{values.ints().data()});
}

PyObject* float_list(const Frame& frame, const ColumnValues& values) {
    return number_list(frame, values, MakeFloat{values.floats().data()});
}

// Equal entries share one str. Whether looking entries up pays is decided a
// block of rows at a time, so a column of unique values is decoded at nearly
// the cost of decoding alone.
PyObject* string_list(const Frame& frame, const ColumnValues& values) {
    std::size_t rows = frame.height();
    Ref list(PyList_New(static_cast<Py_ssize_t>(rows)));
    if (!list) return nullptr;
    RowSource source(frame, values);
    DecodeText decode{values.offsets().data(), values.bytes()};
    TextCache cache;
    SharedUses uses{cache};  // declared after the list and the cache: goes first
    SharingPolicy policy;
    for (std::size_t begin = 0; begin < rows; begin += SharingPolicy::block_rows) {
        std::size_t end = std::min(rows, begin + SharingPolicy::block_rows);
        std::size_t found = 0;
        if (policy.looking_up()) {
            ShareText share{decode, cache};
            if (!source.fill(list.get(), begin, end, share)) return nullptr;
            found = share.found;
        } else if (!source.fill(list.get(), begin, end, decode)) {
            return nullptr;
        }
        bool was_looking_up = policy.looking_up();
        policy.finish_block(end - begin, found);
        if (was_looking_up && !policy.looking_up() && cache.full()) {
            // A full cache that finds too little holds the wrong texts (the
            // column's start was unique, say): start afresh.
            uses.settle();
            cache.clear();
        }
    }
    return list.release();
}

using ListBuilder = PyObject* (*)(const Frame&, const ColumnValues&);

PyObject* read_column(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                      const char* display_name, DType wanted, ListBuilder build) {
    PyObject* slots[1];
    if (!parse_call({display_name, name_only}, args, nargs, kwnames, slots)) return nullptr;
    return frame_call<Use::shared>(self, [&](Frame& frame) -> PyObject* {
        std::optional<std::string_view> name = to_text(slots[0], "name");
        if (!name) return nullptr;
        Result<const Column*> column = find_column_of_kind(frame, *name, wanted);
        if (!column) {
            raise_failure(column.error());
            return nullptr;
        }
        return build(frame, *(*column)->values);
    });
}

}  // namespace

TARNWICK_FAST_METHOD(frame_floats) {
    return read_column(self, args, nargs, kwnames, "Frame.floats()", DType::f64, float_list);
}

TARNWICK_FAST_METHOD(frame_ints) {
    return read_column(self, args, nargs, kwnames, "Frame.ints()", DType::i64, int_list);
}

TARNWICK_FAST_METHOD(frame_strings) {
    return read_column(self, args, nargs, kwnames, "Frame.strings()", DType::str, string_list);
}

}  // namespace tarnwick::api
