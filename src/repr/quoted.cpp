#include "repr/quoted.hpp"

#include <format>

#include "repr/unicode.hpp"

namespace tarnwick {

void append_quoted(std::string& out, std::string_view text) {
    out.push_back('"');
    std::size_t i = 0;
    while (i < text.size()) {
        unsigned char byte = static_cast<unsigned char>(text[i]);
        switch (byte) {
            case '"': out += "\\\""; ++i; continue;
            case '\\': out += "\\\\"; ++i; continue;
            case '\t': out += "\\t"; ++i; continue;
            case '\r': out += "\\r"; ++i; continue;
            case '\n': out += "\\n"; ++i; continue;
            case '\0': out += "\\0"; ++i; continue;
            default: break;
        }
        if (byte >= 0x20 && byte < 0x7F) {
            out.push_back(static_cast<char>(byte));
            ++i;
            continue;
        }
        DecodedChar c = decode_utf8(text.substr(i));
        if (is_escaped_in_quoted_form(c.code_point) || (c.code_point == 0xFFFD && c.length == 1)) {
            std::format_to(std::back_inserter(out), "\\u{{{:x}}}", static_cast<std::uint32_t>(c.code_point));
        } else {
            out.append(text.substr(i, c.length));
        }
        i += c.length;
    }
    out.push_back('"');
}

std::string quoted(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 2);
    append_quoted(out, text);
    return out;
}

}  // namespace tarnwick
