// The bytes that shape CSV text, in one place: the reader splits fields and
// records on them, and the writer quotes every field that holds one.
#pragma once

namespace tarnwick {

inline constexpr char separator_byte = ',';
inline constexpr char quote_byte = '"';
inline constexpr char line_feed = '\n';
inline constexpr char carriage_return = '\r';

// A record ends at LF, CR or CR LF.
constexpr bool is_line_end(char c) {
    return c == line_feed || c == carriage_return;
}

// The bytes at which an unquoted field ends.
constexpr bool ends_unquoted_field(char c) {
    return c == separator_byte || is_line_end(c);
}

// The bytes a written field must be quoted for: those that end a field, and
// the quote itself.
inline constexpr char quoted_for[] = {separator_byte, quote_byte, line_feed, carriage_return};

}  // namespace tarnwick
