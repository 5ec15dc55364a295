// Frame methods and slots that give the frame as text: to_csv, describe, and
// the repr and str slots.
#include <string_view>

#include "api/frame_object.hpp"
#include "csv/writer.hpp"
#include "repr/frame_text.hpp"

namespace tarnwick::api {

namespace {

PyObject* str_of(const char* bytes, std::size_t size) {
    return PyUnicode_DecodeUTF8(bytes, static_cast<Py_ssize_t>(size), nullptr);
}

PyObject* text_of(const Frame& frame) {
    std::string text = frame_text(frame);
    return str_of(text.data(), text.size());
}

}  // namespace

PyObject* frame_to_csv(PyObject*, Frame& frame) {
    CsvText text = write_csv(frame);
    auto size = static_cast<Py_ssize_t>(text.bytes.size());
    // The ASCII decoder is one copying pass; the UTF-8 one first looks for a
    // non-ASCII byte, then copies.
    if (text.ascii) return PyUnicode_DecodeASCII(text.bytes.data(), size, nullptr);
    return str_of(text.bytes.data(), text.bytes.size());
}

PyObject* frame_describe(PyObject*, Frame& frame) {
    return text_of(frame);
}

PyObject* frame_repr(PyObject* self) {
    return run_method<Frame, Use::shared>(self, ClassOf<Frame>::type_path,
                                          [](Frame& frame) { return text_of(frame); });
}

}  // namespace tarnwick::api
