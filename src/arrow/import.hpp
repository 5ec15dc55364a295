// Arrow arrays received from a producer, copied into a column of one of our
// kinds. Nothing received is kept: every buffer is read and copied here, so
// the caller may release the arrays right after.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "arrow/c_abi.hpp"
#include "base/number_types.hpp"
#include "engine/column_values.hpp"
#include "engine/error.hpp"

namespace tarnwick::arrow {

enum class ImportFault {
    type,      // an Arrow type that does not fit the column's kind
    overflow,  // a value beyond the column's range
    value,     // malformed input: bad offsets, indices or UTF-8
};

struct ImportFailure {
    ImportFault fault;
    std::string message;
};

template <class T>
using ImportResult = Result<T, ImportFailure>;

// Builds one column from the arrays of one Arrow type, chunk after chunk.
class ColumnImport {
  public:
    // Checks that `schema` describes a type the kind accepts: ints and uints
    // for i64; floats and integers for f64; utf8, large_utf8 and string_view,
    // plain or dictionary-encoded, for str.
    static ImportResult<void> check_type(const ArrowSchema& schema, DType kind);

    // `schema` must have passed check_type for `kind`.
    ColumnImport(const ArrowSchema& schema, DType kind);

    // Appends the entries of one array of the checked type; row numbers in
    // messages count from the first entry of the first array.
    ImportResult<void> append(const ArrowArray& array);

    ColumnValues finish();

  private:
    template <class T>
    ImportResult<void> append_numbers(const ArrowArray& array, PodVector<T>& out);
    ImportResult<void> append_strings(const ArrowArray& array);
    ImportResult<void> append_dictionary(const ArrowArray& array);
    // Marks the missing entries of a chunk of `count` entries; `valid` is the
    // chunk's validity bitmap (with its bit offset), or null.
    void note_presence(const std::uint8_t* valid, std::int64_t bit_offset, std::size_t count);

    const ArrowSchema& schema_;
    DType kind_;
    std::optional<NumberType> numbers_;  // the type of a number column's arrays
    std::uint64_t rows_ = 0;             // entries taken so far
    PodVector<std::int64_t> ints_;
    PodVector<double> floats_;
    PodVector<std::uint64_t> offsets_;
    PodVector<char> bytes_;
    PresenceBuilder presence_;
};

// A readable name of an Arrow type, for messages: "int32", "timestamp[us]",
// else the format string.
std::string type_name(const ArrowSchema& schema);

}  // namespace tarnwick::arrow
