#include "engine/sort.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

namespace tarnwick {

namespace {

// Below this many rows a comparison sort beats the passes of the radix sort.
constexpr std::size_t radix_threshold = 256;

// A stable least-significant-digit radix sort of `positions` by `keys`
// (unsigned 64-bit, compared as unsigned), one byte per pass. Passes in which
// every key has the same byte are skipped. The result is left in
// keys/positions; the scratch arrays have the same length.
void radix_sort(PodVector<std::uint64_t>& keys, PodVector<std::uint32_t>& positions) {
    std::size_t n = keys.size();
    if (n < 2) return;
    if (n < radix_threshold) {
        // Insertion sort: stable, and cheap for a few rows.
        std::uint64_t* k = keys.data();
        std::uint32_t* p = positions.data();
        for (std::size_t i = 1; i < n; ++i) {
            std::uint64_t key = k[i];
            std::uint32_t position = p[i];
            std::size_t j = i;
            while (j > 0 && k[j - 1] > key) {
                k[j] = k[j - 1];
                p[j] = p[j - 1];
                --j;
            }
            k[j] = key;
            p[j] = position;
        }
        return;
    }
    std::array<std::array<std::uint32_t, 256>, 8> counts{};
    const std::uint64_t* k = keys.data();
    for (std::size_t i = 0; i < n; ++i) {
        std::uint64_t key = k[i];
        for (int d = 0; d < 8; ++d)
            ++counts[d][(key >> (8 * d)) & 0xff];
    }
    PodVector<std::uint64_t> key_scratch;
    PodVector<std::uint32_t> position_scratch;
    std::uint64_t first = k[0];
    for (int d = 0; d < 8; ++d) {
        std::array<std::uint32_t, 256>& count = counts[d];
        if (count[(first >> (8 * d)) & 0xff] == n) continue;  // one byte value only
        if (key_scratch.size() != n) {
            key_scratch.resize_for_overwrite(n);
            position_scratch.resize_for_overwrite(n);
        }
        std::uint32_t sum = 0;
        for (std::uint32_t& c : count) {
            std::uint32_t here = c;
            c = sum;
            sum += here;
        }
        const std::uint64_t* from_keys = keys.data();
        const std::uint32_t* from_positions = positions.data();
        std::uint64_t* to_keys = key_scratch.data();
        std::uint32_t* to_positions = position_scratch.data();
        int shift = 8 * d;
        for (std::size_t i = 0; i < n; ++i) {
            std::uint64_t key = from_keys[i];
            std::uint32_t at = count[(key >> shift) & 0xff]++;
            to_keys[at] = key;
            to_positions[at] = from_positions[i];
        }
        std::swap(keys, key_scratch);
        std::swap(positions, position_scratch);
    }
}

// Order-preserving unsigned keys.
inline std::uint64_t key_of(std::int64_t value) {
    return static_cast<std::uint64_t>(value) ^ (std::uint64_t{1} << 63);
}

inline std::uint64_t key_of(double value) {
    if (value == 0.0) value = 0.0;  // -0.0 and 0.0 are equal
    auto bits = std::bit_cast<std::uint64_t>(value);
    return (bits >> 63) != 0 ? ~bits : bits | (std::uint64_t{1} << 63);
}

// The first eight bytes, zero-padded, as a big-endian number: ordering these
// agrees with byte order, and equal ones are told apart by the whole text.
inline std::uint64_t prefix_key(const char* p, std::size_t n) {
    std::uint64_t v = 0;
    std::memcpy(&v, p, n < 8 ? n : 8);
    if constexpr (std::endian::native == std::endian::little) v = std::byteswap(v);
    return v;
}

// Where the rows go that are not sorted by value: NaN entries, then missing
// ones, each in row order.
struct Tail {
    PodVector<std::uint32_t> nan;
    PodVector<std::uint32_t> missing;
};

// Fills keys/positions with the sortable rows, and the tail with the rest.
// key_at(position) is the order-preserving key of a present entry, or nothing
// for a NaN.
template <class Key>
void collect(const Frame& frame, const std::uint8_t* present, Key&& key_at, bool descending,
             PodVector<std::uint64_t>& keys, PodVector<std::uint32_t>& positions, Tail& tail) {
    std::size_t rows = frame.height();
    keys.resize_for_overwrite(rows);
    positions.resize_for_overwrite(rows);
    std::uint64_t flip = descending ? ~std::uint64_t{0} : 0;
    std::uint64_t* k = keys.data();
    std::uint32_t* p = positions.data();
    std::size_t count = 0;
    for_each_row(frame.rows(), present, [&](std::size_t, std::size_t position, bool here) {
        auto at = static_cast<std::uint32_t>(position);
        if (!here) {
            tail.missing.push_back(at);
            return;
        }
        std::optional<std::uint64_t> key = key_at(position);
        if (!key) {
            tail.nan.push_back(at);
            return;
        }
        k[count] = *key ^ flip;
        p[count] = at;
        ++count;
    });
    keys.resize_for_overwrite(count);
    positions.resize_for_overwrite(count);
}

// After sorting by prefix keys, runs of equal prefixes are put in order by
// their whole texts. Texts of a run agree in their first eight bytes (a
// shorter text padded with zero bytes), so only what follows is compared.
void order_equal_prefixes(TextView view, const PodVector<std::uint64_t>& keys,
                          PodVector<std::uint32_t>& positions, bool descending) {
    std::size_t n = keys.size();
    const std::uint64_t* k = keys.data();
    std::uint32_t* p = positions.data();
    auto length = [&](std::uint32_t at) { return view.length(at); };
    auto rest = [&](std::uint32_t at) -> std::string_view {
        std::string_view text = view[at];
        return text.size() <= 8 ? std::string_view() : text.substr(8);
    };
    std::size_t start = 0;
    while (start < n) {
        std::size_t end = start + 1;
        while (end < n && k[end] == k[start])
            ++end;
        if (end - start > 1) {
            std::uint64_t first = length(p[start]);
            bool same_length = true;
            bool short_only = first <= 8;
            for (std::size_t i = start + 1; i < end; ++i) {
                std::uint64_t size = length(p[i]);
                same_length &= size == first;
                short_only &= size <= 8;
            }
            // Texts of at most eight bytes have no rest and differ by their
            // length; a shorter text of a run is a prefix of the longer ones.
            auto before = [&](std::uint32_t a, std::uint32_t b) {
                std::string_view x = rest(a);
                std::string_view y = rest(b);
                int order = x.compare(y);
                return order != 0 ? order < 0 : length(a) < length(b);
            };
            if (same_length && short_only) {
                // All equal: the run stays in its order.
            } else if (descending) {
                std::stable_sort(p + start, p + end,
                                 [&](std::uint32_t a, std::uint32_t b) { return before(b, a); });
            } else {
                std::stable_sort(p + start, p + end, before);
            }
        }
        start = end;
    }
}

// The sorted storage positions (what sort_by passes to take_rows).
RowSelection sorted_positions(const Frame& frame, const ColumnValues& values, bool descending) {
    PodVector<std::uint64_t> keys;
    PodVector<std::uint32_t> positions;
    Tail tail;
    auto sort_by_keys = [&](const std::uint8_t* present, auto key_at) {
        collect(frame, present, key_at, descending, keys, positions, tail);
        radix_sort(keys, positions);
    };
    visit(values,
          Overloaded{
              [&](IntView view) {
                  sort_by_keys(view.present, [=](std::size_t p) -> std::optional<std::uint64_t> {
                      return key_of(view[p]);
                  });
              },
              [&](FloatView view) {
                  sort_by_keys(view.present, [=](std::size_t p) -> std::optional<std::uint64_t> {
                      double x = view[p];
                      if (x != x) return std::nullopt;
                      return key_of(x);
                  });
              },
              [&](TextView view) {
                  sort_by_keys(view.present, [=](std::size_t p) -> std::optional<std::uint64_t> {
                      return prefix_key(view.bytes + view.offsets[p], view.length(p));
                  });
                  order_equal_prefixes(view, keys, positions, descending);
              },
          });
    if (!tail.nan.empty() || !tail.missing.empty()) {
        std::size_t sorted = positions.size();
        positions.reserve(sorted + tail.nan.size() + tail.missing.size());
        positions.append(tail.nan.data(), tail.nan.size());
        positions.append(tail.missing.data(), tail.missing.size());
    }
    return positions;
}

}  // namespace

Result<Frame> sort_by(const Frame& frame, std::string_view name, bool descending) {
    TARNWICK_ASSIGN_OR_RETURN(const Column* column, find_column(frame, name));
    return take_rows(frame, sorted_positions(frame, *column->values, descending));
}

}  // namespace tarnwick
