#include "engine/column_values.hpp"

#include "engine/column_view.hpp"

namespace tarnwick {

std::string_view dtype_name(DType dtype) {
    switch (dtype) {
        case DType::f64: return "f64";
        case DType::i64: return "i64";
        case DType::str: return "str";
    }
    return "?";
}

ColumnValues ColumnValues::of_i64(PodVector<std::int64_t> values, PodVector<std::uint8_t> present) {
    ColumnValues column;
    column.dtype_ = DType::i64;
    column.size_ = values.size();
    column.ints_ = std::move(values);
    column.present_ = std::move(present);
    return column;
}

ColumnValues ColumnValues::of_f64(PodVector<double> values, PodVector<std::uint8_t> present) {
    ColumnValues column;
    column.dtype_ = DType::f64;
    column.size_ = values.size();
    column.floats_ = std::move(values);
    column.present_ = std::move(present);
    return column;
}

ColumnValues ColumnValues::of_str(PodVector<std::uint64_t> offsets, PodVector<char> bytes,
                                  PodVector<std::uint8_t> present) {
    ColumnValues column;
    column.dtype_ = DType::str;
    if (offsets.empty()) offsets.push_back(0);
    column.size_ = offsets.size() - 1;
    column.offsets_ = std::move(offsets);
    column.bytes_ = std::move(bytes);
    column.present_ = std::move(present);
    return column;
}

ColumnValues ColumnValues::gather(std::span<const std::uint32_t> positions) const {
    PodVector<std::uint8_t> present;
    if (has_missing()) present = gather_values(present_.data(), positions);
    return visit(
        *this, Overloaded{
                   [&]<class T>(NumberView<T> view) {
                       return of_numbers(gather_values(view.values, positions), std::move(present));
                   },
                   [&](TextView view) {
                       std::size_t total = 0;
                       for (std::uint32_t p : positions)
                           total += view.length(p);
                       PodVector<std::uint64_t> offsets(positions.size() + 1);
                       PodVector<char> bytes;
                       bytes.reserve(total);
                       offsets[0] = 0;
                       for (std::size_t i = 0; i < positions.size(); ++i) {
                           std::string_view text = view[positions[i]];
                           bytes.append(text.data(), text.size());
                           offsets[i + 1] = bytes.size();
                       }
                       return of_str(std::move(offsets), std::move(bytes), std::move(present));
                   },
               });
}

ColumnValues ColumnValues::clone() const {
    ColumnValues copy;
    copy.dtype_ = dtype_;
    copy.size_ = size_;
    copy.present_ = present_.clone();
    copy.ints_ = ints_.clone();
    copy.floats_ = floats_.clone();
    copy.offsets_ = offsets_.clone();
    copy.bytes_ = bytes_.clone();
    return copy;
}

}  // namespace tarnwick
