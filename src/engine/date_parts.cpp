#include "engine/date_parts.hpp"

#include "engine/date_parts_internal.hpp"

#include <bit>
#include <cstring>
#include <string>

#include "base/quoted.hpp"

namespace tarnwick {

namespace {

constexpr bool is_leap(std::int32_t year) {
    return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
}

constexpr std::int32_t month_days[13] = {0, 31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

// Bytewise tests on eight bytes at once: every byte under `lanes` is an ASCII
// digit. A byte passes when its high nibble is 3 and adding 6 does not carry
// into the high nibble; where the first test holds no byte exceeds 0x3f, so no
// addition carries into the next byte.
constexpr bool all_digits(std::uint64_t word, std::uint64_t lanes) {
    constexpr std::uint64_t high = 0xf0f0f0f0f0f0f0f0ULL;
    constexpr std::uint64_t threes = 0x3030303030303030ULL;
    constexpr std::uint64_t sixes = 0x0606060606060606ULL;
    return (word & high & lanes) == (threes & lanes) &&
           ((word + sixes) & high & lanes) == (threes & lanes);
}

// A valid date's numbers from its ten bytes, validated in place.
inline bool read_date(const char* p, Date& date) {
    std::uint64_t head;  // "YYYY-MM-", byte 0 lowest
    std::memcpy(&head, p, 8);
    std::uint16_t tail;  // "DD"
    std::memcpy(&tail, p + 8, 2);
    if constexpr (std::endian::native == std::endian::big) {
        head = std::byteswap(head);
        tail = std::byteswap(tail);
    }
    constexpr std::uint64_t hyphen_lanes = 0xff0000ff00000000ULL;  // bytes 4 and 7
    constexpr std::uint64_t hyphens = 0x2d00002d00000000ULL;
    constexpr std::uint64_t digit_lanes = ~hyphen_lanes;
    bool shape = ((head & hyphen_lanes) == hyphens) && all_digits(head, digit_lanes) &&
                 all_digits(tail, 0xffff);
    if (!shape) return false;
    auto d = [&](int byte) { return static_cast<std::int32_t>((head >> (8 * byte)) & 0x0f); };
    std::int32_t year = d(0) * 1000 + d(1) * 100 + d(2) * 10 + d(3);
    std::int32_t month = d(5) * 10 + d(6);
    std::int32_t day =
        static_cast<std::int32_t>(tail & 0x0f) * 10 + static_cast<std::int32_t>((tail >> 8) & 0x0f);
    if (year == 0 || month < 1 || month > 12 || day < 1) return false;
    if (day > month_days[month] && !(month == 2 && day == 29 && is_leap(year))) return false;
    date = Date{year, month, day};
    return true;
}

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
    Date date;
    if (text.size() != 10 || !read_date(text.data(), date)) return std::nullopt;
    return date;
}

Result<ColumnValues> extract_date_part(const Frame& frame, std::string_view source, DatePart part) {
    TARNWICK_ASSIGN_OR_RETURN(const Column* column, find_column_of_kind(frame, source, DType::str));
    TextView view = view_as<TextView>(*column->values);
    std::size_t rows = frame.height();
    PodVector<std::int64_t> out(rows);
    std::int64_t* o = out.data();
    PresenceBuilder presence;
    std::size_t bad_row = for_each_row(
        frame.rows(), view.present, [&](std::size_t row, std::size_t position, bool here) {
            o[row] = 0;
            if (!here) {
                presence.mark_missing(row);
                return true;
            }
            Date date;
            if (view.length(position) != 10 ||
                !read_date(view.bytes + view.offsets[position], date))
                return false;
            o[row] = part == DatePart::year    ? date.year
                     : part == DatePart::month ? date.month
                                               : date.day;
            return true;
        });
    if (bad_row != rows) {
        return frame_error(bad_date_message(source, bad_row, view[frame.position(bad_row)]));
    }
    return ColumnValues::of_i64(std::move(out), presence.finish(rows));
}

Result<void> add_date_part(Frame& frame, std::string_view name, std::string_view source,
                           std::string_view part) {
    TARNWICK_ASSIGN_OR_RETURN(DatePart chosen, parse_date_part(part));
    TARNWICK_ASSIGN_OR_RETURN(ColumnValues values, extract_date_part(frame, source, chosen));
    return add_column(frame, name, std::move(values));
}

}  // namespace tarnwick
