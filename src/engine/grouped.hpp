// A frame split by the values of some key columns: a read-only snapshot.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/frame.hpp"

namespace tarnwick {

struct Grouped {
    // The source frame at grouping time: its column list, sharing storage.
    Frame frame;
    // The key column names, in the order given; never the same name twice.
    std::vector<std::string> keys;
    // The groups in order of first appearance, as one flat array: the storage
    // positions of group g's rows, in row order, are
    // positions[group_starts[g]] to positions[group_starts[g + 1] - 1].
    PodVector<std::uint64_t> group_starts{0};
    PodVector<std::uint32_t> positions;

    std::size_t group_count() const { return group_starts.size() - 1; }
    std::span<const std::uint32_t> rows_of(std::size_t group) const {
        return {positions.data() + group_starts[group], group_starts[group + 1] - group_starts[group]};
    }
};

}  // namespace tarnwick
