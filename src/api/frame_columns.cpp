// Frame methods that build a frame column by column and read its shape back.
#include "api/frame_object.hpp"

namespace tarnwick::api {

namespace {

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

PyObject* frame_add_column(PyObject*, Frame& frame, std::string_view name, ColumnValues values) {
    return none_or_raise(add_column(frame, name, std::move(values)));
}

PyObject* frame_height(PyObject*, Frame& frame) {
    return PyLong_FromUnsignedLongLong(frame.height());
}

PyObject* frame_width(PyObject*, Frame& frame) {
    return PyLong_FromSize_t(frame.width());
}

PyObject* frame_names(PyObject*, Frame& frame) {
    return text_list(frame.columns(), [](const Column& c) { return std::string_view(c.name); });
}

PyObject* frame_dtypes(PyObject*, Frame& frame) {
    return text_list(frame.columns(), [](const Column& c) { return dtype_name(c.dtype()); });
}

PyObject* frame_free(PyObject*, Frame&) {
    Py_RETURN_NONE;
}

}  // namespace tarnwick::api
