// Reading CSV text into a frame.
#pragma once

#include <cstddef>
#include <string_view>

#include "engine/error.hpp"
#include "engine/frame.hpp"

namespace tarnwick {

// A new frame from the UTF-8 bytes of a CSV text: the first non-blank record
// names the columns, every later one is a row, and each column takes the kind
// its fields fit (i64, else f64, else str). Fails with the first of: "the text
// is over 4 GB", a quote failure, "no header line", a record whose field count
// differs from the header's, a repeated header name.
Result<Frame> read_csv(std::string_view bytes);

// The same, typing `block_rows` records at a time (at least 1). Every block
// size gives the same frame or failure; tests read with small ones to put
// block boundaries everywhere.
Result<Frame> read_csv(std::string_view bytes, std::size_t block_rows);

}  // namespace tarnwick
