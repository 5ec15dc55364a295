// What the reader's tests reach that callers do not: the block size.
#pragma once

#include <cstddef>
#include <string_view>

#include "csv/reader.hpp"

namespace tarnwick {

// The same, typing `block_rows` records at a time (at least 1). Every block
// size gives the same frame or failure; tests read with small ones to put
// block boundaries everywhere.
Result<Frame> read_csv(std::string_view bytes, std::size_t block_rows);

}  // namespace tarnwick
