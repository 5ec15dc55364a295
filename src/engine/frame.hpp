// The table: named columns of one length, shown directly or through a row
// selection. Copying a Frame copies its column names and references only; the
// stored values are shared.
#pragma once

#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "engine/column_values.hpp"
#include "engine/column_view.hpp"
#include "engine/error.hpp"
#include "engine/shared.hpp"

namespace tarnwick {

// Storage positions, in row order, through which a frame shows some of its
// stored rows in some order.
using RowSelection = PodVector<std::uint32_t>;

struct Column {
    std::string name;
    Shared<ColumnValues> values;

    DType dtype() const { return values->dtype(); }
};

// Invariants:
// - column names are unique (byte comparison);
// - without a selection every column stores exactly height() entries, and row r
//   is entry r;
// - with a selection it holds height() positions, every column stores the same
//   number of entries, every position is below it, and row r is entry
//   selection[r];
// - a frame without columns keeps its height; the first column added sets it.
class Frame {
  public:
    Frame() = default;
    Frame(std::vector<Column> columns, Shared<RowSelection> selection, std::uint64_t height)
        : columns_(std::move(columns)), selection_(std::move(selection)), height_(height) {}

    const std::vector<Column>& columns() const { return columns_; }
    std::size_t width() const { return columns_.size(); }
    std::uint64_t height() const { return height_; }
    // nullptr when the frame shows its stored rows in storage order.
    const RowSelection* selection() const { return selection_.get(); }
    const Shared<RowSelection>& shared_selection() const { return selection_; }
    // The number of entries each column stores (0 without columns).
    std::size_t physical_length() const {
        return columns_.empty() ? 0 : columns_.front().values->size();
    }
    // Where row `row` is stored.
    std::size_t position(std::size_t row) const { return selection_ ? (*selection_)[row] : row; }

    // The rows the frame shows, for for_each_row.
    Rows rows() const { return {selection_ ? selection_->data() : nullptr, height_}; }

    // Calls f(row, position) for every row in row order.
    template <class F>
    void for_each_position(F&& f) const {
        for_each_row(rows(), nullptr,
                     [&](std::size_t row, std::size_t position, bool) { f(row, position); });
    }

  private:
    friend Result<void> add_column_within(Frame& frame, std::string_view name, ColumnValues values,
                                          std::uint64_t limit);
    friend void materialize(Frame& frame);

    std::vector<Column> columns_;
    Shared<RowSelection> selection_;
    std::uint64_t height_ = 0;
};

// A column stores fewer entries than this: row selections hold 32-bit
// positions, so a longer column would make filters, sorts and groupings wrong.
inline constexpr std::uint64_t row_limit = std::uint64_t{1} << 32;
static_assert(row_limit - 1 == std::numeric_limits<std::uint32_t>::max());

// Appends a column. A frame with a selection is first given plain storage
// (also when the call then fails; that changes no row it shows). Fails when the
// name is taken, the length differs from the height of a frame with columns, or
// the column holds row_limit entries or more. Every way of adding a column ends
// here, so no frame ever stores a column that long.
Result<void> add_column(Frame& frame, std::string_view name, ColumnValues values);

// The first column whose name is byte-equal to `name`.
Result<const Column*> find_column(const Frame& frame, std::string_view name);

// find_column, refusing a column of another kind.
Result<const Column*> find_column_of_kind(const Frame& frame, std::string_view name, DType kind);

// A new, owned copy of a column's entries in row order.
Result<ColumnValues> column_values(const Frame& frame, std::string_view name);

// Gives every column new storage holding the frame's rows in row order and
// drops the selection. Other frames sharing the old storage are not touched.
void materialize(Frame& frame);

// A new frame showing `selection` (storage positions) of `frame`, sharing its
// columns. An identity selection over the whole storage is dropped.
Frame take_rows(const Frame& frame, RowSelection selection);

// The message for a name that no column has.
std::string no_column_message(const Frame& frame, std::string_view name);

// The message with which add_column refuses a name the frame has already.
std::string column_exists_message(std::string_view name);

}  // namespace tarnwick
