// Bytes read a word at a time: the loads every word-wise scan uses, and short
// texts packed into two words, so that equality and hashing of texts of up to
// 16 bytes are a few word operations without a loop or a call.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace tarnwick {

static_assert(std::endian::native == std::endian::little, "word loads put the first byte lowest");

// Eight or four bytes at p, the first in the lowest byte; p need not be aligned.
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

// A text of up to 16 bytes as two words. Overlapping loads cover every byte,
// so two texts of one length are equal exactly when their words are; no byte
// outside the text is read.
struct PackedText {
    std::uint64_t first = 0;
    std::uint64_t second = 0;

    bool operator==(const PackedText&) const = default;
};

inline constexpr std::size_t packed_text_limit = 16;

inline PackedText pack_short_text(const char* p, std::size_t n) {
    if (n >= 8) return {load_word(p), load_word(p + n - 8)};
    if (n >= 4) return {(std::uint64_t{load_half_word(p)} << 32) | load_half_word(p + n - 4), 0};
    if (n == 0) return {};
    auto byte = [&](std::size_t i) { return std::uint64_t{static_cast<std::uint8_t>(p[i])}; };
    return {(byte(0) << 16) | (byte(n / 2) << 8) | byte(n - 1), 0};
}

// Byte equality of two texts of n bytes each, without a call for short ones.
inline bool same_bytes(const char* a, const char* b, std::size_t n) {
    if (n > packed_text_limit) return std::memcmp(a, b, n) == 0;
    return pack_short_text(a, n) == pack_short_text(b, n);
}

}  // namespace tarnwick
