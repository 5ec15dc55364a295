#include "repr/number_text.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <random>
#include <string>
#include <vector>

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

// Integers of every length, and each side of every power of ten, against
// the library's text.
TEST(FormatI64, AgreesWithTheLibrary) {
    std::mt19937_64 random(31);
    auto check = [](std::int64_t value) {
        char expected[max_i64_text];
        char* end = std::to_chars(expected, expected + max_i64_text, value).ptr;
        ASSERT_EQ(format_i64(value), std::string_view(expected, end));
    };
    for (int i = 0; i < 200000; ++i) {
        auto value = static_cast<std::int64_t>(random() >> (random() % 64));
        check(value);
        check(-value);
    }
    for (std::int64_t power = 1;; power *= 10) {
        for (std::int64_t value : {power - 1, power, power + 1}) {
            check(value);
            check(-value);
        }
        if (power > std::numeric_limits<std::int64_t>::max() / 10) break;
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

// Reading on past a field to the end of its text never changes a result: a
// field cut out of a longer text of digits, points, signs and letters gives
// what the same bytes give on their own.
TEST(NumberTests, FieldsInsideALongerTextReadAsAlone) {
    std::mt19937_64 random(7);
    constexpr std::string_view alphabet = "0123456789012345678901234567890123456789.-+eE,x";
    for (int i = 0; i < 100000; ++i) {
        std::string text(40, ' ');
        for (char& c : text)
            c = alphabet[random() % alphabet.size()];
        std::size_t start = random() % 30;
        std::size_t size = random() % (text.size() - start + 1);
        std::string_view field(text.data() + start, size);
        const char* readable = text.data() + text.size();
        std::string alone(field);
        ASSERT_EQ(parse_i64_text(field, readable), parse_i64_text(alone)) << alone;
        std::optional<double> inside = parse_f64_text(field, readable);
        std::optional<double> apart = parse_f64_text(alone);
        ASSERT_EQ(inside.has_value(), apart.has_value()) << alone;
        if (inside) {
            ASSERT_EQ(std::bit_cast<std::uint64_t>(*inside), std::bit_cast<std::uint64_t>(*apart))
                << alone;
        }
    }
}

// Every short field of digits, points, signs and exponent letters (up to six
// bytes), and every one of seven or eight digits and points, read inside a
// longer text as alone: the short ones are read as one word there.
TEST(NumberTests, EveryShortFieldReadsAsAlone) {
    auto check = [](const std::string& field) {
        std::string text = field + ",9.5e1,12345678";
        const char* readable = text.data() + text.size();
        std::optional<double> inside = parse_f64_text({text.data(), field.size()}, readable);
        std::optional<double> apart = parse_f64_text(field);
        ASSERT_EQ(inside.has_value(), apart.has_value()) << field;
        if (inside) {
            ASSERT_EQ(std::bit_cast<std::uint64_t>(*inside), std::bit_cast<std::uint64_t>(*apart))
                << field;
        }
    };
    auto every = [&](std::string_view alphabet, std::size_t size) {
        std::string field(size, alphabet[0]);
        std::vector<std::size_t> digits(size, 0);
        while (true) {
            check(field);
            std::size_t i = 0;
            for (; i < size && ++digits[i] == alphabet.size(); ++i) {
                digits[i] = 0;
                field[i] = alphabet[0];
            }
            if (i == size) return;
            field[i] = alphabet[digits[i]];
        }
    };
    for (std::size_t size = 1; size <= 6; ++size)
        every("0159.-+e", size);
    for (std::size_t size = 7; size <= 9; ++size)
        every("07.", size);
}

// The library's correctly rounded value of significand x 10^power.
double library_value(std::uint64_t significand, std::int64_t power) {
    std::string text = std::to_string(significand) + "e" + std::to_string(power);
    double value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    // Beyond the doubles from_chars gives no value; strtod saturates.
    if (error == std::errc::result_out_of_range) value = std::strtod(text.c_str(), nullptr);
    return value;
}

// The fast step against the library: random significands of every length at
// every power it covers, and products that are exact ties between two
// doubles, or one unit beside one, where rounding to even decides. Wherever
// the step gives a value it must be the library's; the text goes through
// parse_f64_text too, so the fallback is checked on the same inputs.
TEST(NearestDouble, AgreesWithTheLibrary) {
    std::mt19937_64 random(2026);
    auto check = [](std::uint64_t w, std::int64_t q) {
        double expected = library_value(w, q);
        std::optional<double> fast = nearest_double(w, q);
        if (fast) {
            ASSERT_EQ(std::bit_cast<std::uint64_t>(*fast), std::bit_cast<std::uint64_t>(expected))
                << w << "e" << q;
        }
        std::string text = std::to_string(w) + "e" + std::to_string(q);
        std::optional<double> parsed = parse_f64_text(text);
        ASSERT_TRUE(parsed) << text;
        ASSERT_EQ(std::bit_cast<std::uint64_t>(*parsed), std::bit_cast<std::uint64_t>(expected))
            << text;
    };
    int decided = 0;
    for (int i = 0; i < 200000; ++i) {
        int digits = 1 + static_cast<int>(random() % 19);
        std::uint64_t w = random() % 9 + 1;
        for (int d = 1; d < digits; ++d)
            w = w * 10 + random() % 10;
        auto q = static_cast<std::int64_t>(random() % 700) - 360;
        if (library_value(w, q) != 0 && std::isfinite(library_value(w, q))) {
            decided += nearest_double(w, q).has_value();
        }
        check(w, q);
    }
    EXPECT_GT(decided, 150000);  // the fallback stays rare
    // A tie: an odd 54-bit integer times a power of two. Written as w x 10^q
    // with w an integer, the odd factor must hold 5^q.
    for (int i = 0; i < 100000; ++i) {
        auto q = static_cast<std::int64_t>(random() % 23);
        std::uint64_t five = 1;
        for (std::int64_t k = 0; k < q; ++k)
            five *= 5;
        std::uint64_t low = ((std::uint64_t{1} << 53) + five - 1) / five;
        std::uint64_t high = ((std::uint64_t{1} << 54) - 1) / five;
        std::uint64_t r = (low + random() % (high - low + 1)) | 1;
        if (r * five >= (std::uint64_t{1} << 54)) continue;
        int room = std::countl_zero(r) - 1;  // keeps w below 2^63
        std::uint64_t w = r << (random() % static_cast<std::uint64_t>(room + 1));
        check(w, q);
        check(w + 1, q);
        check(w - 1, q);
    }
}

}  // namespace
}  // namespace tarnwick
