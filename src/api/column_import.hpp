// The `values` of add_ints, add_floats and add_strings: an object of the Arrow
// PyCapsule interface, an array with the buffer protocol, or a sequence.
#pragma once

#include <optional>

#include "api/python.hpp"
#include "engine/column_values.hpp"

namespace tarnwick::api {

// Each returns nullopt with the exception set and the parameter's note.
std::optional<ColumnValues> to_integer_values(PyObject* object, const char* parameter);
std::optional<ColumnValues> to_float_values(PyObject* object, const char* parameter);
std::optional<ColumnValues> to_text_values(PyObject* object, const char* parameter);

// arrow_capsules.cpp: whether the object's type offers __arrow_c_stream__ or
// __arrow_c_array__ (-1 with an exception set when the look-up fails).
int is_arrow_exporter(PyObject* object);
// Copies what the exporter hands over into a column of `kind`; every struct
// received is released on every path.
std::optional<ColumnValues> arrow_column(PyObject* object, DType kind, const char* parameter);

// buffer_import.cpp: a one-dimensional contiguous array of numbers whose
// element-by-element conversion is sure to give exactly the same column,
// copied straight from its memory. nullopt without an exception means: take
// the element path instead.
std::optional<ColumnValues> buffer_column(PyObject* object, DType kind);

}  // namespace tarnwick::api
