// What the number tests' tests and fuzzer reach that callers do not.
#pragma once

#include <cstdint>
#include <optional>

namespace tarnwick {

// The fast step of the conversion: the double nearest to significand x
// 10^power (ties to even), computed from the 128 leading bits of the power,
// or nothing when those bits cannot decide the rounding or the result is
// zero, subnormal or beyond the doubles (the caller then converts exactly).
// The significand is not zero.
std::optional<double> nearest_double(std::uint64_t significand, std::int64_t power);

}  // namespace tarnwick
