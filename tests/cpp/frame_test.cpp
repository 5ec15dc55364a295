#include "engine/frame.hpp"
#include "engine/frame_internal.hpp"
#include "engine/select.hpp"

#include <gtest/gtest.h>

#include "columns.hpp"

namespace tarnwick {
namespace {

using namespace test_columns;

Frame frame_of_three() {
    Frame frame;
    EXPECT_TRUE(add_column(frame, "a", ints({10, 20, 30})));
    EXPECT_TRUE(add_column(frame, "s", strings({"x", "yy", ""})));
    return frame;
}

TEST(AddColumn, FirstColumnSetsHeightEvenToZero) {
    Frame frame;
    ASSERT_TRUE(add_column(frame, "a", ints({})));
    EXPECT_EQ(frame.height(), 0u);
    EXPECT_EQ(frame.width(), 1u);
    Result<void> refused = add_column(frame, "b", ints({1}));
    ASSERT_FALSE(refused);
    EXPECT_EQ(message_of(refused.error()), "column \"b\" has 1 values; the frame has 0 rows");
}

TEST(AddColumn, RefusalLeavesFrameUnchanged) {
    Frame frame = frame_of_three();
    Result<void> taken = add_column(frame, "a", ints({1, 2, 3}));
    ASSERT_FALSE(taken);
    EXPECT_EQ(message_of(taken.error()), "the frame has a column \"a\" already");
    EXPECT_EQ(frame.width(), 2u);
    EXPECT_TRUE(add_column(frame, "A", ints({1, 2, 3})));  // names are case-sensitive
}

// The bound on a column's length, reached with a small limit in place of 2^32:
// the refusal comes before anything is stored, for every kind of column and
// also on a frame whose height a derived selection set.
TEST(AddColumn, RefusesColumnsAtTheRowLimit) {
    for (auto make : {+[](std::size_t n) { return ints(std::vector<std::int64_t>(n, 1)); },
                      +[](std::size_t n) { return floats(std::vector<double>(n, 1.0)); },
                      +[](std::size_t n) {
                          StringColumnBuilder builder;
                          for (std::size_t i = 0; i < n; ++i)
                              builder.append("ab");
                          return builder.finish();
                      }}) {
        Frame empty;
        Result<void> refused = add_column_within(empty, "c\"", make(4), 4);
        ASSERT_FALSE(refused);
        EXPECT_EQ(message_of(refused.error()),
                  "column \"c\\\"\" has 4 values; a frame holds at most 3 rows");
        EXPECT_EQ(empty.width(), 0u);
        EXPECT_EQ(empty.height(), 0u);
        ASSERT_FALSE(add_column_within(empty, "c", make(9), 4));
        ASSERT_TRUE(add_column_within(empty, "c", make(3), 4));
        EXPECT_EQ(empty.height(), 3u);

        // A frame without columns that shows rows through a selection.
        Frame derived = take_rows(Frame(), RowSelection{4, 0, 2, 1, 3});
        ASSERT_FALSE(add_column_within(derived, "c", make(5), 5));
        EXPECT_EQ(derived.width(), 0u);
        EXPECT_EQ(derived.height(), 5u);
        EXPECT_TRUE(add_column_within(derived, "c", make(5), 6));
    }
}

TEST(FindColumn, NamesEveryColumnWhenAbsent) {
    Frame empty;
    EXPECT_EQ(message_of(find_column(empty, "x").error()), "no column \"x\" (the frame has none)");
    Frame frame = frame_of_three();
    EXPECT_EQ(message_of(find_column(frame, "x").error()),
              "no column \"x\" (the frame has \"a\", \"s\")");
    EXPECT_EQ(message_of(find_column_of_kind(frame, "s", DType::i64).error()),
              "column \"s\" is str, not i64");
}

TEST(TakeRows, SharesStorageAndDropsIdentity) {
    Frame frame = frame_of_three();
    Frame same = take_rows(frame, RowSelection{0, 1, 2});
    EXPECT_EQ(same.selection(), nullptr);
    Frame reversed = take_rows(frame, RowSelection{2, 1, 0});
    ASSERT_NE(reversed.selection(), nullptr);
    EXPECT_EQ(reversed.height(), 3u);
    EXPECT_EQ(reversed.columns()[0].values.get(), frame.columns()[0].values.get());
    EXPECT_EQ(frame.columns()[0].values.use_count(), 3u);
    // A prefix of the identity is still a selection: it shows fewer rows.
    EXPECT_NE(take_rows(frame, RowSelection{0, 1}).selection(), nullptr);
}

TEST(TakeRows, FrameWithoutColumnsKeepsNonEmptySelection) {
    Frame frame;
    Frame taken = take_rows(frame, RowSelection{0, 1});
    EXPECT_EQ(taken.height(), 2u);
    EXPECT_NE(taken.selection(), nullptr);
    EXPECT_EQ(take_rows(frame, RowSelection{}).selection(), nullptr);
}

TEST(Materialize, CopiesRowsInOrderAndLeavesSourceAlone) {
    Frame frame = frame_of_three();
    Frame derived = take_rows(frame, RowSelection{2, 0});
    ASSERT_TRUE(add_column(derived, "b", ints({7, 8})));
    EXPECT_EQ(derived.selection(), nullptr);
    EXPECT_EQ(derived.height(), 2u);
    const ColumnValues& a = *derived.columns()[0].values;
    EXPECT_EQ(a.ints()[0], 30);
    EXPECT_EQ(a.ints()[1], 10);
    const ColumnValues& s = *derived.columns()[1].values;
    EXPECT_EQ(s.string(0), "");
    EXPECT_EQ(s.string(1), "x");
    EXPECT_EQ(frame.width(), 2u);
    EXPECT_EQ(frame.columns()[0].values.use_count(), 1u);
}

TEST(ColumnValuesOf, FollowsTheSelection) {
    Frame frame = frame_of_three();
    Frame derived = take_rows(frame, RowSelection{1, 1, 0});
    Result<ColumnValues> values = column_values(derived, "s");
    ASSERT_TRUE(values);
    ASSERT_EQ(values->size(), 3u);
    EXPECT_EQ(values->string(0), "yy");
    EXPECT_EQ(values->string(1), "yy");
    EXPECT_EQ(values->string(2), "x");
}

TEST(Select, FirstOffendingNameDecides) {
    Frame frame = frame_of_three();
    std::vector<std::string> absent_first{"a", "zz", "a"};
    EXPECT_EQ(message_of(select(frame, absent_first).error()),
              "no column \"zz\" (the frame has \"a\", \"s\")");
    std::vector<std::string> repeated_first{"a", "a", "zz"};
    EXPECT_EQ(message_of(select(frame, repeated_first).error()), "column \"a\" selected twice");
}

TEST(Select, SharesSelectionAndKeepsHeight) {
    Frame frame = take_rows(frame_of_three(), RowSelection{2, 0});
    std::vector<std::string> names{"s", "a"};
    Result<Frame> chosen = select(frame, names);
    ASSERT_TRUE(chosen);
    EXPECT_EQ(chosen->columns()[0].name, "s");
    EXPECT_EQ(chosen->selection(), frame.selection());
    Result<Frame> none = select(frame, std::span<const std::string>{});
    ASSERT_TRUE(none);
    EXPECT_EQ(none->width(), 0u);
    EXPECT_EQ(none->height(), 2u);
}

}  // namespace
}  // namespace tarnwick
