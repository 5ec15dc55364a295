// Frame methods that read a column back as a Python list: ints(), floats(),
// strings().
#include <array>

#include "api/arguments.hpp"
#include "api/frame_object.hpp"

namespace tarnwick::api {

namespace {

constexpr std::array<const char*, 1> name_only{"name"};

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

}  // namespace

TARNWICK_FAST_METHOD(frame_floats) {
    return read_column(self, args, nargs, kwnames, "Frame.floats()", DType::f64, float_item);
}

TARNWICK_FAST_METHOD(frame_ints) {
    return read_column(self, args, nargs, kwnames, "Frame.ints()", DType::i64, int_item);
}

TARNWICK_FAST_METHOD(frame_strings) {
    return read_column(self, args, nargs, kwnames, "Frame.strings()", DType::str, string_item);
}

}  // namespace tarnwick::api
