#include "arrow/export.hpp"
#include "arrow/import.hpp"

#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cstring>
#include <random>

#include "columns.hpp"

namespace tarnwick::arrow {
namespace {

using namespace test_columns;

// Every entry as text, missing ones marked, floats by their bits.
std::vector<std::string> entries(const ColumnValues& column) {
    std::vector<std::string> out;
    for (std::size_t i = 0; i < column.size(); ++i) {
        if (!column.is_present(i)) {
            out.push_back("<missing>");
            continue;
        }
        switch (column.dtype()) {
            case DType::i64: out.push_back(std::to_string(column.ints()[i])); break;
            case DType::f64:
                out.push_back(std::to_string(std::bit_cast<std::uint64_t>(column.floats()[i])));
                break;
            case DType::str: out.push_back("s:" + std::string(column.string(i))); break;
        }
    }
    return out;
}

Frame random_frame(std::mt19937_64& rng, std::size_t rows) {
    NumberColumnBuilder<std::int64_t> a;
    NumberColumnBuilder<double> b;
    StringColumnBuilder c;
    for (std::size_t r = 0; r < rows; ++r) {
        bool gap = rng() % 4 == 0;
        gap ? a.append_missing() : a.append(static_cast<std::int64_t>(rng()));
        rng() % 5 == 0 ? b.append_missing() : b.append(std::bit_cast<double>(rng() >> 2));
        std::string text(rng() % 20, static_cast<char>('a' + rng() % 26));
        gap ? c.append_missing() : c.append(text);
    }
    Frame frame;
    EXPECT_TRUE(add_column(frame, "a", a.finish()));
    EXPECT_TRUE(add_column(frame, "b", b.finish()));
    EXPECT_TRUE(add_column(frame, "c", c.finish()));
    return frame;
}

// Every column of the frame through export and import, against column_values.
void expect_round_trip(const Frame& frame, bool widen) {
    Result<ExportedTable> table = export_table(frame);
    ASSERT_TRUE(table);
    if (widen) {
        ArrowSchema wanted;
        export_schema(*table, &wanted);
        wanted.children[2]->format = "U";
        ASSERT_TRUE(apply_requested_schema(*table, wanted));
        wanted.release(&wanted);
    }
    ArrowArrayStream stream;
    export_stream(std::move(*table), &stream);
    Owned<ArrowSchema> schema;
    ASSERT_EQ(stream.get_schema(&stream, schema.get()), 0);
    Owned<ArrowArray> batch;
    ASSERT_EQ(stream.get_next(&stream, batch.get()), 0);
    Owned<ArrowArray> end;
    ASSERT_EQ(stream.get_next(&stream, end.get()), 0);
    EXPECT_FALSE(end.live());
    // The batch outlives the stream, and a child moved out outlives the batch.
    stream.release(&stream);
    ArrowArray moved = *batch->children[0];
    batch->children[0]->release = nullptr;
    ASSERT_EQ(batch->length, static_cast<std::int64_t>(frame.height()));
    ASSERT_EQ(schema->n_children, 3);
    EXPECT_STREQ(schema->children[2]->format, widen ? "U" : "u");
    // Child 0 is read last, after the batch is gone.
    for (std::size_t i : {1, 2, 0}) {
        if (i == 0) batch.reset();
        const ArrowSchema& field = *schema->children[i];
        const ArrowArray& array = i == 0 ? moved : *batch->children[i];
        ASSERT_TRUE(ColumnImport::check_type(field, frame.columns()[i].dtype()));
        ColumnImport column(field, frame.columns()[i].dtype());
        ASSERT_TRUE(column.append(array));
        Result<ColumnValues> expected = column_values(frame, frame.columns()[i].name);
        ASSERT_TRUE(expected);
        EXPECT_EQ(entries(column.finish()), entries(*expected)) << "column " << i;
    }
    moved.release(&moved);
}

TEST(ArrowExport, RoundTripsWithAndWithoutSelections) {
    std::mt19937_64 rng(7);
    for (int round = 0; round < 40; ++round) {
        Frame frame = random_frame(rng, rng() % 70);
        RowSelection reversed;
        for (std::size_t r = frame.height(); r-- > 0;)
            if (rng() % 3 != 0) reversed.push_back(static_cast<std::uint32_t>(r));
        Frame selected = take_rows(frame, std::move(reversed));
        for (bool widen : {false, true}) {
            expect_round_trip(frame, widen);
            expect_round_trip(selected, widen);
        }
    }
}

// A hand-made array: length, offset, validity bits (or none), then buffers.
ArrowArray array_of(std::int64_t length, std::int64_t offset, const void* validity,
                    std::vector<const void*>& buffers) {
    buffers.insert(buffers.begin(), validity);
    ArrowArray array{};
    array.length = length;
    array.offset = offset;
    array.null_count = validity == nullptr ? 0 : -1;
    array.n_buffers = static_cast<std::int64_t>(buffers.size());
    array.buffers = buffers.data();
    return array;
}

ArrowSchema schema_of(const char* format) {
    ArrowSchema schema{};
    schema.format = format;
    return schema;
}

TEST(ArrowImport, ReadsValidityAtAnyBitOffset) {
    const std::int16_t values[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    const std::uint8_t validity[] = {0b1010'1010, 0b0000'0110};  // bits 1, 3, 5, 7, 9, 10
    std::vector<const void*> buffers{values};
    ArrowArray array = array_of(7, 3, validity, buffers);
    ArrowSchema schema = schema_of("s");
    ColumnImport column(schema, DType::f64);
    ASSERT_TRUE(column.append(array));
    EXPECT_EQ(entries(column.finish()),
              entries(floats({4.0, std::nullopt, 6.0, std::nullopt, 8.0, std::nullopt, 10.0})));
}

TEST(ArrowImport, RefusesViewsAndIndicesOutsideTheirBuffers) {
    // A string view of 20 bytes at offset 10 of a 16-byte buffer.
    std::uint8_t view[16] = {};
    std::int32_t size = 20, index = 0, at = 10;
    std::memcpy(view, &size, 4);
    std::memcpy(view + 8, &index, 4);
    std::memcpy(view + 12, &at, 4);
    const char data[16] = {};
    const std::int64_t sizes[] = {16};
    std::vector<const void*> view_buffers{view, data, sizes};
    ArrowArray views = array_of(1, 0, nullptr, view_buffers);
    ArrowSchema view_schema = schema_of("vu");
    ColumnImport from_views(view_schema, DType::str);
    ImportResult<void> failure = from_views.append(views);
    ASSERT_FALSE(failure);
    EXPECT_EQ(failure.error().message, "row 0: the string view points outside its buffers");
    // The same view in a null slot is never read.
    const std::uint8_t none[] = {0};
    std::vector<const void*> null_buffers{view, data, sizes};
    ArrowArray null_view = array_of(1, 0, none, null_buffers);
    ColumnImport from_null(view_schema, DType::str);
    ASSERT_TRUE(from_null.append(null_view));
    EXPECT_EQ(entries(from_null.finish()), std::vector<std::string>{"<missing>"});

    const std::int32_t offsets[] = {0, 1, 2};
    std::vector<const void*> word_buffers{offsets, "ab"};
    ArrowArray words = array_of(2, 0, nullptr, word_buffers);
    const std::int8_t indices[] = {1, 0, 2};
    std::vector<const void*> index_buffers{indices};
    ArrowArray coded = array_of(3, 0, nullptr, index_buffers);
    coded.dictionary = &words;
    ArrowSchema word_schema = schema_of("u");
    ArrowSchema coded_schema = schema_of("c");
    coded_schema.dictionary = &word_schema;
    ColumnImport from_coded(coded_schema, DType::str);
    failure = from_coded.append(coded);
    ASSERT_FALSE(failure);
    EXPECT_EQ(failure.error().message,
              "row 2: dictionary index 2 is outside the dictionary of 2 entries");
}

// Each refusal of the import against a twin that differs in the one thing the
// check looks at: the twin is accepted, so the refusal is that check's alone.

// The refusal's message, or "" when the array imports.
std::string refusal(const ArrowSchema& schema, const ArrowArray& array, DType kind) {
    if (auto checked = ColumnImport::check_type(schema, kind); !checked)
        return checked.error().message;
    ColumnImport column(schema, kind);
    ImportResult<void> appended = column.append(array);
    return appended ? "" : appended.error().message;
}

TEST(ArrowImportRefusals, TypesEachKindTakes) {
    ArrowArray none{};
    struct Case {
        const char* format;
        DType kind;
        const char* message;
    };
    for (const Case& c : {
             Case{"g", DType::f64, ""},
             Case{"g", DType::i64, "Arrow type float64 cannot become an i64 column"},
             Case{"e", DType::i64, "Arrow type float16 cannot become an i64 column"},
             Case{"L", DType::i64, ""},
             Case{"c", DType::f64, ""},
             Case{"l", DType::str, "Arrow type int64 cannot become a str column"},
             Case{"u", DType::str, ""},
             Case{"vu", DType::str, ""},
             Case{"U", DType::f64, "Arrow type large_utf8 cannot become an f64 column"},
             Case{"z", DType::str, "Arrow type binary cannot become a str column"},
             Case{"tsu:", DType::i64, "Arrow type timestamp[us] cannot become an i64 column"},
             Case{"ll", DType::i64, "Arrow type of format \"ll\" cannot become an i64 column"},
         }) {
        ArrowSchema schema = schema_of(c.format);
        auto checked = ColumnImport::check_type(schema, c.kind);
        EXPECT_EQ(checked ? "" : checked.error().message, c.message) << c.format;
    }
    // Dictionaries: integer indices over string values, for str only, one level.
    auto refusal = [](const ArrowSchema& schema, const ArrowArray&, DType kind) {
        auto checked = ColumnImport::check_type(schema, kind);
        return checked ? std::string() : checked.error().message;
    };
    ArrowSchema words = schema_of("u");
    ArrowSchema numbers = schema_of("l");
    ArrowSchema coded = schema_of("C");
    coded.dictionary = &words;
    EXPECT_EQ(refusal(coded, none, DType::str), "");
    EXPECT_EQ(refusal(coded, none, DType::i64),
              "Arrow type dictionary<values=utf8, indices=uint8> cannot become an i64 column");
    ArrowSchema float_coded = schema_of("f");
    float_coded.dictionary = &words;
    EXPECT_EQ(refusal(float_coded, none, DType::str),
              "Arrow type dictionary<values=utf8, indices=float32> cannot become a str column");
    ArrowSchema number_coded = schema_of("i");
    number_coded.dictionary = &numbers;
    EXPECT_EQ(refusal(number_coded, none, DType::str),
              "Arrow type dictionary<values=int64, indices=int32> cannot become a str column");
    ArrowSchema inner = schema_of("c");
    inner.dictionary = &words;
    ArrowSchema nested = schema_of("i");
    nested.dictionary = &inner;
    EXPECT_EQ(refusal(nested, none, DType::str),
              "Arrow type dictionary<values=dictionary<values=utf8, indices=int8>, indices=int32> "
              "cannot become a str column");
}

TEST(ArrowImportRefusals, ShapeOfAnArray) {
    const std::int32_t values[] = {1, 2, 3};
    ArrowSchema schema = schema_of("i");
    std::vector<std::vector<const void*>> lists;
    auto make = [&](std::int64_t length, std::int64_t offset) {
        lists.reserve(16);  // the arrays point into the lists
        lists.push_back({values});
        return array_of(length, offset, nullptr, lists.back());
    };
    EXPECT_EQ(refusal(schema, make(2, 1), DType::i64), "");
    const char* negative = "an Arrow array has a negative length or offset";
    EXPECT_EQ(refusal(schema, make(-1, 0), DType::i64), negative);
    EXPECT_EQ(refusal(schema, make(1, -1), DType::i64), negative);

    ArrowArray one_buffer = make(2, 0);
    one_buffer.n_buffers = 1;
    EXPECT_EQ(refusal(schema, one_buffer, DType::i64),
              "an Arrow array has 1 buffers; its type needs 2");
    ArrowArray no_list = make(2, 0);
    no_list.buffers = nullptr;
    EXPECT_EQ(refusal(schema, no_list, DType::i64),
              "an Arrow array has 2 buffers; its type needs 2");
    std::vector<const void*> without_data{nullptr};
    ArrowArray lacking = array_of(1, 0, nullptr, without_data);
    EXPECT_EQ(refusal(schema, lacking, DType::i64), "an Arrow array lacks a data buffer");
    ArrowArray empty = array_of(0, 0, nullptr, without_data);
    EXPECT_EQ(refusal(schema, empty, DType::i64), "");  // nothing to read
}

TEST(ArrowImportRefusals, NumbersBeyondTheColumnsRange) {
    const std::uint64_t values[] = {1, std::uint64_t{1} << 63, 2};
    ArrowSchema schema = schema_of("L");
    std::vector<const void*> buffers{values};
    ArrowArray all = array_of(3, 0, nullptr, buffers);
    EXPECT_EQ(refusal(schema, all, DType::i64),
              "row 1: the uint64 9223372036854775808 does not fit i64");
    EXPECT_EQ(refusal(schema, all, DType::f64), "");
    // The same value in a missing slot is never read as a number.
    const std::uint8_t second_missing[] = {0b101};
    std::vector<const void*> masked_buffers{values};
    ArrowArray masked = array_of(3, 0, second_missing, masked_buffers);
    ColumnImport column(schema, DType::i64);
    ASSERT_TRUE(column.append(masked));
    EXPECT_EQ(entries(column.finish()), entries(ints({1, std::nullopt, 2})));
    // Rows count on across chunks.
    ColumnImport chunks(schema, DType::i64);
    ASSERT_TRUE(chunks.append(masked));
    ImportResult<void> second = chunks.append(all);
    ASSERT_FALSE(second);
    EXPECT_EQ(second.error().message, "row 4: the uint64 9223372036854775808 does not fit i64");
}

// A string array of `format` ("u" or "U") over `data`, with its own offsets.
template <class O>
std::string offsets_refusal(const char* format, std::vector<O> offsets, const char* data) {
    std::vector<const void*> buffers{offsets.data(), data};
    ArrowArray array = array_of(static_cast<std::int64_t>(offsets.size()) - 1, 0, nullptr, buffers);
    return refusal(schema_of(format), array, DType::str);
}

TEST(ArrowImportRefusals, StringOffsets) {
    const char* data = "abcdef";
    EXPECT_EQ(offsets_refusal<std::int32_t>("u", {0, 2, 2, 6}, data), "");
    EXPECT_EQ(offsets_refusal<std::int32_t>("u", {-1, 2, 6}, data),
              "an Arrow string array has a negative offset");
    EXPECT_EQ(offsets_refusal<std::int32_t>("u", {0, 3, 2, 6}, data),
              "row 1: the string offsets go backwards");
    EXPECT_EQ(offsets_refusal<std::int64_t>("U", {1, 3, 6}, data), "");
    EXPECT_EQ(offsets_refusal<std::int64_t>("U", {0, 6, 5}, data),
              "row 1: the string offsets go backwards");
    // A character cut at an entry's end is refused even where the next
    // entry's bytes would complete it.
    EXPECT_EQ(offsets_refusal<std::int32_t>("u", {0, 3}, "a\xc3\xa9"), "");
    EXPECT_EQ(offsets_refusal<std::int32_t>("u", {0, 2, 3}, "a\xc3\xa9"),
              "row 0: the text is not valid UTF-8");
}

// A string view: inline up to 12 bytes, else (buffer, offset) into a data buffer.
std::array<std::uint8_t, 16> view_of(std::int32_t size, std::int32_t buffer, std::int32_t offset) {
    std::array<std::uint8_t, 16> view{};
    std::memcpy(view.data(), &size, 4);
    std::memcpy(view.data() + 8, &buffer, 4);
    std::memcpy(view.data() + 12, &offset, 4);
    return view;
}

TEST(ArrowImportRefusals, StringViews) {
    const char data[20] = "0123456789abcdefghi";
    const std::int64_t sizes[] = {20};
    ArrowSchema schema = schema_of("vu");
    auto import_view = [&](std::array<std::uint8_t, 16> view) {
        std::vector<const void*> buffers{view.data(), data, sizes};
        return refusal(schema, array_of(1, 0, nullptr, buffers), DType::str);
    };
    const char* outside = "row 0: the string view points outside its buffers";
    EXPECT_EQ(import_view(view_of(13, 0, 7)), "");  // ends at the buffer's end
    EXPECT_EQ(import_view(view_of(13, 0, 8)), outside);
    EXPECT_EQ(import_view(view_of(-1, 0, 0)), outside);
    EXPECT_EQ(import_view(view_of(13, -1, 0)), outside);
    EXPECT_EQ(import_view(view_of(13, 1, 0)), outside);
    EXPECT_EQ(import_view(view_of(13, 0, -1)), outside);
    // Views of 12 bytes or fewer lie in the view itself: buffer and offset are
    // their bytes.
    EXPECT_EQ(import_view(view_of(12, 0x41414141, 0x41414141)), "");
    std::array<std::uint8_t, 16> view = view_of(13, 0, 0);
    std::vector<const void*> without_sizes{view.data(), data, nullptr};
    EXPECT_EQ(refusal(schema, array_of(1, 0, nullptr, without_sizes), DType::str), outside);
    // A second data buffer that is missing.
    const std::int64_t two_sizes[] = {20, 20};
    std::array<std::uint8_t, 16> second = view_of(13, 1, 0);
    std::vector<const void*> with_second{second.data(), data, data, two_sizes};
    EXPECT_EQ(refusal(schema, array_of(1, 0, nullptr, with_second), DType::str), "");
    std::vector<const void*> without_second{second.data(), data, nullptr, two_sizes};
    EXPECT_EQ(refusal(schema, array_of(1, 0, nullptr, without_second), DType::str), outside);
}

TEST(ArrowImportRefusals, Dictionaries) {
    const std::int32_t offsets[] = {0, 1, 3};
    std::vector<const void*> word_buffers{offsets, "abc"};
    ArrowArray words = array_of(2, 0, nullptr, word_buffers);
    ArrowSchema word_schema = schema_of("u");
    auto import_indices = [&](const char* format, const void* indices, const void* validity,
                              ArrowArray* dictionary) {
        std::vector<const void*> buffers{indices};
        ArrowArray coded = array_of(3, 0, validity, buffers);
        coded.dictionary = dictionary;
        ArrowSchema schema = schema_of(format);
        schema.dictionary = &word_schema;
        return refusal(schema, coded, DType::str);
    };
    const std::int8_t fine[] = {1, 0, 1};
    EXPECT_EQ(import_indices("c", fine, nullptr, &words), "");
    EXPECT_EQ(import_indices("c", fine, nullptr, nullptr), "a dictionary array has no dictionary");
    const std::int8_t negative[] = {1, -1, 0};
    EXPECT_EQ(import_indices("c", negative, nullptr, &words),
              "row 1: dictionary index -1 is outside the dictionary of 2 entries");
    const std::uint64_t huge[] = {0, 0, ~std::uint64_t{0}};
    EXPECT_EQ(import_indices("L", huge, nullptr, &words),
              "row 2: dictionary index -1 is outside the dictionary of 2 entries");
    // An index in a missing slot is never looked up.
    const std::uint8_t third_missing[] = {0b011};
    EXPECT_EQ(import_indices("L", huge, third_missing, &words), "");
    // Words are checked as UTF-8 where a row uses them.
    std::vector<const void*> bad_buffers{offsets, "a\xff"};
    ArrowArray bad_words = array_of(2, 0, nullptr, bad_buffers);
    const std::int8_t first_only[] = {0, 0, 0};
    EXPECT_EQ(import_indices("c", first_only, nullptr, &bad_words), "");
    EXPECT_EQ(import_indices("c", fine, nullptr, &bad_words), "row 0: the text is not valid UTF-8");
}

// The requested schema's checks, each against the frame's own schema with one
// thing changed.
TEST(ArrowExport, RequestedSchemaRefusals) {
    Frame frame;
    ASSERT_TRUE(add_column(frame, "n", test_columns::ints({1, 2})));
    ASSERT_TRUE(add_column(frame, "s", test_columns::strings({"x", "y"})));
    auto refusal = [&](auto change) {
        Result<ExportedTable> table = export_table(frame);
        EXPECT_TRUE(table);
        Owned<ArrowSchema> wanted;
        export_schema(*table, wanted.get());
        change(*wanted.get());
        Result<void> applied = apply_requested_schema(*table, *wanted.get());
        std::string message;
        if (!applied) message = std::get<FrameError>(applied.error()).message;
        return std::pair(message, std::string(column_format(table->columns[1])));
    };
    using Outcome = std::pair<std::string, std::string>;
    EXPECT_EQ(refusal([](ArrowSchema&) {}), Outcome("", "u"));
    EXPECT_EQ(refusal([](ArrowSchema& s) { s.children[1]->format = "U"; }), Outcome("", "U"));
    // A union of the same fields in the same order is no struct.
    EXPECT_EQ(refusal([](ArrowSchema& s) { s.format = "+ud:0,1"; }).first,
              "the requested schema is not a struct (format \"+ud:0,1\"); the frame is one");
    EXPECT_EQ(refusal([](ArrowSchema& s) { s.format = "+s "; }).first,
              "the requested schema is not a struct (format \"+s \"); the frame is one");
    EXPECT_EQ(refusal([](ArrowSchema& s) { s.n_children = 1; }).first,
              "the requested schema has 1 fields; the frame has 2 columns");
    EXPECT_EQ(refusal([](ArrowSchema& s) { s.children[1] = nullptr; }).first,
              "the requested schema lacks a field");
    EXPECT_EQ(refusal([](ArrowSchema& s) { s.children[1]->name = "t"; }).first,
              "the requested schema has field \"t\" where the frame has column \"s\"");
    EXPECT_EQ(refusal([](ArrowSchema& s) { s.children[0]->format = "U"; }).first,
              "the requested schema asks for column \"n\" as format \"U\"; it can only be \"l\"");
    ArrowSchema index = [] {
        ArrowSchema schema{};
        schema.format = "i";
        return schema;
    }();
    // The same format, dictionary-encoded: refused for both kinds of column.
    EXPECT_EQ(refusal([&](ArrowSchema& s) { s.children[1]->dictionary = &index; }).first,
              "the requested schema asks for column \"s\" as format \"u\"; it can only be \"u\" "
              "or \"U\"");
    EXPECT_EQ(refusal([&](ArrowSchema& s) {
                  s.children[1]->format = "U";
                  s.children[1]->dictionary = &index;
              }).first,
              "the requested schema asks for column \"s\" as format \"U\"; it can only be \"u\" "
              "or \"U\"");
}

}  // namespace
}  // namespace tarnwick::arrow
