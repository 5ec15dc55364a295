// Frame methods that choose rows and columns: the filters and select, sort,
// head and tail. Each returns a new Frame of the receiver's class over the
// receiver's storage and leaves the receiver unchanged.
#include <array>

#include "api/frame_object.hpp"
#include "engine/select.hpp"
#include "engine/sort.hpp"

namespace tarnwick::api {

PyObject* frame_select(PyObject* self, Frame& frame, std::vector<std::string> names) {
    return wrap_in_own_class(self, select(frame, names));
}

PyObject* frame_slice(PyObject* self, Frame& frame, RowSlice take, std::int64_t n) {
    return wrap_frame(Py_TYPE(self), take(frame, n));
}

PyObject* frame_sort(PyObject* self, Frame& frame, std::string_view name, bool descending) {
    return wrap_in_own_class(self, sort_by(frame, name, descending));
}

PyObject* frame_compare(PyObject* self, Frame& frame, CompareOp op, std::string_view name,
                        double value) {
    return wrap_in_own_class(self, filter_compare(frame, name, op, value));
}

PyObject* frame_where_among(PyObject* self, Frame& frame, std::string_view name,
                            std::vector<double> values) {
    return wrap_in_own_class(self, filter_among_numbers(frame, name, values));
}

PyObject* frame_where_is(PyObject* self, Frame& frame, std::string_view name,
                         std::string_view value) {
    std::array<std::string, 1> one{std::string(value)};
    return wrap_in_own_class(self, filter_in_strings(frame, name, one));
}

PyObject* frame_where_in(PyObject* self, Frame& frame, std::string_view name,
                         std::vector<std::string> values) {
    return wrap_in_own_class(self, filter_in_strings(frame, name, values));
}

}  // namespace tarnwick::api
