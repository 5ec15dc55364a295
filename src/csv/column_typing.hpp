// The second pass of the CSV reader: decides each column's kind from its own
// fields and builds its values.
#pragma once

#include <string_view>

#include "csv/tokenizer.hpp"
#include "engine/column_values.hpp"

namespace tarnwick {

// The column whose fields are `spans` (offsets into `text`):
// - i64 when every field is an integer or empty and unquoted (missing);
// - else f64 when every field is a number or missing; an integer field of -0
//   gives negative zero;
// - else str, every field by its exact text, missing where empty and unquoted.
// A quoted field, even "12" or "", always makes the column str. Consumes the
// spans, freeing them early where it can.
ColumnValues type_column(SpanColumn spans, std::string_view text);

}  // namespace tarnwick
