// Projection: a new frame with chosen columns in a chosen order.
#pragma once

#include <span>
#include <string>

#include "engine/frame.hpp"

namespace tarnwick {

// The columns `names`, in that order, sharing storage and the selection, with
// the frame's height. Names are checked one by one in the order given: a name
// already chosen fails with "column {name} selected twice", an absent one with
// the message of find_column; the first offending name decides.
Result<Frame> select(const Frame& frame, std::span<const std::string> names);

}  // namespace tarnwick
