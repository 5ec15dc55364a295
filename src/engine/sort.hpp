// Sorting: a new frame showing the rows ordered by one column.
#pragma once

#include <string_view>

#include "engine/frame.hpp"

namespace tarnwick {

// The rows ordered by the column `name`, stably: present values by value
// (i64 as integers, f64 by the floating-point relation with -0.0 equal to 0.0,
// str by their bytes), then NaN entries, then missing entries, each of the last
// two groups in its current order. `descending` reverses the value comparison
// only. Shares the frame's storage; fails only for an absent column.
Result<Frame> sort_by(const Frame& frame, std::string_view name, bool descending);

}  // namespace tarnwick
