// Fuzzes the number texts. The first eight bytes of an input are a double's
// bits and a 64-bit integer. The double's text is rebuilt here from first
// principles: the exact decimal expansion that printf gives, the shortest
// prefix, rounded down or up, that strtod reads back to the same bits (the
// nearer one when both do), and the layout rules: scientific exactly when the
// exponent is below -4 or at least 16, an integral positional value ending in
// ".0", "nan" for every NaN. The integer's text must be printf's.
#include <bit>
#include <charconv>
#include <cinttypes>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "repr/number_text.hpp"

namespace {

using tarnwick::format_f64;
using tarnwick::format_i64;

[[noreturn]] void fail(const std::string& what, std::uint64_t bits) {
    std::fprintf(stderr, "number_text_fuzz: %s (bits 0x%016" PRIx64 ", %.17g)\n", what.c_str(),
                 bits, std::bit_cast<double>(bits));
    std::abort();
}

// A positive finite double as all the significant digits of its exact value
// and the decimal exponent of the first: value = d1.d2d3... x 10^exponent.
struct Decimal {
    std::string digits;
    int exponent;
};

Decimal exact_decimal(double magnitude) {
    // No double has more than 767 significant digits; glibc prints them exactly.
    static char text[1024];
    std::snprintf(text, sizeof text, "%.800e", magnitude);
    char* e = std::strchr(text, 'e');
    Decimal d{std::string(1, text[0]) + std::string(text + 2, e), std::atoi(e + 1)};
    while (d.digits.size() > 1 && d.digits.back() == '0')
        d.digits.pop_back();
    return d;
}

double read_back(const Decimal& d) {
    std::string text =
        d.digits.substr(0, 1) + "." + d.digits.substr(1) + "e" + std::to_string(d.exponent);
    return std::strtod(text.c_str(), nullptr);
}

// The first `n` digits of `exact`, rounded down or up (a carry may add a digit
// in front, which moves the exponent).
Decimal rounded(const Decimal& exact, std::size_t n, bool up) {
    Decimal d{exact.digits.substr(0, n), exact.exponent};
    d.digits.resize(n, '0');
    if (up) {
        std::size_t i = n;
        while (i > 0 && d.digits[i - 1] == '9')
            d.digits[--i] = '0';
        if (i == 0) {
            d.digits.insert(d.digits.begin(), '1');
            d.digits.pop_back();
            ++d.exponent;
        } else {
            ++d.digits[i - 1];
        }
    }
    while (d.digits.size() > 1 && d.digits.back() == '0')
        d.digits.pop_back();
    return d;
}

// How the digits after the first `n` compare with one half: -1, 0 or 1.
int rest_against_half(const Decimal& exact, std::size_t n) {
    if (exact.digits.size() <= n) return -1;
    std::string rest = exact.digits.substr(n);
    if (rest[0] != '5') return rest[0] < '5' ? -1 : 1;
    return rest.size() > 1 ? 1 : 0;
}

// The shortest digits that read back as `magnitude`: the nearer of the two
// candidates of that length when both do. `tie` is set when the exact value
// lies halfway between them, and `other` is then the second candidate.
struct Shortest {
    Decimal best;
    bool tie = false;
    Decimal other;
};

Shortest shortest(double magnitude) {
    Decimal exact = exact_decimal(magnitude);
    for (std::size_t n = 1;; ++n) {
        if (exact.digits.size() <= n) return {exact, false, {}};
        Decimal down = rounded(exact, n, false);
        Decimal up = rounded(exact, n, true);
        bool down_reads = read_back(down) == magnitude;
        bool up_reads = read_back(up) == magnitude;
        if (down_reads && up_reads) {
            int side = rest_against_half(exact, n);
            if (side == 0) return {down, true, up};
            return {side > 0 ? up : down, false, {}};
        }
        if (down_reads) return {down, false, {}};
        if (up_reads) return {up, false, {}};
    }
}

std::string layout(bool negative, const Decimal& d) {
    std::string text = negative ? "-" : "";
    int e = d.exponent;
    auto n = static_cast<int>(d.digits.size());
    if (e < -4 || e >= 16) {
        text += d.digits[0];
        if (n > 1) text += "." + d.digits.substr(1);
        char exponent[8];
        std::snprintf(exponent, sizeof exponent, "e%c%02d", e < 0 ? '-' : '+', std::abs(e));
        return text + exponent;
    }
    if (e < 0) return text + "0." + std::string(static_cast<std::size_t>(-e - 1), '0') + d.digits;
    if (e + 1 < n) {
        return text + d.digits.substr(0, static_cast<std::size_t>(e + 1)) + "." +
               d.digits.substr(static_cast<std::size_t>(e + 1));
    }
    return text + d.digits + std::string(static_cast<std::size_t>(e + 1 - n), '0') + ".0";
}

// The text the rules give; `alternative` is the other text of a tie, if any.
std::string expected_text(double value, std::string& alternative) {
    if (std::isnan(value)) return "nan";
    bool negative = std::signbit(value);
    double magnitude = std::fabs(value);
    if (std::isinf(magnitude)) return negative ? "-inf" : "inf";
    if (magnitude == 0) return negative ? "-0.0" : "0.0";
    Shortest digits = shortest(magnitude);
    if (digits.tie) alternative = layout(negative, digits.other);
    return layout(negative, digits.best);
}

void check_f64(std::uint64_t bits) {
    double value = std::bit_cast<double>(bits);
    std::string text = format_f64(value);
    if (text.size() > tarnwick::max_f64_text) fail("the text is longer than its room", bits);
    char room[tarnwick::max_f64_text];
    if (std::string(room, tarnwick::write_f64(room, value)) != text) {
        fail("write_f64 and format_f64 differ", bits);
    }
    if (!std::isnan(value)) {
        double back = 0;
        auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), back);
        if (error != std::errc() || end != text.data() + text.size() ||
            std::bit_cast<std::uint64_t>(back) != bits) {
            fail("the text reads back otherwise", bits);
        }
    }
    std::string alternative;
    std::string expected = expected_text(value, alternative);
    if (text != expected && text != alternative) {
        fail("the text is \"" + text + "\", not \"" + expected + "\"", bits);
    }
}

void check_i64(std::uint64_t bits) {
    auto value = static_cast<std::int64_t>(bits);
    char expected[32];
    std::snprintf(expected, sizeof expected, "%" PRId64, value);
    if (format_i64(value) != expected) fail("the integer text is " + format_i64(value), bits);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::uint64_t bits = 0;
    std::memcpy(&bits, data, size < 8 ? size : 8);
    check_f64(bits);
    check_i64(bits);
    return 0;
}
