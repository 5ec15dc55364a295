#include "engine/aggregate.hpp"

#include <algorithm>
#include <format>

#include "base/quoted.hpp"
#include "engine/compensated_sum.hpp"
#include "engine/grouping.hpp"

namespace tarnwick {

namespace {

// Calls visit(group, position) for every row whose entry in `column` is
// present, in row order, reading the column by storage position. Stops, and
// returns false, as soon as visit returns false.
template <class Visit>
bool for_each_present(const Grouped& grouped, const ColumnValues& column, Visit&& visit) {
    const std::uint32_t* groups = grouped.row_groups.data();
    const std::uint8_t* present = column.presence();
    const RowSelection* selection = grouped.frame.selection();
    std::size_t rows = grouped.frame.height();
    // One loop per combination, so that neither test is made per row.
    auto run = [&]<bool masked, bool selected>() {
        const std::uint32_t* positions = selected ? selection->data() : nullptr;
        for (std::size_t r = 0; r < rows; ++r) {
            std::size_t p = selected ? positions[r] : r;
            if (masked && !present[p]) continue;
            if (!visit(groups[r], p)) return false;
        }
        return true;
    };
    if (present != nullptr) {
        return selection ? run.template operator()<true, true>()
                         : run.template operator()<true, false>();
    }
    return selection ? run.template operator()<false, true>()
                     : run.template operator()<false, false>();
}

std::unexpected<Failure> overflow(std::string_view name) {
    return frame_error(std::format("the sum of column {} overflows i64", quoted(name)));
}

// Per-group sums of an i64 column, failing at the first partial sum (of any
// group, in row order) that leaves the 64-bit range. `counts`, when given,
// receives the number of present entries of each group.
Result<PodVector<std::int64_t>> int_sums(const Grouped& grouped, const ColumnValues& column,
                                         std::string_view name, std::int64_t* counts) {
    PodVector<std::int64_t> sums;
    sums.resize(grouped.group_count(), 0);
    std::int64_t* sum = sums.data();
    const std::int64_t* values = column.ints().data();
    bool fits = for_each_present(grouped, column, [&](std::uint32_t g, std::size_t p) {
        if (counts != nullptr) ++counts[g];
        return !__builtin_add_overflow(sum[g], values[p], &sum[g]);
    });
    if (!fits) return overflow(name);
    return sums;
}

PodVector<CompensatedSum> float_sums(const Grouped& grouped, const ColumnValues& column,
                                     std::int64_t* counts) {
    PodVector<CompensatedSum> sums;
    sums.resize(grouped.group_count(), CompensatedSum{});
    CompensatedSum* sum = sums.data();
    const double* values = column.floats().data();
    for_each_present(grouped, column, [&](std::uint32_t g, std::size_t p) {
        if (counts != nullptr) ++counts[g];
        sum[g].add(values[p]);
        return true;
    });
    return sums;
}

Result<ColumnValues> sum(const Grouped& grouped, const ColumnValues& column,
                         std::string_view name) {
    if (column.dtype() == DType::i64) {
        TARNWICK_ASSIGN_OR_RETURN(PodVector<std::int64_t> sums,
                                  int_sums(grouped, column, name, nullptr));
        return ColumnValues::of_i64(std::move(sums));
    }
    PodVector<CompensatedSum> sums = float_sums(grouped, column, nullptr);
    PodVector<double> results(sums.size());
    for (std::size_t g = 0; g < sums.size(); ++g)
        results[g] = sums[g].result();
    return ColumnValues::of_f64(std::move(results));
}

// A group without present entries has no mean.
template <class Total>
ColumnValues means(const PodVector<Total>& totals, const PodVector<std::int64_t>& counts,
                   auto value_of) {
    NumberColumnBuilder<double> result;
    result.reserve(totals.size());
    for (std::size_t g = 0; g < totals.size(); ++g) {
        if (counts[g] == 0) {
            result.append_missing();
        } else {
            result.append(value_of(totals[g]) / static_cast<double>(counts[g]));
        }
    }
    return result.finish();
}

Result<ColumnValues> mean(const Grouped& grouped, const ColumnValues& column,
                          std::string_view name) {
    PodVector<std::int64_t> counts;
    counts.resize(grouped.group_count(), 0);
    if (column.dtype() == DType::i64) {
        TARNWICK_ASSIGN_OR_RETURN(PodVector<std::int64_t> sums,
                                  int_sums(grouped, column, name, counts.data()));
        return means(sums, counts, [](std::int64_t total) { return static_cast<double>(total); });
    }
    PodVector<CompensatedSum> sums = float_sums(grouped, column, counts.data());
    return means(sums, counts, [](const CompensatedSum& total) { return total.result(); });
}

// The first present entry of a group is its best; a later one replaces it only
// when strictly better, so ties keep the earlier entry and a NaN is never
// replaced nor replaces. Groups without present entries get a missing entry.
template <class T>
ColumnValues best_numbers(const Grouped& grouped, const ColumnValues& column,
                          std::span<const T> values, bool smallest) {
    std::size_t groups = grouped.group_count();
    PodVector<T> best(groups);
    PodVector<std::uint8_t> seen;
    seen.resize(groups, 0);
    auto keep = [&](auto better) {
        for_each_present(grouped, column, [&](std::uint32_t g, std::size_t p) {
            T v = values[p];
            if (!seen[g]) {
                best[g] = v;
                seen[g] = 1;
            } else if (better(v, best[g])) {
                best[g] = v;
            }
            return true;
        });
    };
    if (smallest) {
        keep([](T v, T current) { return current > v; });
    } else {
        keep([](T v, T current) { return v > current; });
    }
    bool every_group_seen = true;
    for (std::size_t g = 0; g < groups; ++g) {
        if (!seen[g]) {
            best[g] = T{};  // a missing entry stores zero
            every_group_seen = false;
        }
    }
    if (every_group_seen) seen = {};
    if constexpr (std::is_same_v<T, double>) {
        return ColumnValues::of_f64(std::move(best), std::move(seen));
    } else {
        return ColumnValues::of_i64(std::move(best), std::move(seen));
    }
}

// Strings compare by their UTF-8 bytes as unsigned numbers, a proper prefix
// before the longer string; the best is kept as a storage position.
ColumnValues best_strings(const Grouped& grouped, const ColumnValues& column, bool smallest) {
    std::size_t groups = grouped.group_count();
    PodVector<std::uint32_t> best(groups);
    PodVector<std::uint8_t> seen;
    seen.resize(groups, 0);
    for_each_present(grouped, column, [&](std::uint32_t g, std::size_t p) {
        if (!seen[g]) {
            best[g] = static_cast<std::uint32_t>(p);
            seen[g] = 1;
        } else {
            int order = column.string(p).compare(column.string(best[g]));
            if (smallest ? order < 0 : order > 0) best[g] = static_cast<std::uint32_t>(p);
        }
        return true;
    });
    StringColumnBuilder result;
    for (std::size_t g = 0; g < groups; ++g) {
        if (seen[g]) {
            result.append(column.string(best[g]));
        } else {
            result.append_missing();
        }
    }
    return result.finish();
}

ColumnValues best(const Grouped& grouped, const ColumnValues& column, bool smallest) {
    switch (column.dtype()) {
        case DType::i64: return best_numbers(grouped, column, column.ints(), smallest);
        case DType::f64: return best_numbers(grouped, column, column.floats(), smallest);
        case DType::str: break;
    }
    return best_strings(grouped, column, smallest);
}

bool is_key(const Grouped& grouped, std::string_view name) {
    return std::ranges::find(grouped.keys, name) != grouped.keys.end();
}

}  // namespace

Result<Frame> aggregate(const Grouped& grouped, std::string_view name, Aggregation kind) {
    TARNWICK_ASSIGN_OR_RETURN(const Column* found, find_column(grouped.frame, name));
    const ColumnValues& column = *found->values;
    bool adds = kind == Aggregation::Sum || kind == Aggregation::Mean;
    if (adds && column.dtype() == DType::str) {
        return frame_error(std::format("column {} is str: it has no sum or mean", quoted(name)));
    }
    TARNWICK_ASSIGN_OR_RETURN(ColumnValues values, [&]() -> Result<ColumnValues> {
        switch (kind) {
            case Aggregation::Sum: return sum(grouped, column, name);
            case Aggregation::Mean: return mean(grouped, column, name);
            case Aggregation::Min: return best(grouped, column, true);
            case Aggregation::Max: return best(grouped, column, false);
        }
        return internal_error("an unknown aggregation");
    }());
    return attach_result(grouped, name, std::move(values));
}

Result<Frame> count_rows(const Grouped& grouped) {
    PodVector<std::int64_t> counts;
    counts.resize(grouped.group_count(), 0);
    for (std::uint32_t g : grouped.row_groups)
        ++counts[g];
    for (std::string_view name : {"count", "len"}) {
        if (!is_key(grouped, name)) {
            return attach_result(grouped, name, ColumnValues::of_i64(std::move(counts)));
        }
    }
    return key_frame(grouped);
}

Result<Frame> attach_result(const Grouped& grouped, std::string_view name, ColumnValues values) {
    if (is_key(grouped, name)) {
        return frame_error(std::format("column {} is a key of this grouping", quoted(name)));
    }
    TARNWICK_ASSIGN_OR_RETURN(Frame frame, key_frame(grouped));
    TARNWICK_RETURN_IF_FAILED(add_column(frame, name, std::move(values)));
    return frame;
}

}  // namespace tarnwick
