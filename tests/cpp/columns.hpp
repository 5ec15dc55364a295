// Building test columns with missing entries (std::nullopt).
#pragma once

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "engine/column_values.hpp"
#include "engine/error.hpp"
#include "engine/frame.hpp"

namespace tarnwick::test_columns {

inline ColumnValues ints(std::initializer_list<std::optional<std::int64_t>> values) {
    NumberColumnBuilder<std::int64_t> builder;
    for (const auto& v : values)
        v ? builder.append(*v) : builder.append_missing();
    return builder.finish();
}

inline ColumnValues floats(std::initializer_list<std::optional<double>> values) {
    NumberColumnBuilder<double> builder;
    for (const auto& v : values)
        v ? builder.append(*v) : builder.append_missing();
    return builder.finish();
}

// From plain vectors, for generated values; none missing.
inline ColumnValues ints(const std::vector<std::int64_t>& values) {
    NumberColumnBuilder<std::int64_t> builder;
    for (std::int64_t v : values)
        builder.append(v);
    return builder.finish();
}

inline ColumnValues floats(const std::vector<double>& values) {
    NumberColumnBuilder<double> builder;
    for (double v : values)
        builder.append(v);
    return builder.finish();
}

inline ColumnValues strings(std::initializer_list<std::optional<std::string_view>> values) {
    StringColumnBuilder builder;
    for (const auto& v : values)
        v ? builder.append(*v) : builder.append_missing();
    return builder.finish();
}

// The entries of a column in storage order, missing as nullopt.
inline std::vector<std::optional<std::int64_t>> ints_of(const ColumnValues& column) {
    std::vector<std::optional<std::int64_t>> out;
    for (std::size_t i = 0; i < column.size(); ++i) {
        out.push_back(column.is_present(i) ? std::optional(column.ints()[i]) : std::nullopt);
    }
    return out;
}

inline std::vector<std::optional<double>> floats_of(const ColumnValues& column) {
    std::vector<std::optional<double>> out;
    for (std::size_t i = 0; i < column.size(); ++i) {
        out.push_back(column.is_present(i) ? std::optional(column.floats()[i]) : std::nullopt);
    }
    return out;
}

inline std::vector<std::optional<std::string>> strings_of(const ColumnValues& column) {
    std::vector<std::optional<std::string>> out;
    for (std::size_t i = 0; i < column.size(); ++i) {
        out.push_back(column.is_present(i) ? std::optional(std::string(column.string(i)))
                                           : std::nullopt);
    }
    return out;
}

// A frame built column by column: FrameOf().with("a", ints({1})).frame.
struct FrameOf {
    Frame frame;
    FrameOf& with(std::string_view name, ColumnValues values) {
        Result<void> added = add_column(frame, name, std::move(values));
        if (!added) throw std::logic_error("a test column was refused");
        return *this;
    }
};

inline std::string message_of(const Failure& failure) {
    if (const auto* error = std::get_if<FrameError>(&failure)) return error->message;
    return "internal: " + std::get<InternalError>(failure).message;
}

}  // namespace tarnwick::test_columns
