#include "csv/writer.hpp"
#include "csv/writer_internal.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <random>

#include "columns.hpp"
#include "csv/reader.hpp"
#include "repr/frame_text.hpp"

namespace tarnwick {
namespace {

using namespace test_columns;

std::string text_of(const PodVector<char>& buffer) {
    return std::string(buffer.data(), buffer.size());
}

std::string escaped(std::string_view text) {
    PodVector<char> out;
    escape_field(out, text);
    return text_of(out);
}

TEST(EscapeField, QuotesOnlyWhatTheReaderWouldMisread) {
    EXPECT_EQ(escaped(""), "\"\"");
    EXPECT_EQ(escaped("plain"), "plain");
    EXPECT_EQ(escaped("a,b"), "\"a,b\"");
    EXPECT_EQ(escaped("a\"b"), "\"a\"\"b\"");
    EXPECT_EQ(escaped("\""), "\"\"\"\"");
    EXPECT_EQ(escaped("line\nbreak"), "\"line\nbreak\"");
    EXPECT_EQ(escaped("cr\r"), "\"cr\r\"");
    EXPECT_EQ(escaped(" x"), "\" x\"");
    EXPECT_EQ(escaped("\tx"), "\"\tx\"");
    EXPECT_EQ(escaped("x "), "x ");
    EXPECT_EQ(escaped("\u00a0x"), "\"\u00a0x\"");
    EXPECT_EQ(escaped("\u3000"), "\"\u3000\"");
    EXPECT_EQ(escaped("\u200bx"), "\u200bx");  // zero-width space is not White_Space
    EXPECT_EQ(escaped("12"), "12");            // numbers matter only in cells
}

// The eight-at-a-time quoting test and the ASCII flag against plain
// definitions, on texts of every length that mix ordinary bytes, the four
// special ones, spaces and non-ASCII bytes; each text also stands as a
// column name and as a cell.
TEST(EscapeField, AgreesWithAPlainDefinitionAndFlagsNonAscii) {
    std::mt19937_64 random(5);
    constexpr std::string_view pieces[] = {"a", "b", "0", ",", "\"", "\n", "\r", " ", "\xc3\xa9"};
    for (int i = 0; i < 20000; ++i) {
        std::string text;
        std::size_t length = random() % 24;
        bool rare = random() % 2 == 0;  // half the texts without special bytes
        for (std::size_t k = 0; k < length; ++k) {
            std::size_t choice = random() % (rare ? 3 : std::size(pieces));
            text += pieces[choice];
        }
        bool special = text.empty() || text.find_first_of(",\"\n\r") != std::string::npos ||
                       text.front() == ' ' || text.front() == '\n' || text.front() == '\r';
        std::string expected = text;
        if (special) {
            expected.clear();
            for (char c : text)
                expected += c == '"' ? std::string("\"\"") : std::string(1, c);
            expected = "\"" + expected + "\"";
        }
        ASSERT_EQ(escaped(text), expected) << text;

        Frame frame;
        StringColumnBuilder cells;
        cells.append(text);
        ASSERT_TRUE(add_column(frame, text, cells.finish()));
        bool ascii = std::ranges::all_of(text, [](char c) { return (c & 0x80) == 0; });
        EXPECT_EQ(write_csv(frame).ascii, ascii) << text;
    }
}

Frame frame_with_rows() {
    Frame frame;
    EXPECT_TRUE(add_column(frame, "n", ints({1, 2, 3})));
    StringColumnBuilder names;
    for (std::string_view s : {"x", "", "7"})
        names.append(s);
    EXPECT_TRUE(add_column(frame, "s", names.finish()));
    return frame;
}

TEST(ToCsv, RowsComeInTheOrderTheFrameShowsThem) {
    Frame reversed = take_rows(frame_with_rows(), RowSelection{2, 1, 0});
    EXPECT_EQ(text_of(to_csv(reversed)), "n,s\n3,\"7\"\n2,\"\"\n1,x\n");
    Frame some = take_rows(frame_with_rows(), RowSelection{1});
    EXPECT_EQ(text_of(to_csv(some)), "n,s\n2,\"\"\n");
    EXPECT_EQ(frame_text(some), "Frame(1 rows: n i64, s str)");
}

TEST(ToCsv, MissingEntriesAreEmptyCells) {
    Frame frame;
    PodVector<std::uint8_t> none_present{0, 0};
    ASSERT_TRUE(add_column(frame, "a", ColumnValues::of_f64({0, 0}, std::move(none_present))));
    std::string text = text_of(to_csv(frame));
    EXPECT_EQ(text, "a\n\n\n");
    // Read back, the lines are blank: no rows, and the column is i64.
    Result<Frame> back = read_csv(text);
    ASSERT_TRUE(back);
    EXPECT_EQ(frame_text(*back), "Frame(0 rows: a i64)");
}

TEST(ToCsv, FrameWithoutColumnsKeepsItsLines) {
    EXPECT_EQ(text_of(to_csv(Frame())), "\n");
    Frame rows_only = take_rows(Frame(std::vector<Column>{}, {}, 0), RowSelection{});
    EXPECT_EQ(text_of(to_csv(Frame(std::vector<Column>{}, {}, 2))), "\n\n\n");
    EXPECT_EQ(text_of(to_csv(rows_only)), "\n");
}

TEST(ToCsv, AFirstNameStartingWithAByteOrderMarkSurvivesTheRoundTrip) {
    Frame frame;
    ASSERT_TRUE(add_column(frame, "\xEF\xBB\xBFid", ints({1})));
    ASSERT_TRUE(add_column(frame,
                           "\xEF\xBB\xBF"
                           "b",
                           ints({2})));
    std::string text = text_of(to_csv(frame));
    EXPECT_EQ(text,
              "\"\xEF\xBB\xBFid\",\xEF\xBB\xBF"
              "b\n1,2\n");
    Result<Frame> back = read_csv(text);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->columns()[0].name, "\xEF\xBB\xBFid");
    EXPECT_EQ(back->columns()[1].name,
              "\xEF\xBB\xBF"
              "b");
}

}  // namespace
}  // namespace tarnwick
