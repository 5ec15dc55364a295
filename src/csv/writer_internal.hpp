// What the writer's tests reach that callers do not.
#pragma once

#include <string_view>

#include "csv/writer.hpp"

namespace tarnwick {

// Appends `text` as one CSV field: quoted (each quote doubled) when it is
// empty, holds a comma, quote, LF or CR, or starts with a white-space
// character; unchanged otherwise.
void escape_field(PodVector<char>& out, std::string_view text);

// write_csv's text alone.
PodVector<char> to_csv(const Frame& frame);

}  // namespace tarnwick
