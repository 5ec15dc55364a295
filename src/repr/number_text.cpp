#include "repr/number_text.hpp"

#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>

namespace tarnwick {

namespace {

// The shortest round-trip digits of a finite, non-negative double and the
// decimal exponent of the first one: value = d1.d2...dn x 10^exponent.
struct ShortestDigits {
    char digits[24];
    int count;
    int exponent;
};

ShortestDigits shortest_digits(double magnitude) {
    // Scientific notation without a precision gives the shortest digits that
    // read back exactly, the nearest of them on a tie: "d[.ddd]e±XX".
    char text[32];
    char* end =
        std::to_chars(text, text + sizeof text, magnitude, std::chars_format::scientific).ptr;
    ShortestDigits result{};
    const char* p = text;
    result.digits[result.count++] = *p++;
    if (*p == '.') {
        for (++p; *p != 'e'; ++p)
            result.digits[result.count++] = *p;
    }
    ++p;  // the e
    bool negative = *p++ == '-';
    int exponent = 0;
    for (; p != end; ++p)
        exponent = exponent * 10 + (*p - '0');
    result.exponent = negative ? -exponent : exponent;
    return result;
}

char* write_zeros(char* out, int count) {
    for (int i = 0; i < count; ++i)
        *out++ = '0';
    return out;
}

char* write_scientific(char* out, const ShortestDigits& d) {
    *out++ = d.digits[0];
    if (d.count > 1) {
        *out++ = '.';
        std::memcpy(out, d.digits + 1, static_cast<std::size_t>(d.count - 1));
        out += d.count - 1;
    }
    *out++ = 'e';
    *out++ = d.exponent < 0 ? '-' : '+';
    int magnitude = d.exponent < 0 ? -d.exponent : d.exponent;
    if (magnitude < 10) *out++ = '0';
    return std::to_chars(out, out + 4, magnitude).ptr;
}

char* write_positional(char* out, const ShortestDigits& d) {
    if (d.exponent < 0) {  // 0.000ddd
        *out++ = '0';
        *out++ = '.';
        out = write_zeros(out, -d.exponent - 1);
        std::memcpy(out, d.digits, static_cast<std::size_t>(d.count));
        return out + d.count;
    }
    int whole = d.exponent + 1;
    if (whole < d.count) {  // ddd.ddd
        std::memcpy(out, d.digits, static_cast<std::size_t>(whole));
        out += whole;
        *out++ = '.';
        std::memcpy(out, d.digits + whole, static_cast<std::size_t>(d.count - whole));
        return out + (d.count - whole);
    }
    // An integral value: all digits, the zeros up to the point, then ".0".
    std::memcpy(out, d.digits, static_cast<std::size_t>(d.count));
    out = write_zeros(out + d.count, whole - d.count);
    *out++ = '.';
    *out++ = '0';
    return out;
}

}  // namespace

namespace {

// The eight decimal digits of v (below 10^8), one value 0 to 9 per byte, the
// most significant in the lowest byte: split into halves of four digits in
// 32-bit lanes, then pairs in 16-bit lanes, then digits in bytes, each step
// a division by a multiplication that is exact for the range of its lane.
std::uint64_t eight_digit_bytes(std::uint64_t v) {
    std::uint64_t fours = (v / 10000) | ((v % 10000) << 32);
    std::uint64_t hundreds = ((fours * 10486) >> 20) & 0x0000007F0000007F;
    std::uint64_t pairs = hundreds | ((fours - hundreds * 100) << 16);
    std::uint64_t tens = ((pairs * 103) >> 10) & 0x000F000F000F000F;
    return tens | ((pairs - tens * 10) << 8);
}

constexpr std::uint64_t ascii_zeros = 0x3030303030303030;

// v (below 10^8) without leading zeros; stores eight bytes.
char* write_up_to_eight(char* out, std::uint64_t v) {
    if (v == 0) {
        *out = '0';
        return out + 1;
    }
    std::uint64_t digits = eight_digit_bytes(v);
    int leading = std::countr_zero(digits) / 8;  // zero bytes before the first digit
    std::uint64_t text = (digits + ascii_zeros) >> (8 * leading);
    std::memcpy(out, &text, 8);
    return out + 8 - leading;
}

char* write_eight(char* out, std::uint64_t v) {
    std::uint64_t text = eight_digit_bytes(v) + ascii_zeros;
    std::memcpy(out, &text, 8);
    return out + 8;
}

}  // namespace

// Eight digits at a time; the stores never reach past max_i64_text bytes (a
// magnitude of 10^16 or more leads with at most three digits).
char* write_i64(char* out, std::int64_t value) {
    std::uint64_t magnitude = static_cast<std::uint64_t>(value);
    if (value < 0) {
        *out++ = '-';
        magnitude = 0 - magnitude;
    }
    constexpr std::uint64_t e8 = 100000000;
    if (magnitude < e8) return write_up_to_eight(out, magnitude);
    if (magnitude < e8 * e8) {
        out = write_up_to_eight(out, magnitude / e8);
        return write_eight(out, magnitude % e8);
    }
    out = write_up_to_eight(out, magnitude / (e8 * e8));
    out = write_eight(out, magnitude / e8 % e8);
    return write_eight(out, magnitude % e8);
}

char* write_f64(char* out, double value) {
    if (std::isnan(value)) {
        std::memcpy(out, "nan", 3);
        return out + 3;
    }
    if (std::signbit(value)) *out++ = '-';
    double magnitude = std::fabs(value);
    if (std::isinf(magnitude)) {
        std::memcpy(out, "inf", 3);
        return out + 3;
    }
    ShortestDigits digits = shortest_digits(magnitude);
    if (digits.exponent < -4 || digits.exponent >= 16) return write_scientific(out, digits);
    return write_positional(out, digits);
}

std::string format_i64(std::int64_t value) {
    char text[max_i64_text];
    return std::string(text, write_i64(text, value));
}

std::string format_f64(double value) {
    char text[max_f64_text];
    return std::string(text, write_f64(text, value));
}

}  // namespace tarnwick
