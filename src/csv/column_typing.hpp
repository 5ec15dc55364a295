// The second step of the CSV reader: decides a column's kind from its own
// fields and builds its values, a block of records at a time.
#pragma once

#include <cstdint>
#include <string_view>

#include "csv/tokenizer.hpp"
#include "engine/column_values.hpp"

namespace tarnwick {

// Builds the column whose fields are one column of a run of record blocks:
// - i64 when every field is an integer or empty and unquoted (missing);
// - else f64 when every field is a number or missing; an integer field of -0
//   gives negative zero;
// - else str, every field by its exact text, missing where empty and unquoted.
// A quoted field, even "12" or "", always makes the column str.
//
// A column that turns str after earlier blocks held values cannot rebuild
// those values' texts from its numbers: it then waits, and takes every block
// again from the first once the others are done (needs_every_block_again).
class ColumnBuilder {
  public:
    // Takes field `column` of every record of `block`, as the rows after those
    // taken so far (`rows_before` of them). Arrays are sized for
    // `expected_rows` in all, the reader's estimate, and grow past it when
    // needed.
    void take(const RecordBlock& block, std::size_t column, std::string_view text,
              std::size_t rows_before, std::size_t expected_rows);

    bool needs_every_block_again() const { return phase_ == Phase::waiting; }
    // Makes a waiting column an empty str column, to take every block again.
    void start_again();

    // The finished column of `rows` entries (the rows taken).
    ColumnValues finish(std::size_t rows);

  private:
    enum class Phase : std::uint8_t { integers, numbers, strings, waiting };

    // Field `column` of each record of a block.
    struct Fields {
        const FieldSpan* first;
        std::size_t stride;
        FieldSpan operator[](std::size_t row) const { return first[row * stride]; }
    };

    void take_integers(Fields fields, std::size_t from);
    void take_numbers(Fields fields, std::size_t from);
    void take_strings(Fields fields);
    void to_numbers(Fields fields, std::size_t stop);
    void to_strings(Fields fields);
    void mark_missing(std::size_t row);
    bool first_present_is_text(Fields fields) const;

    // The block being taken.
    std::string_view text_;
    std::size_t rows_before_ = 0;  // rows taken before the block
    std::size_t block_rows_ = 0;
    std::size_t expected_rows_ = 0;

    Phase phase_ = Phase::integers;
    std::size_t missing_ = 0;  // missing entries among the rows taken
    std::size_t missing_before_block_ = 0;
    // One byte per row (1 where present), made at the first missing entry.
    PodVector<std::uint8_t> presence_;
    PodVector<std::int64_t> ints_;
    // The rows whose integer was written with a minus sign and is 0: they are
    // negative zero once the column turns f64.
    PodVector<std::uint32_t> minus_zeros_;
    PodVector<double> floats_;
    PodVector<std::uint64_t> offsets_;
    PodVector<char> bytes_;
};

}  // namespace tarnwick
