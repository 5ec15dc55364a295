#include "base/quoted.hpp"

#include <format>

#include "base/unicode.hpp"
#include "base/utf8.hpp"

namespace tarnwick {

namespace {

// The backslash escape of a byte that has one of its own, or nullptr.
const char* short_escape(unsigned char byte) {
    switch (byte) {
        case '"': return "\\\"";
        case '\\': return "\\\\";
        case '\t': return "\\t";
        case '\r': return "\\r";
        case '\n': return "\\n";
        case '\0': return "\\0";
        default: return nullptr;
    }
}

}  // namespace

void append_quoted(std::string& out, std::string_view text) {
    out.push_back('"');
    std::size_t i = 0;
    while (i < text.size()) {
        unsigned char byte = static_cast<unsigned char>(text[i]);
        if (const char* escape = short_escape(byte)) {
            out += escape;
            ++i;
            continue;
        }
        if (byte >= 0x20 && byte < 0x7F) {
            out.push_back(static_cast<char>(byte));
            ++i;
            continue;
        }
        DecodedChar c = decode_utf8(text.substr(i));
        if (is_escaped_in_quoted_form(c.code_point) || (c.code_point == 0xFFFD && c.length == 1)) {
            std::format_to(std::back_inserter(out), "\\u{{{:x}}}",
                           static_cast<std::uint32_t>(c.code_point));
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
