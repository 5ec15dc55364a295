#include "engine/aggregate.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "columns.hpp"
#include "engine/grouping.hpp"

namespace tarnwick {
namespace {

using namespace test_columns;
using std::nullopt;
using Ints = std::vector<std::optional<std::int64_t>>;
using Floats = std::vector<std::optional<double>>;
using Strings = std::vector<std::optional<std::string>>;

constexpr std::int64_t i64_max = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t i64_min = std::numeric_limits<std::int64_t>::min();

Grouped grouped_by(const Frame& frame, std::vector<std::string> keys) {
    Result<Grouped> grouped = group(frame, keys);
    EXPECT_TRUE(grouped);
    return std::move(*grouped);
}

// A copy of the last column of a result frame.
ColumnValues result_column(const Result<Frame>& result) {
    if (!result) {
        ADD_FAILURE() << message_of(result.error());
        return ints({});
    }
    return result->columns().back().values->clone();
}

// Groups a, b, c; b's values are all missing.
Frame frame_with_missing_values() {
    return FrameOf()
        .with("k", strings({"a", "b", "a", "c", "b"}))
        .with("n", ints({4, nullopt, nullopt, 7, nullopt}))
        .with("x", floats({nullopt, nullopt, 2.5, -0.0, nullopt}))
        .with("s", strings({"q", nullopt, "p", nullopt, nullopt}))
        .frame;
}

TEST(Aggregate, MissingValuesTakeNoPart) {
    Grouped grouped = grouped_by(frame_with_missing_values(), {"k"});
    EXPECT_EQ(ints_of(result_column(aggregate(grouped, "n", Aggregation::Sum))), (Ints{4, 0, 7}));
    EXPECT_EQ(floats_of(result_column(aggregate(grouped, "n", Aggregation::Mean))),
              (Floats{4.0, nullopt, 7.0}));
    EXPECT_EQ(ints_of(result_column(aggregate(grouped, "n", Aggregation::Min))),
              (Ints{4, nullopt, 7}));
    EXPECT_EQ(floats_of(result_column(aggregate(grouped, "x", Aggregation::Sum))),
              (Floats{2.5, 0.0, 0.0}));
    EXPECT_EQ(floats_of(result_column(aggregate(grouped, "x", Aggregation::Max))),
              (Floats{2.5, nullopt, -0.0}));
    EXPECT_EQ(strings_of(result_column(aggregate(grouped, "s", Aggregation::Min))),
              (Strings{"p", nullopt, nullopt}));
    EXPECT_EQ(strings_of(result_column(aggregate(grouped, "s", Aggregation::Max))),
              (Strings{"q", nullopt, nullopt}));
}

TEST(Aggregate, AMissingResultStoresZero) {
    Grouped grouped = grouped_by(frame_with_missing_values(), {"k"});
    ColumnValues max = result_column(aggregate(grouped, "n", Aggregation::Max));
    EXPECT_FALSE(max.is_present(1));
    EXPECT_EQ(max.ints()[1], 0);
}

TEST(CountRows, CountsRowsWithMissingEntries) {
    Frame frame = FrameOf().with("k", ints({nullopt, 1, nullopt, nullopt})).frame;
    Result<Frame> counted = count_rows(grouped_by(frame, {"k"}));
    ASSERT_TRUE(counted);
    EXPECT_EQ(ints_of(*counted->columns()[0].values), (Ints{nullopt, 1}));
    EXPECT_EQ(ints_of(result_column(counted)), (Ints{3, 1}));
}

TEST(Aggregate, ReadsValuesThroughTheSelection) {
    Frame stored = FrameOf().with("k", ints({1, 2, 1, 2})).with("v", ints({10, 20, 30, 40})).frame;
    Frame reordered = take_rows(stored, RowSelection{3, 2, 1});  // rows (2, 40), (1, 30), (2, 20)
    Grouped grouped = grouped_by(reordered, {"k"});
    Result<Frame> sums = aggregate(grouped, "v", Aggregation::Sum);
    ASSERT_TRUE(sums);
    EXPECT_EQ(ints_of(*sums->columns()[0].values), (Ints{2, 1}));
    EXPECT_EQ(ints_of(result_column(sums)), (Ints{60, 30}));
    EXPECT_EQ(ints_of(result_column(aggregate(grouped, "v", Aggregation::Min))), (Ints{20, 30}));
}

TEST(Aggregate, MissingEntriesCannotPushASumOver) {
    Frame frame = FrameOf().with("v", ints({i64_max, nullopt, i64_min})).frame;
    EXPECT_EQ(ints_of(result_column(aggregate(grouped_by(frame, {}), "v", Aggregation::Sum))),
              (Ints{-1}));
    Frame over = FrameOf().with("v", ints({i64_max, nullopt, 1})).frame;
    Result<Frame> refused = aggregate(grouped_by(over, {}), "v", Aggregation::Mean);
    ASSERT_FALSE(refused);
    EXPECT_EQ(message_of(refused.error()), "the sum of column \"v\" overflows i64");
}

}  // namespace
}  // namespace tarnwick
