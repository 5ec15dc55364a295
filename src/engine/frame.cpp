#include "engine/frame.hpp"

#include "engine/frame_internal.hpp"

#include <format>

#include "base/quoted.hpp"

namespace tarnwick {

std::string no_column_message(const Frame& frame, std::string_view name) {
    std::string message = "no column ";
    append_quoted(message, name);
    message += " (the frame has ";
    if (frame.columns().empty()) {
        message += "none";
    } else {
        bool first = true;
        for (const Column& column : frame.columns()) {
            if (!first) message += ", ";
            first = false;
            append_quoted(message, column.name);
        }
    }
    message += ')';
    return message;
}

std::string column_exists_message(std::string_view name) {
    return std::format("the frame has a column {} already", quoted(name));
}

Result<const Column*> find_column(const Frame& frame, std::string_view name) {
    for (const Column& column : frame.columns()) {
        if (column.name.size() == name.size() && column.name == name) return &column;
    }
    return frame_error(no_column_message(frame, name));
}

Result<const Column*> find_column_of_kind(const Frame& frame, std::string_view name, DType kind) {
    Result<const Column*> column = find_column(frame, name);
    if (column && (*column)->dtype() != kind) {
        return frame_error(std::format("column {} is {}, not {}", quoted(name),
                                       dtype_name((*column)->dtype()), dtype_name(kind)));
    }
    return column;
}

Result<void> add_column(Frame& frame, std::string_view name, ColumnValues values) {
    return add_column_within(frame, name, std::move(values), row_limit);
}

Result<void> add_column_within(Frame& frame, std::string_view name, ColumnValues values,
                               std::uint64_t limit) {
    if (frame.selection_) materialize(frame);
    for (const Column& column : frame.columns_) {
        if (column.name == name) {
            return frame_error(column_exists_message(name));
        }
    }
    if (!frame.columns_.empty() && values.size() != frame.height_) {
        return frame_error(std::format("column {} has {} values; the frame has {} rows",
                                       quoted(name), values.size(), frame.height_));
    }
    if (values.size() >= limit) {
        return frame_error(std::format("column {} has {} values; a frame holds at most {} rows",
                                       quoted(name), values.size(), limit - 1));
    }
    // Everything that can run out of memory happens before the frame changes.
    std::vector<Column>& columns = frame.columns_;
    if (columns.size() == columns.capacity())
        columns.reserve(columns.size() < 4 ? 4 : 2 * columns.size());
    Column column{std::string(name), Shared<ColumnValues>::make(std::move(values))};
    if (frame.columns_.empty()) frame.height_ = column.values->size();
    frame.columns_.push_back(std::move(column));
    return {};
}

Result<ColumnValues> column_values(const Frame& frame, std::string_view name) {
    TARNWICK_ASSIGN_OR_RETURN(const Column* column, find_column(frame, name));
    const ColumnValues& stored = *column->values;
    if (const RowSelection* selection = frame.selection()) return stored.gather(selection->span());
    return stored.clone();
}

void materialize(Frame& frame) {
    if (!frame.selection_) return;
    std::span<const std::uint32_t> positions = frame.selection_->span();
    // Build all new columns first, so that running out of memory midway leaves
    // the frame as it was.
    std::vector<Column> columns;
    columns.reserve(frame.columns_.size());
    for (const Column& column : frame.columns_) {
        columns.push_back(
            {column.name, Shared<ColumnValues>::make(column.values->gather(positions))});
    }
    frame.columns_ = std::move(columns);
    frame.selection_.reset();
}

Frame take_rows(const Frame& frame, RowSelection selection) {
    std::size_t rows = selection.size();
    bool identity = rows == frame.physical_length();
    for (std::size_t i = 0; identity && i < rows; ++i)
        identity = selection[i] == i;
    Shared<RowSelection> shared;
    if (!identity) shared = Shared<RowSelection>::make(std::move(selection));
    return Frame(frame.columns(), std::move(shared), rows);
}

}  // namespace tarnwick
