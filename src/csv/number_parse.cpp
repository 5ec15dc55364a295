#include "csv/number_parse.hpp"

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

namespace tarnwick {

namespace {

bool is_digit(char c) {
    return static_cast<unsigned char>(c) - unsigned{'0'} <= 9;
}

bool may_start_number(char c) {
    return is_digit(c) || c == '+' || c == '-' || c == '.';
}

// Case-insensitive comparison with a lower-case ASCII word.
bool equals_word(std::string_view text, std::string_view word) {
    if (text.size() != word.size()) return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if ((text[i] | 0x20) != word[i]) return false;
    }
    return true;
}

enum class Word { none, infinity, nan };

Word word_of(std::string_view text) {
    if (equals_word(text, "inf") || equals_word(text, "infinity")) return Word::infinity;
    if (equals_word(text, "nan")) return Word::nan;
    return Word::none;
}

// An unsigned decimal text taken apart in one scan: digits with an optional
// point and at least one digit, then an optional exponent (e or E, an optional
// sign, at least one digit).
struct Decimal {
    bool valid = false;
    std::uint64_t mantissa = 0;  // all the digits as one integer, when exact
    bool mantissa_exact = true;  // false beyond 19 digits
    std::size_t whole_digits = 0;
    std::size_t fraction_digits = 0;
    bool has_exponent = false;
    std::int64_t exponent = 0;  // saturated far beyond the doubles' range
};

// Eight ASCII digits at once, the first in the lowest byte: their value, or
// nothing when any byte is not a digit.
std::optional<std::uint32_t> eight_digits(const char* p) {
    std::uint64_t v;
    std::memcpy(&v, p, 8);
    constexpr std::uint64_t zeros = 0x3030303030303030;
    constexpr std::uint64_t high = 0xF0F0F0F0F0F0F0F0;
    // Every byte 0x30..0x39: the high nibble is 3, and adding 6 does not carry.
    if ((v & high) != zeros || ((v + 0x0606060606060606) & high) != zeros) return std::nullopt;
    v -= zeros;
    v = v * 10 + (v >> 8);  // pairs of digits in every other byte
    v = (((v & 0x000000FF000000FF) * (100 + (1000000ULL << 32))) +
         (((v >> 16) & 0x000000FF000000FF) * (1 + (10000ULL << 32)))) >>
        32;
    return static_cast<std::uint32_t>(v);
}

const char* scan_digits(const char* p, const char* end, std::uint64_t& mantissa) {
    // Wraps beyond 19 digits; the caller then does not use it.
    while (end - p >= 8) {
        std::optional<std::uint32_t> block = eight_digits(p);
        if (!block) break;
        mantissa = mantissa * 100000000 + *block;
        p += 8;
    }
    for (; p != end; ++p) {
        unsigned digit = static_cast<unsigned char>(*p) - unsigned{'0'};
        if (digit > 9) break;
        mantissa = mantissa * 10 + digit;
    }
    return p;
}

Decimal scan_decimal(std::string_view text) {
    Decimal d;
    const char* p = text.data();
    const char* end = p + text.size();
    const char* whole = p;
    p = scan_digits(p, end, d.mantissa);
    d.whole_digits = static_cast<std::size_t>(p - whole);
    if (p != end && *p == '.') {
        const char* fraction = ++p;
        p = scan_digits(p, end, d.mantissa);
        d.fraction_digits = static_cast<std::size_t>(p - fraction);
    }
    std::size_t digits = d.whole_digits + d.fraction_digits;
    if (digits == 0) return d;
    d.mantissa_exact = digits <= 19;
    if (p != end) {
        if (*p != 'e' && *p != 'E') return d;
        ++p;
        bool negative = false;
        if (p != end && (*p == '+' || *p == '-')) negative = *p++ == '-';
        if (p == end) return d;
        constexpr std::int64_t saturation = std::int64_t{1} << 40;
        for (; p != end; ++p) {
            if (!is_digit(*p)) return d;
            if (d.exponent < saturation) d.exponent = d.exponent * 10 + (*p - '0');
        }
        if (negative) d.exponent = -d.exponent;
        d.has_exponent = true;
    }
    d.valid = true;
    return d;
}

// For a decimal beyond the doubles: whether its magnitude is at least 1, that
// is, whether a non-zero digit stands at or before the point once the
// exponent is applied.
bool at_least_one(std::string_view text, const Decimal& d) {
    std::int64_t position = 0;  // of the digit, counted from the first
    std::size_t digits_and_point = d.whole_digits + (d.fraction_digits ? d.fraction_digits + 1 : 0);
    for (char c : text.substr(0, digits_and_point)) {
        if (c == '.') continue;
        if (c != '0') break;
        ++position;
    }
    auto whole = static_cast<std::int64_t>(d.whole_digits);
    return whole - 1 - position + d.exponent >= 0;
}

constexpr double exact_powers_of_ten[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                          1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                          1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// The nearest double to a valid decimal text, ties to even.
double decimal_value(std::string_view text, const Decimal& d) {
    // Short form: at most 15 digits and a point. The integer of all the digits
    // and the power of ten are exact doubles, so one division rounds correctly.
    if (!d.has_exponent && d.whole_digits + d.fraction_digits <= 15) {
        return static_cast<double>(d.mantissa) / exact_powers_of_ten[d.fraction_digits];
    }
    // The same holds while the integer stays within 2^53 and the power within
    // 10^22, which covers most longer decimal texts.
    std::int64_t scale = d.exponent - static_cast<std::int64_t>(d.fraction_digits);
    if (d.mantissa_exact && d.mantissa <= (std::uint64_t{1} << 53) && scale >= -22 && scale <= 22) {
        auto mantissa = static_cast<double>(d.mantissa);
        return scale < 0 ? mantissa / exact_powers_of_ten[-scale]
                         : mantissa * exact_powers_of_ten[scale];
    }
    double value = 0;
    auto [end, error] =
        std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::general);
    if (error == std::errc::result_out_of_range) {
        // Beyond the doubles: too large gives infinity, too small zero.
        return at_least_one(text, d) ? std::numeric_limits<double>::infinity() : 0.0;
    }
    return value;
}

}  // namespace

std::optional<double> parse_f64_text(std::string_view text) {
    if (text.empty() || !may_start_number(text.front())) return std::nullopt;
    bool negative = false;
    if (text.front() == '+' || text.front() == '-') {
        negative = text.front() == '-';
        text.remove_prefix(1);
        double sign = negative ? -1.0 : 1.0;
        switch (word_of(text)) {
            case Word::infinity:
                return std::copysign(std::numeric_limits<double>::infinity(), sign);
            case Word::nan: return std::copysign(std::numeric_limits<double>::quiet_NaN(), sign);
            case Word::none: break;
        }
    }
    Decimal decimal = scan_decimal(text);
    if (!decimal.valid) return std::nullopt;
    double value = decimal_value(text, decimal);
    return negative ? -value : value;
}

bool is_f64_text(std::string_view text) {
    if (text.empty() || !may_start_number(text.front())) return false;
    if (text.front() == '+' || text.front() == '-') {
        text.remove_prefix(1);
        if (word_of(text) != Word::none) return true;
    }
    return scan_decimal(text).valid;
}

}  // namespace tarnwick
