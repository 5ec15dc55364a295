// The Python class Grouped: its instances, and the bodies of its methods
// (grouped_methods.cpp), which the method table (grouped_object.cpp) calls.
#pragma once

#include <string_view>

#include "api/call.hpp"
#include "api/method.hpp"
#include "api/python.hpp"
#include "engine/aggregate.hpp"
#include "engine/grouped.hpp"

namespace tarnwick::api {

using GroupedObject = Instance<Grouped>;

template <>
struct ClassOf<Grouped> {
    static constexpr Literal name = "Grouped";
    static constexpr const char* type_path = "tarnwick::api::Grouped";
};

// Creates the class for `module`; a new reference.
PyObject* make_grouped_class(PyObject* module);

// True for instances of the class made by make_grouped_class.
bool is_grouped_class(PyTypeObject* type);

PyObject* grouped_groups(PyObject* self, Grouped& grouped);
PyObject* grouped_count(PyObject* self, Grouped& grouped);
PyObject* grouped_reduce(PyObject* self, Grouped& grouped, Aggregation kind, std::string_view name);
PyObject* grouped_describe(PyObject* self, Grouped& grouped);
PyObject* grouped_free(PyObject* self, Grouped& grouped);
// The repr and str slots.
PyObject* grouped_text_slot(PyObject* self);

}  // namespace tarnwick::api
