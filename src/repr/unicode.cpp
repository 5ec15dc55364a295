#include "repr/unicode.hpp"

#include <algorithm>
#include <span>

namespace tarnwick {

namespace {

struct CodePointRange {
    char32_t first;
    char32_t last;
};

#include "repr/unicode_tables.inc"

bool in_ranges(std::span<const CodePointRange> ranges, char32_t code_point) {
    auto it = std::upper_bound(ranges.begin(), ranges.end(), code_point,
                               [](char32_t cp, const CodePointRange& r) { return cp < r.first; });
    return it != ranges.begin() && code_point <= std::prev(it)->last;
}

}  // namespace

bool is_escaped_in_quoted_form(char32_t code_point) {
    return in_ranges(escaped_ranges, code_point);
}

bool is_white_space(char32_t code_point) {
    return in_ranges(white_space_ranges, code_point);
}

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

}  // namespace tarnwick
