// Remembers the str objects one strings() call has made, by their UTF-8 bytes,
// so that equal entries of a column share one object. strs are immutable, so
// sharing is invisible except to `is`; it saves the decoding and, above all,
// the allocation of a fresh object in fresh memory for every repeated entry.
//
// The objects are opaque pointers here (no Python in this layer). The cache holds no
// references: every object it remembers is already held by the list being
// built, which outlives the cache.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <utility>
#include <vector>

#include "base/hash.hpp"

namespace tarnwick {

// A text as the cache compares it. A text of up to 16 bytes is held packed in
// two words (see PackedText), which makes the common comparison two word
// compares with no pointer to follow. For a longer text, w0 holds the address
// of its bytes, which are compared byte for byte.
struct TextKey {
    std::uint64_t w0 = 0;
    std::uint64_t w1 = 0;
    std::size_t size = 0;
    std::uint64_t hash = 0;

    // The hash takes the process's random keys, so that nobody can choose
    // texts offline that fall into one chain of the table.
    TextKey(std::string_view text, const HashKeys& keys) : size(text.size()) {
        if (size > packed_text_limit) {
            w0 = reinterpret_cast<std::uintptr_t>(text.data());
            hash = long_hash(keys, text);
            return;
        }
        PackedText packed = pack_short_text(text.data(), size);
        w0 = packed.first;
        w1 = packed.second;
        hash = hash_packed(keys, packed, size);
    }

    bool is_inline() const { return size <= packed_text_limit; }
    const char* data() const { return reinterpret_cast<const char*>(w0); }

  private:
    [[gnu::noinline]] static std::uint64_t long_hash(const HashKeys& keys, std::string_view text) {
        return hash_bytes(keys, text.data(), text.size());
    }
};

// An open-addressing table from text to object, 40 bytes a slot. It grows by
// doubling up to `max_texts` texts and then only answers look-ups, so a column
// of many distinct values costs bounded memory. It counts the uses of each
// object it hands out, so that the caller can add them to the object's
// reference count in one step per object instead of one per use.
class TextCache {
  public:
    static constexpr std::size_t max_texts = std::size_t{1} << 12;

    // The object remembered for the text, counting one more use of it; or
    // nullptr.
    void* use(const TextKey& key) {
        std::uint64_t meta = meta_of(key);
        for (std::size_t i = meta & mask_;; i = (i + 1) & mask_) {
            Slot& slot = slots_[i];
            if (slot.object == nullptr) return nullptr;
            if (slot.meta != meta) continue;
            if (key.is_inline() ? slot.w0 == key.w0 && slot.w1 == key.w1
                                : key.size <= UINT32_MAX &&
                                      std::memcmp(slot.data(), key.data(), key.size) == 0) {
                ++slot.uses;
                return slot.object;
            }
        }
    }

    // Remembers `object` for the text, which must not be remembered yet, with
    // no use counted. A long text's bytes must outlive the cache. Ignored once
    // the cache is full.
    void remember(const TextKey& key, void* object) {
        if (count_ == max_texts || key.size > UINT32_MAX) return;
        if (4 * (count_ + 1) > slots_.size()) grow();
        place({key.w0, key.w1, object, meta_of(key), 0});
        ++count_;
    }

    // f(object, uses) for every object used at least once.
    template <class F>
    void for_each_use(F f) const {
        for (const Slot& slot : slots_)
            if (slot.uses != 0) f(slot.object, slot.uses);
    }

    std::size_t size() const { return count_; }
    bool full() const { return count_ == max_texts; }

    // Forgets every text (their uses too).
    void clear() {
        slots_ = std::vector<Slot>(1);
        mask_ = 0;
        count_ = 0;
    }

  private:
    struct Slot {
        std::uint64_t w0 = 0;
        std::uint64_t w1 = 0;
        void* object = nullptr;
        std::uint64_t meta = 0;  // the size, then the low half of the hash
        std::uint64_t uses = 0;

        const char* data() const { return reinterpret_cast<const char*>(w0); }
    };

    // Size and hash in one word, so one comparison rejects most other texts of
    // a chain. Its low bits, the hash's, place the slot; a slot keeps them, so
    // growing needs no hashing. (A size beyond 32 bits wraps here; such a text
    // is never remembered and is compared by its full size.)
    static std::uint64_t meta_of(const TextKey& key) {
        return (std::uint64_t{key.size} << 32) | static_cast<std::uint32_t>(key.hash);
    }

    void place(const Slot& slot) {
        std::size_t i = slot.meta & mask_;
        while (slots_[i].object != nullptr)
            i = (i + 1) & mask_;
        slots_[i] = slot;
    }

    void grow() {
        std::size_t capacity = std::max<std::size_t>(256, slots_.size() * 2);
        std::vector<Slot> old = std::exchange(slots_, std::vector<Slot>(capacity));
        mask_ = capacity - 1;
        for (const Slot& slot : old)
            if (slot.object != nullptr) place(slot);
    }

    // An empty table is one empty slot, so use() needs no special case.
    std::vector<Slot> slots_ = std::vector<Slot>(1);
    std::size_t mask_ = 0;
    std::size_t count_ = 0;
};

// Decides, a block of rows at a time, whether looking entries up in the cache
// pays. A block in which too few entries were found switches the look-ups off
// for a number of blocks that doubles with each such block (up to a limit),
// so a column of unique values pays for a few blocks of look-ups only, while a
// column that starts repeating later is still noticed.
class SharingPolicy {
  public:
    static constexpr std::size_t block_rows = 1024;
    static constexpr std::size_t max_pause = 64;

    bool looking_up() const { return paused_ == 0; }

    // After a block of `rows` rows: `found` of them were found in the cache
    // (ignored while paused).
    void finish_block(std::size_t rows, std::size_t found) {
        if (paused_ > 0) {
            --paused_;
            return;
        }
        if (found * 4 >= rows) {
            pause_ = 1;
            return;
        }
        paused_ = pause_;
        pause_ = std::min(2 * pause_, max_pause);
    }

  private:
    std::size_t paused_ = 0;  // blocks left to decode without look-ups
    std::size_t pause_ = 1;   // the length of the next pause
};

}  // namespace tarnwick
