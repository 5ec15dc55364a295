// Frame methods that choose rows and columns: the filters and
// select, sort, head and tail. Each returns a new Frame over the
// receiver's storage and leaves the receiver unchanged.
#include <array>

#include "api/arguments.hpp"
#include "api/frame_object.hpp"
#include "engine/filters.hpp"
#include "engine/select.hpp"
#include "engine/slice.hpp"
#include "engine/sort.hpp"

namespace tarnwick::api {

namespace {

constexpr std::array<const char*, 2> name_and_value{"name", "value"};
constexpr std::array<const char*, 2> name_and_values{"name", "values"};
constexpr std::array<const char*, 2> name_and_descending{"name", "descending"};
constexpr std::array<const char*, 1> names_only{"names"};
constexpr std::array<const char*, 1> n_only{"n"};

// A new Frame object of the receiver's class, or the failure raised.
PyObject* frame_or_raise(PyObject* self, Result<Frame> result) {
    return wrap_or_raise(std::move(result), [self] { return Py_TYPE(self); });
}

PyObject* compare(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                  const char* display_name, CompareOp op) {
    PyObject* slots[2];
    if (!parse_call({display_name, name_and_value}, args, nargs, kwnames, slots)) return nullptr;
    return frame_call<Use::shared>(self, [&](Frame& frame) -> PyObject* {
        std::optional<std::string_view> name = to_text(slots[0], "name");
        if (!name) return nullptr;
        std::optional<double> value = to_float(slots[1], "value");
        if (!value) return nullptr;
        return frame_or_raise(self, filter_compare(frame, *name, op, *value));
    });
}

PyObject* slice(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                const char* display_name, Frame (*take)(const Frame&, std::int64_t)) {
    PyObject* slots[1];
    if (!parse_call({display_name, n_only}, args, nargs, kwnames, slots)) return nullptr;
    return frame_call<Use::shared>(self, [&](Frame& frame) -> PyObject* {
        std::optional<std::int64_t> n = to_integer(slots[0], "n");
        if (!n) return nullptr;
        return wrap_frame(Py_TYPE(self), take(frame, *n));
    });
}

}  // namespace

TARNWICK_FAST_METHOD(frame_select) {
    PyObject* slots[1];
    if (!parse_call({"Frame.select()", names_only}, args, nargs, kwnames, slots)) return nullptr;
    return frame_call<Use::shared>(self, [&](Frame& frame) -> PyObject* {
        std::optional<std::vector<std::string>> names = to_text_list(slots[0], "names");
        if (!names) return nullptr;
        return frame_or_raise(self, select(frame, *names));
    });
}

TARNWICK_FAST_METHOD(frame_head) {
    return slice(self, args, nargs, kwnames, "Frame.head()", head);
}

TARNWICK_FAST_METHOD(frame_tail) {
    return slice(self, args, nargs, kwnames, "Frame.tail()", tail);
}

TARNWICK_FAST_METHOD(frame_sort) {
    PyObject* slots[2];
    if (!parse_call({"Frame.sort()", name_and_descending}, args, nargs, kwnames, slots))
        return nullptr;
    return frame_call<Use::shared>(self, [&](Frame& frame) -> PyObject* {
        std::optional<std::string_view> name = to_text(slots[0], "name");
        if (!name) return nullptr;
        std::optional<bool> descending = to_truth(slots[1], "descending");
        if (!descending) return nullptr;
        return frame_or_raise(self, sort_by(frame, *name, *descending));
    });
}

TARNWICK_FAST_METHOD(frame_where_eq) {
    return compare(self, args, nargs, kwnames, "Frame.where_eq()", CompareOp::eq);
}

TARNWICK_FAST_METHOD(frame_where_ne) {
    return compare(self, args, nargs, kwnames, "Frame.where_ne()", CompareOp::ne);
}

TARNWICK_FAST_METHOD(frame_where_lt) {
    return compare(self, args, nargs, kwnames, "Frame.where_lt()", CompareOp::lt);
}

TARNWICK_FAST_METHOD(frame_where_le) {
    return compare(self, args, nargs, kwnames, "Frame.where_le()", CompareOp::le);
}

TARNWICK_FAST_METHOD(frame_where_gt) {
    return compare(self, args, nargs, kwnames, "Frame.where_gt()", CompareOp::gt);
}

TARNWICK_FAST_METHOD(frame_where_ge) {
    return compare(self, args, nargs, kwnames, "Frame.where_ge()", CompareOp::ge);
}

TARNWICK_FAST_METHOD(frame_where_among) {
    PyObject* slots[2];
    if (!parse_call({"Frame.where_among()", name_and_values}, args, nargs, kwnames, slots)) {
        return nullptr;
    }
    return frame_call<Use::shared>(self, [&](Frame& frame) -> PyObject* {
        std::optional<std::string_view> name = to_text(slots[0], "name");
        if (!name) return nullptr;
        std::optional<std::vector<double>> values = to_float_list(slots[1], "values");
        if (!values) return nullptr;
        return frame_or_raise(self, filter_among_numbers(frame, *name, *values));
    });
}

TARNWICK_FAST_METHOD(frame_where_is) {
    PyObject* slots[2];
    if (!parse_call({"Frame.where_is()", name_and_value}, args, nargs, kwnames, slots))
        return nullptr;
    return frame_call<Use::shared>(self, [&](Frame& frame) -> PyObject* {
        std::optional<std::string_view> name = to_text(slots[0], "name");
        if (!name) return nullptr;
        std::optional<std::string_view> value = to_text(slots[1], "value");
        if (!value) return nullptr;
        std::array<std::string, 1> one{std::string(*value)};
        return frame_or_raise(self, filter_in_strings(frame, *name, one));
    });
}

TARNWICK_FAST_METHOD(frame_where_in) {
    PyObject* slots[2];
    if (!parse_call({"Frame.where_in()", name_and_values}, args, nargs, kwnames, slots)) {
        return nullptr;
    }
    return frame_call<Use::shared>(self, [&](Frame& frame) -> PyObject* {
        std::optional<std::string_view> name = to_text(slots[0], "name");
        if (!name) return nullptr;
        std::optional<std::vector<std::string>> values = to_text_list(slots[1], "values");
        if (!values) return nullptr;
        return frame_or_raise(self, filter_in_strings(frame, *name, *values));
    });
}

}  // namespace tarnwick::api
