// Grouped methods: the number of groups, the text of a grouping and the
// aggregations, each of which returns a new Frame.
#include "api/grouped_object.hpp"
#include "api/module.hpp"
#include "engine/grouping.hpp"

namespace tarnwick::api {

namespace {

// A new Frame object of the module's Frame class (found from the receiver's
// class), or the failure raised.
PyObject* wrap_in_module_frame(PyObject* self, Result<Frame> result) {
    return wrap_or_raise(std::move(result), [self] { return frame_class_near(Py_TYPE(self)); });
}

PyObject* text_of(const Grouped& grouped) {
    std::string text = grouped_text(grouped);
    return PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), nullptr);
}

}  // namespace

PyObject* grouped_groups(PyObject*, Grouped& grouped) {
    return PyLong_FromSize_t(group_count(grouped));
}

PyObject* grouped_count(PyObject* self, Grouped& grouped) {
    return wrap_in_module_frame(self, count_rows(grouped));
}

PyObject* grouped_reduce(PyObject* self, Grouped& grouped, Aggregation kind,
                         std::string_view name) {
    return wrap_in_module_frame(self, aggregate(grouped, name, kind));
}

PyObject* grouped_describe(PyObject*, Grouped& grouped) {
    return text_of(grouped);
}

PyObject* grouped_free(PyObject*, Grouped&) {
    Py_RETURN_NONE;
}

PyObject* grouped_text_slot(PyObject* self) {
    return run_method<Grouped, Use::shared>(self, ClassOf<Grouped>::type_path,
                                            [](Grouped& grouped) { return text_of(grouped); });
}

}  // namespace tarnwick::api
