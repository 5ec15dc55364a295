#include "engine/filters.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <vector>

#include "base/hash.hpp"
#include "base/quoted.hpp"
#include "base/words.hpp"

namespace tarnwick {

namespace {

// ---------------------------------------------------------------------------
// The scan shared by every filter.
//
// `pass(position)` tests the stored entry at a position that is present (it
// may be called for missing positions too, whose stored value is 0 or an empty
// stretch, but its answer is then ignored). The scan reads the typed array and
// the presence mask directly, allocates nothing while nothing has been kept,
// and from the first kept row on writes every position and advances the end
// only for kept ones, so that the loop has no data-dependent branch.

// Flattened: the test, the set look-up and the row loop are one loop body, as
// they must be for the scan's speed.
template <class Pass>
[[gnu::flatten]] Frame filter_rows(const Frame& frame, const std::uint8_t* present, Pass&& pass) {
    Rows rows = frame.rows();
    auto keep = [&](std::size_t position, bool here) {
        return here & static_cast<bool>(pass(position));
    };
    std::size_t first = for_each_row(
        rows, present, [&](std::size_t, std::size_t p, bool here) { return !keep(p, here); });
    if (first == rows.count) return take_rows(frame, RowSelection{});
    RowSelection kept(rows.count - first);
    std::uint32_t* out = kept.data();
    std::size_t count = 0;
    for_each_row(rows, present, first, rows.count, [&](std::size_t, std::size_t p, bool here) {
        out[count] = static_cast<std::uint32_t>(p);
        count += keep(p, here) ? 1 : 0;
    });
    if (count < kept.size() / 2) {
        // Most of the room went unused: keep only what the frame needs.
        RowSelection tight(count);
        std::memcpy(tight.data(), kept.data(), count * sizeof(std::uint32_t));
        kept = std::move(tight);
    } else {
        kept.resize_for_overwrite(count);
    }
    return take_rows(frame, std::move(kept));
}

// The frame showing every row whose entry is present.
Frame keep_present(const Frame& frame, const std::uint8_t* present) {
    return filter_rows(frame, present, [](std::size_t) { return true; });
}

// The frame showing no row.
Frame keep_none(const Frame& frame) {
    return take_rows(frame, RowSelection{});
}

// ---------------------------------------------------------------------------
// Comparisons.

template <class T>
Frame compare_with(const Frame& frame, NumberView<T> view, CompareOp op, T value) {
    const T* data = view.values;
    auto filter = [&](auto pass) { return filter_rows(frame, view.present, pass); };
    switch (op) {
        case CompareOp::eq: return filter([=](std::size_t p) { return data[p] == value; });
        case CompareOp::ne: return filter([=](std::size_t p) { return data[p] != value; });
        case CompareOp::lt: return filter([=](std::size_t p) { return data[p] < value; });
        case CompareOp::le: return filter([=](std::size_t p) { return data[p] <= value; });
        case CompareOp::gt: return filter([=](std::size_t p) { return data[p] > value; });
        case CompareOp::ge: return filter([=](std::size_t p) { return data[p] >= value; });
    }
    return keep_none(frame);
}

constexpr double two_to_63 = 9223372036854775808.0;

// An i64 column against the exact value of a float: the test is turned into
// one on integers (or into "every present row" or "no row") before the scan.
Frame compare_integers(const Frame& frame, IntView view, CompareOp op, double v) {
    enum class Order { less, greater };
    auto all_on_one_side = [&](Order order) {
        bool keep;
        switch (op) {
            case CompareOp::eq: keep = false; break;
            case CompareOp::ne: keep = true; break;
            case CompareOp::lt:
            case CompareOp::le: keep = order == Order::less; break;
            default: keep = order == Order::greater; break;
        }
        return keep ? keep_present(frame, view.present) : keep_none(frame);
    };
    if (std::isnan(v))
        return op == CompareOp::ne ? keep_present(frame, view.present) : keep_none(frame);
    if (v >= two_to_63) return all_on_one_side(Order::less);
    if (v < -two_to_63) return all_on_one_side(Order::greater);
    double f = std::floor(v);
    auto m = static_cast<std::int64_t>(f);
    if (v == f) return compare_with<std::int64_t>(frame, view, op, m);
    // v lies strictly between m and m + 1: n <= m is less, n > m is greater.
    switch (op) {
        case CompareOp::eq: return keep_none(frame);
        case CompareOp::ne: return keep_present(frame, view.present);
        case CompareOp::lt:
        case CompareOp::le: return compare_with<std::int64_t>(frame, view, CompareOp::le, m);
        case CompareOp::gt:
        case CompareOp::ge: return compare_with<std::int64_t>(frame, view, CompareOp::gt, m);
    }
    return keep_none(frame);
}

// ---------------------------------------------------------------------------
// Number membership: the given values, deduplicated and sorted.

template <class T>
Frame among(const Frame& frame, NumberView<T> view, std::vector<T> wanted) {
    const T* data = view.values;
    std::sort(wanted.begin(), wanted.end());
    wanted.erase(
        std::unique(wanted.begin(), wanted.end(), [](T a, T b) { return !(a < b) && !(b < a); }),
        wanted.end());
    if (wanted.empty()) return keep_none(frame);
    if (wanted.size() == 1) {
        T only = wanted.front();
        return filter_rows(frame, view.present, [=](std::size_t p) { return data[p] == only; });
    }
    T low = wanted.front();
    T high = wanted.back();
    if (wanted.size() <= 16) {
        const T* w = wanted.data();
        std::size_t count = wanted.size();
        return filter_rows(frame, view.present, [=](std::size_t p) {
            T x = data[p];
            if (!(x >= low && x <= high)) return false;
            bool hit = false;
            for (std::size_t i = 0; i < count; ++i)
                hit |= x == w[i];
            return hit;
        });
    }
    return filter_rows(frame, view.present, [&](std::size_t p) {
        T x = data[p];
        if (!(x >= low && x <= high)) return false;
        auto it = std::lower_bound(wanted.begin(), wanted.end(), x);
        return it != wanted.end() && *it == x;
    });
}

// ---------------------------------------------------------------------------
// String membership.

// A set of texts: open addressing over their hashes, keyed by the process's
// random words so that no list of texts can be chosen to meet on one run of
// slots, with a mask of the lengths present so that most rows are refused on
// their length alone.
class TextSet {
  public:
    explicit TextSet(std::span<const std::string> texts) {
        std::size_t capacity = 16;
        while (capacity < texts.size() * 4)
            capacity *= 2;
        slots_.assign(capacity, -1);
        shift_ = 64 - std::countr_zero(capacity);
        for (const std::string& text : texts) {
            if (contains(text.data(), text.size())) continue;
            std::size_t i = slot_of(text.data(), text.size());
            while (slots_[i] >= 0)
                i = (i + 1) & (capacity - 1);
            slots_[i] = static_cast<std::int32_t>(texts_.size());
            texts_.push_back(text);
            lengths_ |= length_bit(text.size());
        }
    }

    bool contains(const char* p, std::size_t n) const {
        if ((lengths_ & length_bit(n)) == 0) return false;
        std::size_t i = slot_of(p, n);
        std::size_t mask = slots_.size() - 1;
        while (true) {
            std::int32_t at = slots_[i];
            if (at < 0) return false;
            const std::string& text = texts_[static_cast<std::size_t>(at)];
            if (text.size() == n && same_bytes(text.data(), p, n)) return true;
            i = (i + 1) & mask;
        }
    }

    std::size_t size() const { return texts_.size(); }
    const std::string& only() const { return texts_.front(); }

  private:
    static std::uint64_t length_bit(std::size_t n) { return std::uint64_t{1} << (n < 63 ? n : 63); }
    std::size_t slot_of(const char* p, std::size_t n) const {
        return static_cast<std::size_t>(hash_bytes(keys_, p, n) >> shift_);
    }

    HashKeys keys_ = process_hash_keys();
    std::vector<std::int32_t> slots_;
    std::vector<std::string> texts_;
    std::uint64_t lengths_ = 0;
    int shift_ = 60;
};

// ---------------------------------------------------------------------------

std::string str_compare_message(std::string_view name) {
    return "column " + quoted(name) + " is str: compare it with where_is or where_in";
}

}  // namespace

Result<Frame> filter_compare(const Frame& frame, std::string_view name, CompareOp op,
                             double value) {
    TARNWICK_ASSIGN_OR_RETURN(const Column* column, find_column(frame, name));
    return visit(
        *column->values,
        Overloaded{
            [&](IntView view) -> Result<Frame> { return compare_integers(frame, view, op, value); },
            [&](FloatView view) -> Result<Frame> {
                return compare_with<double>(frame, view, op, value);
            },
            [&](TextView) -> Result<Frame> { return frame_error(str_compare_message(name)); },
        });
}

Result<Frame> filter_in_strings(const Frame& frame, std::string_view name,
                                std::span<const std::string> strings) {
    TARNWICK_ASSIGN_OR_RETURN(const Column* column, find_column(frame, name));
    return visit(*column->values,
                 Overloaded{
                     [&]<class T>(NumberView<T>) -> Result<Frame> {
                         return frame_error("column " + quoted(name) + " is " +
                                            std::string(dtype_name(column->dtype())) +
                                            ": where_is and where_in take a str column");
                     },
                     [&](TextView view) -> Result<Frame> {
                         TextSet set(strings);
                         if (set.size() == 0) return keep_none(frame);
                         const std::uint64_t* offsets = view.offsets;
                         const char* bytes = view.bytes;
                         if (set.size() == 1) {
                             const std::string& only = set.only();
                             const char* wanted = only.data();
                             std::size_t length = only.size();
                             return filter_rows(frame, view.present, [=](std::size_t p) {
                                 std::uint64_t start = offsets[p];
                                 return offsets[p + 1] - start == length &&
                                        same_bytes(bytes + start, wanted, length);
                             });
                         }
                         return filter_rows(frame, view.present, [&](std::size_t p) {
                             std::uint64_t start = offsets[p];
                             return set.contains(bytes + start, offsets[p + 1] - start);
                         });
                     },
                 });
}

Result<Frame> filter_among_numbers(const Frame& frame, std::string_view name,
                                   std::span<const double> numbers) {
    TARNWICK_ASSIGN_OR_RETURN(const Column* column, find_column(frame, name));
    return visit(*column->values,
                 Overloaded{
                     [&](IntView view) -> Result<Frame> {
                         std::vector<std::int64_t> wanted;
                         wanted.reserve(numbers.size());
                         for (double v : numbers) {
                             // NaN fails both range tests.
                             if (!(v >= -two_to_63 && v < two_to_63) || std::floor(v) != v)
                                 continue;
                             wanted.push_back(static_cast<std::int64_t>(v));
                         }
                         return among(frame, view, std::move(wanted));
                     },
                     [&](FloatView view) -> Result<Frame> {
                         std::vector<double> wanted;
                         wanted.reserve(numbers.size());
                         for (double v : numbers) {
                             if (!std::isnan(v)) wanted.push_back(v == 0.0 ? 0.0 : v);
                         }
                         return among(frame, view, std::move(wanted));
                     },
                     [&](TextView) -> Result<Frame> {
                         return frame_error("column " + quoted(name) +
                                            " is str: where_in takes its strings");
                     },
                 });
}

}  // namespace tarnwick
