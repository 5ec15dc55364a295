// The texts of numbers that the CSV writer puts into its cells: plain decimal
// for integers, and for doubles the shortest digits that read back to the same
// double, laid out exactly as Python's repr of a float lays them out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace tarnwick {

// Room that write_i64 and write_f64 may use: "-9223372036854775808" and
// "-1.7976931348623157e+308" are the longest texts.
inline constexpr std::size_t max_i64_text = 20;
inline constexpr std::size_t max_f64_text = 24;

// Write the text at `out` and return the position after it.
char* write_i64(char* out, std::int64_t value);
char* write_f64(char* out, double value);

std::string format_i64(std::int64_t value);
std::string format_f64(double value);

}  // namespace tarnwick
