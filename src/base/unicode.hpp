// The two Unicode properties the module needs beyond the standard library.
#pragma once

#include <cstdint>

namespace tarnwick {

// True for a character that the quoted form writes as \u{...}: not printable
// (control, format, unassigned, a separator other than the ASCII space) or a
// combining mark (Grapheme_Extend).
bool is_escaped_in_quoted_form(char32_t code_point);

// Unicode White_Space.
bool is_white_space(char32_t code_point);

}  // namespace tarnwick
