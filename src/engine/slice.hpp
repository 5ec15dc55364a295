// Slicing: the first or last rows of a frame.
#pragma once

#include <cstdint>

#include "engine/frame.hpp"

namespace tarnwick {

// The number of rows head(n) and tail(n) keep of a frame of `height` rows:
// min(n, height) for n >= 0, max(height + n, 0) for n < 0.
std::uint64_t slice_count(std::uint64_t height, std::int64_t n);

// The first (head) or last (tail) slice_count(height, n) rows, in their order.
// Keeping every row shares the frame's columns and selection and allocates no
// selection.
Frame head(const Frame& frame, std::int64_t n);
Frame tail(const Frame& frame, std::int64_t n);

}  // namespace tarnwick
