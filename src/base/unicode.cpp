#include "base/unicode.hpp"

#include <algorithm>
#include <span>

namespace tarnwick {

namespace {

struct CodePointRange {
    char32_t first;
    char32_t last;
};

#include "base/unicode_tables.inc"

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

}  // namespace tarnwick
