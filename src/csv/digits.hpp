// Reading ASCII digits eight at a time, shared by the number tests.
#pragma once

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>

namespace tarnwick {

// Eight digit values (0 to 9, one per byte, the first in the lowest byte and
// the most significant) as one number.
inline std::uint64_t eight_digit_value(std::uint64_t v) {
    v = v * 10 + (v >> 8);  // pairs of digits in every other byte
    return (((v & 0x000000FF000000FF) * (100 + (1000000ULL << 32))) +
            (((v >> 16) & 0x000000FF000000FF) * (1 + (10000ULL << 32)))) >>
           32;
}

// Accumulates the digits from `p` into `value` (value * 10 + digit each) and
// returns where they stop: at a byte that is not a digit, or at `end`. Bytes
// up to `readable` (at least `end`) may be read, which lets the digits go
// eight at a time up to the end of a field inside a larger text. The value
// wraps beyond 19 digits; callers that can meet more count them.
inline const char* accumulate_digits(const char* p, const char* end, const char* readable,
                                     std::uint64_t& value) {
    static constexpr std::uint64_t tens[] = {1, 10, 100, 1000, 10000, 100000, 1000000, 10000000};
    constexpr std::uint64_t zeros = 0x3030303030303030;
    constexpr std::uint64_t high_bits = 0x8080808080808080;
    constexpr std::uint64_t low_bits = 0x7F7F7F7F7F7F7F7F;
    constexpr std::uint64_t below_ten = 0x7676767676767676;  // 0x80 - 10 per byte
    while (readable - p >= 8) {
        std::uint64_t v;
        std::memcpy(&v, p, 8);
        std::uint64_t x = v ^ zeros;  // a digit byte becomes its value
        // A byte is no digit when its value has the high bit or is 10 or more;
        // the low seven bits plus 0x76 cannot carry into the next byte.
        std::uint64_t non_digits = (((x & low_bits) + below_ten) | x) & high_bits;
        auto count = static_cast<std::size_t>(std::countr_zero(non_digits) >> 3);
        count = std::min(count, static_cast<std::size_t>(end - p));
        if (count == 8) {
            value = value * 100000000 + eight_digit_value(x);
            p += 8;
            continue;
        }
        if (count != 0) {
            // The digits move to the high bytes; the zero bytes below them are
            // leading zeros.
            value = value * tens[count] + eight_digit_value(x << (64 - 8 * count));
            p += count;
        }
        return p;
    }
    for (; p != end; ++p) {
        unsigned digit = static_cast<unsigned char>(*p) - unsigned{'0'};
        if (digit > 9) break;
        value = value * 10 + digit;
    }
    return p;
}

}  // namespace tarnwick
