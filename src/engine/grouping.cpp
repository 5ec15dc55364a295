#include "engine/grouping.hpp"

#include <algorithm>
#include <bit>
#include <cstring>
#include <format>
#include <limits>

#include "engine/key_hash.hpp"
#include "engine/select.hpp"

namespace tarnwick {

namespace {

// Rows are hashed a block at a time, key column by key column, so that the
// kind of a column is looked at once per block and the hashes of neighbouring
// rows, which do not depend on each other, are computed side by side.
constexpr std::size_t block_rows = 256;

template <bool masked, class HashValue>
void hash_entries(const std::uint8_t* present, const std::uint32_t* positions,
                  std::uint64_t* hashes, std::size_t count, HashValue hash_value) {
    for (std::size_t i = 0; i < count; ++i) {
        std::uint32_t p = positions[i];
        if (masked && !present[p]) {
            hashes[i] = hash_missing(hashes[i]);
        } else {
            hashes[i] = hash_value(hashes[i], p);
        }
    }
}

template <class HashValue>
void hash_column(const ColumnValues& column, const std::uint32_t* positions, std::uint64_t* hashes,
                 std::size_t count, HashValue hash_value) {
    if (const std::uint8_t* present = column.presence()) {
        hash_entries<true>(present, positions, hashes, count, hash_value);
    } else {
        hash_entries<false>(nullptr, positions, hashes, count, hash_value);
    }
}

void hash_block(const ColumnValues& column, const std::uint32_t* positions, std::uint64_t* hashes,
                std::size_t count) {
    switch (column.dtype()) {
        case DType::i64: {
            const std::int64_t* values = column.ints().data();
            return hash_column(column, positions, hashes, count,
                               [values](std::uint64_t h, std::uint32_t p) { return hash_i64(h, values[p]); });
        }
        case DType::f64: {
            const double* values = column.floats().data();
            return hash_column(column, positions, hashes, count,
                               [values](std::uint64_t h, std::uint32_t p) { return hash_f64(h, values[p]); });
        }
        case DType::str:
            return hash_column(column, positions, hashes, count,
                               [&column](std::uint64_t h, std::uint32_t p) {
                                   return hash_str(h, column.string(p));
                               });
    }
}

std::uint64_t load8(const char* p) {
    std::uint64_t word;
    std::memcpy(&word, p, 8);
    return word;
}

std::uint32_t load4(const char* p) {
    std::uint32_t word;
    std::memcpy(&word, p, 4);
    return word;
}

// Keys are short, and a call of memcmp costs more than comparing them here:
// whole words, the last one overlapping the one before, so that no byte past
// either string is read and short strings need no loop.
bool bytes_equal(const char* a, const char* b, std::size_t length) {
    if (length >= 8) {
        for (std::size_t i = 0; i + 8 < length; i += 8) {
            if (load8(a + i) != load8(b + i)) return false;
        }
        return load8(a + length - 8) == load8(b + length - 8);
    }
    if (length >= 4) {
        return load4(a) == load4(b) && load4(a + length - 4) == load4(b + length - 4);
    }
    for (std::size_t i = 0; i < length; ++i) {
        if (a[i] != b[i]) return false;
    }
    return true;
}

// Key equality of two present entries of one kind.
template <DType kind>
bool values_equal(const ColumnValues& column, std::size_t a, std::size_t b) {
    if constexpr (kind == DType::i64) {
        return column.ints()[a] == column.ints()[b];
    } else if constexpr (kind == DType::f64) {
        // Equal numbers (0.0 meets -0.0), or NaNs of the same bit pattern.
        double x = column.floats()[a];
        double y = column.floats()[b];
        return x == y || std::bit_cast<std::uint64_t>(x) == std::bit_cast<std::uint64_t>(y);
    } else {
        const std::uint64_t* offsets = column.offsets().data();
        std::uint64_t length = offsets[a + 1] - offsets[a];
        return length == offsets[b + 1] - offsets[b] &&
               bytes_equal(column.bytes() + offsets[a], column.bytes() + offsets[b], length);
    }
}

// Missing equals missing only.
template <DType kind, bool masked>
bool entries_equal(const ColumnValues& column, std::size_t a, std::size_t b) {
    if constexpr (masked) {
        const std::uint8_t* present = column.presence();
        if (present[a] != present[b]) return false;
        if (present[a] == 0) return true;
    }
    return values_equal<kind>(column, a, b);
}

bool entries_equal(const ColumnValues& column, std::size_t a, std::size_t b) {
    bool masked = column.has_missing();
    switch (column.dtype()) {
        case DType::i64:
            return masked ? entries_equal<DType::i64, true>(column, a, b)
                          : entries_equal<DType::i64, false>(column, a, b);
        case DType::f64:
            return masked ? entries_equal<DType::f64, true>(column, a, b)
                          : entries_equal<DType::f64, false>(column, a, b);
        case DType::str:
            return masked ? entries_equal<DType::str, true>(column, a, b)
                          : entries_equal<DType::str, false>(column, a, b);
    }
    return false;
}

// Key equality of the rows stored at two positions, for any number of keys.
struct KeysEqual {
    std::span<const Column> keys;
    bool operator()(std::size_t a, std::size_t b) const {
        for (const Column& key : keys) {
            if (!entries_equal(*key.values, a, b)) return false;
        }
        return true;
    }
};

// The same for one key column of a known kind, the common case, which then
// needs no loop and no look at the kind per row.
template <DType kind, bool masked>
struct OneKeyEqual {
    const ColumnValues* column;
    bool operator()(std::size_t a, std::size_t b) const {
        return entries_equal<kind, masked>(*column, a, b);
    }
};

// Calls f with the key equality that fits `keys`.
template <class F>
decltype(auto) with_key_equality(std::span<const Column> keys, F&& f) {
    if (keys.size() == 1) {
        const ColumnValues* column = keys.front().values.get();
        bool masked = column->has_missing();
        switch (column->dtype()) {
            case DType::i64:
                return masked ? f(OneKeyEqual<DType::i64, true>{column})
                              : f(OneKeyEqual<DType::i64, false>{column});
            case DType::f64:
                return masked ? f(OneKeyEqual<DType::f64, true>{column})
                              : f(OneKeyEqual<DType::f64, false>{column});
            case DType::str:
                return masked ? f(OneKeyEqual<DType::str, true>{column})
                              : f(OneKeyEqual<DType::str, false>{column});
        }
    }
    return f(KeysEqual{keys});
}

// Open addressing with linear probing, keyed by the 64-bit hash. Each slot
// holds a hash and one group whose first row has that hash; groups whose
// hashes collide take several slots, met in creation order along the probe.
// A row is compared only with the first rows of groups of its own hash.
template <class Equal>
class GroupTable {
public:
    GroupTable(Equal equal, PodVector<std::uint32_t>& first_positions)
        : equal_(equal), first_positions_(first_positions) {
        resize(16);
    }

    // The group of the row stored at `position`, made if no group matches.
    std::uint32_t find_or_add(std::uint64_t hash, std::uint32_t position) {
        std::size_t mask = slots_.size() - 1;
        for (std::size_t i = home(hash);; i = (i + 1) & mask) {
            Slot& slot = slots_[i];
            if (slot.group_plus_one == 0) return add(slot, hash, position);
            if (slot.hash == hash && equal_(position, slot.first_position)) {
                return slot.group_plus_one - 1;
            }
        }
    }

private:
    // The group's first position is kept here too (the slot has room for it)
    // to save a look-up per row.
    struct Slot {
        std::uint64_t hash;
        std::uint32_t group_plus_one;  // 0 for an empty slot
        std::uint32_t first_position;
    };

    // The first slot to probe. FNV-1a spreads short keys that differ in a
    // byte or two poorly over its top bits (keys like "key0421" cluster and
    // probes grow five-fold), so the hash is multiplied by 2^64 / golden ratio
    // before its top bits are taken.
    std::size_t home(std::uint64_t hash) const { return (hash * 0x9E3779B97F4A7C15ull) >> shift_; }

    std::uint32_t add(Slot& slot, std::uint64_t hash, std::uint32_t position) {
        auto group = static_cast<std::uint32_t>(first_positions_.size());
        first_positions_.push_back(position);
        slot = {hash, group + 1, position};
        // At most a quarter full, so that most rows find their group at the
        // first slot they look at.
        if (++used_ * 4 > slots_.size()) resize(slots_.size() * 2);
        return group;
    }

    void resize(std::size_t capacity) {
        PodVector<Slot> old = std::move(slots_);
        slots_.resize(capacity, Slot{0, 0, 0});
        shift_ = 64 - std::countr_zero(capacity);
        std::size_t mask = capacity - 1;
        for (const Slot& slot : old) {
            if (slot.group_plus_one == 0) continue;
            std::size_t i = home(slot.hash);
            while (slots_[i].group_plus_one != 0) i = (i + 1) & mask;
            slots_[i] = slot;
        }
    }

    Equal equal_;
    PodVector<std::uint32_t>& first_positions_;
    PodVector<Slot> slots_;
    int shift_ = 0;
    std::size_t used_ = 0;
};

// One pass over the rows in row order: hash each row's keys, then find or
// make its group.
template <class Equal>
void assign_groups(const Frame& frame, std::span<const Column> keys, Equal equal, Grouped& grouped) {
    GroupTable<Equal> table(equal, grouped.first_positions);
    const RowSelection* selection = frame.selection();
    std::size_t rows = frame.height();
    std::uint32_t positions[block_rows];
    std::uint64_t hashes[block_rows];
    for (std::size_t start = 0; start < rows; start += block_rows) {
        std::size_t count = std::min(block_rows, rows - start);
        for (std::size_t i = 0; i < count; ++i) {
            positions[i] = selection ? (*selection)[start + i] : static_cast<std::uint32_t>(start + i);
            hashes[i] = fnv_offset_basis;
        }
        for (const Column& key : keys) hash_block(*key.values, positions, hashes, count);
        std::uint32_t* row_groups = grouped.row_groups.data() + start;
        for (std::size_t i = 0; i < count; ++i) row_groups[i] = table.find_or_add(hashes[i], positions[i]);
    }
}

}  // namespace

Result<Grouped> group(const Frame& frame, std::span<const std::string> names) {
    Result<Frame> keys = select(frame, names);
    if (!keys) return std::unexpected(std::move(keys.error()));
    std::size_t rows = frame.height();
    if (rows > std::numeric_limits<std::uint32_t>::max()) {
        return internal_error("a frame of 2^32 rows or more cannot be grouped");
    }
    Grouped grouped{frame, {names.begin(), names.end()}, PodVector<std::uint32_t>(rows), {}};
    std::span<const Column> key_columns = keys->columns();
    with_key_equality(key_columns, [&](auto equal) { assign_groups(frame, key_columns, equal, grouped); });
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

std::size_t group_count(const Grouped& grouped) { return grouped.group_count(); }

std::string grouped_text(const Grouped& grouped) {
    std::string keys;
    for (std::size_t i = 0; i < grouped.keys.size(); ++i) {
        if (i != 0) keys += ", ";
        keys += grouped.keys[i];
    }
    return std::format("Grouped({} groups by {})", grouped.group_count(), keys);
}

}  // namespace tarnwick
