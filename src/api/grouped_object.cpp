// The Grouped class: its type spec, deallocation and method table. Instances
// come only from Frame.group.
#include "api/grouped_object.hpp"

namespace tarnwick::api {

namespace {

void grouped_dealloc(PyObject* self) {
    dealloc_instance<Grouped>(self, grouped_type_path);
}

PyObject* grouped_free(PyObject* self, PyObject*) {
    return grouped_call<Use::shared>(self, [](Grouped&) { Py_RETURN_NONE; });
}

constexpr int fast = METH_FASTCALL | METH_KEYWORDS;

#define METHOD(name, call, doc) \
    {#name, reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(grouped_##name)), call, doc}

// In the order users see them listed.
PyMethodDef grouped_methods[] = {
    METHOD(groups, METH_NOARGS, "groups($self)\n--\n\n"),
    METHOD(count, METH_NOARGS, "count($self)\n--\n\n"),
    METHOD(sum, fast, "sum($self, name)\n--\n\n"),
    METHOD(mean, fast, "mean($self, name)\n--\n\n"),
    METHOD(min, fast, "min($self, name)\n--\n\n"),
    METHOD(max, fast, "max($self, name)\n--\n\n"),
    METHOD(describe, METH_NOARGS, "describe($self)\n--\n\n"),
    METHOD(free, METH_NOARGS,
           "free($self)\n--\n\nNothing under CPython, which frees the object itself; in a page, "
           "the instance goes back to the library."),
    {nullptr, nullptr, 0, nullptr},
};

#undef METHOD

PyType_Slot grouped_slots[] = {
    {Py_tp_doc, const_cast<char*>("A frame split by the values of some columns; each aggregation "
                                  "is a `Frame` with the key\ncolumns first, one row per group.")},
    {Py_tp_repr, reinterpret_cast<void*>(grouped_text_slot)},
    {Py_tp_str, reinterpret_cast<void*>(grouped_text_slot)},
    {Py_tp_dealloc, reinterpret_cast<void*>(grouped_dealloc)},
    {Py_tp_methods, grouped_methods},
    {0, nullptr},
};

PyType_Spec grouped_spec = {
    "builtins.Grouped",
    static_cast<int>(sizeof(GroupedObject)),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION,
    grouped_slots,
};

}  // namespace

PyObject* make_grouped_class(PyObject* module) {
    return PyType_FromModuleAndSpec(module, &grouped_spec, nullptr);
}

bool is_grouped_class(PyTypeObject* type) {
    return PyType_GetSlot(type, Py_tp_dealloc) == reinterpret_cast<void*>(grouped_dealloc);
}

}  // namespace tarnwick::api
