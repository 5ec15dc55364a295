// UTF-8: decoding one character, validating a text, and the byte-order mark.
#pragma once

#include <cstddef>
#include <string_view>

namespace tarnwick {

// The UTF-8 encoding of U+FEFF, which a text may start with to say that it is
// UTF-8; the reader drops it and the writer takes care never to start with it.
inline constexpr std::string_view byte_order_mark = "\xEF\xBB\xBF";

// Decodes the UTF-8 character at the start of `text` (which must not be empty).
// An ill-formed sequence (a stray or truncated one, an overlong form, a
// surrogate, beyond U+10FFFF) decodes as U+FFFD and consumes one byte.
struct DecodedChar {
    char32_t code_point;
    std::size_t length;
};
DecodedChar decode_utf8(std::string_view text);

// Whether no byte has its high bit set.
bool is_ascii(const char* bytes, std::size_t size);

// Whether the bytes are well-formed UTF-8: exactly the texts decode_utf8 reads
// without an ill-formed sequence.
bool is_utf8(const char* bytes, std::size_t size);

}  // namespace tarnwick
