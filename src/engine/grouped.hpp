// A frame split by the values of some key columns: a read-only snapshot.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "engine/frame.hpp"

namespace tarnwick {

// The groups are kept as one group number per row rather than as a list of
// rows per group: a reduction then reads the rows once, in row order and
// storage order alike for an unsorted frame, with one small accumulator per
// group. A group's rows, in row order, are the rows that carry its number.
struct Grouped {
    // The source frame at grouping time: its column list and selection,
    // sharing storage; a column added to the source later is not seen here.
    Frame frame;
    // The key column names, in the order given; never the same name twice.
    std::vector<std::string> keys;
    // For each row of `frame`, in row order, the number of its group. Groups
    // are numbered 0, 1, ... in order of first appearance.
    PodVector<std::uint32_t> row_groups;
    // For each group, the storage position of its first row (its representative).
    PodVector<std::uint32_t> first_positions;

    std::size_t group_count() const { return first_positions.size(); }
};

}  // namespace tarnwick
