// Grouped methods: the number of groups, the text of a grouping and the
// aggregations, each of which returns a new Frame.
#include <array>

#include "api/arguments.hpp"
#include "api/grouped_object.hpp"
#include "api/module.hpp"
#include "engine/aggregate.hpp"
#include "engine/grouping.hpp"

namespace tarnwick::api {

namespace {

constexpr std::array<const char*, 1> name_only{"name"};

// A new Frame object of the module's Frame class, or the failure raised.
PyObject* frame_or_raise(PyObject* self, Result<Frame> result) {
    return wrap_or_raise(std::move(result), [self] { return frame_class_near(Py_TYPE(self)); });
}

PyObject* reduce(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                 const char* display_name, Aggregation kind) {
    PyObject* slots[1];
    if (!parse_call({display_name, name_only}, args, nargs, kwnames, slots)) return nullptr;
    return grouped_call<Use::shared>(self, [&](Grouped& grouped) -> PyObject* {
        std::optional<std::string_view> name = to_text(slots[0], "name");
        if (!name) return nullptr;
        return frame_or_raise(self, aggregate(grouped, *name, kind));
    });
}

PyObject* text_of(const Grouped& grouped) {
    std::string text = grouped_text(grouped);
    return PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), nullptr);
}

}  // namespace

TARNWICK_PLAIN_METHOD(grouped_groups) {
    return grouped_call<Use::shared>(
        self, [](Grouped& grouped) { return PyLong_FromSize_t(group_count(grouped)); });
}

TARNWICK_PLAIN_METHOD(grouped_count) {
    return grouped_call<Use::shared>(
        self, [&](Grouped& grouped) { return frame_or_raise(self, count_rows(grouped)); });
}

TARNWICK_FAST_METHOD(grouped_sum) {
    return reduce(self, args, nargs, kwnames, "Grouped.sum()", Aggregation::Sum);
}

TARNWICK_FAST_METHOD(grouped_mean) {
    return reduce(self, args, nargs, kwnames, "Grouped.mean()", Aggregation::Mean);
}

TARNWICK_FAST_METHOD(grouped_min) {
    return reduce(self, args, nargs, kwnames, "Grouped.min()", Aggregation::Min);
}

TARNWICK_FAST_METHOD(grouped_max) {
    return reduce(self, args, nargs, kwnames, "Grouped.max()", Aggregation::Max);
}

TARNWICK_PLAIN_METHOD(grouped_describe) {
    return grouped_call<Use::shared>(self, [](Grouped& grouped) { return text_of(grouped); });
}

PyObject* grouped_text_slot(PyObject* self) {
    return grouped_call<Use::shared>(self, [](Grouped& grouped) { return text_of(grouped); });
}

}  // namespace tarnwick::api
