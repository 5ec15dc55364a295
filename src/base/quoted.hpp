// The quoted form in which messages show names, date texts and part words:
// between double quotes, with backslash escapes for what would not read back.
#pragma once

#include <string>
#include <string_view>

namespace tarnwick {

void append_quoted(std::string& out, std::string_view text);
std::string quoted(std::string_view text);

}  // namespace tarnwick
