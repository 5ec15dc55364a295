// The module function read_csv.
#pragma once

#include "api/python.hpp"

namespace tarnwick::api {

// The function object read_csv bound to `module`; a new reference.
PyObject* make_read_csv_function(PyObject* module);

}  // namespace tarnwick::api
