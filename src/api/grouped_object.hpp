// The Python class Grouped.
#pragma once

#include "api/call.hpp"
#include "api/python.hpp"
#include "engine/grouped.hpp"

namespace tarnwick::api {

inline constexpr const char* grouped_type_path = "tarnwick::api::Grouped";

using GroupedObject = Instance<Grouped>;

// Creates the class for `module`; a new reference.
PyObject* make_grouped_class(PyObject* module);

template <Use use, class Body>
PyObject* grouped_call(PyObject* self, Body&& body) {
    return run_method<Grouped, use>(self, grouped_type_path, std::forward<Body>(body));
}

}  // namespace tarnwick::api
