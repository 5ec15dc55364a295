// Hashing of user data for the tables that place it (groups, the texts of
// where_in, the names of a CSV header). Keys chosen to collide would make such
// a table quadratic, so every hash is keyed by random words drawn once per
// process: without them nobody can compute which keys meet, neither on a slot
// nor on the full 64 bits. No result depends on a hash; it only decides which
// entries are compared.
#pragma once

#include <cstdint>
#include <cstring>

namespace tarnwick {

struct HashKeys {
    std::uint64_t start;  // the state before the first entry
    std::uint64_t word;   // the multiplier of every whole word
    std::uint64_t text;   // the multiplier of a text's last step, with its length
    std::uint64_t missing;
};

// Drawn from the system's random source on first use; fixed for the process.
const HashKeys& process_hash_keys();

// The 128-bit product of a and b, its halves folded together: every bit of the
// result depends on every bit of both.
inline std::uint64_t fold_multiply(std::uint64_t a, std::uint64_t b) {
    __extension__ using Wide = unsigned __int128;
    Wide product = Wide{a} * b;
    return static_cast<std::uint64_t>(product) ^ static_cast<std::uint64_t>(product >> 64);
}

inline std::uint64_t load_word(const char* p) {
    std::uint64_t word;
    std::memcpy(&word, p, 8);
    return word;
}

inline std::uint32_t load_half_word(const char* p) {
    std::uint32_t half;
    std::memcpy(&half, p, 4);
    return half;
}

// A hash of the n bytes at p that reads no byte outside them. Up to 16 bytes it
// takes the first and last eight, which cover the text; a longer text has its
// middle folded in too, eight bytes at a time. The length enters the last
// multiplier, so texts whose words coincide but whose lengths differ part.
inline std::uint64_t hash_bytes(const HashKeys& keys, const char* p, std::size_t n) {
    std::uint64_t a;
    std::uint64_t b;
    if (n >= 8) {
        a = load_word(p);
        b = load_word(p + n - 8);
        for (std::size_t i = 8; i + 8 < n; i += 8)
            a = fold_multiply(a ^ load_word(p + i), keys.word);
    } else if (n >= 4) {
        a = load_half_word(p);
        b = load_half_word(p + n - 4);
    } else if (n > 0) {
        a = static_cast<unsigned char>(p[0]) | std::uint64_t{static_cast<unsigned char>(p[n / 2])}
                                                   << 8;
        b = static_cast<unsigned char>(p[n - 1]);
    } else {
        a = 0;
        b = 0;
    }
    return fold_multiply(a ^ keys.start, b ^ keys.text ^ (n * keys.word));
}

}  // namespace tarnwick
