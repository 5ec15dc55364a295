#include "csv/reader.hpp"

#include <algorithm>
#include <unordered_set>

#include "csv/column_typing.hpp"
#include "csv/tokenizer.hpp"
#include "engine/hash_keys.hpp"

namespace tarnwick {

namespace {

constexpr std::string_view byte_order_mark = "\xEF\xBB\xBF";
// Field offsets are 32-bit.
constexpr std::uint64_t text_limit = std::uint64_t{1} << 32;
// The frame is built without add_column, so its row bound holds by this: the
// header takes at least one byte and every row ends at a line break or at the
// end of the text, so a text below the limit has fewer rows than row_limit.
static_assert(text_limit <= row_limit);

// Records are typed a block at a time, column after column: each column's
// values are then written in runs, one output stream at a time, and the
// block's spans and text are read from the core's own caches however many
// columns share them. A block holds about this many fields (48 KiB of spans,
// and their text); a wider table takes at least `least_block_rows` records
// while the block stays below `widest_block_fields`, so that each run of
// values fills a cache line.
constexpr std::size_t block_fields = 4096;
constexpr std::size_t least_block_rows = 8;
constexpr std::size_t widest_block_fields = std::size_t{1} << 18;

std::size_t rows_per_block(std::size_t width) {
    return std::max({block_fields / width, std::min(least_block_rows, widest_block_fields / width),
                     std::size_t{1}});
}

// The rows the whole text will give, judged from the bytes per row so far,
// with a tenth to spare: the columns' arrays are made this long at once.
std::size_t expected_rows(std::size_t rows, std::size_t bytes_read, std::size_t bytes_left,
                          std::size_t width) {
    if (rows == 0 || bytes_left == 0) return rows;
    double bytes_per_row = static_cast<double>(bytes_read) / static_cast<double>(rows);
    auto estimate =
        rows + static_cast<std::size_t>(static_cast<double>(bytes_left) / bytes_per_row * 1.1) + 16;
    // A record takes at least a byte per field but one (commas and a line end).
    std::size_t possible = rows + bytes_left / std::max<std::size_t>(width - 1, 1) + 1;
    return std::min(estimate, possible);
}

std::vector<std::string> header_names(std::span<const FieldSpan> header, std::string_view text) {
    std::vector<std::string> names;
    names.reserve(header.size());
    for (FieldSpan span : header)
        names.push_back(field_text(text, span));
    return names;
}

// Names hashed with the process's random words: a header of names chosen to
// share a fixed hash would make the set below quadratic in its width.
struct NameHash {
    const HashKeys* keys;
    std::size_t operator()(std::string_view name) const {
        return hash_bytes(*keys, name.data(), name.size());
    }
};

// The first name that an earlier one repeats, in header order. A hash set keeps
// this linear however wide the header is.
const std::string* first_repeated(const std::vector<std::string>& names) {
    std::unordered_set<std::string_view, NameHash> seen(names.size(),
                                                        NameHash{&process_hash_keys()});
    for (const std::string& name : names) {
        if (!seen.insert(name).second) return &name;
    }
    return nullptr;
}

// Columns that turned str after earlier blocks held values take every block
// again, from the first: one more reading of the text, however many they are.
// The text was read once without failure, so it reads again the same.
void take_every_block_again(std::vector<ColumnBuilder>& columns, std::string_view text,
                            std::size_t rows, RecordBlock& block) {
    std::vector<std::size_t> waiting;
    for (std::size_t c = 0; c < columns.size(); ++c) {
        if (!columns[c].needs_every_block_again()) continue;
        columns[c].start_again();
        waiting.push_back(c);
    }
    if (waiting.empty()) return;
    Tokenizer tokenizer(text);
    (void)tokenizer.read_header();
    std::size_t taken = 0;
    while (!tokenizer.at_end()) {
        (void)tokenizer.read_block(block);
        for (std::size_t c : waiting)
            columns[c].take(block, c, text, taken, rows);
        taken += block.rows();
    }
}

}  // namespace

Result<Frame> read_csv(std::string_view bytes) {
    return read_csv(bytes, 0);
}

Result<Frame> read_csv(std::string_view bytes, std::size_t block_rows) {
    if (bytes.starts_with(byte_order_mark)) bytes.remove_prefix(byte_order_mark.size());
    if (bytes.size() >= text_limit) return frame_error("the text is over 4 GB");
    if (bytes.empty()) return frame_error("no header line");
    Tokenizer tokenizer(bytes);
    if (std::optional<std::string> failure = tokenizer.read_header()) {
        return frame_error(std::move(*failure));
    }
    std::vector<std::string> names = header_names(tokenizer.header(), bytes);
    std::size_t width = names.size();
    // A repeated name fails the read unless a failure that comes first is
    // found further on; nothing is typed meanwhile.
    const std::string* repeated = first_repeated(names);
    std::vector<ColumnBuilder> columns(repeated == nullptr ? width : 0);
    RecordBlock block(width, block_rows != 0 ? block_rows : rows_per_block(width));
    std::size_t data_start = tokenizer.position();
    std::size_t rows = 0;
    while (!tokenizer.at_end()) {
        if (std::optional<std::string> failure = tokenizer.read_block(block)) {
            return frame_error(std::move(*failure));
        }
        if (tokenizer.pending()) {
            // The read fails; the rest of the text is only read for a quote
            // failure, which would come first.
            columns = std::vector<ColumnBuilder>();
            continue;
        }
        if (columns.empty()) continue;
        std::size_t expected = expected_rows(rows + block.rows(), tokenizer.position() - data_start,
                                             bytes.size() - tokenizer.position(), width);
        for (std::size_t c = 0; c < width; ++c)
            columns[c].take(block, c, bytes, rows, expected);
        rows += block.rows();
    }
    if (tokenizer.pending()) return frame_error(*tokenizer.pending());
    if (repeated != nullptr) return frame_error(column_exists_message(*repeated));
    take_every_block_again(columns, bytes, rows, block);
    // Names are unique, so the columns go straight into the frame.
    std::vector<Column> frame_columns;
    frame_columns.reserve(width);
    for (std::size_t c = 0; c < width; ++c) {
        frame_columns.push_back(
            {std::move(names[c]), Shared<ColumnValues>::make(columns[c].finish(rows))});
    }
    return Frame(std::move(frame_columns), Shared<RowSelection>(), rows);
}

}  // namespace tarnwick
