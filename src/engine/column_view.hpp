// One way to visit a column: visit() hands a kernel a typed view of the
// column's storage (integers, floats or texts), each with its presence mask,
// and for_each_row() is the one loop over selected rows and masked entries.
// A kernel must take every kind of view, so a new kind that some kernel does
// not handle is a compile error there, never a silent fall-through.
#pragma once

#include <concepts>
#include <cstdint>
#include <string_view>
#include <type_traits>
#include <utility>
#include <variant>

#include "engine/column_values.hpp"

namespace tarnwick {

// The entries of a numeric column: values[p] is the entry stored at position
// p (0 when it is missing).
template <class T>
struct NumberView {
    using Value = T;
    const T* values;
    const std::uint8_t* present;  // one byte per entry, 1 where present; nullptr: none missing

    T operator[](std::size_t position) const { return values[position]; }
};

// The entries of a str column: entry p is bytes[offsets[p], offsets[p + 1])
// (an empty stretch when it is missing).
struct TextView {
    const std::uint64_t* offsets;
    const char* bytes;
    const std::uint8_t* present;

    std::size_t length(std::size_t position) const {
        return offsets[position + 1] - offsets[position];
    }
    std::string_view operator[](std::size_t position) const {
        return {bytes + offsets[position], length(position)};
    }
};

using IntView = NumberView<std::int64_t>;
using FloatView = NumberView<double>;

template <class View>
inline constexpr bool is_number_view = !std::is_same_v<View, TextView>;

// A callable with an overload for every kind of view.
template <class Kernel>
concept ColumnKernel = std::invocable<Kernel, IntView> && std::invocable<Kernel, FloatView> &&
                       std::invocable<Kernel, TextView>;

// Calls kernel(view) with the typed view of `column`; every overload returns
// the same type.
template <class Kernel>
decltype(auto) visit(const ColumnValues& column, Kernel&& kernel) {
    static_assert(ColumnKernel<Kernel&>, "a column kernel must take every kind of view");
    const std::uint8_t* present = column.presence();
    switch (column.dtype()) {
        case DType::i64: return kernel(IntView{column.ints().data(), present});
        case DType::f64: return kernel(FloatView{column.floats().data(), present});
        case DType::str: return kernel(TextView{column.offsets().data(), column.bytes(), present});
    }
    std::unreachable();
}

// The view of `column` as View, whose kind the column must have: for code
// that has dispatched on the kind already (or had find_column_of_kind check it).
template <class View>
View view_as(const ColumnValues& column) {
    if constexpr (std::is_same_v<View, IntView>) {
        return {column.ints().data(), column.presence()};
    } else if constexpr (std::is_same_v<View, FloatView>) {
        return {column.floats().data(), column.presence()};
    } else {
        static_assert(std::is_same_v<View, TextView>, "no column kind has this view");
        return {column.offsets().data(), column.bytes(), column.presence()};
    }
}

// A view of any kind, for code that keeps views of several columns and
// visits one entry at a time (std::visit checks that every kind is handled).
using AnyView = std::variant<IntView, FloatView, TextView>;

inline AnyView any_view(const ColumnValues& column) {
    return visit(column, [](auto view) { return AnyView(view); });
}

// Calls kernel(std::type_identity<View>{}) for the view type of `kind`: for
// code that builds a column of a kind rather than reading one.
template <class Kernel>
decltype(auto) visit_kind(DType kind, Kernel&& kernel) {
    static_assert(std::invocable<Kernel&, std::type_identity<IntView>> &&
                      std::invocable<Kernel&, std::type_identity<FloatView>> &&
                      std::invocable<Kernel&, std::type_identity<TextView>>,
                  "a kind kernel must take every kind");
    switch (kind) {
        case DType::i64: return kernel(std::type_identity<IntView>{});
        case DType::f64: return kernel(std::type_identity<FloatView>{});
        case DType::str: return kernel(std::type_identity<TextView>{});
    }
    std::unreachable();
}

// Overloads from lambdas: visit(column, Overloaded{[](IntView) {...}, ...}).
template <class... F>
struct Overloaded : F... {
    using F::operator()...;
};

// The rows a frame shows, as storage positions: row r is stored at
// selection[r], or at r when there is no selection.
struct Rows {
    const std::uint32_t* selection;
    std::size_t count;
};

// Calls body(row, position, present) for the rows begin to end - 1 in row
// order, `present` telling whether the entry at `position` is (always true
// without a mask). A body that returns bool stops the loop by returning false;
// the result is the row it stopped at, or `end`. The selection and the mask
// are tested once, outside the loop, which is one of four.
template <class Body>
std::size_t for_each_row(Rows rows, const std::uint8_t* mask, std::size_t begin, std::size_t end,
                         Body&& body) {
    auto loop = [&]<bool selected, bool masked>() -> std::size_t {
        for (std::size_t r = begin; r < end; ++r) {
            std::size_t p = selected ? std::size_t{rows.selection[r]} : r;
            bool present = !masked || mask[p] != 0;
            if constexpr (std::is_void_v<decltype(body(r, p, present))>) {
                body(r, p, present);
            } else if (!body(r, p, present)) {
                return r;
            }
        }
        return end;
    };
    if (rows.selection != nullptr) {
        return mask != nullptr ? loop.template operator()<true, true>()
                               : loop.template operator()<true, false>();
    }
    return mask != nullptr ? loop.template operator()<false, true>()
                           : loop.template operator()<false, false>();
}

template <class Body>
std::size_t for_each_row(Rows rows, const std::uint8_t* mask, Body&& body) {
    return for_each_row(rows, mask, 0, rows.count, std::forward<Body>(body));
}

}  // namespace tarnwick
