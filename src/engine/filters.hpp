// Row filters: a new frame showing the rows whose entry in one column passes a
// test, in their current order, over the same stored values.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "engine/frame.hpp"

namespace tarnwick {

// The six comparisons, read as: column entry, operator, given value.
enum class CompareOp : std::uint8_t { eq, ne, lt, le, gt, ge };

// Keeps the rows whose present entry passes `entry OP value`. On f64, NaN on
// either side passes only ne; on i64 the integer is compared with the exact
// value of the float. A str column fails. Missing entries are never kept.
Result<Frame> filter_compare(const Frame& frame, std::string_view name, CompareOp op, double value);

// Keeps the rows of a str column whose present entry is byte-equal to one of
// `strings`. Other dtypes fail.
Result<Frame> filter_in_strings(const Frame& frame, std::string_view name,
                                std::span<const std::string> strings);

// Keeps the rows whose present entry equals one of `numbers`: by floating-point
// equality on f64 (NaN never matches), and on i64 only by values that are
// integers within the 64-bit range. A str column fails.
Result<Frame> filter_among_numbers(const Frame& frame, std::string_view name,
                                   std::span<const double> numbers);

}  // namespace tarnwick
