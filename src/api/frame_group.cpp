// Frame.group: splitting a frame by key columns into a new Grouped.
#include <array>

#include "api/arguments.hpp"
#include "api/frame_object.hpp"
#include "api/grouped_object.hpp"
#include "api/module.hpp"
#include "engine/grouping.hpp"

namespace tarnwick::api {

namespace {

constexpr std::array<const char*, 1> names_only{"names"};

}  // namespace

TARNWICK_FAST_METHOD(frame_group) {
    PyObject* slots[1];
    if (!parse_call({"Frame.group()", names_only}, args, nargs, kwnames, slots)) return nullptr;
    return frame_call<Use::shared>(self, [&](Frame& frame) -> PyObject* {
        std::optional<std::vector<std::string>> names = to_text_list(slots[0], "names");
        if (!names) return nullptr;
        return wrap_or_raise(group(frame, *names),
                             [self] { return grouped_class_near(Py_TYPE(self)); });
    });
}

}  // namespace tarnwick::api
