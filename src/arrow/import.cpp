#include "arrow/import.hpp"

#include <cmath>
#include <cstring>
#include <format>
#include <limits>
#include <string_view>
#include <vector>

#include "base/utf8.hpp"
#include "engine/column_view.hpp"

namespace tarnwick::arrow {

namespace {

std::string_view format_of(const ArrowSchema& schema) {
    return schema.format == nullptr ? std::string_view() : std::string_view(schema.format);
}

const char* plain_type_name(std::string_view format) {
    static constexpr std::pair<std::string_view, const char*> names[] = {
        {"n", "null"},         {"b", "bool"},       {"c", "int8"},         {"C", "uint8"},
        {"s", "int16"},        {"S", "uint16"},     {"i", "int32"},        {"I", "uint32"},
        {"l", "int64"},        {"L", "uint64"},     {"e", "float16"},      {"f", "float32"},
        {"g", "float64"},      {"z", "binary"},     {"Z", "large_binary"}, {"vz", "binary_view"},
        {"u", "utf8"},         {"U", "large_utf8"}, {"vu", "string_view"}, {"tdD", "date32[day]"},
        {"tdm", "date64[ms]"}, {"+l", "list"},      {"+L", "large_list"},  {"+s", "struct"},
        {"+m", "map"},
    };
    for (const auto& [code, name] : names)
        if (code == format) return name;
    return nullptr;
}

bool is_string_format(std::string_view f) {
    return f == "u" || f == "U" || f == "vu";
}

std::unexpected<ImportFailure> malformed(std::string message) {
    return std::unexpected(ImportFailure{ImportFault::value, std::move(message)});
}

bool bit(const void* bitmap, std::int64_t index) {
    auto* bytes = static_cast<const std::uint8_t*>(bitmap);
    return ((bytes[index >> 3] >> (index & 7)) & 1) != 0;
}

// The array's validity bitmap when it may have missing entries, else null.
const std::uint8_t* validity_of(const ArrowArray& array) {
    if (array.null_count == 0 || array.n_buffers < 1 || array.buffers == nullptr) return nullptr;
    return static_cast<const std::uint8_t*>(array.buffers[0]);
}

ImportResult<void> check_shape(const ArrowArray& array, std::int64_t buffers) {
    if (array.length < 0 || array.offset < 0)
        return malformed("an Arrow array has a negative length or offset");
    if (array.n_buffers < buffers || (array.n_buffers > 0 && array.buffers == nullptr))
        return malformed(std::format("an Arrow array has {} buffers; its type needs {}",
                                     array.n_buffers, buffers));
    if (array.length > 0) {
        for (std::int64_t b = 1; b < buffers; ++b)
            if (array.buffers[b] == nullptr) return malformed("an Arrow array lacks a data buffer");
    }
    return {};
}

// Entry i of a utf8, large_utf8 or string_view array as a byte range, after
// its bounds were checked (offsets rising, views inside their buffers).
class StringSource {
  public:
    ImportResult<void> open(const ArrowArray& array, std::string_view format,
                            std::uint64_t first_row) {
        array_ = &array;
        format_ = format;
        TARNWICK_RETURN_IF_FAILED(check_shape(array, 3));
        if (format == "vu") {
            std::int64_t data_buffers = array.n_buffers - 3;
            const auto* sizes =
                static_cast<const std::int64_t*>(array.buffers[array.n_buffers - 1]);
            const auto* views = static_cast<const std::uint8_t*>(array.buffers[1]);
            const std::uint8_t* valid = validity_of(array);
            for (std::int64_t i = 0; i < array.length; ++i) {
                // The view of a null slot is never read, so it need not hold.
                if (valid != nullptr && !bit(valid, array.offset + i)) continue;
                const std::uint8_t* view = views + (array.offset + i) * 16;
                std::int32_t size;
                std::memcpy(&size, view, 4);
                if (size < 0) return bad_view(first_row + static_cast<std::uint64_t>(i));
                if (size <= 12) continue;
                std::int32_t buffer, offset;
                std::memcpy(&buffer, view + 8, 4);
                std::memcpy(&offset, view + 12, 4);
                if (buffer < 0 || buffer >= data_buffers || offset < 0 || sizes == nullptr ||
                    array.buffers[2 + buffer] == nullptr ||
                    static_cast<std::int64_t>(offset) + size > sizes[buffer]) {
                    return bad_view(first_row + static_cast<std::uint64_t>(i));
                }
            }
            return {};
        }
        if (array.length == 0) return {};
        return format == "u" ? check_offsets<std::int32_t>(first_row)
                             : check_offsets<std::int64_t>(first_row);
    }

    std::string_view get(std::int64_t i) const {
        std::int64_t at = array_->offset + i;
        if (format_ == "vu") {
            const std::uint8_t* view =
                static_cast<const std::uint8_t*>(array_->buffers[1]) + at * 16;
            std::int32_t size;
            std::memcpy(&size, view, 4);
            if (size <= 12) return {reinterpret_cast<const char*>(view + 4), std::size_t(size)};
            std::int32_t buffer, offset;
            std::memcpy(&buffer, view + 8, 4);
            std::memcpy(&offset, view + 12, 4);
            return {static_cast<const char*>(array_->buffers[2 + buffer]) + offset,
                    std::size_t(size)};
        }
        const char* data = static_cast<const char*>(array_->buffers[2]);
        if (format_ == "u") {
            const auto* offsets = static_cast<const std::int32_t*>(array_->buffers[1]) + at;
            return {data + offsets[0], std::size_t(offsets[1] - offsets[0])};
        }
        const auto* offsets = static_cast<const std::int64_t*>(array_->buffers[1]) + at;
        return {data + offsets[0], std::size_t(offsets[1] - offsets[0])};
    }

  private:
    template <class O>
    ImportResult<void> check_offsets(std::uint64_t first_row) const {
        const O* offsets = static_cast<const O*>(array_->buffers[1]) + array_->offset;
        if (offsets[0] < 0) return malformed("an Arrow string array has a negative offset");
        for (std::int64_t i = 0; i < array_->length; ++i) {
            if (offsets[i + 1] < offsets[i]) {
                return malformed(std::format("row {}: the string offsets go backwards",
                                             first_row + static_cast<std::uint64_t>(i)));
            }
        }
        return {};
    }

    static std::unexpected<ImportFailure> bad_view(std::uint64_t row) {
        return malformed(std::format("row {}: the string view points outside its buffers", row));
    }

    const ArrowArray* array_ = nullptr;
    std::string_view format_;
};

std::unexpected<ImportFailure> not_utf8(std::uint64_t row) {
    return malformed(std::format("row {}: the text is not valid UTF-8", row));
}

// The dictionary indices of `array` as int64 (a uint64 beyond the int64 range
// as -1, which no dictionary has).
std::vector<std::int64_t> read_indices(const ArrowArray& array, NumberType type) {
    std::vector<std::int64_t> out(static_cast<std::size_t>(array.length));
    visit_number_type(type, [&]<class I>(std::type_identity<I>) {
        if constexpr (is_integer_type<I>) {
            const I* indices = static_cast<const I*>(array.buffers[1]) + array.offset;
            for (std::int64_t i = 0; i < array.length; ++i) {
                std::int64_t& index = out[std::size_t(i)];
                if constexpr (std::is_same_v<I, std::uint64_t>) {
                    index = indices[i] > std::uint64_t(std::numeric_limits<std::int64_t>::max())
                                ? -1
                                : std::int64_t(indices[i]);
                } else {
                    index = static_cast<std::int64_t>(indices[i]);
                }
            }
        }
    });
    return out;
}

// The number type of an Arrow format of a number: "c" int8 to "L" uint64,
// "e", "f", "g" for the floats; nothing for any other format.
std::optional<NumberType> arrow_number_type(std::string_view format) {
    if (format.size() != 1) return std::nullopt;
    switch (format[0]) {
        case 'c': return NumberType::i8;
        case 's': return NumberType::i16;
        case 'i': return NumberType::i32;
        case 'l': return NumberType::i64;
        case 'C': return NumberType::u8;
        case 'S': return NumberType::u16;
        case 'I': return NumberType::u32;
        case 'L': return NumberType::u64;
        case 'e': return NumberType::f16;
        case 'f': return NumberType::f32;
        case 'g': return NumberType::f64;
        default: return std::nullopt;
    }
}

// Whether arrays of `type` can become a column of the kind of View.
bool fits(std::type_identity<IntView>, NumberType type) {
    return is_integer(type);
}
bool fits(std::type_identity<FloatView>, NumberType) {
    return true;
}

}  // namespace

std::string type_name(const ArrowSchema& schema) {
    std::string_view format = format_of(schema);
    if (schema.dictionary != nullptr) {
        return std::format("dictionary<values={}, indices={}>", type_name(*schema.dictionary),
                           type_name(ArrowSchema{schema.format, nullptr, nullptr, 0, 0, nullptr,
                                                 nullptr, nullptr, nullptr}));
    }
    if (const char* name = plain_type_name(format)) return name;
    if (format.size() >= 4 && format.substr(0, 2) == "ts" && format[3] == ':') {
        std::string_view unit = format[2] == 's'   ? "s"
                                : format[2] == 'm' ? "ms"
                                : format[2] == 'u' ? "us"
                                                   : "ns";
        return std::format("timestamp[{}]", unit);
    }
    return std::format("of format \"{}\"", format);
}

ImportResult<void> ColumnImport::check_type(const ArrowSchema& schema, DType kind) {
    std::string_view format = format_of(schema);
    std::optional<NumberType> numbers = arrow_number_type(format);
    bool accepted = false;
    const char* article = "an";
    // A dictionary of texts, indexed by integers, is a str column's alone.
    const ArrowSchema* dictionary = schema.dictionary;
    visit_kind(kind, Overloaded{
                         [&](std::type_identity<TextView>) {
                             article = "a";
                             accepted = dictionary == nullptr
                                            ? is_string_format(format)
                                            : numbers && is_integer(*numbers) &&
                                                  dictionary->dictionary == nullptr &&
                                                  is_string_format(format_of(*dictionary));
                         },
                         [&](auto number_kind) {
                             accepted =
                                 dictionary == nullptr && numbers && fits(number_kind, *numbers);
                         },
                     });
    if (accepted) return {};
    return std::unexpected(ImportFailure{
        ImportFault::type, std::format("Arrow type {} cannot become {} {} column",
                                       type_name(schema), article, dtype_name(kind))});
}

ColumnImport::ColumnImport(const ArrowSchema& schema, DType kind)
    : schema_(schema), kind_(kind), numbers_(arrow_number_type(format_of(schema))) {
    offsets_.push_back(0);
}

void ColumnImport::note_presence(const std::uint8_t* valid, std::int64_t bit_offset,
                                 std::size_t count) {
    if (valid == nullptr) return;
    for (std::size_t i = 0; i < count; ++i) {
        if (!bit(valid, bit_offset + std::int64_t(i))) presence_.mark_missing(rows_ + i);
    }
}

template <class T>
ImportResult<void> ColumnImport::append_numbers(const ArrowArray& array, PodVector<T>& out) {
    TARNWICK_RETURN_IF_FAILED(check_shape(array, 2));
    auto count = static_cast<std::size_t>(array.length);
    if (count == 0) return {};
    const std::uint8_t* valid = validity_of(array);
    auto present = [&](std::size_t i) {
        return valid == nullptr || bit(valid, array.offset + std::int64_t(i));
    };
    return visit_number_type(*numbers_, [&]<class S>(std::type_identity<S>) -> ImportResult<void> {
        if constexpr (std::is_same_v<T, std::int64_t> && !is_integer_type<S>) {
            return malformed(
                "a float array cannot become an integer column");  // check_type refuses it
        } else {
            const S* source = static_cast<const S*>(array.buffers[1]) + array.offset;
            if constexpr (std::is_same_v<S, std::uint64_t> && std::is_same_v<T, std::int64_t>) {
                for (std::size_t i = 0; i < count; ++i) {
                    if (source[i] > std::uint64_t(std::numeric_limits<std::int64_t>::max()) &&
                        present(i)) {
                        return std::unexpected(
                            ImportFailure{ImportFault::overflow,
                                          std::format("row {}: the uint64 {} does not fit i64",
                                                      rows_ + i, source[i])});
                    }
                }
            }
            std::size_t start = out.size();
            out.resize_for_overwrite(start + count);
            T* target = out.data() + start;
            convert_numbers(source, count, target);
            if (valid != nullptr) {
                // A missing entry stores 0, whatever the producer left in its slot.
                for (std::size_t i = 0; i < count; ++i)
                    if (!present(i)) target[i] = T{};
            }
            note_presence(valid, array.offset, count);
            return {};
        }
    });
}

ImportResult<void> ColumnImport::append_dictionary(const ArrowArray& array) {
    TARNWICK_RETURN_IF_FAILED(check_shape(array, 2));
    if (array.dictionary == nullptr) return malformed("a dictionary array has no dictionary");
    auto count = static_cast<std::size_t>(array.length);
    const std::uint8_t* valid = validity_of(array);
    const ArrowArray& dictionary = *array.dictionary;
    StringSource words;
    TARNWICK_RETURN_IF_FAILED(words.open(dictionary, format_of(*schema_.dictionary), 0));
    const std::uint8_t* word_valid = validity_of(dictionary);
    std::vector<std::int64_t> indices;
    if (count != 0) indices = read_indices(array, *numbers_);
    // 0 not yet checked, 1 valid UTF-8, 2 not.
    std::vector<std::uint8_t> checked(static_cast<std::size_t>(dictionary.length), 0);
    for (std::size_t i = 0; i < count; ++i) {
        bool here = valid == nullptr || bit(valid, array.offset + std::int64_t(i));
        std::uint64_t row = rows_ + i;
        if (here) {
            std::int64_t index = indices[i];
            if (index < 0 || index >= dictionary.length) {
                return malformed(std::format(
                    "row {}: dictionary index {} is outside the dictionary of {} entries", row,
                    index, dictionary.length));
            }
            here = word_valid == nullptr || bit(word_valid, dictionary.offset + index);
            if (here) {
                std::string_view text = words.get(index);
                std::uint8_t& state = checked[std::size_t(index)];
                if (state == 0) state = is_utf8(text.data(), text.size()) ? 1 : 2;
                if (state == 2) return not_utf8(row);
                bytes_.append(text.data(), text.size());
            }
        }
        offsets_.push_back(bytes_.size());
        if (!here) presence_.mark_missing(row);
    }
    return {};
}

ImportResult<void> ColumnImport::append_strings(const ArrowArray& array) {
    if (schema_.dictionary != nullptr) return append_dictionary(array);
    auto count = static_cast<std::size_t>(array.length);
    const std::uint8_t* valid = validity_of(array);
    std::string_view format = format_of(schema_);
    StringSource source;
    TARNWICK_RETURN_IF_FAILED(source.open(array, format, rows_));
    if (count == 0) return {};
    std::size_t start_bytes = bytes_.size();
    if (valid == nullptr && format != "vu") {
        // One copy of the whole stretch of bytes, offsets moved to ours.
        std::string_view first = source.get(0);
        std::string_view last = source.get(std::int64_t(count) - 1);
        std::size_t total = std::size_t(last.data() + last.size() - first.data());
        bytes_.append(first.data(), total);
        const char* base = first.data();
        std::size_t at = offsets_.size();
        offsets_.resize_for_overwrite(at + count);
        for (std::size_t i = 0; i < count; ++i) {
            std::string_view text = source.get(std::int64_t(i));
            offsets_[at + i] = start_bytes + std::size_t(text.data() - base) + text.size();
        }
    } else {
        for (std::size_t i = 0; i < count; ++i) {
            if (valid == nullptr || bit(valid, array.offset + std::int64_t(i))) {
                std::string_view text = source.get(std::int64_t(i));
                bytes_.append(text.data(), text.size());
            }
            offsets_.push_back(bytes_.size());
        }
    }
    if (!is_ascii(bytes_.data() + start_bytes, bytes_.size() - start_bytes)) {
        std::size_t first_offset = offsets_.size() - count - 1;
        for (std::size_t i = 0; i < count; ++i) {
            std::size_t from = offsets_[first_offset + i], to = offsets_[first_offset + i + 1];
            if (!is_utf8(bytes_.data() + from, to - from)) return not_utf8(rows_ + i);
        }
    }
    note_presence(valid, array.offset, count);
    return {};
}

ImportResult<void> ColumnImport::append(const ArrowArray& array) {
    TARNWICK_RETURN_IF_FAILED(visit_kind(
        kind_, Overloaded{
                   [&](std::type_identity<IntView>) { return append_numbers(array, ints_); },
                   [&](std::type_identity<FloatView>) { return append_numbers(array, floats_); },
                   [&](std::type_identity<TextView>) { return append_strings(array); },
               }));
    rows_ += static_cast<std::uint64_t>(array.length);
    return {};
}

ColumnValues ColumnImport::finish() {
    PodVector<std::uint8_t> present = presence_.finish(static_cast<std::size_t>(rows_));
    return visit_kind(
        kind_, Overloaded{
                   [&](std::type_identity<IntView>) {
                       return ColumnValues::of_numbers(std::move(ints_), std::move(present));
                   },
                   [&](std::type_identity<FloatView>) {
                       return ColumnValues::of_numbers(std::move(floats_), std::move(present));
                   },
                   [&](std::type_identity<TextView>) {
                       return ColumnValues::of_str(std::move(offsets_), std::move(bytes_),
                                                   std::move(present));
                   },
               });
}

}  // namespace tarnwick::arrow
