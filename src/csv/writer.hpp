// Writing a frame as CSV text that read_csv reads back to the same columns.
#pragma once

#include "engine/frame.hpp"
#include "engine/pod_vector.hpp"

namespace tarnwick {

// The frame as CSV text: a header line of the names, then one line per row in
// the order the frame shows them, every line ending with LF. A missing entry
// is an empty cell, numbers are written by format_i64 and format_f64, and a
// string that reads as a number is quoted, so the reader keeps it a string.
// With the text comes whether it is all ASCII (then a str can be made from it
// without decoding).
struct CsvText {
    PodVector<char> bytes;
    bool ascii;
};
CsvText write_csv(const Frame& frame);

}  // namespace tarnwick
