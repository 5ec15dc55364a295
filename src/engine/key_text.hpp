// Hashing and comparing str key entries straight from a column's offsets and
// byte buffer, a word at a time. Key texts are short and often of mixed
// lengths; a loop per byte, or a test of the length, would then cost a
// mispredicted branch on most rows, so the last partial word of a text is
// read with one load.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

#include "engine/key_hash.hpp"

namespace tarnwick {

class KeyText {
  public:
    // Entry i is bytes[offsets[i], offsets[i + 1]).
    KeyText(const std::uint64_t* offsets, const char* bytes) : offsets_(offsets), bytes_(bytes) {}

    // Equals hasher.str(hash, text of `entry`): whole words, then the last
    // partial word in one load, so no branch depends on the length below 8.
    std::uint64_t hash(const KeyHasher& hasher, std::uint64_t hash, std::size_t entry) const {
        std::uint64_t begin = offsets_[entry];
        std::uint64_t end = offsets_[entry + 1];
        std::size_t length = end - begin;
        std::size_t rest = length;
        for (const char* word = bytes_ + begin; rest >= 8; rest -= 8, word += 8) {
            hash = hasher.word(hash, load_word(word));
        }
        return hasher.text_end(hash, tail(end, rest), length);
    }

    std::size_t length(std::size_t entry) const { return offsets_[entry + 1] - offsets_[entry]; }

    // The last length % 8 bytes of `entry`, as the hash takes them: the whole
    // text when it is shorter than a word.
    std::uint64_t last_word(std::size_t entry) const {
        std::uint64_t end = offsets_[entry + 1];
        return tail(end, (end - offsets_[entry]) & 7);
    }

    // Byte equality of `entry` here and `other_entry` of `other`.
    bool equal(std::size_t entry, const KeyText& other, std::size_t other_entry) const {
        std::uint64_t begin = offsets_[entry];
        std::uint64_t end = offsets_[entry + 1];
        std::uint64_t other_begin = other.offsets_[other_entry];
        std::uint64_t other_end = other.offsets_[other_entry + 1];
        std::size_t length = end - begin;
        if (length != other_end - other_begin) return false;
        std::size_t whole = length & ~std::size_t{7};
        for (std::size_t i = 0; i < whole; i += 8) {
            if (load_word(bytes_ + begin + i) != load_word(other.bytes_ + other_begin + i))
                return false;
        }
        return tail(end, length - whole) == other.tail(other_end, length - whole);
    }

  private:
    // The `count` (< 8) bytes before buffer offset `end`, the first of them in
    // the lowest byte, zeros above. The word is read so that it ends at `end`
    // and never reaches past the buffer; only where fewer than eight bytes
    // precede `end` is it read byte by byte.
    std::uint64_t tail(std::uint64_t end, std::size_t count) const {
        if (end >= 8) return (load_word(bytes_ + end - 8) >> 8) >> (56 - 8 * count);
        std::uint64_t word = 0;
        for (std::size_t i = 0; i < count; ++i) {
            word |= std::uint64_t{static_cast<std::uint8_t>(bytes_[end - count + i])} << (8 * i);
        }
        return word;
    }

    const std::uint64_t* offsets_;
    const char* bytes_;
};

}  // namespace tarnwick
