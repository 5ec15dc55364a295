// Frame methods that build a frame column by column and read it back.
#include <array>

#include "api/arguments.hpp"
#include "api/column_import.hpp"
#include "api/frame_object.hpp"

namespace tarnwick::api {

namespace {

constexpr std::array<const char*, 2> name_and_values{"name", "values"};
constexpr std::array<const char*, 1> name_only{"name"};

using ColumnConverter = std::optional<ColumnValues> (*)(PyObject*, const char*);

PyObject* add_converted_column(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                               PyObject* kwnames, const char* display_name,
                               ColumnConverter convert) {
    PyObject* slots[2];
    if (!parse_call({display_name, name_and_values}, args, nargs, kwnames, slots)) return nullptr;
    return frame_call<Use::exclusive>(self, [&](Frame& frame) -> PyObject* {
        std::optional<std::string_view> name = to_text(slots[0], "name");
        if (!name) return nullptr;
        std::optional<ColumnValues> values = convert(slots[1], "values");
        if (!values) return nullptr;
        return none_or_raise(add_column(frame, *name, std::move(*values)));
    });
}

// A Python list of the column's entries in row order, None where missing.
template <class Convert>
PyObject* column_list(const Frame& frame, const ColumnValues& values, Convert convert) {
    Ref list(PyList_New(static_cast<Py_ssize_t>(frame.height())));
    if (!list) return nullptr;
    bool ok = true;
    frame.for_each_position([&](std::size_t row, std::size_t position) {
        if (!ok) return;
        PyObject* item;
        if (values.is_present(position)) {
            item = convert(values, position);
            if (item == nullptr) {
                ok = false;
                return;
            }
        } else {
            item = Py_NewRef(Py_None);
        }
        PyList_SetItem(list.get(), static_cast<Py_ssize_t>(row), item);
    });
    return ok ? list.release() : nullptr;
}

PyObject* int_item(const ColumnValues& values, std::size_t position) {
    return PyLong_FromInt64(values.ints()[position]);
}

PyObject* float_item(const ColumnValues& values, std::size_t position) {
    return PyFloat_FromDouble(values.floats()[position]);
}

PyObject* string_item(const ColumnValues& values, std::size_t position) {
    std::string_view text = values.string(position);
    return PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), nullptr);
}

template <class Convert>
PyObject* read_column(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                      const char* display_name, DType wanted, Convert convert) {
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
        return column_list(frame, *(*column)->values, convert);
    });
}

PyObject* text_list(const std::vector<Column>& columns, auto text_of) {
    Ref list(PyList_New(static_cast<Py_ssize_t>(columns.size())));
    if (!list) return nullptr;
    for (std::size_t i = 0; i < columns.size(); ++i) {
        std::string_view text = text_of(columns[i]);
        PyObject* item =
            PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), nullptr);
        if (item == nullptr) return nullptr;
        PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), item);
    }
    return list.release();
}

}  // namespace

TARNWICK_FAST_METHOD(frame_add_floats) {
    return add_converted_column(self, args, nargs, kwnames, "Frame.add_floats()", to_float_values);
}

TARNWICK_FAST_METHOD(frame_add_ints) {
    return add_converted_column(self, args, nargs, kwnames, "Frame.add_ints()", to_integer_values);
}

TARNWICK_FAST_METHOD(frame_add_strings) {
    return add_converted_column(self, args, nargs, kwnames, "Frame.add_strings()", to_text_values);
}

TARNWICK_PLAIN_METHOD(frame_height) {
    return frame_call<Use::shared>(
        self, [](Frame& frame) { return PyLong_FromUnsignedLongLong(frame.height()); });
}

TARNWICK_PLAIN_METHOD(frame_width) {
    return frame_call<Use::shared>(self,
                                   [](Frame& frame) { return PyLong_FromSize_t(frame.width()); });
}

TARNWICK_PLAIN_METHOD(frame_names) {
    return frame_call<Use::shared>(self, [](Frame& frame) {
        return text_list(frame.columns(), [](const Column& c) { return std::string_view(c.name); });
    });
}

TARNWICK_PLAIN_METHOD(frame_dtypes) {
    return frame_call<Use::shared>(self, [](Frame& frame) {
        return text_list(frame.columns(), [](const Column& c) { return dtype_name(c.dtype()); });
    });
}

TARNWICK_FAST_METHOD(frame_floats) {
    return read_column(self, args, nargs, kwnames, "Frame.floats()", DType::f64, float_item);
}

TARNWICK_FAST_METHOD(frame_ints) {
    return read_column(self, args, nargs, kwnames, "Frame.ints()", DType::i64, int_item);
}

TARNWICK_FAST_METHOD(frame_strings) {
    return read_column(self, args, nargs, kwnames, "Frame.strings()", DType::str, string_item);
}

TARNWICK_PLAIN_METHOD(frame_free) {
    return frame_call<Use::shared>(self, [](Frame&) { Py_RETURN_NONE; });
}

}  // namespace tarnwick::api
