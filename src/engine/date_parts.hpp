// Date parts: the year, month or day of YYYY-MM-DD texts in a str column.
#pragma once

#include <cstdint>
#include <string_view>

#include "engine/frame.hpp"

namespace tarnwick {

enum class DatePart : std::uint8_t { year, month, day };

// "year", "month" or "day", byte for byte; anything else fails with
// part "{part}": give "year", "month" or "day".
Result<DatePart> parse_date_part(std::string_view word);

// The chosen part of each row's entry of the str column `source`, in row
// order: missing where the entry is missing. Fails for an absent column, a
// column of another dtype, or (naming the first such row) a text that is not a
// valid date. Reads the frame only.
Result<ColumnValues> extract_date_part(const Frame& frame, std::string_view source, DatePart part);

// The whole of add_date_part: part word, source, every row, then add_column
// under `name`. The frame is fully extended or (apart from add_column's
// materialising, which changes no row it shows) unchanged.
Result<void> add_date_part(Frame& frame, std::string_view name, std::string_view source,
                           std::string_view part);

}  // namespace tarnwick
