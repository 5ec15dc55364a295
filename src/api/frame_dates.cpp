// Frame.add_date_part: a new i64 column from the dates of a str column, added
// in place.
#include "api/frame_object.hpp"
#include "engine/date_parts.hpp"

namespace tarnwick::api {

PyObject* frame_add_date_part(PyObject*, Frame& frame, std::string_view name,
                              std::string_view source, std::string_view part) {
    return none_or_raise(add_date_part(frame, name, source, part));
}

}  // namespace tarnwick::api
