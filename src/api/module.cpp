// Module initialisation: the definition, its execution step, and the lookup of
// the Frame and Grouped classes by methods of other classes.
#include "api/module.hpp"

#include <string>

#include "api/errors.hpp"
#include "api/frame_object.hpp"
#include "api/grouped_object.hpp"
#include "api/read_csv.hpp"

namespace tarnwick::api {

namespace {

// Appends `name` to the module's __all__ (made if absent), then sets the
// attribute. Steals `object`.
bool add_to_module(PyObject* module, const char* name, PyObject* object) {
    Ref owned(object);
    if (!owned) return false;
    Ref all(PyObject_GetAttrString(module, "__all__"));
    if (!all) {
        if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return false;
        PyErr_Clear();
        all = Ref(PyList_New(0));
        if (!all || PyObject_SetAttrString(module, "__all__", all.get()) < 0) return false;
    }
    Ref text(PyUnicode_FromString(name));
    if (!text || PyList_Append(all.get(), text.get()) < 0) return false;
    return PyObject_SetAttrString(module, name, owned.get()) == 0;
}

int exec_module(PyObject* module) {
    if (!PyModule_Check(module)) {
        Ref name(PyType_GetQualName(Py_TYPE(module)));
        if (name)
            PyErr_Format(PyExc_TypeError, "'%U' object is not an instance of 'module'", name.get());
        return -1;
    }
    if (!add_to_module(module, "read_csv", make_read_csv_function(module))) return -1;
    if (!add_to_module(module, "Frame", make_frame_class(module))) return -1;
    if (!add_to_module(module, "Grouped", make_grouped_class(module))) return -1;
    return 0;
}

PyModuleDef_Slot module_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(exec_module)},
    {Py_mod_gil, Py_MOD_GIL_NOT_USED},
    {0, nullptr},
};

}  // namespace

PyModuleDef module_definition = {
    PyModuleDef_HEAD_INIT, "tarnwick", "", 0, nullptr, module_slots, nullptr, nullptr, nullptr,
};

namespace {

// The module attribute `name` when it is a class that `is_class` recognises.
// Borrowed: the module keeps the class alive.
PyTypeObject* class_of(PyObject* module, const char* name, bool (*is_class)(PyTypeObject*)) {
    Ref found(PyObject_GetAttrString(module, name));
    if (found && PyType_Check(found.get()) &&
        is_class(reinterpret_cast<PyTypeObject*>(found.get()))) {
        return reinterpret_cast<PyTypeObject*>(found.get());
    }
    PyErr_Clear();
    raise_panic(std::string("the ") + name +
                " class of the tarnwick module was replaced or removed");
    return nullptr;
}

}  // namespace

PyTypeObject* frame_class_of(PyObject* module) {
    return class_of(module, "Frame", is_frame_class);
}

PyTypeObject* frame_class_near(PyTypeObject* sibling) {
    PyObject* module = PyType_GetModuleByDef(sibling, &module_definition);
    if (module == nullptr) return nullptr;
    return frame_class_of(module);
}

PyTypeObject* grouped_class_of(PyObject* module) {
    return class_of(module, "Grouped", is_grouped_class);
}

PyTypeObject* grouped_class_near(PyTypeObject* sibling) {
    PyObject* module = PyType_GetModuleByDef(sibling, &module_definition);
    if (module == nullptr) return nullptr;
    return grouped_class_of(module);
}

}  // namespace tarnwick::api

// PyMODINIT_FUNC declares the function extern "C" and exported.
PyMODINIT_FUNC PyInit_tarnwick() {
    return PyModuleDef_Init(&tarnwick::api::module_definition);
}
