#include "engine/date_parts.hpp"

#include <cstring>
#include <string>

#include "repr/quoted.hpp"

namespace tarnwick {

namespace {

constexpr bool is_leap(std::int32_t year) {
    return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
}

constexpr std::int32_t days_in_month(std::int32_t year, std::int32_t month) {
    constexpr std::int32_t days[13] = {0, 31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && is_leap(year) ? 29 : days[month];
}

inline unsigned digit(char c) { return static_cast<unsigned>(static_cast<unsigned char>(c)) - '0'; }

std::string bad_date_message(std::string_view source, std::size_t row, std::string_view text) {
    std::string message = "column ";
    append_quoted(message, source);
    message += ", row ";
    message += std::to_string(row);
    message += ": ";
    append_quoted(message, text);
    message += " is not a YYYY-MM-DD date";
    return message;
}

}  // namespace

Result<DatePart> parse_date_part(std::string_view word) {
    if (word == "year") return DatePart::year;
    if (word == "month") return DatePart::month;
    if (word == "day") return DatePart::day;
    return frame_error("part " + quoted(word) + ": give \"year\", \"month\" or \"day\"");
}

std::optional<Date> parse_date(std::string_view text) {
    if (text.size() != 10) return std::nullopt;
    const char* p = text.data();
    if (p[4] != '-' || p[7] != '-') return std::nullopt;
    unsigned d[8] = {digit(p[0]), digit(p[1]), digit(p[2]), digit(p[3]),
                     digit(p[5]), digit(p[6]), digit(p[8]), digit(p[9])};
    // Every byte that is not a digit gives a value above 9 (unsigned wrap).
    unsigned bad = 0;
    for (unsigned v : d) bad |= v > 9 ? 1u : 0u;
    if (bad != 0) return std::nullopt;
    auto year = static_cast<std::int32_t>(d[0] * 1000 + d[1] * 100 + d[2] * 10 + d[3]);
    auto month = static_cast<std::int32_t>(d[4] * 10 + d[5]);
    auto day = static_cast<std::int32_t>(d[6] * 10 + d[7]);
    if (month < 1 || month > 12 || year == 0 || day < 1 || day > days_in_month(year, month)) {
        return std::nullopt;
    }
    return Date{year, month, day};
}

Result<ColumnValues> extract_date_part(const Frame& frame, std::string_view source, DatePart part) {
    Result<const Column*> found = find_column_of_kind(frame, source, DType::str);
    if (!found) return std::unexpected(std::move(found.error()));
    const ColumnValues& values = *(*found)->values;
    std::size_t rows = frame.height();
    PodVector<std::int64_t> out(rows);
    PodVector<std::uint8_t> present;
    const std::uint8_t* mask = values.presence();
    if (mask != nullptr) present.resize_for_overwrite(rows);
    const std::uint64_t* offsets = values.offsets().data();
    const char* bytes = values.bytes();
    std::int64_t* o = out.data();
    bool any_missing = false;
    std::size_t bad_row = rows;
    frame.for_each_position([&](std::size_t row, std::size_t position) {
        if (bad_row != rows) return;
        if (mask != nullptr) {
            present[row] = mask[position];
            if (mask[position] == 0) {
                o[row] = 0;
                any_missing = true;
                return;
            }
        }
        std::uint64_t start = offsets[position];
        std::optional<Date> date = parse_date({bytes + start, offsets[position + 1] - start});
        if (!date) {
            bad_row = row;
            return;
        }
        o[row] = part == DatePart::year ? date->year : part == DatePart::month ? date->month : date->day;
    });
    if (bad_row != rows) {
        return frame_error(bad_date_message(source, bad_row, values.string(frame.position(bad_row))));
    }
    if (!any_missing) present = PodVector<std::uint8_t>();
    return ColumnValues::of_i64(std::move(out), std::move(present));
}

Result<void> add_date_part(Frame& frame, std::string_view name, std::string_view source,
                           std::string_view part) {
    Result<DatePart> chosen = parse_date_part(part);
    if (!chosen) return std::unexpected(std::move(chosen.error()));
    Result<ColumnValues> values = extract_date_part(frame, source, *chosen);
    if (!values) return std::unexpected(std::move(values.error()));
    return add_column(frame, name, std::move(*values));
}

}  // namespace tarnwick
