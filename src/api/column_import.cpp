#include "api/column_import.hpp"

#include "api/arguments.hpp"
#include "api/errors.hpp"

namespace tarnwick::api {

namespace {

using SequenceConverter = std::optional<ColumnValues> (*)(PyObject*, const char*);

std::optional<ColumnValues> to_values(PyObject* object, const char* parameter, DType kind,
                                      SequenceConverter sequence) {
    // Lists and tuples are the common case and never exporters.
    if (!PyList_CheckExact(object) && !PyTuple_CheckExact(object)) {
        int exporter = is_arrow_exporter(object);
        if (exporter < 0) {
            note_conversion_failure(parameter);
            return std::nullopt;
        }
        if (exporter == 1) return arrow_column(object, kind, parameter);
        std::optional<ColumnValues> copied = buffer_column(object, kind);
        if (copied) return copied;
    }
    return sequence(object, parameter);
}

}  // namespace

std::optional<ColumnValues> to_integer_values(PyObject* object, const char* parameter) {
    return to_values(object, parameter, DType::i64, to_integer_sequence);
}

std::optional<ColumnValues> to_float_values(PyObject* object, const char* parameter) {
    return to_values(object, parameter, DType::f64, to_float_sequence);
}

std::optional<ColumnValues> to_text_values(PyObject* object, const char* parameter) {
    return to_values(object, parameter, DType::str, to_text_sequence);
}

}  // namespace tarnwick::api
