#include "csv/writer.hpp"

#include <algorithm>
#include <cstring>

#include "csv/number_parse.hpp"
#include "repr/number_text.hpp"
#include "repr/unicode.hpp"

namespace tarnwick {

namespace {

constexpr std::string_view byte_order_mark = "\xEF\xBB\xBF";

// Appends to a PodVector<char> through raw pointers: room() makes sure of the
// space, commit() records how much of it was written.
class Output {
public:
    explicit Output(PodVector<char>& buffer) : buffer_(buffer) {}

    char* room(std::size_t bytes) {
        std::size_t needed = buffer_.size() + bytes;
        if (needed > buffer_.capacity()) buffer_.reserve(std::max(needed, buffer_.capacity() * 2));
        return buffer_.data() + buffer_.size();
    }
    void commit(char* end) { buffer_.resize_for_overwrite(static_cast<std::size_t>(end - buffer_.data())); }
    void put(char c) { commit(put(room(1), c)); }

    static char* put(char* out, char c) {
        *out = c;
        return out + 1;
    }

private:
    PodVector<char>& buffer_;
};

bool is_special(char c) { return c == ',' || c == '"' || c == '\n' || c == '\r'; }

bool starts_with_white_space(std::string_view text) {
    auto lead = static_cast<unsigned char>(text.front());
    if (lead < 0x80) return lead == ' ' || (lead >= 0x09 && lead <= 0x0D);
    // Only these lead bytes begin the non-ASCII white-space characters.
    if (lead != 0xC2 && lead != 0xE1 && lead != 0xE2 && lead != 0xE3) return false;
    return is_white_space(decode_utf8(text).code_point);
}

bool needs_quotes(std::string_view text) {
    if (text.empty()) return true;
    if (std::any_of(text.begin(), text.end(), is_special)) return true;
    return starts_with_white_space(text);
}

void write_quoted(Output& output, std::string_view text) {
    char* out = output.room(2 * text.size() + 2);
    *out++ = '"';
    for (char c : text) {
        *out++ = c;
        if (c == '"') *out++ = '"';
    }
    *out++ = '"';
    output.commit(out);
}

void write_plain(Output& output, std::string_view text) {
    char* out = output.room(text.size());
    if (!text.empty()) std::memcpy(out, text.data(), text.size());
    output.commit(out + text.size());
}

void write_escaped(Output& output, std::string_view text) {
    if (needs_quotes(text)) {
        write_quoted(output, text);
    } else {
        write_plain(output, text);
    }
}

void write_header(Output& output, const Frame& frame) {
    bool first = true;
    for (const Column& column : frame.columns()) {
        if (!first) output.put(',');
        // A name that starts the text with the byte-order mark would lose it to
        // the reader, which drops a leading mark: quoted, the mark is content.
        if (first && column.name.starts_with(byte_order_mark)) {
            write_quoted(output, column.name);
        } else {
            write_escaped(output, column.name);
        }
        first = false;
    }
    output.put('\n');
}

// One column's storage, read by position.
struct CellSource {
    DType dtype;
    const std::uint8_t* presence;  // nullptr when nothing is missing
    const ColumnValues* values;

    void write(Output& output, std::size_t position) const {
        if (presence != nullptr && presence[position] == 0) return;
        switch (dtype) {
            case DType::i64: {
                char* out = output.room(max_i64_text);
                output.commit(write_i64(out, values->ints()[position]));
                return;
            }
            case DType::f64: {
                char* out = output.room(max_f64_text);
                output.commit(write_f64(out, values->floats()[position]));
                return;
            }
            case DType::str: {
                std::string_view text = values->string(position);
                if (is_f64_text(text)) {
                    // A number-looking text never holds a quote.
                    char* out = output.room(text.size() + 2);
                    *out++ = '"';
                    std::memcpy(out, text.data(), text.size());
                    out += text.size();
                    *out++ = '"';
                    output.commit(out);
                } else {
                    write_escaped(output, text);
                }
                return;
            }
        }
    }
};

// Enough room for the whole text in most frames, so the buffer rarely moves:
// the longest number texts, each string once with its quotes, the separators.
// Room reserved and never written costs address space only.
std::size_t estimated_size(const Frame& frame) {
    std::size_t rows = frame.height();
    std::size_t size = rows + 1;
    for (const Column& column : frame.columns()) {
        size += column.name.size() + 3 + rows;
        const ColumnValues& values = *column.values;
        switch (values.dtype()) {
            case DType::i64: size += rows * max_i64_text; break;
            case DType::f64: size += rows * max_f64_text; break;
            case DType::str: {
                std::size_t stored = std::max<std::size_t>(values.size(), 1);
                size += values.byte_size() / stored * rows + values.byte_size() % stored + 2 * rows;
                break;
            }
        }
    }
    return size;
}

}  // namespace

void escape_field(PodVector<char>& out, std::string_view text) {
    Output output(out);
    write_escaped(output, text);
}

PodVector<char> to_csv(const Frame& frame) {
    PodVector<char> buffer;
    buffer.reserve(estimated_size(frame));
    Output output(buffer);
    write_header(output, frame);
    std::vector<CellSource> cells;
    cells.reserve(frame.width());
    for (const Column& column : frame.columns()) {
        cells.push_back({column.dtype(), column.values->presence(), column.values.get()});
    }
    frame.for_each_position([&](std::size_t, std::size_t position) {
        for (std::size_t i = 0; i < cells.size(); ++i) {
            if (i != 0) output.put(',');
            cells[i].write(output, position);
        }
        output.put('\n');
    });
    return buffer;
}

}  // namespace tarnwick
