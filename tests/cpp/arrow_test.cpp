#include "arrow/export.hpp"
#include "arrow/import.hpp"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace tarnwick::arrow
