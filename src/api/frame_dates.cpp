// Frame.add_date_part: a new i64 column from the dates of a str
// column, added in place.
#include <array>

#include "api/arguments.hpp"
#include "api/frame_object.hpp"
#include "engine/date_parts.hpp"

namespace tarnwick::api {

namespace {

constexpr std::array<const char*, 3> name_source_part{"name", "source", "part"};

}  // namespace

TARNWICK_FAST_METHOD(frame_add_date_part) {
    PyObject* slots[3];
    if (!parse_call({"Frame.add_date_part()", name_source_part}, args, nargs, kwnames, slots)) {
        return nullptr;
    }
    return frame_call<Use::exclusive>(self, [&](Frame& frame) -> PyObject* {
        std::optional<std::string_view> name = to_text(slots[0], "name");
        if (!name) return nullptr;
        std::optional<std::string_view> source = to_text(slots[1], "source");
        if (!source) return nullptr;
        std::optional<std::string_view> part = to_text(slots[2], "part");
        if (!part) return nullptr;
        return none_or_raise(add_date_part(frame, *name, *source, *part));
    });
}

}  // namespace tarnwick::api
