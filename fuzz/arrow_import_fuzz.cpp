// Fuzzes the Arrow import with C structs built from the fuzz bytes: a number,
// string, string-view or dictionary array whose header (length, offset,
// offsets, views, indices, validity) comes from the input. The interface
// cannot tell the import how large a buffer is, so every buffer is allocated
// exactly as large as the header claims; whatever the import reads beyond
// that, AddressSanitizer reports. An array the import accepts must give, entry
// for entry, what a plain reading of the buffers gives.
#include <bit>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "arrow/import.hpp"
#include "base/number_types.hpp"
#include "base/utf8.hpp"

namespace {

using namespace tarnwick;
using tarnwick::arrow::ColumnImport;

[[noreturn]] void fail(const char* what, std::size_t row) {
    std::fprintf(stderr, "arrow_import_fuzz: %s at row %zu\n", what, row);
    std::abort();
}

// Takes bytes off the front of the input; zeros once it is used up.
class Bytes {
  public:
    Bytes(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    std::uint8_t byte() { return at_ < size_ ? data_[at_++] : 0; }
    template <class T>
    T value() {
        T v{};
        auto* out = reinterpret_cast<std::uint8_t*>(&v);
        for (std::size_t i = 0; i < sizeof(T); ++i)
            out[i] = byte();
        return v;
    }
    std::vector<std::uint8_t> block(std::size_t count) {
        std::vector<std::uint8_t> out(count);
        for (std::uint8_t& b : out)
            b = byte();
        return out;
    }

  private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

// Buffers of exactly their claimed size, on the heap, where ASan sees every
// byte read past their ends (an empty one too: a real allocation of 0 bytes).
struct Buffers {
    std::vector<std::unique_ptr<std::uint8_t[]>> owned;
    std::vector<const void*> pointers;

    void add(const std::vector<std::uint8_t>& bytes) {
        owned.emplace_back(new std::uint8_t[bytes.size()]);
        if (!bytes.empty()) std::memcpy(owned.back().get(), bytes.data(), bytes.size());
        pointers.push_back(owned.back().get());
    }
    void add_null() { pointers.push_back(nullptr); }
};

bool bit(const std::vector<std::uint8_t>& bitmap, std::int64_t i) {
    return ((bitmap[static_cast<std::size_t>(i >> 3)] >> (i & 7)) & 1) != 0;
}

// A utf8 ("u") array: offsets from small steps (a step may go back), data as
// long as the largest offset claims.
void string_buffers(Bytes& in, std::int64_t slots, Buffers& buffers) {
    std::vector<std::int32_t> offsets(static_cast<std::size_t>(slots) + 1);
    std::int32_t at = static_cast<std::int32_t>(in.byte() % 4) - 1;  // now and then negative
    std::int32_t largest = 0;
    for (std::int32_t& offset : offsets) {
        offset = at;
        largest = std::max(largest, at);
        std::uint8_t step = in.byte();
        at += step == 0xFF ? -1 : step % 12;
    }
    std::vector<std::uint8_t> raw(offsets.size() * 4);
    std::memcpy(raw.data(), offsets.data(), raw.size());
    buffers.add(raw);
    buffers.add(in.block(static_cast<std::size_t>(largest)));
}

// A string-view ("vu") array over one or two data buffers.
void view_buffers(Bytes& in, std::int64_t slots, Buffers& buffers) {
    std::size_t data_count = 1 + in.byte() % 2;
    std::vector<std::int64_t> sizes(data_count);
    for (std::int64_t& size : sizes)
        size = in.byte() % 40;
    std::vector<std::uint8_t> views(static_cast<std::size_t>(slots) * 16);
    for (std::size_t v = 0; v < views.size(); v += 16) {
        std::int32_t size = static_cast<std::int32_t>(in.byte() % 30) - 1;
        std::int32_t buffer = static_cast<std::int32_t>(in.byte() % 4) - 1;
        std::int32_t offset = static_cast<std::int32_t>(in.byte() % 40) - 1;
        std::memcpy(&views[v], &size, 4);
        std::vector<std::uint8_t> inline_bytes = in.block(4);
        std::memcpy(&views[v + 4], inline_bytes.data(), 4);
        if (size > 12) {
            std::memcpy(&views[v + 8], &buffer, 4);
            std::memcpy(&views[v + 12], &offset, 4);
        } else {
            std::vector<std::uint8_t> rest = in.block(8);
            std::memcpy(&views[v + 8], rest.data(), 8);
        }
    }
    buffers.add(views);
    for (std::int64_t size : sizes)
        buffers.add(in.block(static_cast<std::size_t>(size)));
    std::vector<std::uint8_t> raw(sizes.size() * 8);
    std::memcpy(raw.data(), sizes.data(), raw.size());
    buffers.add(raw);
}

// The entry of a present row as a plain reading of the buffers gives it.
std::string text_at(const ArrowArray& array, std::string_view format, std::int64_t i) {
    std::int64_t at = array.offset + i;
    if (format == "vu") {
        const auto* view = static_cast<const std::uint8_t*>(array.buffers[1]) + at * 16;
        std::int32_t size, buffer, offset;
        std::memcpy(&size, view, 4);
        if (size <= 12) return {reinterpret_cast<const char*>(view + 4), std::size_t(size)};
        std::memcpy(&buffer, view + 8, 4);
        std::memcpy(&offset, view + 12, 4);
        return {static_cast<const char*>(array.buffers[2 + buffer]) + offset, std::size_t(size)};
    }
    const auto* offsets = static_cast<const std::int32_t*>(array.buffers[1]) + at;
    return {static_cast<const char*>(array.buffers[2]) + offsets[0],
            std::size_t(offsets[1] - offsets[0])};
}

// The entry of a present row of a number array as a plain reading gives it,
// as the bits of the column's value.
std::uint64_t number_at(const ArrowArray& array, NumberType type, DType kind, std::int64_t i) {
    return visit_number_type(type, [&]<class S>(std::type_identity<S>) -> std::uint64_t {
        S source;
        std::memcpy(&source,
                    static_cast<const std::uint8_t*>(array.buffers[1]) +
                        (array.offset + i) * static_cast<std::int64_t>(sizeof(S)),
                    sizeof(S));
        if (kind == DType::f64) return std::bit_cast<std::uint64_t>(number_as<double>(source));
        if constexpr (std::is_integral_v<S>) return static_cast<std::uint64_t>(source);
        fail("a float array taken as integers", std::size_t(i));
    });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Bytes in(data, size);
    static const char* const number_formats[] = {"c", "s", "i", "l", "C", "S",
                                                 "I", "L", "e", "f", "g"};
    static const NumberType number_types[] = {NumberType::i8,  NumberType::i16, NumberType::i32,
                                              NumberType::i64, NumberType::u8,  NumberType::u16,
                                              NumberType::u32, NumberType::u64, NumberType::f16,
                                              NumberType::f32, NumberType::f64};
    static const std::size_t widths[] = {1, 2, 4, 8, 1, 2, 4, 8, 2, 4, 8};
    std::uint8_t layout = in.byte() % 14;  // 0-10 numbers, 11 utf8, 12 views, 13 dictionary
    DType kind = layout < 11 ? (in.byte() % 2 == 0 ? DType::i64 : DType::f64) : DType::str;
    std::int64_t length = in.byte() % 40;
    std::int64_t offset = in.byte() % 9;
    std::int64_t slots = length + offset;
    bool masked = in.byte() % 2 == 0;

    Buffers buffers;
    std::vector<std::uint8_t> validity;
    if (masked) {
        validity = in.block(static_cast<std::size_t>((slots + 7) / 8));
        buffers.add(validity);
    } else {
        buffers.add_null();
    }
    ArrowSchema schema{};
    ArrowSchema words_schema{};
    ArrowArray words{};
    Buffers word_buffers;
    std::string format;
    std::uint8_t index_type = 0;
    if (layout < 11) {
        format = number_formats[layout];
        buffers.add(in.block(static_cast<std::size_t>(slots) * widths[layout]));
    } else if (layout == 11) {
        format = "u";
        string_buffers(in, slots, buffers);
    } else if (layout == 12) {
        format = "vu";
        view_buffers(in, slots, buffers);
    } else {
        index_type = in.byte() % 8;
        format = number_formats[index_type];
        buffers.add(in.block(static_cast<std::size_t>(slots) * widths[index_type]));
        words.length = in.byte() % 6;
        word_buffers.add_null();
        string_buffers(in, words.length, word_buffers);
        words.n_buffers = 3;
        words.buffers = word_buffers.pointers.data();
        words_schema.format = "u";
        schema.dictionary = &words_schema;
    }
    schema.format = format.c_str();
    ArrowArray array{};
    array.length = length;
    array.offset = offset;
    array.null_count = masked ? -1 : 0;
    array.n_buffers = static_cast<std::int64_t>(buffers.pointers.size());
    array.buffers = buffers.pointers.data();
    if (layout == 13) array.dictionary = &words;

    if (!ColumnImport::check_type(schema, kind)) return 0;
    ColumnImport column(schema, kind);
    if (!column.append(array)) return 0;
    ColumnValues values = column.finish();
    if (values.size() != static_cast<std::size_t>(length)) fail("wrong length", 0);
    for (std::int64_t i = 0; i < length; ++i) {
        auto row = static_cast<std::size_t>(i);
        bool present = !masked || bit(validity, offset + i);
        std::string expected;
        if (present && layout == 13) {
            std::uint64_t index = number_at(array, number_types[index_type], DType::i64, i);
            expected = text_at(words, "u", static_cast<std::int64_t>(index));
        } else if (present && layout >= 11) {
            expected = text_at(array, format, i);
        }
        if (values.is_present(row) != present) fail("presence differs", row);
        if (!present) continue;
        if (kind == DType::str) {
            if (values.string(row) != expected) fail("text differs", row);
            if (!is_utf8(expected.data(), expected.size())) fail("invalid UTF-8 taken", row);
        } else {
            std::uint64_t bits = kind == DType::i64
                                     ? static_cast<std::uint64_t>(values.ints()[row])
                                     : std::bit_cast<std::uint64_t>(values.floats()[row]);
            if (bits != number_at(array, number_types[layout], kind, i))
                fail("number differs", row);
        }
    }
    return 0;
}
