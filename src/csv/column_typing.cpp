#include "csv/column_typing.hpp"

#include <algorithm>
#include <cstring>
#include <optional>

#include "csv/number_parse.hpp"

namespace tarnwick {

namespace {

// Room for `needed` values: the expected count at once, and past it by half
// again each time, so that an estimate too low costs a constant per value.
template <class T>
void make_room(PodVector<T>& values, std::size_t needed, std::size_t expected) {
    if (needed <= values.capacity()) return;
    values.reserve(std::max({needed, expected, values.capacity() + values.capacity() / 2}));
}

// A field of up to 16 bytes is copied as a fixed 16 bytes (the next field
// overwrites the excess), which needs 16 bytes of room at the end.
constexpr std::size_t short_field = 16;

}  // namespace

void ColumnBuilder::take(const RecordBlock& block, std::size_t column, std::string_view text,
                         std::size_t rows_before, std::size_t expected_rows) {
    text_ = text;
    rows_before_ = rows_before;
    block_rows_ = block.rows();
    expected_rows_ = std::max(expected_rows, rows_before + block_rows_);
    missing_before_block_ = missing_;
    if (block_rows_ == 0 || phase_ == Phase::waiting) return;
    if (!presence_.empty()) {
        make_room(presence_, rows_before_ + block_rows_, expected_rows_);
        presence_.resize_for_overwrite(rows_before_ + block_rows_);
        std::memset(presence_.data() + rows_before_, 1, block_rows_);
    }
    Fields fields{block.column_start(column), block.width()};
    switch (phase_) {
        case Phase::integers:
            // Most str columns are settled by their first value, without
            // building arrays for the number phases.
            if (missing_ == rows_before_ && first_present_is_text(fields))
                return to_strings(fields);
            return take_integers(fields, 0);
        case Phase::numbers: return take_numbers(fields, 0);
        case Phase::strings: return take_strings(fields);
        case Phase::waiting: return;
    }
}

void ColumnBuilder::mark_missing(std::size_t row) {
    if (presence_.empty()) {
        std::size_t rows = rows_before_ + block_rows_;
        make_room(presence_, rows, expected_rows_);
        presence_.resize_for_overwrite(rows);
        std::memset(presence_.data(), 1, rows);
    }
    presence_[row] = 0;
    ++missing_;
}

// Whether the block's first field that is not missing makes the column str at
// once: quoted, or neither an integer nor a number.
bool ColumnBuilder::first_present_is_text(Fields fields) const {
    for (std::size_t row = 0; row < block_rows_; ++row) {
        FieldSpan span = fields[row];
        if (span.is_empty_unquoted()) continue;
        if (span.quoted) return true;
        std::string_view text(text_.data() + span.start, span.end - span.start);
        return !parse_i64_text(text) && !is_f64_text(text);
    }
    return false;
}

void ColumnBuilder::take_integers(Fields fields, std::size_t from) {
    make_room(ints_, rows_before_ + block_rows_, expected_rows_);
    ints_.resize_for_overwrite(rows_before_ + block_rows_);
    std::int64_t* out = ints_.data() + rows_before_;
    const char* text = text_.data();
    // The fields lie inside the text, so the number tests may read on to its end.
    const char* text_end = text + text_.size();
    for (std::size_t row = from; row < block_rows_; ++row) {
        FieldSpan span = fields[row];
        if (span.quoted) return to_strings(fields);
        if (span.start == span.end) {
            mark_missing(rows_before_ + row);
            out[row] = 0;
        } else if (std::optional<std::int64_t> value =
                       parse_i64_text({text + span.start, span.end - span.start}, text_end)) {
            out[row] = *value;
            if (*value == 0 && text[span.start] == '-') {
                minus_zeros_.push_back(static_cast<std::uint32_t>(rows_before_ + row));
            }
        } else {
            return to_numbers(fields, row);
        }
    }
}

// The rows before `stop` (of the block) become doubles: missing stays 0, an
// integer 0 written with a minus sign becomes negative zero, others the
// nearest double. The number phase goes on from `stop`.
void ColumnBuilder::to_numbers(Fields fields, std::size_t stop) {
    make_room(floats_, rows_before_ + block_rows_, expected_rows_);
    floats_.resize_for_overwrite(rows_before_ + block_rows_);
    std::size_t converted = rows_before_ + stop;
    for (std::size_t row = 0; row < converted; ++row)
        floats_[row] = static_cast<double>(ints_[row]);
    for (std::uint32_t row : minus_zeros_)
        floats_[row] = -0.0;
    ints_ = PodVector<std::int64_t>();
    minus_zeros_ = PodVector<std::uint32_t>();
    phase_ = Phase::numbers;
    take_numbers(fields, stop);
}

void ColumnBuilder::take_numbers(Fields fields, std::size_t from) {
    make_room(floats_, rows_before_ + block_rows_, expected_rows_);
    floats_.resize_for_overwrite(rows_before_ + block_rows_);
    double* out = floats_.data() + rows_before_;
    const char* text = text_.data();
    const char* text_end = text + text_.size();
    for (std::size_t row = from; row < block_rows_; ++row) {
        FieldSpan span = fields[row];
        if (span.quoted) return to_strings(fields);
        if (span.start == span.end) {
            mark_missing(rows_before_ + row);
            out[row] = 0;
        } else if (std::optional<double> value =
                       parse_f64_text({text + span.start, span.end - span.start}, text_end)) {
            out[row] = *value;
        } else {
            return to_strings(fields);
        }
    }
}

// The column is str: every field again from the first. When every row before
// this block is missing, they are missing strings and the block is taken again
// from its first row; otherwise their texts are gone with their values, and the
// column waits to take every block again.
void ColumnBuilder::to_strings(Fields fields) {
    ints_ = PodVector<std::int64_t>();
    minus_zeros_ = PodVector<std::uint32_t>();
    floats_ = PodVector<double>();
    if (missing_before_block_ != rows_before_) {
        presence_ = PodVector<std::uint8_t>();
        missing_ = 0;
        phase_ = Phase::waiting;
        return;
    }
    phase_ = Phase::strings;
    make_room(offsets_, rows_before_ + block_rows_ + 1, expected_rows_ + 1);
    offsets_.resize(rows_before_ + 1, 0);
    // The block's rows are counted again (their presence marks come out the
    // same: a string is missing where a number was).
    missing_ = missing_before_block_;
    take_strings(fields);
}

void ColumnBuilder::start_again() {
    phase_ = Phase::strings;
    missing_ = 0;
    presence_ = PodVector<std::uint8_t>();
    offsets_ = PodVector<std::uint64_t>();
    bytes_ = PodVector<char>();
}

void ColumnBuilder::take_strings(Fields fields) {
    if (offsets_.empty()) offsets_.push_back(0);
    std::size_t used = offsets_[rows_before_];
    std::size_t block_bytes = 0;
    for (std::size_t row = 0; row < block_rows_; ++row) {
        FieldSpan span = fields[row];
        block_bytes += span.end - span.start;
    }
    // The bytes per row so far, for the rows expected.
    std::size_t rows = rows_before_ + block_rows_;
    double per_row = static_cast<double>(used + block_bytes) / static_cast<double>(rows);
    auto expected_bytes =
        static_cast<std::size_t>(per_row * static_cast<double>(expected_rows_ - rows) * 1.1 +
                                 static_cast<double>(used + block_bytes + short_field));
    make_room(bytes_, used + block_bytes + short_field, expected_bytes);
    make_room(offsets_, rows + 1, expected_rows_ + 1);
    offsets_.resize_for_overwrite(rows + 1);
    char* bytes = bytes_.data();
    std::uint64_t* offsets = offsets_.data() + rows_before_ + 1;
    const char* text_end = text_.data() + text_.size();
    for (std::size_t row = 0; row < block_rows_; ++row) {
        FieldSpan span = fields[row];
        std::size_t size = span.end - span.start;
        const char* from = text_.data() + span.start;
        if (span.is_empty_unquoted()) {
            mark_missing(rows_before_ + row);
        } else if (!span.doubled && size <= short_field &&
                   text_end - from >= static_cast<std::ptrdiff_t>(short_field)) {
            std::memcpy(bytes + used, from, short_field);
            used += size;
        } else {
            used += copy_field_text(bytes + used, text_, span);
        }
        offsets[row] = used;
    }
    bytes_.resize_for_overwrite(used);
}

namespace {

// An array reserved for the rows expected keeps what it holds: the memory
// past it is given back (a tenth, usually), or, where the text's first rows
// promised far more than came, the values move to an array of their size.
template <class T>
PodVector<T> trimmed(PodVector<T>& values) {
    values.shrink_to_fit();
    values.release_unused_memory();
    return std::move(values);
}

}  // namespace

ColumnValues ColumnBuilder::finish(std::size_t rows) {
    if (!presence_.empty()) presence_.resize_for_overwrite(rows);
    switch (phase_) {
        case Phase::integers:
            ints_.resize_for_overwrite(rows);
            return ColumnValues::of_i64(trimmed(ints_), trimmed(presence_));
        case Phase::numbers:
            floats_.resize_for_overwrite(rows);
            return ColumnValues::of_f64(trimmed(floats_), trimmed(presence_));
        case Phase::strings:
        case Phase::waiting: break;
    }
    if (offsets_.empty()) offsets_.push_back(0);
    return ColumnValues::of_str(trimmed(offsets_), trimmed(bytes_), trimmed(presence_));
}

}  // namespace tarnwick
