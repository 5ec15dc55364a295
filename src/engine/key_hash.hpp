// The 64-bit FNV-1a hash of a row's key values. It only finds the candidate
// groups of a row; equal keys always hash alike, and membership is always
// decided by comparing values.
#pragma once

#include <bit>
#include <cstdint>
#include <string_view>

namespace tarnwick {

inline constexpr std::uint64_t fnv_offset_basis = 14695981039346656037ull;
inline constexpr std::uint64_t fnv_prime = 1099511628211ull;

constexpr std::uint64_t fnv1a_byte(std::uint64_t hash, std::uint8_t byte) {
    return (hash ^ byte) * fnv_prime;
}

constexpr std::uint64_t fnv1a_bytes(std::uint64_t hash, std::string_view bytes) {
    for (char c : bytes)
        hash = fnv1a_byte(hash, static_cast<std::uint8_t>(c));
    return hash;
}

// Eight bytes, least significant first.
constexpr std::uint64_t fnv1a_word(std::uint64_t hash, std::uint64_t word) {
    for (int shift = 0; shift < 64; shift += 8) {
        hash = fnv1a_byte(hash, static_cast<std::uint8_t>(word >> shift));
    }
    return hash;
}

// A missing entry of any kind is one zero byte.
constexpr std::uint64_t hash_missing(std::uint64_t hash) {
    return fnv1a_byte(hash, 0);
}

constexpr std::uint64_t hash_i64(std::uint64_t hash, std::int64_t value) {
    return fnv1a_word(hash, static_cast<std::uint64_t>(value));
}

// 0.0 and -0.0 are equal keys, so both hash as eight zero bytes; a NaN hashes
// by its own bit pattern, as it equals only a NaN of that pattern.
constexpr std::uint64_t hash_f64(std::uint64_t hash, double value) {
    return fnv1a_word(hash, value == 0.0 ? 0 : std::bit_cast<std::uint64_t>(value));
}

// The bytes, then 0xFF (a byte no UTF-8 text holds), so that "ab","c" and
// "a","bc" differ.
constexpr std::uint64_t hash_str(std::uint64_t hash, std::string_view text) {
    return fnv1a_byte(fnv1a_bytes(hash, text), 0xFF);
}

}  // namespace tarnwick
