// The stored entries of one column: a typed contiguous array plus a presence
// mask. Built once, then immutable and shared between frames.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

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

// Builds a numeric column one entry at a time; the presence mask is made only
// when the first missing entry arrives.
template <class T>
class NumberColumnBuilder {
  public:
    void reserve(std::size_t entries) { values_.reserve(entries); }
    void append(T value) {
        values_.push_back(value);
        if (!present_.empty()) present_.push_back(1);
    }
    void append_missing() {
        if (present_.empty()) {
            present_.reserve(values_.capacity());
            present_.resize(values_.size(), 1);
        }
        values_.push_back(T{});
        present_.push_back(0);
    }
    std::size_t size() const { return values_.size(); }
    ColumnValues finish();

  private:
    PodVector<T> values_;
    PodVector<std::uint8_t> present_;
};

extern template class NumberColumnBuilder<std::int64_t>;
extern template class NumberColumnBuilder<double>;

// Builds a str column one entry at a time into one byte buffer.
class StringColumnBuilder {
  public:
    StringColumnBuilder() { offsets_.push_back(0); }
    void reserve(std::size_t entries, std::size_t bytes) {
        offsets_.reserve(entries + 1);
        bytes_.reserve(bytes);
    }
    void append(std::string_view text) {
        bytes_.append(text.data(), text.size());
        offsets_.push_back(bytes_.size());
        if (!present_.empty()) present_.push_back(1);
    }
    void append_missing();
    std::size_t size() const { return offsets_.size() - 1; }
    ColumnValues finish();

  private:
    PodVector<std::uint64_t> offsets_;
    PodVector<char> bytes_;
    PodVector<std::uint8_t> present_;
};

}  // namespace tarnwick
