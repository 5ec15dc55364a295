#include "csv/number_parse.hpp"

#include <charconv>
#include <cmath>
#include <limits>

namespace tarnwick {

namespace {

bool is_digit(char c) { return static_cast<unsigned char>(c) - unsigned{'0'} <= 9; }

bool may_start_number(char c) { return is_digit(c) || c == '+' || c == '-' || c == '.'; }

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

// What the grammar check learns about a decimal text: enough to tell, when the
// value is beyond the doubles, whether it is too large or too small.
struct DecimalShape {
    bool valid = false;
    // The power of ten of the first non-zero digit; meaningless for zero.
    std::int64_t leading_exponent = 0;
};

// Digits with an optional point and at least one digit, then an optional
// exponent: e or E, an optional sign, at least one digit.
DecimalShape decimal_shape(std::string_view text) {
    DecimalShape shape;
    const char* p = text.data();
    const char* end = p + text.size();
    std::int64_t whole_digits = 0;
    std::int64_t digits = 0;
    std::int64_t first_nonzero = -1;
    bool point = false;
    for (; p != end; ++p) {
        if (is_digit(*p)) {
            if (first_nonzero < 0 && *p != '0') first_nonzero = digits;
            ++digits;
            if (!point) ++whole_digits;
        } else if (*p == '.' && !point) {
            point = true;
        } else {
            break;
        }
    }
    if (digits == 0) return shape;
    std::int64_t exponent = 0;
    if (p != end) {
        if (*p != 'e' && *p != 'E') return shape;
        ++p;
        bool negative = false;
        if (p != end && (*p == '+' || *p == '-')) negative = *p++ == '-';
        if (p == end) return shape;
        constexpr std::int64_t saturation = std::int64_t{1} << 40;
        for (; p != end; ++p) {
            if (!is_digit(*p)) return shape;
            if (exponent < saturation) exponent = exponent * 10 + (*p - '0');
        }
        if (negative) exponent = -exponent;
    }
    shape.valid = true;
    shape.leading_exponent = whole_digits - 1 - first_nonzero + exponent;
    return shape;
}

constexpr double exact_powers_of_ten[] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                          1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};

// Digits with at most one point and at most 15 digits: the integer of all the
// digits and the power of ten to divide it by are both exact doubles, so one
// division is correctly rounded.
std::optional<double> short_form(std::string_view text) {
    std::uint64_t mantissa = 0;
    int digits = 0;
    int fraction_digits = 0;
    bool point = false;
    for (char c : text) {
        if (is_digit(c)) {
            if (++digits > 15) return std::nullopt;
            mantissa = mantissa * 10 + static_cast<unsigned>(c - '0');
            fraction_digits += point;
        } else if (c == '.' && !point) {
            point = true;
        } else {
            return std::nullopt;
        }
    }
    if (digits == 0) return std::nullopt;
    return static_cast<double>(mantissa) / exact_powers_of_ten[fraction_digits];
}

std::optional<double> general_decimal(std::string_view text) {
    DecimalShape shape = decimal_shape(text);
    if (!shape.valid) return std::nullopt;
    double value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value,
                                        std::chars_format::general);
    if (error == std::errc::result_out_of_range) {
        return shape.leading_exponent >= 0 ? std::numeric_limits<double>::infinity() : 0.0;
    }
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

}  // namespace

std::optional<double> parse_f64_text(std::string_view text) {
    if (text.empty() || !may_start_number(text.front())) return std::nullopt;
    bool negative = false;
    std::string_view rest = text;
    if (rest.front() == '+' || rest.front() == '-') {
        negative = rest.front() == '-';
        rest.remove_prefix(1);
        switch (word_of(rest)) {
            case Word::infinity:
                return negative ? -std::numeric_limits<double>::infinity()
                                : std::numeric_limits<double>::infinity();
            case Word::nan:
                return std::copysign(std::numeric_limits<double>::quiet_NaN(), negative ? -1.0 : 1.0);
            case Word::none: break;
        }
    }
    std::optional<double> value = short_form(rest);
    if (!value) value = general_decimal(rest);
    if (value && negative) return -*value;
    return value;
}

bool is_f64_text(std::string_view text) {
    if (text.empty() || !may_start_number(text.front())) return false;
    if (text.front() == '+' || text.front() == '-') {
        text.remove_prefix(1);
        if (word_of(text) != Word::none) return true;
    }
    return decimal_shape(text).valid;
}

}  // namespace tarnwick
