// Filters, sorting, slicing and date parts, at the engine level: positions,
// shared storage and the parts that Python cannot see.
#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>
#include <random>

#include <gtest/gtest.h>

#include "columns.hpp"
#include "engine/date_parts.hpp"
#include "engine/date_parts_internal.hpp"
#include "engine/filters.hpp"
#include "engine/slice.hpp"
#include "engine/slice_internal.hpp"
#include "engine/sort.hpp"

namespace tarnwick {
namespace {

using namespace test_columns;

std::vector<std::uint32_t> positions_of(const Frame& frame) {
    std::vector<std::uint32_t> out;
    frame.for_each_position(
        [&](std::size_t, std::size_t p) { out.push_back(static_cast<std::uint32_t>(p)); });
    return out;
}

Frame one_column(std::string_view name, ColumnValues values) {
    Frame frame;
    EXPECT_TRUE(add_column(frame, name, std::move(values)));
    return frame;
}

TEST(Filters, KeepAllOfPlainFrameHasNoSelection) {
    Frame frame = one_column("x", floats({1, 2, 3}));
    Result<Frame> all = filter_compare(frame, "x", CompareOp::gt, 0);
    ASSERT_TRUE(all);
    EXPECT_EQ(all->selection(), nullptr);
    EXPECT_EQ(all->height(), 3u);
    EXPECT_EQ(all->columns()[0].values.get(), frame.columns()[0].values.get());
}

TEST(Filters, PositionsFollowTheCurrentOrder) {
    Frame frame = one_column("x", ints({5, 1, 4, 2, 3}));
    Frame reordered = take_rows(frame, RowSelection{4, 3, 2, 1, 0});
    Result<Frame> kept = filter_compare(reordered, "x", CompareOp::ge, 3);
    ASSERT_TRUE(kept);
    EXPECT_EQ(positions_of(*kept), (std::vector<std::uint32_t>{4, 2, 0}));
}

TEST(Filters, FewKeptRowsGetATightSelection) {
    std::vector<std::int64_t> values(10000);
    std::iota(values.begin(), values.end(), 0);
    Frame frame = one_column("n", ints(values));
    Result<Frame> kept = filter_compare(frame, "n", CompareOp::eq, 7);
    ASSERT_TRUE(kept);
    ASSERT_NE(kept->selection(), nullptr);
    EXPECT_EQ(kept->selection()->size(), 1u);
    EXPECT_LT(kept->selection()->capacity(), 100u);
}

TEST(Filters, IntegerAgainstExactFloat) {
    constexpr std::int64_t lo = std::numeric_limits<std::int64_t>::min();
    constexpr std::int64_t hi = std::numeric_limits<std::int64_t>::max();
    Frame frame = one_column(
        "n", ints({lo, -1, 0, 2, 3, (std::int64_t{1} << 53), (std::int64_t{1} << 53) + 1, hi}));
    auto count = [&](CompareOp op, double v) {
        return filter_compare(frame, "n", op, v)->height();
    };
    EXPECT_EQ(count(CompareOp::eq, 9007199254740993.0), 1u);  // the double is 2^53
    EXPECT_EQ(count(CompareOp::eq, 2.5), 0u);
    EXPECT_EQ(count(CompareOp::lt, 2.5), 4u);
    EXPECT_EQ(count(CompareOp::gt, -0.5), 6u);
    EXPECT_EQ(count(CompareOp::ge, -0.5), 6u);
    EXPECT_EQ(count(CompareOp::le, -0.5), 2u);
    EXPECT_EQ(count(CompareOp::ne, 2.5), 8u);
    EXPECT_EQ(count(CompareOp::eq, 9223372036854775808.0), 0u);  // 2^63 is above every i64
    EXPECT_EQ(count(CompareOp::lt, 9223372036854775808.0), 8u);
    EXPECT_EQ(count(CompareOp::eq, -9223372036854775808.0), 1u);
    EXPECT_EQ(count(CompareOp::gt, -9223372036854775808.0), 7u);
    EXPECT_EQ(count(CompareOp::gt, -std::numeric_limits<double>::infinity()), 8u);
    EXPECT_EQ(count(CompareOp::ne, std::nan("")), 8u);
    EXPECT_EQ(count(CompareOp::eq, std::nan("")), 0u);
}

TEST(Filters, MissingEntriesAreNeverKept) {
    PodVector<std::uint8_t> present{1, 0, 1};
    Frame frame =
        one_column("x", ColumnValues::of_f64(PodVector<double>{1.0, 0.0, 2.0}, std::move(present)));
    EXPECT_EQ(positions_of(*filter_compare(frame, "x", CompareOp::ne, 5)),
              (std::vector<std::uint32_t>{0, 2}));
    EXPECT_EQ(positions_of(*filter_compare(frame, "x", CompareOp::eq, 0)),
              (std::vector<std::uint32_t>{}));
    std::vector<double> zero{0.0};
    EXPECT_EQ(filter_among_numbers(frame, "x", zero)->height(), 0u);
}

TEST(Filters, ManyStringsUseTheSetAndMatchBytes) {
    std::vector<std::string> wanted;
    for (int i = 0; i < 200; ++i)
        wanted.push_back("key_" + std::to_string(i * 3));
    wanted.push_back("");
    wanted.push_back(std::string("a\0b", 3));
    wanted.push_back("a considerably longer key whose middle differs: 1");
    Frame frame =
        one_column("s", strings({"key_3", "key_4", "", std::string_view("a\0b", 3), "a\0c",
                                 "a considerably longer key whose middle differs: 2",
                                 "a considerably longer key whose middle differs: 1", "key_597"}));
    Result<Frame> kept = filter_in_strings(frame, "s", wanted);
    ASSERT_TRUE(kept);
    EXPECT_EQ(positions_of(*kept), (std::vector<std::uint32_t>{0, 2, 3, 6, 7}));
}

TEST(Filters, Messages) {
    Frame frame;
    ASSERT_TRUE(add_column(frame, "s", strings({"a"})));
    ASSERT_TRUE(add_column(frame, "n", ints({1})));
    EXPECT_EQ(message_of(filter_compare(frame, "s", CompareOp::lt, 1).error()),
              "column \"s\" is str: compare it with where_is or where_in");
    std::vector<std::string> none;
    EXPECT_EQ(message_of(filter_in_strings(frame, "n", none).error()),
              "column \"n\" is i64: where_is and where_in take a str column");
    std::vector<double> no_numbers;
    EXPECT_EQ(message_of(filter_among_numbers(frame, "s", no_numbers).error()),
              "column \"s\" is str: where_in takes its strings");
    EXPECT_EQ(message_of(filter_among_numbers(frame, "q", no_numbers).error()),
              "no column \"q\" (the frame has \"s\", \"n\")");
}

// The reference order: std::stable_sort with the specified comparison, NaN
// after numbers and before missing entries.
std::vector<std::uint32_t> reference_order(const std::vector<double>& values,
                                           const std::vector<bool>& present,
                                           const std::vector<std::uint32_t>& rows,
                                           bool descending) {
    auto rank = [&](std::uint32_t p) { return !present[p] ? 2 : std::isnan(values[p]) ? 1 : 0; };
    std::vector<std::uint32_t> order = rows;
    std::stable_sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) {
        int ra = rank(a);
        int rb = rank(b);
        if (ra != rb) return ra < rb;
        if (ra != 0) return false;
        return descending ? values[b] < values[a] : values[a] < values[b];
    });
    return order;
}

TEST(Sort, RadixMatchesStableSortOnFloats) {
    std::mt19937_64 random(7);
    for (std::size_t n : {0u, 1u, 5u, 255u, 256u, 3000u}) {
        std::vector<double> values(n);
        std::vector<bool> present(n);
        PodVector<std::uint8_t> mask(n);
        const double pool[] = {0.0,      -0.0,      1.5,   -1.5,   std::nan(""),
                               INFINITY, -INFINITY, 1e300, -1e-300};
        for (std::size_t i = 0; i < n; ++i) {
            values[i] = random() % 3 == 0
                            ? pool[random() % 9]
                            : std::ldexp(double(random() % 1000) - 500, int(random() % 40) - 20);
            present[i] = random() % 10 != 0;
            if (!present[i]) values[i] = 0.0;
            mask[i] = present[i] ? 1 : 0;
        }
        PodVector<double> stored(n);
        std::copy(values.begin(), values.end(), stored.data());
        Frame frame = one_column("x", ColumnValues::of_f64(std::move(stored), std::move(mask)));
        std::vector<std::uint32_t> rows(n);
        std::iota(rows.begin(), rows.end(), 0u);
        std::shuffle(rows.begin(), rows.end(), random);
        rows.resize(n / 2 + (n % 2));
        RowSelection selection(rows.size());
        std::copy(rows.begin(), rows.end(), selection.data());
        Frame shown = take_rows(frame, std::move(selection));
        for (bool descending : {false, true}) {
            EXPECT_EQ(positions_of(*sort_by(shown, "x", descending)),
                      reference_order(values, present, rows, descending))
                << n << (descending ? " descending" : " ascending");
        }
    }
}

TEST(Sort, NanAfterNumbersAndBeforeMissingInBothDirections) {
    PodVector<std::uint8_t> present{1, 0, 1, 1, 1, 0, 1};
    double nan = std::nan("");
    Frame frame =
        one_column("x", ColumnValues::of_f64(PodVector<double>{nan, 0.0, 2.0, nan, -1.0, 0.0, 2.0},
                                             std::move(present)));
    EXPECT_EQ(positions_of(*sort_by(frame, "x", false)),
              (std::vector<std::uint32_t>{4, 2, 6, 0, 3, 1, 5}));
    EXPECT_EQ(positions_of(*sort_by(frame, "x", true)),
              (std::vector<std::uint32_t>{2, 6, 4, 0, 3, 1, 5}));
    Frame reversed = take_rows(frame, RowSelection{6, 5, 4, 3, 2, 1, 0});
    EXPECT_EQ(positions_of(*sort_by(reversed, "x", true)),
              (std::vector<std::uint32_t>{6, 2, 4, 3, 0, 5, 1}));
}

TEST(Sort, MissingStringsAndIntegersGoLast) {
    PodVector<std::uint8_t> present{0, 1, 1, 0, 1};
    Frame numbers = one_column(
        "n", ColumnValues::of_i64(PodVector<std::int64_t>{0, 2, 0, 0, 2}, std::move(present)));
    // 2, missing, 2, 3, shifted: rows 1 and 4 hold 2.
    EXPECT_EQ(positions_of(*sort_by(numbers, "n", false)),
              (std::vector<std::uint32_t>{2, 1, 4, 0, 3}));
    EXPECT_EQ(positions_of(*sort_by(numbers, "n", true)),
              (std::vector<std::uint32_t>{1, 4, 2, 0, 3}));
    StringColumnBuilder builder;
    builder.append("b");
    builder.append_missing();
    builder.append("");
    builder.append("a");
    Frame texts = one_column("s", builder.finish());
    EXPECT_EQ(positions_of(*sort_by(texts, "s", false)), (std::vector<std::uint32_t>{2, 3, 0, 1}));
    EXPECT_EQ(positions_of(*sort_by(texts, "s", true)), (std::vector<std::uint32_t>{0, 3, 2, 1}));
}

TEST(Sort, IntegersAcrossTheWholeRange) {
    std::mt19937_64 random(11);
    std::vector<std::int64_t> values(5000);
    for (auto& v : values) {
        v = random() % 4 == 0 ? static_cast<std::int64_t>(random() % 7) - 3
                              : static_cast<std::int64_t>(random());
    }
    values[0] = std::numeric_limits<std::int64_t>::min();
    values[1] = std::numeric_limits<std::int64_t>::max();
    Frame frame = one_column("n", ints(values));
    for (bool descending : {false, true}) {
        std::vector<std::uint32_t> expected(values.size());
        std::iota(expected.begin(), expected.end(), 0u);
        std::stable_sort(expected.begin(), expected.end(), [&](std::uint32_t a, std::uint32_t b) {
            return descending ? values[b] < values[a] : values[a] < values[b];
        });
        EXPECT_EQ(positions_of(*sort_by(frame, "n", descending)), expected);
    }
}

TEST(Sort, StringsByBytesWithSharedPrefixes) {
    std::vector<std::string> texts;
    std::mt19937_64 random(3);
    const char alphabet[] = {'a', 'b', '\0', '\xff', 'A'};
    for (int i = 0; i < 2000; ++i) {
        std::string text;
        if (random() % 2 == 0) text = "common_prefix_";
        std::size_t length = random() % 12;
        for (std::size_t j = 0; j < length; ++j)
            text += alphabet[random() % 5];
        texts.push_back(text);
    }
    // Texts that agree in their first eight bytes once padded with zero bytes.
    for (int i = 0; i < 500; ++i) {
        std::string text = "ab";
        std::size_t length = random() % 12;
        for (std::size_t j = 0; j < length; ++j)
            text += random() % 4 == 0 ? 'a' : '\0';
        texts.push_back(text);
    }
    std::shuffle(texts.begin(), texts.end(), random);
    StringColumnBuilder builder;
    for (const std::string& t : texts)
        builder.append(t);
    Frame frame = one_column("s", builder.finish());
    for (bool descending : {false, true}) {
        std::vector<std::uint32_t> expected(texts.size());
        std::iota(expected.begin(), expected.end(), 0u);
        std::stable_sort(expected.begin(), expected.end(), [&](std::uint32_t a, std::uint32_t b) {
            auto x = std::string_view(texts[a]);
            auto y = std::string_view(texts[b]);
            return descending ? y < x : x < y;
        });
        EXPECT_EQ(positions_of(*sort_by(frame, "s", descending)), expected);
    }
}

TEST(Slice, Counts) {
    EXPECT_EQ(slice_count(5, 2), 2u);
    EXPECT_EQ(slice_count(5, 9), 5u);
    EXPECT_EQ(slice_count(5, -2), 3u);
    EXPECT_EQ(slice_count(5, -5), 0u);
    EXPECT_EQ(slice_count(5, std::numeric_limits<std::int64_t>::min()), 0u);
    EXPECT_EQ(slice_count(5, std::numeric_limits<std::int64_t>::max()), 5u);
}

TEST(Slice, AllRowsShareTheSelection) {
    Frame frame = take_rows(one_column("n", ints({1, 2, 3})), RowSelection{2, 0});
    Frame same = head(frame, 10);
    EXPECT_EQ(same.selection(), frame.selection());
    EXPECT_EQ(positions_of(tail(frame, 1)), (std::vector<std::uint32_t>{0}));
    EXPECT_EQ(positions_of(head(frame, -1)), (std::vector<std::uint32_t>{2}));
}

TEST(DateParts, Grammar) {
    EXPECT_TRUE(parse_date("2024-02-29"));
    EXPECT_TRUE(parse_date("2000-02-29"));
    EXPECT_FALSE(parse_date("1900-02-29"));
    EXPECT_FALSE(parse_date("0000-01-01"));
    EXPECT_FALSE(parse_date(std::string_view("2024-01-0\0", 10)));
    EXPECT_FALSE(parse_date("2024-01-0/"));
    EXPECT_FALSE(parse_date("2024-01-0:"));
    Date d = *parse_date("9999-12-31");
    EXPECT_EQ(d.year, 9999);
    EXPECT_EQ(d.month, 12);
    EXPECT_EQ(d.day, 31);
}

TEST(DateParts, RowCountsInTheCurrentOrder) {
    Frame frame = one_column("d", strings({"2024-01-01", "bad", "2024-01-02"}));
    Frame shown = take_rows(frame, RowSelection{2, 1});
    Result<void> refused = add_date_part(shown, "y", "d", "year");
    ASSERT_FALSE(refused);
    EXPECT_EQ(message_of(refused.error()), "column \"d\", row 1: \"bad\" is not a YYYY-MM-DD date");
    EXPECT_NE(shown.selection(), nullptr);  // nothing was materialised for a refusal
    EXPECT_EQ(message_of(add_date_part(frame, "m", "d", "day").error()),
              "column \"d\", row 1: \"bad\" is not a YYYY-MM-DD date");
    Frame good = take_rows(frame, RowSelection{2, 0});
    ASSERT_TRUE(add_date_part(good, "day", "d", "day"));
    EXPECT_EQ(good.selection(), nullptr);
    EXPECT_EQ(good.columns()[1].values->ints()[0], 2);
    EXPECT_EQ(good.columns()[1].values->ints()[1], 1);
}

}  // namespace
}  // namespace tarnwick
