// Splitting a frame into groups of rows with equal key values.
#pragma once

#include <span>
#include <string>

#include "engine/grouped.hpp"

namespace tarnwick {

// Groups the rows of `frame` by the columns `names`, validated as select
// validates them (the first offending name decides). Groups are numbered in
// order of first appearance in the frame's row order. Two rows share a group
// when every key column holds equal entries: both missing; equal integers;
// floats equal as numbers (0.0 and -0.0 meet) or NaNs of one bit pattern;
// strings of the same bytes. With no key columns every row is in group 0.
Result<Grouped> group(const Frame& frame, std::span<const std::string> names);

// The key columns with one row per group, in group order, each holding the
// entries of the group's first row, in plain storage.
Result<Frame> key_frame(const Grouped& grouped);

std::size_t group_count(const Grouped& grouped);

// "Grouped({groups} groups by {keys})", the keys joined by ", " as they are.
std::string grouped_text(const Grouped& grouped);

}  // namespace tarnwick
