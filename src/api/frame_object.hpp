// The Python class Frame.
#pragma once

#include "api/call.hpp"
#include "api/python.hpp"
#include "engine/frame.hpp"

namespace tarnwick::api {

inline constexpr const char* frame_type_path = "tarnwick::api::Frame";

using FrameObject = Instance<Frame>;

// Creates the class for `module`; a new reference.
PyObject* make_frame_class(PyObject* module);

// True for instances of the class made by make_frame_class.
bool is_frame_class(PyTypeObject* type);

// A new Frame object of class `type` holding `frame`.
inline PyObject* wrap_frame(PyTypeObject* type, Frame&& frame) {
    return wrap_instance(type, std::move(frame));
}

// Runs `body(Frame&)` under the call discipline of a Frame method.
template <Use use, class Body>
PyObject* frame_call(PyObject* self, Body&& body) {
    return run_method<Frame, use>(self, frame_type_path, std::forward<Body>(body));
}

// The methods, by the files that hold them. Fast methods take
// (self, args, nargs, kwnames); the others (self, unused).
#define TARNWICK_FAST_METHOD(name) \
    PyObject* name(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames)
#define TARNWICK_PLAIN_METHOD(name) PyObject* name(PyObject* self, PyObject*)

// arrow_capsules.cpp
TARNWICK_PLAIN_METHOD(frame_arrow_c_schema);
TARNWICK_FAST_METHOD(frame_arrow_c_stream);

// frame_columns.cpp
TARNWICK_FAST_METHOD(frame_add_floats);
TARNWICK_FAST_METHOD(frame_add_ints);
TARNWICK_FAST_METHOD(frame_add_strings);
TARNWICK_PLAIN_METHOD(frame_height);
TARNWICK_PLAIN_METHOD(frame_width);
TARNWICK_PLAIN_METHOD(frame_names);
TARNWICK_PLAIN_METHOD(frame_dtypes);
TARNWICK_FAST_METHOD(frame_floats);
TARNWICK_FAST_METHOD(frame_ints);
TARNWICK_FAST_METHOD(frame_strings);
TARNWICK_PLAIN_METHOD(frame_free);

// frame_dates.cpp
TARNWICK_FAST_METHOD(frame_add_date_part);

// frame_rows.cpp
TARNWICK_FAST_METHOD(frame_select);
TARNWICK_FAST_METHOD(frame_head);
TARNWICK_FAST_METHOD(frame_tail);
TARNWICK_FAST_METHOD(frame_sort);
TARNWICK_FAST_METHOD(frame_where_eq);
TARNWICK_FAST_METHOD(frame_where_ne);
TARNWICK_FAST_METHOD(frame_where_lt);
TARNWICK_FAST_METHOD(frame_where_le);
TARNWICK_FAST_METHOD(frame_where_gt);
TARNWICK_FAST_METHOD(frame_where_ge);
TARNWICK_FAST_METHOD(frame_where_among);
TARNWICK_FAST_METHOD(frame_where_is);
TARNWICK_FAST_METHOD(frame_where_in);

// frame_group.cpp
TARNWICK_FAST_METHOD(frame_group);

// frame_text.cpp
TARNWICK_PLAIN_METHOD(frame_to_csv);
TARNWICK_PLAIN_METHOD(frame_describe);
// The repr and str slots.
PyObject* frame_repr(PyObject* self);

}  // namespace tarnwick::api
