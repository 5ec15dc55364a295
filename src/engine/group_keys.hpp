// The key entries of each group's first row, copied in group order while a
// grouping is made. Rows are compared with these compact copies rather than
// with the first rows where they are stored: those lie scattered over the
// columns, and with many groups each comparison would miss the cache.
#pragma once

#include <bit>
#include <cstdint>
#include <span>
#include <vector>

#include "engine/column_values.hpp"
#include "engine/column_view.hpp"
#include "engine/frame.hpp"
#include "engine/key_text.hpp"

namespace tarnwick {

// The 64 bits a number key is copied as.
inline std::uint64_t key_word(std::int64_t value) {
    return static_cast<std::uint64_t>(value);
}
inline std::uint64_t key_word(double value) {
    return std::bit_cast<std::uint64_t>(value);
}

// One key column: the copies, and the comparison of stored rows with them.
class KeyCopies {
  public:
    explicit KeyCopies(const ColumnValues& source) : source_(&source) {
        // The texts start after eight bytes of padding, so that the last word
        // of every one of them can be read in one load (see KeyText).
        bytes_.resize(8, '\0');
        offsets_.push_back(8);
        visit(source, [&]<class View>(View view) { bind<View>(view.present != nullptr); });
    }

    // Copies the entry stored at `position` as the key of the next group.
    void append(std::size_t position) {
        if (source_->has_missing()) present_.push_back(source_->is_present(position) ? 1 : 0);
        visit(*source_,
              Overloaded{
                  [&]<class T>(NumberView<T> view) { words_.push_back(key_word(view[position])); },
                  [&](TextView view) {
                      std::string_view text = view[position];
                      bytes_.append(text.data(), text.size());
                      offsets_.push_back(bytes_.size());
                      lasts_.push_back(KeyText(view.offsets, view.bytes).last_word(position));
                  },
              });
    }

    // Key equality of the entry stored at `position` and the key of `group`.
    bool equal(std::size_t position, std::size_t group) const {
        return (this->*equal_)(position, group);
    }

    // For each of `count` rows with a candidate group (candidates[i] is the
    // group number plus one, 0 for none), clears same[i] unless the row's
    // entry equals the candidate's key. The kind is looked at once, not per row.
    void confirm(const std::uint32_t* positions, const std::uint32_t* candidates,
                 std::uint8_t* same, std::size_t count) const {
        (this->*confirm_)(positions, candidates, same, count);
    }

  private:
    // Integers are equal; floats are equal as numbers (0.0 meets -0.0) or are
    // NaNs of one bit pattern; texts have the same bytes.
    bool same_value(IntView view, std::size_t position, std::size_t group) const {
        return key_word(view[position]) == words_[group];
    }
    bool same_value(FloatView view, std::size_t position, std::size_t group) const {
        double value = view[position];
        return value == std::bit_cast<double>(words_[group]) || key_word(value) == words_[group];
    }
    bool same_value(TextView view, std::size_t position, std::size_t group) const {
        return KeyText(view.offsets, view.bytes)
            .equal(position, KeyText(offsets_.data(), bytes_.data()), group);
    }

    // Missing equals missing only.
    template <class View, bool masked>
    bool equal_entry(std::size_t position, std::size_t group) const {
        View view = view_as<View>(*source_);
        if constexpr (masked) {
            std::uint8_t present = view.present[position];
            if (present != present_[group]) return false;
            if (present == 0) return true;
        }
        return same_value(view, position, group);
    }

    template <class View, bool masked>
    void confirm_entries(const std::uint32_t* positions, const std::uint32_t* candidates,
                         std::uint8_t* same, std::size_t count) const {
        if constexpr (std::is_same_v<View, TextView> && !masked) {
            // The common case, with the buffers read once: a store to `same`
            // may alias anything, and would have them reloaded on every row.
            // A text shorter than a word is all in its last word, which each
            // group keeps beside its copy.
            KeyText source(source_->offsets().data(), source_->bytes());
            KeyText copies(offsets_.data(), bytes_.data());
            const std::uint64_t* lasts = lasts_.data();
            for (std::size_t i = 0; i < count; ++i) {
                std::uint32_t candidate = candidates[i];
                if (candidate == 0) continue;
                std::uint32_t p = positions[i];
                std::size_t group = candidate - 1;
                std::size_t length = source.length(p);
                bool equal = length == copies.length(group) &&
                             (length < 8 ? source.last_word(p) == lasts[group]
                                         : source.equal(p, copies, group));
                if (!equal) same[i] = 0;
            }
            return;
        }
        for (std::size_t i = 0; i < count; ++i) {
            if (candidates[i] != 0 && !equal_entry<View, masked>(positions[i], candidates[i] - 1)) {
                same[i] = 0;
            }
        }
    }

    template <class View>
    void bind(bool masked) {
        equal_ =
            masked ? &KeyCopies::equal_entry<View, true> : &KeyCopies::equal_entry<View, false>;
        confirm_ = masked ? &KeyCopies::confirm_entries<View, true>
                          : &KeyCopies::confirm_entries<View, false>;
    }

    const ColumnValues* source_;
    bool (KeyCopies::*equal_)(std::size_t, std::size_t) const = nullptr;
    void (KeyCopies::*confirm_)(const std::uint32_t*, const std::uint32_t*, std::uint8_t*,
                                std::size_t) const = nullptr;
    PodVector<std::uint8_t> present_;   // only for a source with missing entries
    PodVector<std::uint64_t> words_;    // numbers: the 64 bits of each key
    PodVector<std::uint64_t> offsets_;  // str
    PodVector<char> bytes_;             // str
    PodVector<std::uint64_t> lasts_;    // str: each copy's last_word
};

// All key columns of a grouping.
class GroupKeys {
  public:
    explicit GroupKeys(std::span<const Column> keys) {
        columns_.reserve(keys.size());
        for (const Column& key : keys)
            columns_.emplace_back(*key.values);
    }
    void append(std::size_t position) {
        for (KeyCopies& column : columns_)
            column.append(position);
    }
    bool equal(std::size_t position, std::size_t group) const {
        for (const KeyCopies& column : columns_) {
            if (!column.equal(position, group)) return false;
        }
        return true;
    }
    // same[i] stays 1 only where row i equals its candidate in every column.
    void confirm(const std::uint32_t* positions, const std::uint32_t* candidates,
                 std::uint8_t* same, std::size_t count) const {
        for (const KeyCopies& column : columns_)
            column.confirm(positions, candidates, same, count);
    }

  private:
    std::vector<KeyCopies> columns_;
};

}  // namespace tarnwick
