// What the slicing tests reach that callers do not.
#pragma once

#include <cstdint>

namespace tarnwick {

// The number of rows head(n) and tail(n) keep of a frame of `height` rows:
// min(n, height) for n >= 0, max(height + n, 0) for n < 0.
std::uint64_t slice_count(std::uint64_t height, std::int64_t n);

}  // namespace tarnwick
