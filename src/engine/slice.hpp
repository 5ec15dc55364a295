// Slicing: the first or last rows of a frame.
#pragma once

#include <cstdint>

#include "engine/frame.hpp"

namespace tarnwick {

// The first (head) or last (tail) slice_count(height, n) rows, in their order.
// Keeping every row shares the frame's columns and selection and allocates no
// selection.
Frame head(const Frame& frame, std::int64_t n);
Frame tail(const Frame& frame, std::int64_t n);

}  // namespace tarnwick
