#include "engine/column_values.hpp"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace tarnwick
