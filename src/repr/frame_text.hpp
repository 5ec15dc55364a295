// The one-line text of a frame: its height and its columns with their kinds.
#pragma once

#include <string>

#include "engine/frame.hpp"

namespace tarnwick {

// "Frame({height} rows: {name} {kind}, ...)"; names are written as stored,
// without quotes or escapes.
std::string frame_text(const Frame& frame);

}  // namespace tarnwick
