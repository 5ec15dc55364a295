// The Grouped class: its heap type from a slot table, deallocation and method table. Instances
// come only from Frame.group.
#include "api/grouped_object.hpp"

namespace tarnwick::api {

namespace {

void grouped_dealloc(PyObject* self) {
    dealloc_instance<Grouped>(self, ClassOf<Grouped>::type_path);
}

using Name = Param<"name", to_text>;

template <Literal name, auto body, class P = Params<>, auto... bound>
using M = Method<Grouped, name, Use::shared, body, P, bound...>;

// In the order users see them listed.
PyMethodDef grouped_methods[] = {
    M<"groups", grouped_groups>::row(),
    M<"count", grouped_count>::row(),
    M<"sum", grouped_reduce, Params<Name>, Aggregation::Sum>::row(),
    M<"mean", grouped_reduce, Params<Name>, Aggregation::Mean>::row(),
    M<"min", grouped_reduce, Params<Name>, Aggregation::Min>::row(),
    M<"max", grouped_reduce, Params<Name>, Aggregation::Max>::row(),
    M<"describe", grouped_describe>::row(),
    M<"free", grouped_free>::row<free_documentation>(),
    {nullptr, nullptr, 0, nullptr},
};

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
