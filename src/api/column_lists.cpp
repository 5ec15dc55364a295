// Frame methods that read a column back as a Python list: ints(), floats(),
// strings().
#include <algorithm>
#include <cstdint>
#include <string_view>

#include "api/frame_object.hpp"
#include "base/text_cache.hpp"

namespace tarnwick::api {

namespace {

// Sets list items [begin, end) to the entries of those rows: make(position)
// for a present entry (a new reference, or nullptr after raising), None for a
// missing one. The row loop is specialised for the frame's selection and the
// column's mask, so the loop for the common case (no selection, nothing
// missing) holds no test but the end of the range.
template <class Make>
bool fill_rows(PyObject* list, Rows rows, const std::uint8_t* present, std::size_t begin,
               std::size_t end, Make& make) {
    PyObject* none = Py_None;  // a call in the limited API: made once
    std::size_t stop = for_each_row(rows, present, begin, end,
                                    [&](std::size_t row, std::size_t position, bool here) {
                                        PyObject* item = here ? make(position) : Py_NewRef(none);
                                        if (item == nullptr) return false;
                                        PyList_SetItem(list, static_cast<Py_ssize_t>(row), item);
                                        return true;
                                    });
    return stop == end;
}

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
    TextView view;
    PyObject* operator()(std::size_t position) const {
        std::string_view text = view[position];
        return PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), nullptr);
    }
};

// The list strings() builds, in which equal entries share one str. A shared
// str is put in without a reference of its own: the cache counts its uses,
// and settle() adds them to its reference count in one call per str instead
// of one per row. The list leaves only through finish(), and every way out
// (finish, forgetting the texts, destruction) settles first, so no list or
// str with a count left too low is ever seen. Nothing reads the counts
// meanwhile: the fill runs no Python code and frees nothing.
class SharedTextList {
  public:
    explicit SharedTextList(std::size_t rows) : list_(PyList_New(static_cast<Py_ssize_t>(rows))) {}
    SharedTextList(const SharedTextList&) = delete;
    SharedTextList& operator=(const SharedTextList&) = delete;
    ~SharedTextList() { settle(); }

    PyObject* list() const { return list_.get(); }
    TextCache& cache() { return cache_; }

    // Starts the cache afresh.
    void forget_texts() { settle(); }

    PyObject* finish() {
        settle();
        return list_.release();
    }

  private:
    void settle() {
        cache_.for_each_use([](void* object, std::uint64_t uses) {
            auto* text = static_cast<PyObject*>(object);
            Py_SET_REFCNT(text, Py_REFCNT(text) + static_cast<Py_ssize_t>(uses));
        });
        cache_.clear();
    }

    Ref list_;
    TextCache cache_;
};

// One str for all equal entries: the first is decoded and remembered, the
// others share it. The look-up is inlined into the row loop; decoding a text
// met for the first time is not.
struct ShareText {
    DecodeText decode;
    TextCache& cache;
    const HashKeys keys = process_hash_keys();
    std::size_t found = 0;

    [[gnu::always_inline]] PyObject* operator()(std::size_t position) {
        TextKey key(decode.view[position], keys);
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

template <class Make>
PyObject* number_list(const Frame& frame, const std::uint8_t* present, Make make) {
    std::size_t rows = frame.height();
    Ref list(PyList_New(static_cast<Py_ssize_t>(rows)));
    if (!list) return nullptr;
    if (!fill_rows(list.get(), frame.rows(), present, 0, rows, make)) return nullptr;
    return list.release();
}

// Equal entries share one str. Whether looking entries up pays is decided a
// block of rows at a time, so a column of unique values is decoded at nearly
// the cost of decoding alone.
PyObject* string_list(const Frame& frame, TextView view) {
    std::size_t rows = frame.height();
    SharedTextList list(rows);
    if (list.list() == nullptr) return nullptr;
    DecodeText decode{view};
    SharingPolicy policy;
    for (std::size_t begin = 0; begin < rows; begin += SharingPolicy::block_rows) {
        std::size_t end = std::min(rows, begin + SharingPolicy::block_rows);
        std::size_t found = 0;
        if (policy.looking_up()) {
            ShareText share{decode, list.cache()};
            if (!fill_rows(list.list(), frame.rows(), view.present, begin, end, share))
                return nullptr;
            found = share.found;
        } else if (!fill_rows(list.list(), frame.rows(), view.present, begin, end, decode)) {
            return nullptr;
        }
        bool was_looking_up = policy.looking_up();
        policy.finish_block(end - begin, found);
        if (was_looking_up && !policy.looking_up() && list.cache().full()) {
            // A full cache that finds too little holds the wrong texts (the
            // column's start was unique, say): start afresh.
            list.forget_texts();
        }
    }
    return list.finish();
}

}  // namespace

PyObject* frame_column_list(PyObject*, Frame& frame, DType wanted, std::string_view name) {
    Result<const Column*> column = find_column_of_kind(frame, name, wanted);
    if (!column) {
        raise_failure(column.error());
        return nullptr;
    }
    return visit(
        *(*column)->values,
        Overloaded{
            [&](IntView view) { return number_list(frame, view.present, MakeInt{view.values}); },
            [&](FloatView view) {
                return number_list(frame, view.present, MakeFloat{view.values});
            },
            [&](TextView view) { return string_list(frame, view); },
        });
}

}  // namespace tarnwick::api
