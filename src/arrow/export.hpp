// A frame handed over through the Arrow C stream interface: one struct batch
// whose children are the columns. Everything is built on the owner's thread
// when the export is made; the consumer may keep and release it on any thread
// (the counts of Shared and shared_ptr are atomic).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "arrow/c_abi.hpp"
#include "engine/frame.hpp"

namespace tarnwick::arrow {

// One column's Arrow buffers. A frame without a selection shares its value
// arrays and string bytes (held through `shared`) and gets a validity bitmap
// built where entries are missing, and 32-bit offsets for a str column whose
// bytes they can address; a selection is gathered straight into Arrow layout.
// Immutable once handed out; released on whatever thread drops the last
// reference.
struct ColumnBuffers {
    const char* format = "l";  // "l", "g", "u" or "U" (large_utf8: 64-bit offsets)
    std::int64_t n_buffers = 2;
    std::int64_t length = 0;
    std::int64_t null_count = 0;
    Shared<ColumnValues> shared;
    PodVector<std::uint8_t> validity;
    PodVector<std::int32_t> offsets32;
    PodVector<std::int64_t> offsets64;
    PodVector<std::int64_t> ints;
    PodVector<double> floats;
    PodVector<char> bytes;
    const void* buffers[3] = {nullptr, nullptr, nullptr};

    bool is_large() const { return format[0] == 'U'; }
    // Switches a utf8 column to large_utf8.
    void widen();
};

struct ExportedColumn {
    std::string name;
    std::shared_ptr<ColumnBuffers> buffers;
};

// What an export hands out, independent of the frame it came from.
struct ExportedTable {
    std::vector<ExportedColumn> columns;
    std::uint64_t height = 0;
};

// Takes the frame's rows as it shows them, building every column's buffers. Fails for a name
// holding a NUL character, which an Arrow name cannot carry.
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
