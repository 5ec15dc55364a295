// Frame.group: splitting a frame by key columns into a new Grouped.
#include "api/frame_object.hpp"
#include "api/grouped_object.hpp"
#include "api/module.hpp"
#include "engine/grouping.hpp"

namespace tarnwick::api {

PyObject* frame_group(PyObject* self, Frame& frame, std::vector<std::string> names) {
    return wrap_or_raise(group(frame, names), [self] { return grouped_class_near(Py_TYPE(self)); });
}

}  // namespace tarnwick::api
