// The Python class Frame: its instances, and the bodies of its methods by the
// files that hold them. The method table (frame_object.cpp) describes each
// method once and calls these bodies with the converted arguments.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "api/call.hpp"
#include "api/method.hpp"
#include "api/python.hpp"
#include "engine/filters.hpp"
#include "engine/frame.hpp"

namespace tarnwick::api {

using FrameObject = Instance<Frame>;

template <>
struct ClassOf<Frame> {
    static constexpr Literal name = "Frame";
    static constexpr const char* type_path = "tarnwick::api::Frame";
};

// Creates the class for `module`; a new reference.
PyObject* make_frame_class(PyObject* module);

// True for instances of the class made by make_frame_class.
bool is_frame_class(PyTypeObject* type);

// A new Frame object of class `type` holding `frame`.
inline PyObject* wrap_frame(PyTypeObject* type, Frame&& frame) {
    return wrap_instance(type, std::move(frame));
}

// A new Frame object of the receiver's own class, or the failure raised.
inline PyObject* wrap_in_own_class(PyObject* self, Result<Frame> result) {
    return wrap_or_raise(std::move(result), [self] { return Py_TYPE(self); });
}

// frame_columns.cpp: add_ints, add_floats, add_strings; height, width,
// names, dtypes, free.
PyObject* frame_add_column(PyObject* self, Frame& frame, std::string_view name,
                           ColumnValues values);
PyObject* frame_height(PyObject* self, Frame& frame);
PyObject* frame_width(PyObject* self, Frame& frame);
PyObject* frame_names(PyObject* self, Frame& frame);
PyObject* frame_dtypes(PyObject* self, Frame& frame);
PyObject* frame_free(PyObject* self, Frame& frame);

// column_lists.cpp: ints, floats, strings.
PyObject* frame_column_list(PyObject* self, Frame& frame, DType wanted, std::string_view name);

// frame_dates.cpp: add_date_part.
PyObject* frame_add_date_part(PyObject* self, Frame& frame, std::string_view name,
                              std::string_view source, std::string_view part);

// frame_rows.cpp: select, head, tail, sort and the filters.
PyObject* frame_select(PyObject* self, Frame& frame, std::vector<std::string> names);
using RowSlice = Frame (*)(const Frame&, std::int64_t);
PyObject* frame_slice(PyObject* self, Frame& frame, RowSlice take, std::int64_t n);
PyObject* frame_sort(PyObject* self, Frame& frame, std::string_view name, bool descending);
PyObject* frame_compare(PyObject* self, Frame& frame, CompareOp op, std::string_view name,
                        double value);
PyObject* frame_where_among(PyObject* self, Frame& frame, std::string_view name,
                            std::vector<double> values);
PyObject* frame_where_is(PyObject* self, Frame& frame, std::string_view name,
                         std::string_view value);
PyObject* frame_where_in(PyObject* self, Frame& frame, std::string_view name,
                         std::vector<std::string> values);

// frame_group.cpp: group.
PyObject* frame_group(PyObject* self, Frame& frame, std::vector<std::string> names);

// frame_output.cpp: to_csv, describe, and the repr and str slots.
PyObject* frame_to_csv(PyObject* self, Frame& frame);
PyObject* frame_describe(PyObject* self, Frame& frame);
PyObject* frame_repr(PyObject* self);

// arrow_capsules.cpp: the Arrow PyCapsule interface.
PyObject* frame_arrow_c_schema(PyObject* self, Frame& frame);
PyObject* frame_arrow_c_stream(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                               PyObject* kwnames);

}  // namespace tarnwick::api
