// The hash of a row's key entries, keyed by the process's random words (see
// hash_keys.hpp). It only finds the candidate groups of a row; equal keys
// always hash alike, and membership is always decided by comparing values.
#pragma once

#include <bit>
#include <cstdint>
#include <string_view>

#include "base/hash.hpp"

namespace tarnwick {

// Each key entry is one step from the state of the entries before it: an i64
// or f64 entry is one word, a missing entry of any kind is the word
// keys.missing; a str entry is its whole words, then its last 0 to 7 bytes
// with its length (see KeyText, which computes the same a word at a time
// straight from a column).
class KeyHasher {
  public:
    explicit KeyHasher(const HashKeys& keys) : keys_(keys) {}

    std::uint64_t start() const { return keys_.start; }

    std::uint64_t word(std::uint64_t hash, std::uint64_t word) const {
        return fold_multiply(hash ^ word, keys_.word);
    }

    std::uint64_t missing(std::uint64_t hash) const { return word(hash, keys_.missing); }

    std::uint64_t i64(std::uint64_t hash, std::int64_t value) const {
        return word(hash, static_cast<std::uint64_t>(value));
    }

    // 0.0 and -0.0 are equal keys, so both hash as the word 0; a NaN hashes by
    // its own bit pattern, as it equals only a NaN of that pattern.
    std::uint64_t f64(std::uint64_t hash, double value) const {
        return word(hash, value == 0.0 ? 0 : std::bit_cast<std::uint64_t>(value));
    }

    // The last step of a text: its final 0 to 7 bytes (first byte lowest,
    // zeros above) and its length, so that "ab","c" and "a","bc" differ.
    std::uint64_t text_end(std::uint64_t hash, std::uint64_t last, std::size_t length) const {
        return fold_multiply(hash ^ last, keys_.text ^ length);
    }

    // The reference form, byte by byte; KeyText gives the same.
    std::uint64_t str(std::uint64_t hash, std::string_view text) const {
        std::size_t whole = text.size() & ~std::size_t{7};
        for (std::size_t i = 0; i < whole; i += 8)
            hash = word(hash, load_word(text.data() + i));
        std::uint64_t last = 0;
        for (std::size_t i = whole; i < text.size(); ++i)
            last |= std::uint64_t{static_cast<std::uint8_t>(text[i])} << (8 * (i - whole));
        return text_end(hash, last, text.size());
    }

  private:
    HashKeys keys_;
};

}  // namespace tarnwick
