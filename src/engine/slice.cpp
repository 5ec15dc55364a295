#include "engine/slice.hpp"

#include "engine/slice_internal.hpp"

#include <cstring>

namespace tarnwick {

namespace {

// Rows first to first + count - 1 of the frame.
Frame rows_from(const Frame& frame, std::uint64_t first, std::uint64_t count) {
    if (count == frame.height()) return frame;
    RowSelection positions(count);
    if (const RowSelection* selection = frame.selection()) {
        if (count != 0)
            std::memcpy(positions.data(), selection->data() + first, count * sizeof(std::uint32_t));
    } else {
        std::uint32_t* out = positions.data();
        for (std::uint64_t i = 0; i < count; ++i)
            out[i] = static_cast<std::uint32_t>(first + i);
    }
    return take_rows(frame, std::move(positions));
}

}  // namespace

std::uint64_t slice_count(std::uint64_t height, std::int64_t n) {
    if (n >= 0) {
        auto wanted = static_cast<std::uint64_t>(n);
        return wanted < height ? wanted : height;
    }
    // |n| as unsigned, without overflowing for the smallest int64.
    std::uint64_t dropped = ~static_cast<std::uint64_t>(n) + 1;
    return dropped >= height ? 0 : height - dropped;
}

Frame head(const Frame& frame, std::int64_t n) {
    return rows_from(frame, 0, slice_count(frame.height(), n));
}

Frame tail(const Frame& frame, std::int64_t n) {
    std::uint64_t count = slice_count(frame.height(), n);
    return rows_from(frame, frame.height() - count, count);
}

}  // namespace tarnwick
