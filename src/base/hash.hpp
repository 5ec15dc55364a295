// Hashing of user data for the tables that place it (groups, the texts of
// where_in and strings(), the names of a CSV header). Keys chosen to collide
// would make such a table quadratic, so every hash is keyed by random words
// drawn once per process: without them nobody can compute which keys meet,
// neither on a slot nor on the full 64 bits. No result depends on a hash; it
// only decides which entries are compared.
#pragma once

#include <cstdint>

#include "base/words.hpp"

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

// The hash of a short text from its packed words and its length; the length
// enters the last multiplier, so texts whose words coincide but whose lengths
// differ part.
inline std::uint64_t hash_packed(const HashKeys& keys, PackedText packed, std::size_t n) {
    return fold_multiply(packed.first ^ keys.start, packed.second ^ keys.text ^ (n * keys.word));
}

// A hash of the n bytes at p that reads no byte outside them. Up to 16 bytes it
// is hash_packed; a longer text has its first and last eight bytes in the last
// step and its middle folded in before, eight bytes at a time.
inline std::uint64_t hash_bytes(const HashKeys& keys, const char* p, std::size_t n) {
    if (n <= packed_text_limit) return hash_packed(keys, pack_short_text(p, n), n);
    std::uint64_t a = load_word(p);
    for (std::size_t i = 8; i + 8 < n; i += 8)
        a = fold_multiply(a ^ load_word(p + i), keys.word);
    return hash_packed(keys, {a, load_word(p + n - 8)}, n);
}

}  // namespace tarnwick
