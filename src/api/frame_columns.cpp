// Frame methods that build a frame column by column and read it back.
#include <array>

#include "api/arguments.hpp"
#include "api/column_import.hpp"
#include "api/frame_object.hpp"

namespace tarnwick::api {

namespace {

constexpr std::array<const char*, 2> name_and_values{"name", "values"};

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

TARNWICK_PLAIN_METHOD(frame_free) {
    return frame_call<Use::shared>(self, [](Frame&) { Py_RETURN_NONE; });
}

}  // namespace tarnwick::api
