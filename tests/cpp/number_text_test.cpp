#include "repr/number_text.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <charconv>
#include <cmath>
#include <limits>
#include <random>

#include "csv/number_parse.hpp"

namespace tarnwick {
namespace {

struct F64Case {
    double value;
    std::string_view text;
};

class FormatF64 : public testing::TestWithParam<F64Case> {};

TEST_P(FormatF64, LaysOutTheShortestDigits) {
    EXPECT_EQ(format_f64(GetParam().value), GetParam().text);
}

constexpr double inf = std::numeric_limits<double>::infinity();

INSTANTIATE_TEST_SUITE_P(Cases, FormatF64,
                         testing::Values(F64Case{0.0, "0.0"}, F64Case{-0.0, "-0.0"},
                                         F64Case{1.0, "1.0"}, F64Case{100.0, "100.0"},
                                         F64Case{1e15, "1000000000000000.0"},
                                         F64Case{1e16, "1e+16"}, F64Case{1e20, "1e+20"},
                                         F64Case{0.0001, "0.0001"}, F64Case{0.00001, "1e-05"},
                                         F64Case{0.00012345, "0.00012345"}, F64Case{0.1, "0.1"},
                                         F64Case{1.0 / 3, "0.3333333333333333"},
                                         F64Case{5e-324, "5e-324"},
                                         F64Case{1.7976931348623157e308, "1.7976931348623157e+308"},
                                         F64Case{123.456, "123.456"}, F64Case{-2.5, "-2.5"},
                                         F64Case{1.5e300, "1.5e+300"}, F64Case{1e100, "1e+100"},
                                         F64Case{9007199254740993.0, "9007199254740992.0"},
                                         F64Case{1234567890123456.7, "1234567890123456.8"},
                                         F64Case{-1.2345678901234568e-5, "-1.2345678901234568e-05"},
                                         F64Case{std::numeric_limits<double>::quiet_NaN(), "nan"},
                                         F64Case{-std::numeric_limits<double>::quiet_NaN(), "nan"},
                                         F64Case{inf, "inf"}, F64Case{-inf, "-inf"}));

TEST(FormatF64, LongestTextsFitTheirRoom) {
    for (double value : {-1.7976931348623157e308, -2.2250738585072014e-308, -1.2345678901234567e-5,
                         -0.00012345678901234567, -1234567890123456.7}) {
        EXPECT_LE(format_f64(value).size(), max_f64_text) << value;
    }
    EXPECT_EQ(format_i64(std::numeric_limits<std::int64_t>::min()).size(), max_i64_text);
}

TEST(FormatI64, PlainDecimal) {
    EXPECT_EQ(format_i64(0), "0");
    EXPECT_EQ(format_i64(-42), "-42");
    EXPECT_EQ(format_i64(std::numeric_limits<std::int64_t>::min()), "-9223372036854775808");
    EXPECT_EQ(format_i64(std::numeric_limits<std::int64_t>::max()), "9223372036854775807");
}

// Whatever the bits, the text reads back to the same double, through the
// reader's own number test.
TEST(FormatF64, ReadsBackExactlyForRandomBits) {
    std::mt19937_64 random(12345);
    for (int i = 0; i < 200000; ++i) {
        double value = std::bit_cast<double>(random());
        if (std::isnan(value)) continue;
        std::string text = format_f64(value);
        std::optional<double> back = parse_f64_text(text);
        ASSERT_TRUE(back) << text;
        ASSERT_EQ(std::bit_cast<std::uint64_t>(*back), std::bit_cast<std::uint64_t>(value)) << text;
    }
}

struct I64Case {
    std::string_view text;
    std::optional<std::int64_t> value;
};

class ParseI64 : public testing::TestWithParam<I64Case> {};

TEST_P(ParseI64, AcceptsSignAndDigitsInRange) {
    EXPECT_EQ(parse_i64_text(GetParam().text), GetParam().value) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ParseI64,
    testing::Values(I64Case{"0", 0}, I64Case{"-0", 0}, I64Case{"+5", 5}, I64Case{"007", 7},
                    I64Case{"9223372036854775807", std::numeric_limits<std::int64_t>::max()},
                    I64Case{"9223372036854775808", std::nullopt},
                    I64Case{"-9223372036854775808", std::numeric_limits<std::int64_t>::min()},
                    I64Case{"-9223372036854775809", std::nullopt},
                    I64Case{"18446744073709551616", std::nullopt},  // overflows the magnitude
                    I64Case{"99999999999999999999", std::nullopt},
                    I64Case{"000000000000000000000000001", 1}, I64Case{"+", std::nullopt},
                    I64Case{"-", std::nullopt}, I64Case{"1.0", std::nullopt},
                    I64Case{" 1", std::nullopt}, I64Case{"1 ", std::nullopt},
                    I64Case{"--1", std::nullopt}, I64Case{"1e3", std::nullopt}));

struct F64TextCase {
    std::string_view text;
    std::optional<double> value;
};

class ParseF64 : public testing::TestWithParam<F64TextCase> {};

TEST_P(ParseF64, FollowsTheGrammar) {
    std::optional<double> value = parse_f64_text(GetParam().text);
    ASSERT_EQ(value.has_value(), GetParam().value.has_value()) << GetParam().text;
    EXPECT_EQ(is_f64_text(GetParam().text), value.has_value()) << GetParam().text;
    if (!value) return;
    EXPECT_EQ(std::bit_cast<std::uint64_t>(*value), std::bit_cast<std::uint64_t>(*GetParam().value))
        << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ParseF64,
    testing::Values(
        F64TextCase{"1.5", 1.5}, F64TextCase{".5", 0.5}, F64TextCase{"5.", 5.0},
        F64TextCase{"-0", -0.0}, F64TextCase{"-0.0", -0.0}, F64TextCase{"+0", 0.0},
        F64TextCase{"1e5", 1e5}, F64TextCase{"1E+5", 1e5}, F64TextCase{"2.5e-3", 2.5e-3},
        F64TextCase{"1e400", inf}, F64TextCase{"-1e400", -inf}, F64TextCase{"1e-400", 0.0},
        F64TextCase{"-1e-400", -0.0}, F64TextCase{"0e999999999999999999999", 0.0},
        F64TextCase{"0.000001e-999999999999", 0.0}, F64TextCase{"123456789e999999999999", inf},
        F64TextCase{"1.7976931348623157e308", 1.7976931348623157e308},
        F64TextCase{"1.7976931348623159e308", inf}, F64TextCase{"3e-324", 5e-324},
        F64TextCase{"2e-324", 0.0}, F64TextCase{"0.1", 0.1}, F64TextCase{"0.3", 0.3},
        F64TextCase{"9007199254740993", 9007199254740992.0},
        F64TextCase{"9007199254740995", 9007199254740996.0},
        F64TextCase{"0.12345678901234567890123", 0.12345678901234568}, F64TextCase{"-inf", -inf},
        F64TextCase{"+inf", inf}, F64TextCase{"-Infinity", -inf}, F64TextCase{"+iNf", inf},
        F64TextCase{"inf", std::nullopt}, F64TextCase{"nan", std::nullopt},
        F64TextCase{"infinity", std::nullopt}, F64TextCase{"-infin", std::nullopt},
        F64TextCase{"-nana", std::nullopt}, F64TextCase{"", std::nullopt},
        F64TextCase{".", std::nullopt}, F64TextCase{"-", std::nullopt},
        F64TextCase{"+.", std::nullopt}, F64TextCase{"e5", std::nullopt},
        F64TextCase{"1e", std::nullopt}, F64TextCase{"1e+", std::nullopt},
        F64TextCase{"1.2.3", std::nullopt}, F64TextCase{" 1", std::nullopt},
        F64TextCase{"1 ", std::nullopt}, F64TextCase{"1_000", std::nullopt},
        F64TextCase{"0x10", std::nullopt}, F64TextCase{"1,5", std::nullopt},
        F64TextCase{"--1", std::nullopt}, F64TextCase{"1e5.0", std::nullopt},
        F64TextCase{"12345678.12345678x", std::nullopt}));

TEST(ParseF64, SignOfTheWords) {
    EXPECT_TRUE(std::signbit(*parse_f64_text("-nan")));
    EXPECT_TRUE(std::isnan(*parse_f64_text("-NaN")));
    EXPECT_FALSE(std::signbit(*parse_f64_text("+nan")));
    EXPECT_TRUE(std::isnan(*parse_f64_text("+nan")));
}

// Every path of the conversion (the short form, the exact products and the
// general conversion) against the library's correctly rounded one.
TEST(ParseF64, AgreesWithTheLibraryOnRandomDecimals) {
    std::mt19937_64 random(99);
    for (int i = 0; i < 300000; ++i) {
        std::string text;
        int whole = static_cast<int>(random() % 12);
        int fraction = static_cast<int>(random() % 24);
        for (int d = 0; d < whole; ++d)
            text += static_cast<char>('0' + random() % 10);
        if (fraction > 0 || whole == 0) {
            text += '.';
            for (int d = 0; d < fraction || (whole == 0 && d == 0); ++d) {
                text += static_cast<char>('0' + random() % 10);
            }
        }
        if (random() % 3 == 0) text += "e" + std::to_string(static_cast<int>(random() % 80) - 40);
        double expected = 0;
        auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), expected);
        ASSERT_EQ(error, std::errc()) << text;
        std::optional<double> value = parse_f64_text(text);
        ASSERT_TRUE(value) << text;
        ASSERT_EQ(std::bit_cast<std::uint64_t>(*value), std::bit_cast<std::uint64_t>(expected))
            << text;
    }
}

}  // namespace
}  // namespace tarnwick
