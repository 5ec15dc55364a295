#include <sys/mman.h>

#include <gtest/gtest.h>

#include <cstring>

#include "columns.hpp"
#include "csv/reader.hpp"
#include "csv/tokenizer.hpp"

namespace tarnwick {
namespace {

using namespace test_columns;

std::vector<FieldSpan> spans_of(const SpanColumn& column) {
    std::vector<FieldSpan> spans;
    for (std::size_t c = 0; c < column.chunk_count(); ++c) {
        for (FieldSpan span : column.chunk(c))
            spans.push_back(span);
    }
    return spans;
}

TEST(Tokenize, SpansExcludeQuotesAndMarkDoubling) {
    std::string_view text = "a,\"b\"\n\"x\"\"y\",z\n";
    Result<Tokens> tokens = tokenize(text);
    ASSERT_TRUE(tokens);
    ASSERT_EQ(tokens->header.size(), 2u);
    EXPECT_EQ(field_text(text, tokens->header[1]), "b");
    EXPECT_TRUE(tokens->header[1].quoted);
    EXPECT_EQ(tokens->rows, 1u);
    FieldSpan first = spans_of(tokens->columns[0])[0];
    EXPECT_EQ(first.start, 7u);
    EXPECT_EQ(first.end, 11u);
    EXPECT_TRUE(first.quoted);
    EXPECT_TRUE(first.doubled);
    EXPECT_EQ(field_text(text, first), "x\"y");
    FieldSpan second = spans_of(tokens->columns[1])[0];
    EXPECT_FALSE(second.quoted);
    EXPECT_EQ(field_text(text, second), "z");
}

TEST(Tokenize, QuoteInsideAnUnquotedFieldIsContent) {
    std::string_view text = "h\nab\"c\n";
    Result<Tokens> tokens = tokenize(text);
    ASSERT_TRUE(tokens);
    EXPECT_EQ(field_text(text, spans_of(tokens->columns[0])[0]), "ab\"c");
}

struct LineCase {
    std::string_view text;
    std::string_view message;
};

class TokenizeFailure : public testing::TestWithParam<LineCase> {};

TEST_P(TokenizeFailure, NamesTheLine) {
    Result<Tokens> tokens = tokenize(GetParam().text);
    ASSERT_FALSE(tokens);
    EXPECT_EQ(message_of(tokens.error()), GetParam().message);
}

// Line ends of every kind, and LF bytes inside quotes (which count) and CR
// bytes inside quotes (which do not), in front of each kind of failure. The
// SSE2 scan looks at 16 bytes at a time, so some cases put the bytes that
// matter beyond the first block.
INSTANTIATE_TEST_SUITE_P(
    Cases, TokenizeFailure,
    testing::Values(LineCase{"a,b\r\n1,2\r\n3\r\n", "line 3: 1 fields; the header has 2"},
                    LineCase{"a,b\r1,2\r3\r", "line 3: 1 fields; the header has 2"},
                    LineCase{"a,b\n\"x\ny\",1\n1\n", "line 4: 1 fields; the header has 2"},
                    LineCase{"a,b\n\"x\ry\",1\n1\n", "line 3: 1 fields; the header has 2"},
                    LineCase{"a\n\"1\n2\n3\n4\n5\n6\n7\n8\n9\n10\n11\"x",
                             "line 12: text after a closing quote"},
                    LineCase{"a\n\"1\n2\n3\n4\n5\n6\n7\n8\n9\n10\n11",
                             "line 2: a quoted field is never closed"},
                    LineCase{"a\n\"", "line 2: a quoted field is never closed"},
                    LineCase{"a\n\"\"\"", "line 2: a quoted field is never closed"},
                    LineCase{"a,b\n1\n\"x", "line 3: a quoted field is never closed"},
                    LineCase{"a,b\n1\n\"x\" \n", "line 3: text after a closing quote"},
                    LineCase{"\"x\"y", "line 1: text after a closing quote"},
                    LineCase{"\n\r\n\r", "no header line"},
                    LineCase{"\na,b\n1", "line 3: 1 fields; the header has 2"},
                    LineCase{"a,b\n1,2,\n", "line 2: 3 fields; the header has 2"},
                    LineCase{"a,b\n1,2,3\n4\n", "line 2: 3 fields; the header has 2"}));

TEST(Tokenize, BlankLinesAreSkippedButQuotedEmptyLinesAreRows) {
    Result<Tokens> tokens = tokenize("a\n\n\r\n\"\"\n\r1\n");
    ASSERT_TRUE(tokens);
    EXPECT_EQ(tokens->rows, 2u);
}

TEST(SpanColumn, KeepsOrderAcrossChunksAndReservations) {
    SpanColumn column;
    for (std::uint32_t i = 0; i < 100; ++i)
        column.push_back({i, i, false, false});
    column.reserve(1 << 20);
    for (std::uint32_t i = 100; i < 3000000; ++i)
        column.push_back({i, i, false, false});
    ASSERT_EQ(column.size(), 3000000u);
    std::uint32_t expected = 0;
    for (std::size_t c = 0; c < column.chunk_count(); ++c) {
        for (FieldSpan span : column.chunk(c))
            ASSERT_EQ(span.start, expected++);
    }
    EXPECT_EQ(expected, 3000000u);
    column.release_chunk(0);
    EXPECT_LT(column.size(), 3000000u);
}

// A text of 2^32 bytes or more is refused before anything is read; the region
// is reserved address space only and costs no memory.
class HugeText : public testing::Test {
  protected:
    static constexpr std::size_t limit = std::size_t{1} << 32;
    void SetUp() override {
        region_ = mmap(nullptr, size_, PROT_READ | PROT_WRITE,
                       MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
        if (region_ == MAP_FAILED) GTEST_SKIP() << "no room for a 4 GB mapping";
        bytes_ = static_cast<char*>(region_);
    }
    void TearDown() override {
        if (region_ != MAP_FAILED) munmap(region_, size_);
    }
    std::string outcome(std::size_t size) {
        Result<Frame> frame = read_csv(std::string_view(bytes_, size));
        return frame ? "read" : message_of(frame.error());
    }

    std::size_t size_ = limit + 8;
    void* region_ = MAP_FAILED;
    char* bytes_ = nullptr;
};

TEST_F(HugeText, TheLimitCountsBytesAfterAByteOrderMark) {
    // Texts that fail on their first line once they are read at all.
    std::memcpy(bytes_, "\"x\"y", 4);
    EXPECT_EQ(outcome(limit), "the text is over 4 GB");
    EXPECT_EQ(outcome(limit - 1), "line 1: text after a closing quote");
    std::memcpy(bytes_, "\xEF\xBB\xBF\"x\"y", 7);
    EXPECT_EQ(outcome(limit + 2), "line 1: text after a closing quote");
    EXPECT_EQ(outcome(limit + 3), "the text is over 4 GB");
}

}  // namespace
}  // namespace tarnwick
