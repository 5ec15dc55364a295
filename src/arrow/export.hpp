// A frame handed over through the Arrow C stream interface: one struct batch
// whose children are the columns. Numbers and string bytes are shared with the
// frame's storage (the counts of Shared are atomic, so the consumer may
// release on any thread); validity bitmaps and 32-bit offsets are built.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "arrow/c_abi.hpp"
#include "engine/frame.hpp"

namespace tarnwick::arrow {

struct ExportedColumn {
    std::string name;
    Shared<ColumnValues> values;  // plain storage in row order
    bool large = false;           // str with 64-bit offsets (large_utf8)
};

// What an export hands out, independent of the frame it came from.
struct ExportedTable {
    std::vector<ExportedColumn> columns;
    std::uint64_t height = 0;
};

// Takes the frame's rows as it shows them: a selection is gathered into new
// storage here, on the caller's thread. Fails for a name holding a NUL
// character, which an Arrow name cannot carry.
Result<ExportedTable> export_table(const Frame& frame);

// Checks a schema the consumer asks for against the table's own: the same
// column names and types in the same order, where a utf8 column may be asked
// for as large_utf8 (then handed out so). Fails with a message naming the
// first difference.
Result<void> apply_requested_schema(ExportedTable& table, const ArrowSchema& requested);

// Fills `out` with the struct schema of the table. Throws std::bad_alloc.
void export_schema(const ExportedTable& table, ArrowSchema* out);

// Fills `out` with a stream that owns the table and yields it as one batch.
void export_stream(ExportedTable table, ArrowArrayStream* out);

// The Arrow format string of a column: "l", "g", "u" or "U".
const char* column_format(const ExportedColumn& column);

}  // namespace tarnwick::arrow
