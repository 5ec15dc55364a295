#include "csv/reader.hpp"

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

std::vector<std::string> header_names(const Tokens& tokens, std::string_view text) {
    std::vector<std::string> names;
    names.reserve(tokens.header.size());
    for (FieldSpan span : tokens.header)
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

}  // namespace

Result<Frame> read_csv(std::string_view bytes) {
    if (bytes.starts_with(byte_order_mark)) bytes.remove_prefix(byte_order_mark.size());
    if (bytes.size() >= text_limit) return frame_error("the text is over 4 GB");
    if (bytes.empty()) return frame_error("no header line");
    Result<Tokens> tokens = tokenize(bytes);
    if (!tokens) return std::unexpected(std::move(tokens.error()));
    std::vector<std::string> names = header_names(*tokens, bytes);
    if (const std::string* repeated = first_repeated(names)) {
        return frame_error(column_exists_message(*repeated));
    }
    // Names are unique, so the columns go straight into the frame; each column's
    // spans are freed as soon as it is built, which keeps the peak low.
    std::vector<Column> columns;
    columns.reserve(names.size());
    for (std::size_t i = 0; i < names.size(); ++i) {
        ColumnValues values = type_column(std::move(tokens->columns[i]), bytes);
        columns.push_back({std::move(names[i]), Shared<ColumnValues>::make(std::move(values))});
    }
    return Frame(std::move(columns), Shared<RowSelection>(), tokens->rows);
}

}  // namespace tarnwick
