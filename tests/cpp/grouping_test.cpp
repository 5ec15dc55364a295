#include "engine/grouping.hpp"
#include "engine/grouping_internal.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>
#include <map>
#include <random>

#include "columns.hpp"

namespace tarnwick {
namespace {

using namespace test_columns;
using std::nullopt;
using Groups = std::vector<std::uint32_t>;
using Strings = std::vector<std::optional<std::string>>;

Grouped grouped_by(const Frame& frame, std::vector<std::string> keys) {
    Result<Grouped> grouped = group(frame, keys);
    EXPECT_TRUE(grouped) << message_of(grouped.error());
    return std::move(*grouped);
}

Groups row_groups(const Grouped& grouped) {
    return {grouped.row_groups.begin(), grouped.row_groups.end()};
}

TEST(Group, MissingKeysFormTheirOwnGroups) {
    Frame frame = FrameOf()
                      .with("n", ints({1, nullopt, 1, nullopt, 0}))
                      .with("s", strings({"", nullopt, "", "", nullopt}))
                      .frame;
    // A missing integer is stored as 0, yet never meets a present 0.
    EXPECT_EQ(row_groups(grouped_by(frame, {"n"})), (Groups{0, 1, 0, 1, 2}));
    // A missing text is not the empty text.
    EXPECT_EQ(row_groups(grouped_by(frame, {"s"})), (Groups{0, 1, 0, 0, 1}));
    EXPECT_EQ(row_groups(grouped_by(frame, {"n", "s"})), (Groups{0, 1, 0, 2, 3}));
}

TEST(Group, MissingFloatIsNotNanNorZero) {
    double nan = std::numeric_limits<double>::quiet_NaN();
    Frame frame = FrameOf().with("x", floats({nan, nullopt, 0.0, nullopt, -0.0, nan})).frame;
    Grouped grouped = grouped_by(frame, {"x"});
    EXPECT_EQ(row_groups(grouped), (Groups{0, 1, 2, 1, 2, 0}));
    Result<Frame> keys = key_frame(grouped);
    ASSERT_TRUE(keys);
    std::vector<std::optional<double>> shown = floats_of(*keys->columns()[0].values);
    ASSERT_EQ(shown.size(), 3u);
    EXPECT_TRUE(std::isnan(*shown[0]));
    EXPECT_EQ(shown[1], nullopt);
    EXPECT_FALSE(std::signbit(*shown[2]));  // the first row's zero
}

TEST(Group, NanKeysMeetOnlyTheirOwnBitPattern) {
    double quiet = std::numeric_limits<double>::quiet_NaN();
    double payload = std::bit_cast<double>(std::bit_cast<std::uint64_t>(quiet) | 1);
    Frame frame = FrameOf().with("x", floats({quiet, -quiet, payload, quiet, payload})).frame;
    EXPECT_EQ(row_groups(grouped_by(frame, {"x"})), (Groups{0, 1, 2, 0, 2}));
}

TEST(Group, FollowsTheRowOrderOfASelection) {
    Frame stored = FrameOf()
                       .with("k", strings({"a", "b", "a", "c", "b"}))
                       .with("v", ints({0, 1, 2, 3, 4}))
                       .frame;
    Frame sorted = take_rows(stored, RowSelection{3, 1, 4, 0, 2});  // c, b, b, a, a
    Grouped grouped = grouped_by(sorted, {"k"});
    EXPECT_EQ(row_groups(grouped), (Groups{0, 1, 1, 2, 2}));
    Groups firsts(grouped.first_positions.begin(), grouped.first_positions.end());
    EXPECT_EQ(firsts, (Groups{3, 1, 0}));
    Result<Frame> keys = key_frame(grouped);
    ASSERT_TRUE(keys);
    EXPECT_EQ(keys->selection(), nullptr);
    EXPECT_EQ(strings_of(*keys->columns()[0].values), (Strings{"c", "b", "a"}));
}

TEST(Group, KeepsASnapshotOfTheColumns) {
    Frame frame = FrameOf().with("k", ints({1, 2})).frame;
    Grouped grouped = grouped_by(frame, {"k"});
    ASSERT_TRUE(add_column(frame, "x", ints({5, 6})));
    EXPECT_EQ(grouped.frame.width(), 1u);
    EXPECT_EQ(grouped.frame.columns()[0].values.get(), frame.columns()[0].values.get());
}

TEST(Group, ManyGroupsStayApart) {
    constexpr std::int64_t count = 100000;
    NumberColumnBuilder<std::int64_t> keys;
    for (int round = 0; round < 2; ++round) {
        for (std::int64_t i = 0; i < count; ++i)
            keys.append(i * 7919 % count);
    }
    Frame frame;
    ASSERT_TRUE(add_column(frame, "k", keys.finish()));
    Grouped grouped = grouped_by(frame, {"k"});
    ASSERT_EQ(grouped.group_count(), static_cast<std::size_t>(count));
    for (std::int64_t i = 0; i < count; ++i) {
        ASSERT_EQ(grouped.row_groups[i], i);
        ASSERT_EQ(grouped.row_groups[count + i], i);
    }
}

// The groups by a model of key equality: each entry as a text that is equal
// exactly when the entries are equal keys.
Groups model_groups(const Frame& frame, const std::vector<std::string>& names) {
    std::map<std::vector<std::string>, std::uint32_t> numbers;
    Groups groups;
    for (std::size_t row = 0; row < frame.height(); ++row) {
        std::size_t p = frame.selection() ? (*frame.selection())[row] : row;
        std::vector<std::string> key;
        for (const std::string& name : names) {
            const ColumnValues& column = *(*find_column(frame, name))->values;
            if (!column.is_present(p)) {
                key.push_back("missing");
            } else if (column.dtype() == DType::str) {
                key.push_back("text " + std::string(column.string(p)));
            } else {
                std::uint64_t bits = column.dtype() == DType::i64
                                         ? static_cast<std::uint64_t>(column.ints()[p])
                                         : (column.floats()[p] == 0.0
                                                ? 0
                                                : std::bit_cast<std::uint64_t>(column.floats()[p]));
                key.push_back("bits " + std::to_string(bits));
            }
        }
        auto [at, added] = numbers.try_emplace(key, static_cast<std::uint32_t>(numbers.size()));
        groups.push_back(at->second);
    }
    return groups;
}

// Rows whose different keys share one 64-bit hash (forced by narrowing the
// hash to a few bits, or to none) still form the groups of key equality, in
// order of first appearance; a fault here would merge groups silently.
TEST(Group, KeysSharingOneHashAreToldApartByTheirValues) {
    std::mt19937_64 random(20261208);
    double nan = std::numeric_limits<double>::quiet_NaN();
    std::vector<std::optional<std::int64_t>> int_pool{0, 1, -1, std::int64_t{1} << 40, nullopt};
    std::vector<std::optional<double>> float_pool{0.0, -0.0, nan, -nan, 1.5, nullopt};
    std::vector<std::optional<std::string>> text_pool{"",
                                                      "a",
                                                      "ab",
                                                      "abcdefg",
                                                      "abcdefgh",
                                                      "abcdefgi",
                                                      "abcdefghijklmnopq",
                                                      std::string(1, '\0'),
                                                      nullopt};
    for (int trial = 0; trial < 20; ++trial) {
        // Each pool ends with a missing entry; half the trials go without, as
        // columns with no missing entry are compared on a path of their own.
        std::size_t drop = trial % 2;
        auto pick = [&](const auto& pool) { return pool[random() % (pool.size() - drop)]; };
        std::size_t rows = 1 + random() % 700;
        NumberColumnBuilder<std::int64_t> n;
        NumberColumnBuilder<double> x;
        StringColumnBuilder s;
        for (std::size_t i = 0; i < rows; ++i) {
            auto a = pick(int_pool);
            a ? n.append(*a) : n.append_missing();
            auto b = pick(float_pool);
            b ? x.append(*b) : x.append_missing();
            auto c = pick(text_pool);
            c ? s.append(*c) : s.append_missing();
        }
        Frame stored =
            FrameOf().with("n", n.finish()).with("x", x.finish()).with("s", s.finish()).frame;
        RowSelection reversed;
        for (std::size_t i = rows; i-- > 0;)
            reversed.push_back(static_cast<std::uint32_t>(i));
        for (const Frame& frame : {stored, take_rows(stored, std::move(reversed))}) {
            for (std::vector<std::string> names :
                 {std::vector<std::string>{"s"}, {"x"}, {"n", "s"}, {"s", "x", "n"}}) {
                Groups expected = model_groups(frame, names);
                for (std::uint64_t mask :
                     {std::uint64_t{0}, std::uint64_t{1} << 63, ~std::uint64_t{0}}) {
                    Result<Grouped> grouped =
                        group(frame, names, KeyHashing{process_hash_keys(), mask});
                    ASSERT_TRUE(grouped);
                    ASSERT_EQ(row_groups(*grouped), expected)
                        << "trial " << trial << " mask " << mask;
                    for (std::uint32_t g = 0; g < grouped->group_count(); ++g) {
                        std::size_t first =
                            std::find(expected.begin(), expected.end(), g) - expected.begin();
                        std::size_t p = frame.selection() ? (*frame.selection())[first] : first;
                        ASSERT_EQ(grouped->first_positions[g], p);
                    }
                }
            }
        }
    }
}

TEST(KeyFrame, ABrokenSnapshotIsAnInternalFailure) {
    Frame frame = FrameOf().with("k", ints({1})).frame;
    Grouped grouped = grouped_by(frame, {"k"});
    grouped.keys = {"gone"};
    Result<Frame> keys = key_frame(grouped);
    ASSERT_FALSE(keys);
    const auto* internal = std::get_if<InternalError>(&keys.error());
    ASSERT_NE(internal, nullptr);
    EXPECT_EQ(internal->message, "keys were checked by group");
}

}  // namespace
}  // namespace tarnwick
