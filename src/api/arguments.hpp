// Matching a call's arguments to parameters, and converting each argument to
// an engine value. Every converter returns nullopt with the Python exception
// set and the note "while processing '{parameter}'" attached.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "api/python.hpp"
#include "engine/column_values.hpp"

namespace tarnwick::api {

// Every parameter is required and may be given by position or by keyword.
struct Parameters {
    const char* display_name;  // "Frame.add_ints()"
    std::span<const char* const> names;
};

// Fills `slots` (one per parameter, borrowed references) from a fast call.
// Returns false with TypeError set when the call's shape does not fit.
bool parse_call(const Parameters& parameters, PyObject* const* args, Py_ssize_t nargs,
                PyObject* kwnames, PyObject** slots);

// The same rules for an argument tuple and keyword dictionary (the constructor).
bool parse_call(const Parameters& parameters, PyObject* args, PyObject* kwargs, PyObject** slots);

// A str as its UTF-8 bytes; the view lives as long as the str object does.
std::optional<std::string_view> to_text(PyObject* object, const char* parameter);
std::optional<std::int64_t> to_integer(PyObject* object, const char* parameter);
std::optional<double> to_float(PyObject* object, const char* parameter);
std::optional<bool> to_truth(PyObject* object, const char* parameter);

// Sequences of a kind (the last way of column_import.hpp, after Arrow and
// buffers), converted item by item straight into column storage.
std::optional<ColumnValues> to_integer_sequence(PyObject* object, const char* parameter);
std::optional<ColumnValues> to_float_sequence(PyObject* object, const char* parameter);
std::optional<ColumnValues> to_text_sequence(PyObject* object, const char* parameter);

// Sequences of a kind as plain vectors, for short lists of names or values.
std::optional<std::vector<double>> to_float_list(PyObject* object, const char* parameter);
std::optional<std::vector<std::string>> to_text_list(PyObject* object, const char* parameter);

}  // namespace tarnwick::api
