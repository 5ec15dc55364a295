// Fuzzes the number tests of CSV fields against plain references. A text is a
// number exactly when a straightforward check of the grammar accepts it, and
// its value is then the correctly rounded one that std::from_chars gives (or,
// beyond the doubles, strtod's infinity or zero); the integer test accepts a
// sign and digits within 64 bits, valued as std::from_chars values them. A
// field read inside a longer text reads as it does alone. The fast step of the
// conversion is also driven directly, from raw bytes.
#include <bit>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <string_view>

#include "csv/number_parse.hpp"

namespace {

using tarnwick::is_f64_text;
using tarnwick::parse_f64_text;
using tarnwick::parse_i64_text;

[[noreturn]] void fail(const std::string& what, std::string_view text) {
    std::fprintf(stderr, "number_parse_fuzz: %s for the text \"%.*s\"\n", what.c_str(),
                 static_cast<int>(text.size()), text.data());
    std::abort();
}

bool digit(char c) {
    return std::isdigit(static_cast<unsigned char>(c)) != 0;
}

std::string lower(std::string_view text) {
    std::string result(text);
    for (char& c : result)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return result;
}

// The number grammar, checked piece by piece: the first byte is a sign, a
// digit or a point; then an optional sign and either the words inf, infinity
// or nan in any case, or digits with an optional point (at least one digit in
// all) and an optional exponent (e or E, an optional sign, at least one digit).
bool grammar_accepts(std::string_view text) {
    if (text.empty()) return false;
    char first = text.front();
    if (first != '+' && first != '-' && first != '.' && !digit(first)) return false;
    std::string_view rest = text;
    if (first == '+' || first == '-') rest.remove_prefix(1);
    std::string word = lower(rest);
    if (word == "inf" || word == "infinity" || word == "nan") return true;

    std::size_t at = 0;
    auto skip_digits = [&] {
        std::size_t from = at;
        while (at < rest.size() && digit(rest[at]))
            ++at;
        return at - from;
    };
    std::size_t digits = skip_digits();
    if (at < rest.size() && rest[at] == '.') {
        ++at;
        digits += skip_digits();
    }
    if (digits == 0) return false;
    if (at < rest.size() && (rest[at] == 'e' || rest[at] == 'E')) {
        ++at;
        if (at < rest.size() && (rest[at] == '+' || rest[at] == '-')) ++at;
        if (skip_digits() == 0) return false;
    }
    return at == rest.size();
}

// The value of a text the grammar accepts.
double reference_value(std::string_view text) {
    bool negative = text.front() == '-';
    std::string_view rest = text;
    if (text.front() == '+' || text.front() == '-') rest.remove_prefix(1);
    double sign = negative ? -1.0 : 1.0;
    std::string word = lower(rest);
    if (word == "inf" || word == "infinity") {
        return std::copysign(std::numeric_limits<double>::infinity(), sign);
    }
    if (word == "nan") return std::copysign(std::numeric_limits<double>::quiet_NaN(), sign);
    double value = 0;
    auto [end, error] =
        std::from_chars(rest.data(), rest.data() + rest.size(), value, std::chars_format::general);
    if (error == std::errc::result_out_of_range) {
        // Beyond the doubles: strtod saturates to infinity or rounds to zero.
        std::string copy(rest);
        value = std::strtod(copy.c_str(), nullptr);
    } else if (error != std::errc() || end != rest.data() + rest.size()) {
        fail("std::from_chars does not read a text the grammar accepts", text);
    }
    return negative ? -value : value;
}

void check_f64(std::string_view text) {
    std::optional<double> parsed = parse_f64_text(text);
    if (is_f64_text(text) != parsed.has_value()) {
        fail("is_f64_text disagrees with parse_f64_text", text);
    }
    if (!grammar_accepts(text)) {
        if (parsed) fail("a text outside the grammar is taken for a number", text);
        return;
    }
    if (!parsed) fail("a text of the grammar is refused", text);
    double expected = reference_value(text);
    if (std::isnan(expected)) {
        if (!std::isnan(*parsed) || std::signbit(*parsed) != std::signbit(expected)) {
            fail("a NaN word gives another value", text);
        }
        return;
    }
    if (std::bit_cast<std::uint64_t>(*parsed) != std::bit_cast<std::uint64_t>(expected)) {
        char message[96];
        std::snprintf(message, sizeof message, "the value is %.17g, not %.17g", *parsed, expected);
        fail(message, text);
    }
}

// An optional sign and digits, within the 64-bit range.
std::optional<std::int64_t> reference_i64(std::string_view text) {
    std::string_view digits = text;
    if (!digits.empty() && (digits.front() == '+' || digits.front() == '-')) {
        digits.remove_prefix(1);
    }
    if (digits.empty()) return std::nullopt;
    for (char c : digits) {
        if (!digit(c)) return std::nullopt;
    }
    // std::from_chars takes a minus sign but no plus sign.
    std::string_view signed_digits = text.front() == '+' ? digits : text;
    std::int64_t value = 0;
    auto [end, error] =
        std::from_chars(signed_digits.data(), signed_digits.data() + signed_digits.size(), value);
    if (error != std::errc() || end != signed_digits.data() + signed_digits.size()) {
        return std::nullopt;
    }
    return value;
}

void check_i64(std::string_view text) {
    if (parse_i64_text(text) != reference_i64(text)) {
        fail("the integer test disagrees with std::from_chars", text);
    }
}

// A field inside a longer text, as the reader passes it (the bytes after it
// may be read): the first input byte says how long the field is, and it must
// give what it gives alone.
void check_within_text(std::string_view input) {
    if (input.empty()) return;
    std::string_view text = input.substr(1);
    std::string_view field = text.substr(0, static_cast<unsigned char>(input[0]) % 12);
    const char* readable = text.data() + text.size();
    std::optional<double> within = parse_f64_text(field, readable);
    std::optional<double> alone = parse_f64_text(field);
    if (within.has_value() != alone.has_value() ||
        (within && std::bit_cast<std::uint64_t>(*within) != std::bit_cast<std::uint64_t>(*alone))) {
        fail("a number inside a text reads otherwise than alone", field);
    }
    if (parse_i64_text(field, readable) != parse_i64_text(field)) {
        fail("an integer inside a text reads otherwise than alone", field);
    }
}

// The fast step of the conversion on a significand and a power of ten taken
// from the input's first ten bytes: where it gives a value, the value is
// std::from_chars' for the same number, and parse_f64_text agrees on its text.
void check_nearest_double(const std::uint8_t* data, std::size_t size) {
    if (size < 10) return;
    std::uint64_t significand;
    std::uint16_t power_bits;
    std::memcpy(&significand, data, 8);
    std::memcpy(&power_bits, data + 8, 2);
    // Shorter significands are as likely as long ones.
    significand >>= significand % 61;
    if (significand == 0) return;
    auto power = static_cast<std::int64_t>(power_bits % 720) - 370;
    std::string text = std::to_string(significand) + "e" + std::to_string(power);
    double expected = reference_value(text);
    if (std::optional<double> fast = tarnwick::nearest_double(significand, power)) {
        if (std::bit_cast<std::uint64_t>(*fast) != std::bit_cast<std::uint64_t>(expected)) {
            fail("the fast step of the conversion gives another value", text);
        }
    }
    check_f64(text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    check_f64(text);
    check_i64(text);
    check_within_text(text);
    check_nearest_double(data, size);
    return 0;
}
