// The Frame class: its type spec, constructor, deallocation and method table.
#include "api/frame_object.hpp"

#include <span>

#include "api/arguments.hpp"

namespace tarnwick::api {

namespace {

PyObject* frame_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    PyObject* no_slots[1];
    if (!parse_call({"Frame.__new__()", std::span<const char* const>{}}, args, kwargs, no_slots)) {
        return nullptr;
    }
    return guarded([&] { return wrap_frame(type, Frame{}); });
}

void frame_dealloc(PyObject* self) {
    dealloc_instance<Frame>(self, frame_type_path);
}

constexpr int fast = METH_FASTCALL | METH_KEYWORDS;

// Fast methods have another C signature than PyCFunction; the flags tell
// CPython how to call each.
#define METHOD(name, call, doc) \
    {#name, reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(frame_##name)), call, doc}

// In the order users see them listed.
PyMethodDef frame_methods[] = {
    METHOD(add_floats, fast, "add_floats($self, name, values)\n--\n\n"),
    METHOD(add_ints, fast, "add_ints($self, name, values)\n--\n\n"),
    METHOD(add_strings, fast, "add_strings($self, name, values)\n--\n\n"),
    METHOD(add_date_part, fast, "add_date_part($self, name, source, part)\n--\n\n"),
    METHOD(height, METH_NOARGS, "height($self)\n--\n\n"),
    METHOD(width, METH_NOARGS, "width($self)\n--\n\n"),
    METHOD(names, METH_NOARGS, "names($self)\n--\n\n"),
    METHOD(dtypes, METH_NOARGS, "dtypes($self)\n--\n\n"),
    METHOD(select, fast, "select($self, names)\n--\n\n"),
    METHOD(head, fast, "head($self, n)\n--\n\n"),
    METHOD(tail, fast, "tail($self, n)\n--\n\n"),
    METHOD(sort, fast, "sort($self, name, descending)\n--\n\n"),
    METHOD(where_eq, fast, "where_eq($self, name, value)\n--\n\n"),
    METHOD(where_ne, fast, "where_ne($self, name, value)\n--\n\n"),
    METHOD(where_lt, fast, "where_lt($self, name, value)\n--\n\n"),
    METHOD(where_le, fast, "where_le($self, name, value)\n--\n\n"),
    METHOD(where_gt, fast, "where_gt($self, name, value)\n--\n\n"),
    METHOD(where_ge, fast, "where_ge($self, name, value)\n--\n\n"),
    METHOD(where_among, fast, "where_among($self, name, values)\n--\n\n"),
    METHOD(where_is, fast, "where_is($self, name, value)\n--\n\n"),
    METHOD(where_in, fast, "where_in($self, name, values)\n--\n\n"),
    METHOD(group, fast, "group($self, names)\n--\n\n"),
    METHOD(floats, fast, "floats($self, name)\n--\n\n"),
    METHOD(ints, fast, "ints($self, name)\n--\n\n"),
    METHOD(strings, fast, "strings($self, name)\n--\n\n"),
    METHOD(to_csv, METH_NOARGS, "to_csv($self)\n--\n\n"),
    METHOD(describe, METH_NOARGS, "describe($self)\n--\n\n"),
    METHOD(free, METH_NOARGS,
           "free($self)\n--\n\nNothing under CPython, which frees the object itself; in a page, "
           "the instance goes back to the library."),
    // The Arrow PyCapsule interface (arrow_capsules.cpp).
    {"__arrow_c_schema__", frame_arrow_c_schema, METH_NOARGS, "__arrow_c_schema__($self)\n--\n\n"},
    {"__arrow_c_stream__",
     reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(frame_arrow_c_stream)), fast,
     "__arrow_c_stream__($self, requested_schema=None)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

#undef METHOD

PyType_Slot frame_slots[] = {
    {Py_tp_doc, const_cast<char*>("Frame()\n--\n\nA table: named columns of one length.")},
    {Py_tp_new, reinterpret_cast<void*>(frame_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(frame_dealloc)},
    {Py_tp_repr, reinterpret_cast<void*>(frame_repr)},
    {Py_tp_str, reinterpret_cast<void*>(frame_repr)},
    {Py_tp_methods, frame_methods},
    {0, nullptr},
};

PyType_Spec frame_spec = {
    "builtins.Frame", static_cast<int>(sizeof(FrameObject)), 0, Py_TPFLAGS_DEFAULT, frame_slots,
};

}  // namespace

PyObject* make_frame_class(PyObject* module) {
    return PyType_FromModuleAndSpec(module, &frame_spec, nullptr);
}

bool is_frame_class(PyTypeObject* type) {
    return PyType_GetSlot(type, Py_tp_dealloc) == reinterpret_cast<void*>(frame_dealloc);
}

}  // namespace tarnwick::api
