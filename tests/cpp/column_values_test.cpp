#include "engine/column_values.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "engine/column_view.hpp"

namespace tarnwick {
namespace {

TEST(Builders, MaskAppearsOnlyWithAMissingEntry) {
    NumberColumnBuilder<double> all_present;
    all_present.append(1.5);
    all_present.append(2.5);
    ColumnValues dense = all_present.finish();
    EXPECT_FALSE(dense.has_missing());
    EXPECT_EQ(dense.presence(), nullptr);

    NumberColumnBuilder<std::int64_t> sparse;
    sparse.append(1);
    sparse.append(2);
    sparse.append_missing();
    sparse.append(4);
    ColumnValues values = sparse.finish();
    ASSERT_TRUE(values.has_missing());
    EXPECT_TRUE(values.is_present(0));
    EXPECT_TRUE(values.is_present(1));
    EXPECT_FALSE(values.is_present(2));
    EXPECT_TRUE(values.is_present(3));
    EXPECT_EQ(values.ints()[2], 0);  // a missing number is stored as 0
    EXPECT_EQ(values.ints()[3], 4);
}

TEST(Builders, MissingStringDiffersFromEmpty) {
    StringColumnBuilder builder;
    builder.append("");
    builder.append_missing();
    builder.append("abc");
    ColumnValues values = builder.finish();
    ASSERT_EQ(values.size(), 3u);
    EXPECT_TRUE(values.is_present(0));
    EXPECT_EQ(values.string(0), "");
    EXPECT_FALSE(values.is_present(1));
    EXPECT_EQ(values.string(2), "abc");
}

TEST(Gather, KeepsMaskAndStrings) {
    StringColumnBuilder builder;
    builder.append("a");
    builder.append_missing();
    builder.append("ccc");
    ColumnValues values = builder.finish();
    std::uint32_t positions[] = {2, 1, 2, 0};
    ColumnValues gathered = values.gather(positions);
    ASSERT_EQ(gathered.size(), 4u);
    EXPECT_EQ(gathered.string(0), "ccc");
    EXPECT_FALSE(gathered.is_present(1));
    EXPECT_EQ(gathered.string(2), "ccc");
    EXPECT_EQ(gathered.string(3), "a");
}

TEST(PodVectorGrowth, KeepsValuesAcrossTheHugePageThreshold) {
    PodVector<std::int64_t> values;
    for (std::int64_t i = 0; i < 3'000'000; ++i)
        values.push_back(i);
    std::int64_t sum = 0;
    for (std::int64_t v : values)
        sum += v;
    EXPECT_EQ(sum, std::int64_t{3'000'000} * 2'999'999 / 2);
}

// The one row loop against the plain one it stands for, over random
// selections, masks, ranges and stopping rows; and the presence builder
// against the mask it describes.
TEST(RowLoop, VisitsWhatThePlainLoopVisitsAndStopsWhereTold) {
    std::mt19937_64 rng(19);
    for (int round = 0; round < 400; ++round) {
        std::size_t stored = rng() % 40;
        std::vector<std::uint8_t> mask(stored);
        for (std::uint8_t& m : mask)
            m = rng() % 3 != 0;
        std::vector<std::uint32_t> selection(stored == 0 ? 0 : rng() % 50);
        for (std::uint32_t& s : selection)
            s = static_cast<std::uint32_t>(rng() % stored);
        bool selected = rng() % 2 == 0;
        bool masked = rng() % 2 == 0;
        Rows rows{selected ? selection.data() : nullptr, selected ? selection.size() : stored};
        std::size_t begin = rows.count == 0 ? 0 : rng() % rows.count;
        std::size_t end = begin + (rows.count == begin ? 0 : rng() % (rows.count - begin + 1));
        std::size_t stop_at = rng() % (rows.count + 2);  // at or past `end`: no stop

        std::vector<std::size_t> seen;
        std::size_t stopped = for_each_row(rows, masked ? mask.data() : nullptr, begin, end,
                                           [&](std::size_t r, std::size_t p, bool present) {
                                               seen.insert(seen.end(), {r, p, present ? 1u : 0u});
                                               return r != stop_at;
                                           });
        std::vector<std::size_t> expected;
        std::size_t expected_stop = end;
        for (std::size_t r = begin; r < end; ++r) {
            std::size_t p = selected ? selection[r] : r;
            expected.insert(expected.end(), {r, p, !masked || mask[p] ? 1u : 0u});
            if (r == stop_at) {
                expected_stop = r;
                break;
            }
        }
        ASSERT_EQ(seen, expected) << round;
        ASSERT_EQ(stopped, expected_stop) << round;
    }
}

TEST(Builders, PresenceBuilderDescribesTheMarkedEntries) {
    std::mt19937_64 rng(7);
    for (int round = 0; round < 200; ++round) {
        std::size_t size = rng() % 30;
        PresenceBuilder builder;
        if (rng() % 2 == 0) builder.expect(rng() % 40);
        std::vector<std::uint8_t> expected(size, 1);
        for (std::size_t i = 0; i < size; ++i) {
            if (rng() % 4 == 0) {
                builder.mark_missing(i);
                expected[i] = 0;
            }
        }
        bool any = std::find(expected.begin(), expected.end(), 0) != expected.end();
        EXPECT_EQ(builder.any_missing(), any);
        PodVector<std::uint8_t> mask = builder.finish(size);
        std::vector<std::uint8_t> got(mask.begin(), mask.end());
        EXPECT_EQ(got, any ? expected : std::vector<std::uint8_t>{}) << round;
    }
}

}  // namespace
}  // namespace tarnwick
