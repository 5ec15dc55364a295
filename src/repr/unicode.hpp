// The two Unicode properties the module needs beyond the standard library.
#pragma once

#include <cstdint>
#include <string_view>

namespace tarnwick {

// True for a character that the quoted form writes as \u{...}: not printable
// (control, format, unassigned, a separator other than the ASCII space) or a
// combining mark (Grapheme_Extend).
bool is_escaped_in_quoted_form(char32_t code_point);

// Unicode White_Space.
bool is_white_space(char32_t code_point);

// Decodes the UTF-8 character at the start of `text` (which must not be empty).
// An ill-formed sequence decodes as U+FFFD and consumes one byte.
struct DecodedChar {
    char32_t code_point;
    std::size_t length;
};
DecodedChar decode_utf8(std::string_view text);

}  // namespace tarnwick
