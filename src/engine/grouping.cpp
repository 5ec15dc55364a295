#include "engine/grouping.hpp"

#include <algorithm>
#include <bit>
#include <format>
#include <limits>

#include "engine/group_keys.hpp"
#include "engine/grouping_internal.hpp"
#include "engine/key_hash.hpp"
#include "engine/key_text.hpp"
#include "engine/select.hpp"

namespace tarnwick {

namespace {

// Rows are hashed a block at a time, key column by key column, so that the
// kind of a column is looked at once per block and the hashes of neighbouring
// rows, which do not depend on each other, are computed side by side.
constexpr std::size_t block_rows = 256;

std::uint64_t hash_entry(const KeyHasher& hasher, std::uint64_t hash, IntView view,
                         std::size_t position) {
    return hasher.i64(hash, view[position]);
}

std::uint64_t hash_entry(const KeyHasher& hasher, std::uint64_t hash, FloatView view,
                         std::size_t position) {
    return hasher.f64(hash, view[position]);
}

std::uint64_t hash_entry(const KeyHasher& hasher, std::uint64_t hash, TextView view,
                         std::size_t position) {
    return KeyText(view.offsets, view.bytes).hash(hasher, hash, position);
}

// Folds the entries of one key column at `positions` into the rows' hashes.
void hash_block(const KeyHasher& hasher, const ColumnValues& column, const std::uint32_t* positions,
                std::uint64_t* hashes, std::size_t count) {
    visit(column, [&](auto view) {
        for_each_row(Rows{positions, count}, view.present,
                     [&](std::size_t i, std::size_t position, bool present) {
                         hashes[i] = present ? hash_entry(hasher, hashes[i], view, position)
                                             : hasher.missing(hashes[i]);
                     });
    });
}

// Open addressing with linear probing, keyed by the 64-bit hash. Each slot
// holds a hash and one group whose first row has that hash; groups whose
// hashes collide take several slots, met in creation order along the probe.
class GroupTable {
  public:
    explicit GroupTable(std::size_t rows) {
        // Room for 256 groups from the start (16 KiB), so that a few groups
        // rarely share a first slot and their rows need no second probe.
        resize(std::bit_ceil(std::clamp<std::size_t>(rows * 4, 16, 1024)));
    }

    // The first group with this hash, plus one; 0 when there is none.
    std::uint32_t candidate(std::uint64_t hash) const {
        std::size_t mask = slots_.size() - 1;
        for (std::size_t i = home(hash);; i = (i + 1) & mask) {
            const Slot& slot = slots_[i];
            if (slot.group_plus_one == 0 || slot.hash == hash) return slot.group_plus_one;
        }
    }

    // The group of the row stored at `position`: the first group of its hash
    // whose key equals the row's, or else a new group, numbered next.
    std::uint32_t find_or_add(std::uint64_t hash, std::uint32_t position, GroupKeys& keys,
                              PodVector<std::uint32_t>& first_positions) {
        std::size_t mask = slots_.size() - 1;
        for (std::size_t i = home(hash);; i = (i + 1) & mask) {
            Slot& slot = slots_[i];
            if (slot.group_plus_one == 0) {
                auto group = static_cast<std::uint32_t>(first_positions.size());
                keys.append(position);
                first_positions.push_back(position);
                slot = {hash, group + 1};
                // At most a quarter full, so that most rows find their group
                // at the first slot they look at.
                if (++used_ * 4 > slots_.size()) resize(slots_.size() * 2);
                return group;
            }
            if (slot.hash == hash && keys.equal(position, slot.group_plus_one - 1)) {
                return slot.group_plus_one - 1;
            }
        }
    }

  private:
    struct Slot {
        std::uint64_t hash;
        std::uint32_t group_plus_one;  // 0 for an empty slot
    };

    // The first slot to probe: the hash's top bits, which its last
    // multiplication has mixed from every bit of the key.
    std::size_t home(std::uint64_t hash) const { return hash >> shift_; }

    void resize(std::size_t capacity) {
        PodVector<Slot> old = std::move(slots_);
        slots_.resize(capacity, Slot{0, 0});
        shift_ = 64 - std::countr_zero(capacity);
        std::size_t mask = capacity - 1;
        for (const Slot& slot : old) {
            if (slot.group_plus_one == 0) continue;
            std::size_t i = home(slot.hash);
            while (slots_[i].group_plus_one != 0)
                i = (i + 1) & mask;
            slots_[i] = slot;
        }
    }

    PodVector<Slot> slots_;
    int shift_ = 0;
    std::size_t used_ = 0;
};

// One pass over the rows in row order, a block at a time: hash each row's
// keys; look up the first group of the same hash; confirm, column by column,
// that the row's keys equal that group's; rows that are confirmed join it,
// and the others (a first appearance, or a rare hash collision) are placed one
// by one, in row order, so that groups are numbered by first appearance.
void assign_groups(const Frame& frame, std::span<const Column> key_columns,
                   const KeyHashing& hashing, Grouped& grouped) {
    KeyHasher hasher(hashing.keys);
    GroupKeys keys(key_columns);
    GroupTable table(frame.height());
    const RowSelection* selection = frame.selection();
    std::size_t rows = frame.height();
    std::uint32_t positions[block_rows];
    std::uint64_t hashes[block_rows];
    std::uint32_t candidates[block_rows];
    std::uint8_t same[block_rows];
    for (std::size_t start = 0; start < rows; start += block_rows) {
        std::size_t count = std::min(block_rows, rows - start);
        for (std::size_t i = 0; i < count; ++i) {
            positions[i] =
                selection ? (*selection)[start + i] : static_cast<std::uint32_t>(start + i);
            hashes[i] = hasher.start();
        }
        for (const Column& key : key_columns)
            hash_block(hasher, *key.values, positions, hashes, count);
        for (std::size_t i = 0; i < count; ++i) {
            hashes[i] &= hashing.mask;
            candidates[i] = table.candidate(hashes[i]);
            same[i] = 1;
        }
        keys.confirm(positions, candidates, same, count);
        std::uint32_t* row_groups = grouped.row_groups.data() + start;
        for (std::size_t i = 0; i < count; ++i) {
            bool confirmed = candidates[i] != 0 && same[i] != 0;
            row_groups[i] = confirmed ? candidates[i] - 1
                                      : table.find_or_add(hashes[i], positions[i], keys,
                                                          grouped.first_positions);
        }
    }
}

}  // namespace

Result<Grouped> group(const Frame& frame, std::span<const std::string> names) {
    return group(frame, names, KeyHashing{process_hash_keys(), ~std::uint64_t{0}});
}

Result<Grouped> group(const Frame& frame, std::span<const std::string> names,
                      const KeyHashing& hashing) {
    TARNWICK_ASSIGN_OR_RETURN(Frame keys, select(frame, names));
    std::size_t rows = frame.height();
    if (rows > std::numeric_limits<std::uint32_t>::max()) {
        return internal_error("a frame of 2^32 rows or more cannot be grouped");
    }
    Grouped grouped{frame, {names.begin(), names.end()}, PodVector<std::uint32_t>(rows), {}};
    assign_groups(frame, keys.columns(), hashing, grouped);
    grouped.first_positions.shrink_to_fit();
    return grouped;
}

Result<Frame> key_frame(const Grouped& grouped) {
    Result<Frame> keys = select(grouped.frame, grouped.keys);
    if (!keys) return internal_error("keys were checked by group");
    Frame frame = take_rows(*keys, grouped.first_positions.clone());
    materialize(frame);
    return frame;
}

std::size_t group_count(const Grouped& grouped) {
    return grouped.group_count();
}

std::string grouped_text(const Grouped& grouped) {
    std::string keys;
    for (std::size_t i = 0; i < grouped.keys.size(); ++i) {
        if (i != 0) keys += ", ";
        keys += grouped.keys[i];
    }
    return std::format("Grouped({} groups by {})", grouped.group_count(), keys);
}

}  // namespace tarnwick
