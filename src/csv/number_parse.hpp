// The number tests of CSV fields: which field texts are integers, which are
// numbers, and their values.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "csv/digits.hpp"

namespace tarnwick {

// An optional sign, then one or more ASCII digits, within the range of a
// signed 64-bit integer; leading zeros are allowed ("007" is 7). The bytes
// from the text's start up to `readable` (at least the text's end) may be
// read, though only the text's own count.
inline std::optional<std::int64_t> parse_i64_text(std::string_view text, const char* readable) {
    const char* p = text.data();
    const char* end = p + text.size();
    bool negative = false;
    if (p != end && (*p == '+' || *p == '-')) negative = *p++ == '-';
    if (p == end) return std::nullopt;
    std::uint64_t magnitude = 0;
    if (end - p <= 18) {
        // Eighteen digits cannot overflow: no checks but the digits'.
        if (accumulate_digits(p, end, readable, magnitude) != end) return std::nullopt;
        auto value = static_cast<std::int64_t>(magnitude);
        return negative ? -value : value;
    }
    for (; p != end; ++p) {
        unsigned digit = static_cast<unsigned char>(*p) - unsigned{'0'};
        if (digit > 9) return std::nullopt;
        if (__builtin_mul_overflow(magnitude, 10u, &magnitude) ||
            __builtin_add_overflow(magnitude, digit, &magnitude)) {
            return std::nullopt;
        }
    }
    constexpr std::uint64_t largest = std::uint64_t{1} << 63;  // magnitude of the most negative
    if (negative) {
        if (magnitude > largest) return std::nullopt;
        return static_cast<std::int64_t>(~magnitude + 1);
    }
    if (magnitude >= largest) return std::nullopt;
    return static_cast<std::int64_t>(magnitude);
}

inline std::optional<std::int64_t> parse_i64_text(std::string_view text) {
    return parse_i64_text(text, text.data() + text.size());
}

// A decimal number (".5", "5.", "1e5", "-2.5E-3") or, after a sign only, one of
// the words inf, infinity and nan in any letter case. A text that does not
// start with a sign, a digit or a point is never a number, so "inf", "nan" and
// " 1" are not. The value is the nearest double (ties to even); magnitudes
// beyond the doubles give an infinity or zero.
std::optional<double> parse_f64_text(std::string_view text);
// The same, where the bytes up to `readable` may be read, as for parse_i64_text.
std::optional<double> parse_f64_text(std::string_view text, const char* readable);

// True exactly when parse_f64_text gives a value, without computing it.
bool is_f64_text(std::string_view text);

}  // namespace tarnwick
