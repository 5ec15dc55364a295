// Reducing each group of a grouping to one value: a frame with the key
// columns first, one row per group, then the result column.
#pragma once

#include <cstdint>
#include <string_view>

#include "engine/grouped.hpp"

namespace tarnwick {

enum class Aggregation : std::uint8_t { Sum, Mean, Min, Max };

// Reduces column `name` of the grouping's snapshot per group. Missing entries
// take no part. Checks, in this order: the column exists; a str column has no
// sum or mean; no partial i64 sum overflows; `name` is not a key.
Result<Frame> aggregate(const Grouped& grouped, std::string_view name, Aggregation kind);

// The number of rows of each group, as "count", or "len" when "count" is a
// key; the key columns alone when both are keys.
Result<Frame> count_rows(const Grouped& grouped);

}  // namespace tarnwick
