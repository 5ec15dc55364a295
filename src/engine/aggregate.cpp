#include "engine/aggregate.hpp"

#include <algorithm>
#include <format>

#include "base/quoted.hpp"
#include "engine/compensated_sum.hpp"
#include "engine/grouping.hpp"

namespace tarnwick {

namespace {

// Calls add(group, position) for every row whose entry is present, in row
// order, reading the column by storage position. Stops, and returns false, as
// soon as add returns false.
template <class Add>
bool for_each_present(const Grouped& grouped, const std::uint8_t* present, Add&& add) {
    const std::uint32_t* groups = grouped.row_groups.data();
    Rows rows = grouped.frame.rows();
    std::size_t stop = for_each_row(rows, present, [&](std::size_t r, std::size_t p, bool here) {
        return !here || add(groups[r], p);
    });
    return stop == rows.count;
}

std::unexpected<Failure> overflow(std::string_view name) {
    return frame_error(std::format("the sum of column {} overflows i64", quoted(name)));
}

// Per-group sums of an i64 column, failing at the first partial sum (of any
// group, in row order) that leaves the 64-bit range. `counts`, when given,
// receives the number of present entries of each group.
Result<PodVector<std::int64_t>> group_sums(const Grouped& grouped, IntView view,
                                           std::string_view name, std::int64_t* counts) {
    PodVector<std::int64_t> sums;
    sums.resize(grouped.group_count(), 0);
    std::int64_t* sum = sums.data();
    bool fits = for_each_present(grouped, view.present, [&](std::uint32_t g, std::size_t p) {
        if (counts != nullptr) ++counts[g];
        return !__builtin_add_overflow(sum[g], view[p], &sum[g]);
    });
    if (!fits) return overflow(name);
    return sums;
}

Result<PodVector<CompensatedSum>> group_sums(const Grouped& grouped, FloatView view,
                                             std::string_view, std::int64_t* counts) {
    PodVector<CompensatedSum> sums;
    sums.resize(grouped.group_count(), CompensatedSum{});
    CompensatedSum* sum = sums.data();
    for_each_present(grouped, view.present, [&](std::uint32_t g, std::size_t p) {
        if (counts != nullptr) ++counts[g];
        sum[g].add(view[p]);
        return true;
    });
    return sums;
}

ColumnValues sum_column(PodVector<std::int64_t> sums) {
    return ColumnValues::of_i64(std::move(sums));
}

ColumnValues sum_column(const PodVector<CompensatedSum>& sums) {
    PodVector<double> results(sums.size());
    for (std::size_t g = 0; g < sums.size(); ++g)
        results[g] = sums[g].result();
    return ColumnValues::of_f64(std::move(results));
}

double total_value(std::int64_t total) {
    return static_cast<double>(total);
}

double total_value(const CompensatedSum& total) {
    return total.result();
}

// A group without present entries has no mean.
template <class Total>
ColumnValues means(const PodVector<Total>& totals, const PodVector<std::int64_t>& counts) {
    NumberColumnBuilder<double> result;
    result.reserve(totals.size());
    for (std::size_t g = 0; g < totals.size(); ++g) {
        if (counts[g] == 0) {
            result.append_missing();
        } else {
            result.append(total_value(totals[g]) / static_cast<double>(counts[g]));
        }
    }
    return result.finish();
}

// The first present entry of a group is its best; a later one replaces it only
// when strictly better, so ties keep the earlier entry and a NaN is never
// replaced nor replaces. Groups without present entries get a missing entry.
template <class T>
ColumnValues best_numbers(const Grouped& grouped, NumberView<T> view, bool smallest) {
    std::size_t groups = grouped.group_count();
    PodVector<T> best(groups);
    PodVector<std::uint8_t> seen;
    seen.resize(groups, 0);
    auto keep = [&](auto better) {
        for_each_present(grouped, view.present, [&](std::uint32_t g, std::size_t p) {
            T v = view[p];
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
    PresenceBuilder presence;
    for (std::size_t g = 0; g < groups; ++g) {
        if (!seen[g]) {
            best[g] = T{};  // a missing entry stores zero
            presence.mark_missing(g);
        }
    }
    return ColumnValues::of_numbers(std::move(best), presence.finish(groups));
}

// Strings compare by their UTF-8 bytes as unsigned numbers, a proper prefix
// before the longer string; the best is kept as a storage position.
ColumnValues best_strings(const Grouped& grouped, TextView view, bool smallest) {
    std::size_t groups = grouped.group_count();
    PodVector<std::uint32_t> best(groups);
    PodVector<std::uint8_t> seen;
    seen.resize(groups, 0);
    for_each_present(grouped, view.present, [&](std::uint32_t g, std::size_t p) {
        if (!seen[g]) {
            best[g] = static_cast<std::uint32_t>(p);
            seen[g] = 1;
        } else {
            int order = view[p].compare(view[best[g]]);
            if (smallest ? order < 0 : order > 0) best[g] = static_cast<std::uint32_t>(p);
        }
        return true;
    });
    StringColumnBuilder result;
    for (std::size_t g = 0; g < groups; ++g) {
        if (seen[g]) {
            result.append(view[best[g]]);
        } else {
            result.append_missing();
        }
    }
    return result.finish();
}

// The reduction of one column, by its kind.
struct Reduce {
    const Grouped& grouped;
    std::string_view name;
    Aggregation kind;

    template <class T>
    Result<ColumnValues> operator()(NumberView<T> view) const {
        switch (kind) {
            case Aggregation::Sum: {
                TARNWICK_ASSIGN_OR_RETURN(auto sums, group_sums(grouped, view, name, nullptr));
                return sum_column(std::move(sums));
            }
            case Aggregation::Mean: {
                PodVector<std::int64_t> counts;
                counts.resize(grouped.group_count(), 0);
                TARNWICK_ASSIGN_OR_RETURN(auto sums,
                                          group_sums(grouped, view, name, counts.data()));
                return means(sums, counts);
            }
            case Aggregation::Min: return best_numbers(grouped, view, true);
            case Aggregation::Max: return best_numbers(grouped, view, false);
        }
        return internal_error("an unknown aggregation");
    }

    Result<ColumnValues> operator()(TextView view) const {
        switch (kind) {
            case Aggregation::Sum:
            case Aggregation::Mean:
                return frame_error(
                    std::format("column {} is str: it has no sum or mean", quoted(name)));
            case Aggregation::Min: return best_strings(grouped, view, true);
            case Aggregation::Max: return best_strings(grouped, view, false);
        }
        return internal_error("an unknown aggregation");
    }
};

bool is_key(const Grouped& grouped, std::string_view name) {
    return std::ranges::find(grouped.keys, name) != grouped.keys.end();
}

// The key frame with `values` (one entry per group) appended as column
// `name`; refused when `name` is a key.
Result<Frame> attach_result(const Grouped& grouped, std::string_view name, ColumnValues values) {
    if (is_key(grouped, name)) {
        return frame_error(std::format("column {} is a key of this grouping", quoted(name)));
    }
    TARNWICK_ASSIGN_OR_RETURN(Frame frame, key_frame(grouped));
    TARNWICK_RETURN_IF_FAILED(add_column(frame, name, std::move(values)));
    return frame;
}

}  // namespace

Result<Frame> aggregate(const Grouped& grouped, std::string_view name, Aggregation kind) {
    TARNWICK_ASSIGN_OR_RETURN(const Column* column, find_column(grouped.frame, name));
    TARNWICK_ASSIGN_OR_RETURN(ColumnValues values,
                              visit(*column->values, Reduce{grouped, name, kind}));
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

}  // namespace tarnwick
