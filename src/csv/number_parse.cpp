#include "csv/number_parse.hpp"

#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

namespace tarnwick {

namespace {

#include "csv/powers_of_ten.inc"

__extension__ using uint128 = unsigned __int128;

bool is_digit(char c) {
    return static_cast<unsigned char>(c) - unsigned{'0'} <= 9;
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
// sign, at least one digit). Its value is mantissa x 10^scale when
// `mantissa_exact`.
struct Decimal {
    bool valid = false;
    bool has_exponent = false;
    bool mantissa_exact = true;  // false beyond 19 significant digits
    std::uint64_t mantissa = 0;  // all the digits as one integer
    std::size_t whole_digits = 0;
    std::size_t fraction_digits = 0;
    std::int64_t exponent = 0;  // as written; saturated far beyond the doubles' range
    std::int64_t scale = 0;     // exponent - fraction_digits
};

// The number of digits before the first non-zero one (points skipped).
std::size_t leading_zeros(const char* p, std::size_t digits) {
    std::size_t zeros = 0;
    for (; zeros < digits; ++p) {
        if (*p == '.') continue;
        if (*p != '0') break;
        ++zeros;
    }
    return zeros;
}

Decimal scan_decimal(std::string_view text, const char* readable) {
    Decimal d;
    const char* const start = text.data();
    const char* p = start;
    const char* end = p + text.size();
    p = accumulate_digits(p, end, readable, d.mantissa);
    d.whole_digits = static_cast<std::size_t>(p - start);
    if (p != end && *p == '.') {
        const char* fraction = ++p;
        p = accumulate_digits(p, end, readable, d.mantissa);
        d.fraction_digits = static_cast<std::size_t>(p - fraction);
    }
    std::size_t digits = d.whole_digits + d.fraction_digits;
    if (digits == 0) return d;
    // Leading zeros add nothing to the mantissa, so only the digits after them
    // can make it wrap.
    if (digits > 19) d.mantissa_exact = digits - leading_zeros(start, digits) <= 19;
    if (p != end) {
        if ((*p | 0x20) != 'e') return d;
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
    d.scale = d.exponent - static_cast<std::int64_t>(d.fraction_digits);
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

// The correctly rounded conversion of the whole text, for what the fast steps
// leave: more than 19 significant digits, subnormals, and the rare products
// whose leading bits cannot decide the rounding.
double exact_value(std::string_view text, const Decimal& d) {
    double value = 0;
    auto [end, error] =
        std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::general);
    if (error == std::errc::result_out_of_range) {
        // Beyond the doubles: too large gives infinity, too small zero.
        return at_least_one(text, d) ? std::numeric_limits<double>::infinity() : 0.0;
    }
    return value;
}

// The nearest double to a valid decimal text, ties to even.
double decimal_value(std::string_view text, const Decimal& d) {
    // Short form: at most 15 digits and a point. The integer of all the digits
    // and the power of ten are exact doubles, so one division rounds correctly.
    if (!d.has_exponent && d.whole_digits + d.fraction_digits <= 15) {
        return static_cast<double>(d.mantissa) / exact_powers_of_ten[d.fraction_digits];
    }
    if (!d.mantissa_exact) return exact_value(text, d);
    // The same holds while the integer stays within 2^53 and the power within
    // 10^22.
    if (d.mantissa <= (std::uint64_t{1} << 53) && d.scale >= -22 && d.scale <= 22) {
        auto mantissa = static_cast<double>(d.mantissa);
        return d.scale < 0 ? mantissa / exact_powers_of_ten[-d.scale]
                           : mantissa * exact_powers_of_ten[d.scale];
    }
    if (d.mantissa == 0) return 0.0;
    if (std::optional<double> value = nearest_double(d.mantissa, d.scale)) return *value;
    return exact_value(text, d);
}

}  // namespace

// After Eisel and Lemire: the significand, shifted to fill 64 bits, times the
// 128 leading bits of the power gives the leading bits of the exact product;
// the table rounds down, so the exact product lies within one significand of
// it in the last place. Where that slack could change the 54 bits that decide
// the rounding, or the product could be an exact tie, the step gives up.
std::optional<double> nearest_double(std::uint64_t significand, std::int64_t power) {
    if (power < smallest_power_of_ten || power > largest_power_of_ten) return std::nullopt;
    const std::uint64_t* bits = powers_of_ten[power - smallest_power_of_ten];
    int shift = std::countl_zero(significand);
    std::uint64_t w = significand << shift;
    uint128 product = static_cast<uint128>(w) * bits[0];
    auto high = static_cast<std::uint64_t>(product >> 64);
    auto low = static_cast<std::uint64_t>(product);
    constexpr std::uint64_t below_rounding = 0x1FF;
    if ((high & below_rounding) == below_rounding && low + w < w) {
        // The slack may carry into the deciding bits: take the power's next 64
        // bits into the product too.
        uint128 next = static_cast<uint128>(w) * bits[1];
        auto next_high = static_cast<std::uint64_t>(next >> 64);
        auto next_low = static_cast<std::uint64_t>(next);
        std::uint64_t merged = low + next_high;
        if (merged < low) ++high;
        if ((high & below_rounding) == below_rounding && merged + 1 == 0 && next_low + w < w) {
            return std::nullopt;
        }
        low = merged;
    }
    // The product has its leading one in bit 127 or 126: keep 54 bits.
    auto top = static_cast<int>(high >> 63);
    std::uint64_t mantissa = high >> (top + 9);
    std::int64_t exponent = ((power * 217706) >> 16) + 63 + top + 1023 - shift;
    if (low == 0 && (high & below_rounding) == 0 && (mantissa & 3) == 1) {
        return std::nullopt;  // perhaps exactly halfway: ties go to even
    }
    mantissa = (mantissa + (mantissa & 1)) >> 1;
    if (mantissa >> 53 != 0) {  // rounding carried into a new leading bit
        mantissa >>= 1;
        ++exponent;
    }
    if (exponent <= 0 || exponent >= 0x7FF) return std::nullopt;
    constexpr std::uint64_t fraction_bits = (std::uint64_t{1} << 52) - 1;
    return std::bit_cast<double>((static_cast<std::uint64_t>(exponent) << 52) |
                                 (mantissa & fraction_bits));
}

std::optional<double> parse_f64_text(std::string_view text) {
    return parse_f64_text(text, text.data() + text.size());
}

namespace {

// The general path: words, exponents, long digit strings.
std::optional<double> parse_general(std::string_view text, const char* readable) {
    if (text.empty()) return std::nullopt;
    char first = text.front();
    bool negative = false;
    if (first == '+' || first == '-') {
        negative = first == '-';
        text.remove_prefix(1);
        double sign = negative ? -1.0 : 1.0;
        switch (word_of(text)) {
            case Word::infinity:
                return std::copysign(std::numeric_limits<double>::infinity(), sign);
            case Word::nan: return std::copysign(std::numeric_limits<double>::quiet_NaN(), sign);
            case Word::none: break;
        }
    } else if (!is_digit(first) && first != '.') {
        return std::nullopt;
    }
    Decimal decimal = scan_decimal(text, readable);
    if (!decimal.valid) return std::nullopt;
    double value = decimal_value(text, decimal);
    return negative ? -value : value;
}

}  // namespace

namespace {

// Digits with at most one point in at most eight bytes (".5", "4.82",
// "1234.5"), from one 64-bit word: the point is found among the bytes, the
// digits after it close up on those before, and all are combined at once.
// Their integer and the power of ten are exact, so one division rounds
// correctly. Eight bytes from `p` may be read; nothing for any other text.
// Apart, so that the registers it needs cost the longer texts nothing.
[[gnu::noinline]] std::optional<double> short_decimal(const char* p, std::size_t size) {
    constexpr std::uint64_t zeros = 0x3030303030303030;
    constexpr std::uint64_t high_bits = 0x8080808080808080;
    constexpr std::uint64_t low_bits = 0x7F7F7F7F7F7F7F7F;
    constexpr std::uint64_t below_ten = 0x7676767676767676;  // 0x80 - 10 per byte
    std::uint64_t v;
    std::memcpy(&v, p, 8);
    std::uint64_t own = size == 8 ? ~std::uint64_t{0} : (std::uint64_t{1} << (8 * size)) - 1;
    std::uint64_t x = (v ^ zeros) & own;  // a digit byte becomes its value; bytes beyond, 0
    std::uint64_t non_digits = (((x & low_bits) + below_ten) | x) & high_bits & own;
    std::size_t digits = size;
    std::size_t fraction_digits = 0;
    if (non_digits != 0) {
        auto point = static_cast<std::size_t>(std::countr_zero(non_digits) >> 3);
        if ((non_digits & (non_digits - 1)) != 0 || p[point] != '.' || size == 1) {
            return std::nullopt;
        }
        std::uint64_t before = (std::uint64_t{1} << (8 * point)) - 1;
        x = (x & before) | ((x >> 8) & ~before);
        digits = size - 1;
        fraction_digits = digits - point;
    }
    // The digits move to the high bytes; the zero bytes below them are leading
    // zeros.
    std::uint64_t value = eight_digit_value(x << (64 - 8 * digits));
    return static_cast<double>(value) / exact_powers_of_ten[fraction_digits];
}

}  // namespace

std::optional<double> parse_f64_text(std::string_view text, const char* readable) {
    // The common field, digits with an optional point and no exponent, in one
    // scan (one word for a short one); every other text goes the general way.
    const char* p = text.data();
    const char* end = p + text.size();
    if (p == end) return std::nullopt;
    bool negative = *p == '-';
    p += negative || *p == '+';
    auto size = static_cast<std::size_t>(end - p);
    if (size - 1 < 8 && readable - p >= 8) {
        if (std::optional<double> value = short_decimal(p, size)) {
            return negative ? -*value : *value;
        }
    }
    const char* const digits_start = p;
    std::uint64_t mantissa = 0;
    p = accumulate_digits(p, end, readable, mantissa);
    std::size_t digits = static_cast<std::size_t>(p - digits_start);
    std::size_t fraction_digits = 0;
    if (p != end && *p == '.') {
        const char* fraction = ++p;
        p = accumulate_digits(p, end, readable, mantissa);
        fraction_digits = static_cast<std::size_t>(p - fraction);
        digits += fraction_digits;
    }
    if (p != end || digits == 0) return parse_general(text, readable);
    if (digits > 19 && digits - leading_zeros(digits_start, digits) > 19) {
        return parse_general(text, readable);
    }
    double value;
    if (mantissa <= (std::uint64_t{1} << 53) && fraction_digits <= 22) {
        // Both operands exact: one correctly rounded division (the short form
        // of fifteen digits or fewer is one case of this).
        value = static_cast<double>(mantissa) / exact_powers_of_ten[fraction_digits];
    } else if (mantissa == 0) {
        value = 0.0;
    } else if (std::optional<double> nearest =
                   nearest_double(mantissa, -static_cast<std::int64_t>(fraction_digits))) {
        value = *nearest;
    } else {
        return parse_general(text, readable);
    }
    return negative ? -value : value;
}

bool is_f64_text(std::string_view text) {
    if (text.empty()) return false;
    char first = text.front();
    if (first == '+' || first == '-') {
        text.remove_prefix(1);
        if (word_of(text) != Word::none) return true;
    } else if (!is_digit(first) && first != '.') {
        return false;
    }
    return scan_decimal(text, text.data() + text.size()).valid;
}

}  // namespace tarnwick
