#include "base/utf8.hpp"

#include <cstdint>

#include "base/words.hpp"

namespace tarnwick {

namespace {

constexpr std::uint64_t high_bits = 0x8080808080808080ull;

}  // namespace

DecodedChar decode_utf8(std::string_view text) {
    auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    unsigned char lead = byte(0);
    if (lead < 0x80) return {lead, 1};
    std::size_t length;
    char32_t code_point;
    char32_t least;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, code_point = lead & 0x1F, least = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, code_point = lead & 0x0F, least = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, code_point = lead & 0x07, least = 0x10000;
    } else {
        return {0xFFFD, 1};
    }
    if (text.size() < length) return {0xFFFD, 1};
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(i) & 0xC0) != 0x80) return {0xFFFD, 1};
        code_point = (code_point << 6) | (byte(i) & 0x3F);
    }
    if (code_point < least || code_point > 0x10FFFF ||
        (code_point >= 0xD800 && code_point <= 0xDFFF)) {
        return {0xFFFD, 1};
    }
    return {code_point, length};
}

bool is_ascii(const char* bytes, std::size_t size) {
    std::size_t i = 0;
    std::uint64_t seen = 0;
    for (; i + 8 <= size; i += 8)
        seen |= load_word(bytes + i);
    for (; i < size; ++i)
        seen |= static_cast<unsigned char>(bytes[i]);
    return (seen & high_bits) == 0;
}

bool is_utf8(const char* bytes, std::size_t size) {
    std::size_t i = 0;
    while (i < size) {
        // ASCII a word at a time; a non-ASCII character is decoded.
        if (i + 8 <= size && (load_word(bytes + i) & high_bits) == 0) {
            i += 8;
            continue;
        }
        if (static_cast<unsigned char>(bytes[i]) < 0x80) {
            ++i;
            continue;
        }
        DecodedChar c = decode_utf8({bytes + i, size - i});
        // U+FFFD of one byte is the mark of an ill-formed sequence; the
        // character itself takes three.
        if (c.length == 1) return false;
        i += c.length;
    }
    return true;
}

}  // namespace tarnwick
