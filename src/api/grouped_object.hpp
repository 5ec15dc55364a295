// The Python class Grouped.
#pragma once

#include "api/call.hpp"
#include "api/frame_object.hpp"
#include "api/python.hpp"
#include "engine/grouped.hpp"

namespace tarnwick::api {

inline constexpr const char* grouped_type_path = "tarnwick::api::Grouped";

using GroupedObject = Instance<Grouped>;

// Creates the class for `module`; a new reference.
PyObject* make_grouped_class(PyObject* module);

// True for instances of the class made by make_grouped_class.
bool is_grouped_class(PyTypeObject* type);

template <Use use, class Body>
PyObject* grouped_call(PyObject* self, Body&& body) {
    return run_method<Grouped, use>(self, grouped_type_path, std::forward<Body>(body));
}

// grouped_methods.cpp
TARNWICK_PLAIN_METHOD(grouped_groups);
TARNWICK_PLAIN_METHOD(grouped_count);
TARNWICK_FAST_METHOD(grouped_sum);
TARNWICK_FAST_METHOD(grouped_mean);
TARNWICK_FAST_METHOD(grouped_min);
TARNWICK_FAST_METHOD(grouped_max);
TARNWICK_PLAIN_METHOD(grouped_describe);
PyObject* grouped_text_slot(PyObject* self);

}  // namespace tarnwick::api
