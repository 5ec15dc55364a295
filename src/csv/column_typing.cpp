#include "csv/column_typing.hpp"

#include <cstring>
#include <optional>

#include "csv/number_parse.hpp"

namespace tarnwick {

namespace {

// Where in a SpanColumn a phase stopped: the chunk, the span in it, the row.
struct Place {
    std::size_t chunk = 0;
    std::size_t index = 0;
    std::size_t row = 0;
};

// The presence mask of a column being built, made at the first missing entry.
class Presence {
  public:
    explicit Presence(std::size_t rows) : rows_(rows) {}
    void mark_missing(std::size_t row) {
        if (mask_.empty()) {
            mask_.resize_for_overwrite(rows_);
            std::memset(mask_.data(), 1, rows_);
        }
        mask_[row] = 0;
    }
    PodVector<std::uint8_t> take() { return std::move(mask_); }

  private:
    std::size_t rows_;
    PodVector<std::uint8_t> mask_;
};

class ColumnTyper {
  public:
    ColumnTyper(SpanColumn& spans, std::string_view text)
        : spans_(spans), text_(text), rows_(spans.size()) {}

    // The i64 or f64 column, or nothing when the column is str.
    std::optional<ColumnValues> numbers() {
        if (first_present_is_text()) return std::nullopt;
        Presence presence(rows_);
        PodVector<std::int64_t> ints(rows_);
        for (std::size_t c = 0, row = 0; c < spans_.chunk_count(); ++c) {
            std::span<const FieldSpan> chunk = spans_.chunk(c);
            for (std::size_t i = 0; i < chunk.size(); ++i, ++row) {
                FieldSpan span = chunk[i];
                if (span.quoted) return std::nullopt;
                if (span.start == span.end) {
                    presence.mark_missing(row);
                    ints[row] = 0;
                } else if (std::optional<std::int64_t> value =
                               parse_i64_text(view(span), text_end())) {
                    ints[row] = *value;
                } else {
                    return floats(std::move(ints), std::move(presence), {c, i, row});
                }
            }
        }
        return ColumnValues::of_i64(std::move(ints), presence.take());
    }

    // Every field again from the first, by its text. The spans are freed as
    // they are read: nothing reads them after this.
    ColumnValues strings() {
        std::size_t bytes_needed = 0;
        for (std::size_t c = 0; c < spans_.chunk_count(); ++c) {
            for (FieldSpan span : spans_.chunk(c))
                bytes_needed += span.end - span.start;
        }
        Presence presence(rows_);
        PodVector<std::uint64_t> offsets(rows_ + 1);
        // A short field is copied as a fixed 16 bytes (the next field
        // overwrites the excess), which needs 16 bytes of room at the end.
        constexpr std::size_t short_field = 16;
        PodVector<char> bytes;
        bytes.reserve(bytes_needed + short_field);
        std::size_t used = 0;
        offsets[0] = 0;
        for (std::size_t c = 0, row = 0; c < spans_.chunk_count(); ++c) {
            for (FieldSpan span : spans_.chunk(c)) {
                std::size_t size = span.end - span.start;
                const char* from = text_.data() + span.start;
                if (span.is_empty_unquoted()) {
                    presence.mark_missing(row);
                } else if (!span.doubled && size <= short_field &&
                           text_end() - from >= static_cast<std::ptrdiff_t>(short_field)) {
                    std::memcpy(bytes.data() + used, from, short_field);
                    used += size;
                } else {
                    used += copy_field_text(bytes.data() + used, text_, span);
                }
                offsets[++row] = used;
            }
            spans_.release_chunk(c);
        }
        bytes.resize_for_overwrite(used);
        return ColumnValues::of_str(std::move(offsets), std::move(bytes), presence.take());
    }

  private:
    // The fields lie inside the text, so the number tests may read on to its end.
    const char* text_end() const { return text_.data() + text_.size(); }
    std::string_view view(FieldSpan span) const {
        // Spans lie inside the text: no bounds check.
        return {text_.data() + span.start, span.end - span.start};
    }

    // Whether the first field that is not missing makes the column str at
    // once (quoted, or neither an integer nor a number): most str columns are
    // settled so, without building arrays for the number phases.
    bool first_present_is_text() const {
        for (std::size_t c = 0; c < spans_.chunk_count(); ++c) {
            for (FieldSpan span : spans_.chunk(c)) {
                if (span.is_empty_unquoted()) continue;
                if (span.quoted) return true;
                std::string_view text = view(span);
                return !parse_i64_text(text) && !is_f64_text(text);
            }
        }
        return false;
    }

    // From the integers parsed before `stop`, then by the number test from it.
    std::optional<ColumnValues> floats(PodVector<std::int64_t> ints, Presence presence,
                                       Place stop) {
        PodVector<double> floats(rows_);
        convert_integers(ints, stop, floats.data());
        ints = PodVector<std::int64_t>();
        std::size_t row = stop.row;
        for (std::size_t c = stop.chunk; c < spans_.chunk_count(); ++c) {
            std::span<const FieldSpan> chunk = spans_.chunk(c);
            for (std::size_t i = c == stop.chunk ? stop.index : 0; i < chunk.size(); ++i, ++row) {
                FieldSpan span = chunk[i];
                if (span.quoted) return std::nullopt;
                if (span.start == span.end) {
                    presence.mark_missing(row);
                    floats[row] = 0;
                } else if (std::optional<double> value = parse_f64_text(view(span), text_end())) {
                    floats[row] = *value;
                } else {
                    return std::nullopt;
                }
            }
        }
        return ColumnValues::of_f64(std::move(floats), presence.take());
    }

    // The rows before `stop` as doubles: missing stays 0, an integer 0 written
    // with a minus sign becomes negative zero, others the nearest double.
    void convert_integers(const PodVector<std::int64_t>& ints, Place stop, double* out) const {
        for (std::size_t c = 0, row = 0; row < stop.row; ++c) {
            std::span<const FieldSpan> chunk = spans_.chunk(c);
            for (std::size_t i = 0; i < chunk.size() && row < stop.row; ++i, ++row) {
                std::int64_t value = ints[row];
                FieldSpan span = chunk[i];
                bool minus_zero = value == 0 && span.start != span.end && text_[span.start] == '-';
                out[row] = minus_zero ? -0.0 : static_cast<double>(value);
            }
        }
    }

    SpanColumn& spans_;
    std::string_view text_;
    std::size_t rows_;
};

}  // namespace

ColumnValues type_column(SpanColumn spans, std::string_view text) {
    ColumnTyper typer(spans, text);
    if (std::optional<ColumnValues> numbers = typer.numbers()) return std::move(*numbers);
    return typer.strings();
}

}  // namespace tarnwick
