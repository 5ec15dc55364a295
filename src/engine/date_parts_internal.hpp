// What the date tests reach that callers do not: the date test alone.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace tarnwick {

// The three numbers of a valid date text: exactly YYYY-MM-DD in ASCII digits,
// year 1 to 9999, month 1 to 12, day within the month of the proleptic
// Gregorian calendar. nullopt for anything else.
struct Date {
    std::int32_t year;
    std::int32_t month;
    std::int32_t day;
};
std::optional<Date> parse_date(std::string_view text);

}  // namespace tarnwick
