// What the frame's tests reach that callers do not.
#pragma once

#include <cstdint>
#include <string_view>

#include "engine/frame.hpp"

namespace tarnwick {

// add_column with a smaller bound in place of row_limit, so that tests reach
// the refusal without a column of 2^32 entries.
Result<void> add_column_within(Frame& frame, std::string_view name, ColumnValues values,
                               std::uint64_t limit);

}  // namespace tarnwick
