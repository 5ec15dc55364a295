// The stored entries of one column: a typed contiguous array plus a presence
// mask. Built once, then immutable and shared between frames.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <span>
#include <string_view>
#include <type_traits>
#include <utility>

#include "engine/pod_vector.hpp"

namespace tarnwick {

// The kind of a column, in this order.
enum class DType : std::uint8_t { f64, i64, str };

std::string_view dtype_name(DType dtype);

// One column's entries in storage order. An entry is either a value of the
// column's kind or missing. The presence mask holds one byte per entry (1 for
// present) and is empty when no entry is missing, which is the common case.
// A missing number is stored as 0 and a missing string as an empty stretch, so
// the value arrays never hold garbage.
//
// Strings are one byte buffer plus size + 1 offsets: entry i is
// bytes[offsets[i], offsets[i + 1]).
class ColumnValues {
  public:
    static ColumnValues of_i64(PodVector<std::int64_t> values,
                               PodVector<std::uint8_t> present = {});
    static ColumnValues of_f64(PodVector<double> values, PodVector<std::uint8_t> present = {});
    static ColumnValues of_str(PodVector<std::uint64_t> offsets, PodVector<char> bytes,
                               PodVector<std::uint8_t> present = {});
    // of_i64 or of_f64 by the type of the values.
    template <class T>
    static ColumnValues of_numbers(PodVector<T> values, PodVector<std::uint8_t> present = {}) {
        if constexpr (std::is_same_v<T, std::int64_t>) {
            return of_i64(std::move(values), std::move(present));
        } else {
            static_assert(std::is_same_v<T, double>, "no column kind holds these numbers");
            return of_f64(std::move(values), std::move(present));
        }
    }

    ColumnValues(ColumnValues&&) noexcept = default;
    ColumnValues& operator=(ColumnValues&&) noexcept = default;

    DType dtype() const { return dtype_; }
    std::size_t size() const { return size_; }

    bool has_missing() const { return !present_.empty(); }
    // One byte per entry, 1 where present; nullptr when no entry is missing.
    const std::uint8_t* presence() const { return present_.empty() ? nullptr : present_.data(); }
    bool is_present(std::size_t i) const { return present_.empty() || present_[i] != 0; }

    std::span<const std::int64_t> ints() const { return ints_.span(); }
    std::span<const double> floats() const { return floats_.span(); }
    std::span<const std::uint64_t> offsets() const { return offsets_.span(); }
    // Never null, even when no byte is stored (a column of empty strings, or of
    // none), so that kernels may pass it to memcpy and memcmp with a length of 0.
    const char* bytes() const { return bytes_.data() != nullptr ? bytes_.data() : ""; }
    std::size_t byte_size() const { return bytes_.size(); }
    std::string_view string(std::size_t i) const {
        return {bytes() + offsets_[i], offsets_[i + 1] - offsets_[i]};
    }

    // A new column of the same kind whose entry i is entry positions[i] of this
    // one. Every position must be below size().
    ColumnValues gather(std::span<const std::uint32_t> positions) const;
    // An independent copy.
    ColumnValues clone() const;

  private:
    ColumnValues() = default;

    DType dtype_ = DType::i64;
    std::size_t size_ = 0;
    PodVector<std::uint8_t> present_;
    PodVector<std::int64_t> ints_;
    PodVector<double> floats_;
    PodVector<std::uint64_t> offsets_;
    PodVector<char> bytes_;
};

// values[positions[i]] for every i: the entries at the positions, in order.
template <class T>
PodVector<T> gather_values(const T* values, std::span<const std::uint32_t> positions) {
    PodVector<T> result(positions.size());
    T* out = result.data();
    for (std::size_t i = 0; i < positions.size(); ++i)
        out[i] = values[positions[i]];
    return result;
}

// A presence mask made entry by entry, allocated only at the first missing
// entry: the one way every builder of columns keeps track of missing entries.
class PresenceBuilder {
  public:
    // Room for this many entries once the mask is made.
    void expect(std::size_t entries) { expected_ = entries; }
    // Entry `index` is missing; the entries before it that were not marked
    // are present. An index may repeat or go back over entries already
    // described, which keeps their other marks.
    void mark_missing(std::size_t index) {
        std::size_t from = mask_.size();
        if (index < from) {
            mask_[index] = 0;
            return;
        }
        if (index >= mask_.capacity()) {
            std::size_t doubled = 2 * mask_.capacity();
            mask_.reserve(std::max({index + 1, doubled, expected_}));
        }
        mask_.resize_for_overwrite(index + 1);
        std::memset(mask_.data() + from, 1, index - from);
        mask_[index] = 0;
    }
    bool any_missing() const { return !mask_.empty(); }
    // The mask of a column of `size` entries: empty when none is missing.
    PodVector<std::uint8_t> finish(std::size_t size) {
        if (!mask_.empty()) fill_present(size);
        return std::move(mask_);
    }

  private:
    void fill_present(std::size_t size) {
        std::size_t from = mask_.size();
        if (from >= size) return;
        mask_.resize_for_overwrite(size);
        std::memset(mask_.data() + from, 1, size - from);
    }

    PodVector<std::uint8_t> mask_;
    std::size_t expected_ = 0;
};

// Builds a numeric column one entry at a time.
template <class T>
class NumberColumnBuilder {
  public:
    void reserve(std::size_t entries) {
        values_.reserve(entries);
        presence_.expect(entries);
    }
    void append(T value) { values_.push_back(value); }
    void append_missing() {
        presence_.mark_missing(values_.size());
        values_.push_back(T{});
    }
    std::size_t size() const { return values_.size(); }
    ColumnValues finish() {
        std::size_t size = values_.size();
        return ColumnValues::of_numbers(std::move(values_), presence_.finish(size));
    }

  private:
    PodVector<T> values_;
    PresenceBuilder presence_;
};

// Builds a str column one entry at a time into one byte buffer.
class StringColumnBuilder {
  public:
    StringColumnBuilder() { offsets_.push_back(0); }
    void reserve(std::size_t entries, std::size_t bytes) {
        offsets_.reserve(entries + 1);
        bytes_.reserve(bytes);
        presence_.expect(entries);
    }
    void append(std::string_view text) {
        bytes_.append(text.data(), text.size());
        offsets_.push_back(bytes_.size());
    }
    void append_missing() {
        presence_.mark_missing(size());
        offsets_.push_back(bytes_.size());
    }
    std::size_t size() const { return offsets_.size() - 1; }
    ColumnValues finish() {
        std::size_t entries = size();
        return ColumnValues::of_str(std::move(offsets_), std::move(bytes_),
                                    presence_.finish(entries));
    }

  private:
    PodVector<std::uint64_t> offsets_;
    PodVector<char> bytes_;
    PresenceBuilder presence_;
};

}  // namespace tarnwick
