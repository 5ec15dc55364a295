#pragma once

#include "api/python.hpp"

namespace tarnwick::api {

extern PyModuleDef module_definition;

// The module's Frame class, found from any of its classes or from the module
// itself. Borrowed; nullptr with PanicException set if it is gone.
PyTypeObject* frame_class_of(PyObject* module);
PyTypeObject* frame_class_near(PyTypeObject* sibling);

// The module's Grouped class, found the same way.
PyTypeObject* grouped_class_of(PyObject* module);
PyTypeObject* grouped_class_near(PyTypeObject* sibling);

}  // namespace tarnwick::api
