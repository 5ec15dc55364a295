#include "csv/writer.hpp"

#include "csv/writer_internal.hpp"

#include <algorithm>
#include <array>
#include <cstring>
#include <variant>

#include "base/unicode.hpp"
#include "base/utf8.hpp"
#include "csv/number_parse.hpp"
#include "csv/syntax.hpp"
#include "engine/column_view.hpp"
#include "repr/number_text.hpp"

namespace tarnwick {

namespace {

// Appends to a PodVector<char> through a raw pointer: room() makes sure of
// the space, and the writer moves `out` past what it writes.
class Output {
  public:
    explicit Output(PodVector<char>& buffer)
        : out(buffer.data() + buffer.size()),
          buffer_(buffer),
          limit_(buffer.data() + buffer.capacity()) {}
    ~Output() { buffer_.resize_for_overwrite(static_cast<std::size_t>(out - buffer_.data())); }
    Output(const Output&) = delete;
    Output& operator=(const Output&) = delete;

    void room(std::size_t bytes) {
        if (static_cast<std::size_t>(limit_ - out) < bytes) grow(bytes);
    }

    char* out;
    // The OR of every byte of text copied in (numbers and the separators are
    // ASCII): the text is ASCII when its high bit stays clear.
    unsigned char copied_bits = 0;

  private:
    void grow(std::size_t bytes) {
        std::size_t used = static_cast<std::size_t>(out - buffer_.data());
        buffer_.resize_for_overwrite(used);
        buffer_.reserve(std::max(used + bytes, buffer_.capacity() * 2));
        out = buffer_.data() + used;
        limit_ = buffer_.data() + buffer_.capacity();
    }

    PodVector<char>& buffer_;
    char* limit_;
};

// Per byte: 1 for the four bytes that need quotes, 0x80 for a non-ASCII one.
constexpr auto byte_flags = [] {
    std::array<unsigned char, 256> table{};
    for (char c : quoted_for)
        table[static_cast<unsigned char>(c)] = 1;
    for (std::size_t c = 0x80; c < 256; ++c)
        table[c] = 0x80;
    return table;
}();

bool starts_with_white_space(std::string_view text) {
    auto lead = static_cast<unsigned char>(text.front());
    if (lead < 0x80) return lead == ' ' || (lead >= 0x09 && lead <= 0x0D);
    // Only these lead bytes begin the non-ASCII white-space characters.
    if (lead != 0xC2 && lead != 0xE1 && lead != 0xE2 && lead != 0xE3) return false;
    return is_white_space(decode_utf8(text).code_point);
}

// Whether a text needs quotes; ORs its high bits into `bits` on the way.
// Eight bytes at a time: a byte equal to c leaves a zero byte in v ^ c, which
// the borrow of subtracting one from every byte finds. The few bytes after the
// last eight go through the table, without an early exit.
bool needs_quotes(std::string_view text, unsigned char& bits) {
    if (text.empty()) return true;
    constexpr std::uint64_t ones = 0x0101010101010101;
    constexpr std::uint64_t high = 0x8080808080808080;
    auto has_byte = [](std::uint64_t v, char c) {
        std::uint64_t x = v ^ (ones * static_cast<unsigned char>(c));
        return (x - ones) & ~x & high;
    };
    const char* p = text.data();
    const char* end = p + text.size();
    std::uint64_t seen = 0;
    std::uint64_t special = 0;
    for (; end - p >= 8; p += 8) {
        std::uint64_t v;
        std::memcpy(&v, p, 8);
        seen |= v;
        for (char c : quoted_for)
            special |= has_byte(v, c);
    }
    unsigned flags = (seen & high) != 0 ? 0x80 : 0;
    for (; p != end; ++p)
        flags |= byte_flags[static_cast<unsigned char>(*p)];
    bits |= static_cast<unsigned char>(flags);
    return special != 0 || (flags & 1) != 0 || starts_with_white_space(text);
}

void write_quoted(Output& output, std::string_view text) {
    output.room(2 * text.size() + 2);
    char* out = output.out;
    *out++ = quote_byte;
    for (char c : text) {
        *out++ = c;
        if (c == quote_byte) *out++ = quote_byte;
    }
    *out++ = quote_byte;
    output.out = out;
}

void write_plain(Output& output, std::string_view text) {
    output.room(text.size());
    if (!text.empty()) std::memcpy(output.out, text.data(), text.size());
    output.out += text.size();
}

void write_escaped(Output& output, std::string_view text) {
    if (needs_quotes(text, output.copied_bits)) {
        write_quoted(output, text);
    } else {
        write_plain(output, text);
    }
}

void put(Output& output, char c) {
    output.room(1);
    *output.out++ = c;
}

void write_header(Output& output, const Frame& frame) {
    bool first = true;
    for (const Column& column : frame.columns()) {
        if (!first) put(output, separator_byte);
        // A name that starts the text with the byte-order mark would lose it to
        // the reader, which drops a leading mark: quoted, the mark is content.
        if (first && column.name.starts_with(byte_order_mark)) {
            output.copied_bits |= 0x80;
            write_quoted(output, column.name);
        } else {
            write_escaped(output, column.name);
        }
        first = false;
    }
    put(output, line_feed);
}

// A cell's text, by the kind of its column.
void write_cell(Output& output, IntView view, std::size_t position) {
    output.room(max_i64_text);
    output.out = write_i64(output.out, view[position]);
}

void write_cell(Output& output, FloatView view, std::size_t position) {
    output.room(max_f64_text);
    output.out = write_f64(output.out, view[position]);
}

void write_cell(Output& output, TextView view, std::size_t position) {
    std::string_view text = view[position];
    if (!is_f64_text(text)) return write_escaped(output, text);
    // A number-looking text never holds a quote.
    output.room(text.size() + 2);
    char* out = output.out;
    *out++ = quote_byte;
    std::memcpy(out, text.data(), text.size());
    out += text.size();
    *out++ = quote_byte;
    output.out = out;
}

// One column's storage, read by position; a missing entry is an empty cell.
struct CellSource {
    AnyView view;
    const std::uint8_t* presence;  // nullptr when nothing is missing

    explicit CellSource(const ColumnValues& values)
        : view(any_view(values)), presence(values.presence()) {}

    void write(Output& output, std::size_t position) const {
        if (presence != nullptr && presence[position] == 0) return;
        std::visit([&](auto typed) { write_cell(output, typed, position); }, view);
    }
};

// The average width of a number column's cells, from up to 64 rows spread
// over the frame.
double sampled_cell_width(const Frame& frame, const CellSource& cells) {
    constexpr std::size_t samples = 64;
    std::size_t rows = frame.height();
    std::size_t step = std::max<std::size_t>(rows / samples, 1);
    PodVector<char> sample;
    std::size_t taken = 0;
    {
        Output output(sample);
        for (std::size_t row = 0; row < rows && taken < samples; row += step, ++taken) {
            cells.write(output, frame.position(row));
        }
    }
    return taken == 0 ? 0.0 : static_cast<double>(sample.size()) / static_cast<double>(taken);
}

// About the size of the whole text, so the buffer seldom moves, without
// reserving much more than it needs: numbers by the width of a sample of
// cells, strings by their average length, plus quotes and separators.
std::size_t estimated_size(const Frame& frame, const std::vector<CellSource>& cells) {
    std::size_t rows = frame.height();
    double size = static_cast<double>(rows + 1);
    for (std::size_t i = 0; i < cells.size(); ++i) {
        const Column& column = frame.columns()[i];
        size += static_cast<double>(column.name.size() + 3 + rows);
        const ColumnValues& values = *column.values;
        if (std::holds_alternative<TextView>(cells[i].view)) {
            double stored = static_cast<double>(std::max<std::size_t>(values.size(), 1));
            size +=
                (static_cast<double>(values.byte_size()) / stored + 2) * static_cast<double>(rows);
        } else {
            size += sampled_cell_width(frame, cells[i]) * 1.1 * static_cast<double>(rows);
        }
    }
    return static_cast<std::size_t>(size) + 64;
}

}  // namespace

void escape_field(PodVector<char>& out, std::string_view text) {
    Output output(out);
    write_escaped(output, text);
}

CsvText write_csv(const Frame& frame) {
    std::vector<CellSource> cells;
    cells.reserve(frame.width());
    for (const Column& column : frame.columns())
        cells.emplace_back(*column.values);
    PodVector<char> buffer;
    buffer.reserve(estimated_size(frame, cells));
    bool ascii = false;
    {
        Output output(buffer);
        write_header(output, frame);
        frame.for_each_position([&](std::size_t, std::size_t position) {
            for (std::size_t i = 0; i < cells.size(); ++i) {
                if (i != 0) put(output, separator_byte);
                cells[i].write(output, position);
            }
            put(output, line_feed);
        });
        ascii = (output.copied_bits & 0x80) == 0;
    }
    return {std::move(buffer), ascii};
}

PodVector<char> to_csv(const Frame& frame) {
    return write_csv(frame).bytes;
}

}  // namespace tarnwick
