#include <sys/mman.h>

#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cstring>
#include <format>
#include <optional>
#include <random>
#include <string>
#include <variant>
#include <vector>

#include "columns.hpp"
#include "csv/reader.hpp"
#include "csv/tokenizer.hpp"

namespace tarnwick {
namespace {

using namespace test_columns;

// What tokenizing a text gives: the header, then the data records, read
// `block_rows` at a time; or the failure that comes first (a quote failure,
// else "no header line", else the first record of the wrong width).
struct Tokens {
    std::vector<FieldSpan> header;
    std::vector<std::vector<FieldSpan>> rows;
};

std::variant<Tokens, std::string> tokenize(std::string_view text, std::size_t block_rows = 2) {
    Tokenizer tokenizer(text);
    if (std::optional<std::string> failure = tokenizer.read_header()) return *failure;
    Tokens tokens;
    tokens.header.assign(tokenizer.header().begin(), tokenizer.header().end());
    RecordBlock block(tokens.header.size(), block_rows);
    while (!tokenizer.at_end()) {
        if (std::optional<std::string> failure = tokenizer.read_block(block)) return *failure;
        for (std::size_t row = 0; row < block.rows(); ++row) {
            std::vector<FieldSpan>& record = tokens.rows.emplace_back();
            for (std::size_t column = 0; column < block.width(); ++column)
                record.push_back(block.at(row, column));
        }
    }
    if (tokenizer.pending()) return *tokenizer.pending();
    return tokens;
}

TEST(Tokenize, SpansExcludeQuotesAndMarkDoubling) {
    std::string_view text = "a,\"b\"\n\"x\"\"y\",z\n";
    auto tokens = std::get<Tokens>(tokenize(text));
    ASSERT_EQ(tokens.header.size(), 2u);
    EXPECT_EQ(field_text(text, tokens.header[1]), "b");
    EXPECT_TRUE(tokens.header[1].quoted);
    ASSERT_EQ(tokens.rows.size(), 1u);
    FieldSpan first = tokens.rows[0][0];
    EXPECT_EQ(first.start, 7u);
    EXPECT_EQ(first.end, 11u);
    EXPECT_TRUE(first.quoted);
    EXPECT_TRUE(first.doubled);
    EXPECT_EQ(field_text(text, first), "x\"y");
    FieldSpan second = tokens.rows[0][1];
    EXPECT_FALSE(second.quoted);
    EXPECT_EQ(field_text(text, second), "z");
}

TEST(Tokenize, QuoteInsideAnUnquotedFieldIsContent) {
    std::string_view text = "h\nab\"c\n";
    auto tokens = std::get<Tokens>(tokenize(text));
    EXPECT_EQ(field_text(text, tokens.rows.at(0).at(0)), "ab\"c");
}

struct LineCase {
    std::string_view text;
    std::string_view message;
};

class TokenizeFailure : public testing::TestWithParam<LineCase> {};

TEST_P(TokenizeFailure, NamesTheLine) {
    for (std::size_t block_rows : {1, 2, 100}) {
        auto outcome = tokenize(GetParam().text, block_rows);
        ASSERT_TRUE(std::holds_alternative<std::string>(outcome));
        EXPECT_EQ(std::get<std::string>(outcome), GetParam().message);
    }
}

// Line ends of every kind, and LF bytes inside quotes (which count) and CR
// bytes inside quotes (which do not), in front of each kind of failure. The
// SSE2 scan looks at 16 bytes at a time, so some cases put the bytes that
// matter beyond the first block.
INSTANTIATE_TEST_SUITE_P(
    Cases, TokenizeFailure,
    testing::Values(
        LineCase{"a,b\r\n1,2\r\n3\r\n", "line 3: 1 fields; the header has 2"},
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
        LineCase{"a,b\n1\n2,3\n4,5\n6,7\n\"x\" \n", "line 6: text after a closing quote"},
        LineCase{"\"x\"y", "line 1: text after a closing quote"},
        LineCase{"\n\r\n\r", "no header line"},
        LineCase{"\na,b\n1", "line 3: 1 fields; the header has 2"},
        LineCase{"a,b\n1,2,\n", "line 2: 3 fields; the header has 2"},
        LineCase{"a,b\n1,2,3\n4\n", "line 2: 3 fields; the header has 2"},
        LineCase{"a,b\n1,2\n3,4\n5,6\n7\n8,9,10\n", "line 5: 1 fields; the header has 2"}));

TEST(Tokenize, BlankLinesAreSkippedButQuotedEmptyLinesAreRows) {
    auto tokens = std::get<Tokens>(tokenize("a\n\n\r\n\"\"\n\r1\n", 1));
    EXPECT_EQ(tokens.rows.size(), 2u);
}

TEST(Tokenize, ARecordOfTheWrongWidthLeavesNothingInTheBlock) {
    std::string_view text = "a,b\n1,2\n3\n4,5,6\n7,8\n";
    Tokenizer tokenizer(text);
    ASSERT_FALSE(tokenizer.read_header());
    RecordBlock block(2, 10);
    ASSERT_FALSE(tokenizer.read_block(block));
    ASSERT_EQ(block.rows(), 2u);
    EXPECT_EQ(field_text(text, block.at(1, 0)), "7");
    EXPECT_EQ(field_text(text, block.at(1, 1)), "8");
    EXPECT_EQ(tokenizer.pending(), "line 3: 1 fields; the header has 2");
}

// A read as text: each column's name, kind and entries (numbers by their
// bits, so that -0.0 and every NaN count), or the failure's message.
std::string image_of(const Result<Frame>& frame) {
    if (!frame) return "fails: " + message_of(frame.error());
    std::string image = std::format("{} rows\n", frame->height());
    for (const Column& column : frame->columns()) {
        const ColumnValues& values = *column.values;
        image += std::format("{} {}:", column.name, dtype_name(values.dtype()));
        for (std::size_t i = 0; i < values.size(); ++i) {
            if (!values.is_present(i)) {
                image += " -";
            } else if (values.dtype() == DType::i64) {
                image += std::format(" {}", values.ints()[i]);
            } else if (values.dtype() == DType::f64) {
                image += std::format(" {:x}", std::bit_cast<std::uint64_t>(values.floats()[i]));
            } else {
                image += std::format(" [{}]", values.string(i));
            }
        }
        image += "\n";
    }
    return image;
}

// Texts whose columns change kind at random rows: integers (-0 among them),
// then numbers, then text or quoted fields (with commas, line ends and doubled
// quotes), with missing entries everywhere, blank lines, every line end, and
// now and then a record of the wrong width or a quote failure further on.
std::string wavering_text(std::mt19937& random) {
    auto below = [&](std::size_t n) {
        return std::uniform_int_distribution<std::size_t>(0, n - 1)(random);
    };
    std::size_t width = 1 + below(4);
    std::size_t rows = below(40);
    static constexpr std::string_view line_ends[] = {"\n", "\r\n", "\r"};
    std::string_view line_end = line_ends[below(3)];
    std::string text;
    for (std::size_t c = 0; c < width; ++c)
        text += std::format("{}c{}", c == 0 ? "" : ",", c);
    text += line_end;
    // Per column: the rows at which it turns f64 and str, and how often an
    // entry is missing.
    std::vector<std::array<std::size_t, 3>> plans(width);
    for (auto& plan : plans)
        plan = {below(rows + 2), below(rows + 2), below(4)};
    static constexpr std::string_view integers[] = {"0",   "-0",  "7",
                                                    "-00", "+12", "9223372036854775807"};
    static constexpr std::string_view numbers[] = {"1.5", "-0.0", "1e5",
                                                   ".5",  "-inf", "9223372036854775808"};
    static constexpr std::string_view texts[] = {
        "x", "1.2.3", "\"q\"", "\"a,b\"", "\"l\nf\"", "\"d\"\"q\"", "\"\"", " 1", "inf"};
    for (std::size_t row = 0; row < rows; ++row) {
        if (below(8) == 0) text += line_end;  // a blank line
        std::size_t fields = below(30) == 0 ? width + 1 : width;
        for (std::size_t c = 0; c < fields; ++c) {
            if (c != 0) text += ',';
            const auto& plan = plans[std::min(c, width - 1)];
            if (below(4) < plan[2]) continue;  // missing
            if (row >= plan[0] && row >= plan[1]) {
                text += texts[below(std::size(texts))];
            } else if (row >= plan[0]) {
                text += numbers[below(std::size(numbers))];
            } else {
                text += integers[below(std::size(integers))];
            }
        }
        text += line_end;
    }
    if (below(20) == 0) text += "\"unclosed";
    return text;
}

// Every block size gives what one block for the whole text gives, whichever
// row a column changes its kind at, wherever a quoted field or a failure
// falls.
TEST(ReadCsv, BlocksOfAnySizeReadAsOneBlock) {
    std::mt19937 random(20261208);
    for (int round = 0; round < 3000; ++round) {
        std::string text = wavering_text(random);
        std::string whole = image_of(read_csv(text, std::size_t{1} << 20));
        for (std::size_t block_rows : {1, 2, 3, 5, 16}) {
            ASSERT_EQ(image_of(read_csv(text, block_rows)), whole)
                << "block of " << block_rows << " rows, text:\n"
                << text;
        }
    }
}

TEST(ReadCsv, AColumnThatTurnsStrLateKeepsEveryText) {
    // Values in the first block, text in a later one: the column takes every
    // block again and keeps each field's exact text.
    std::string text = "n,s,m\n";
    for (int i = 0; i < 50; ++i)
        text += std::format("{},{}.50,\n", i, i == 0 ? "-0" : std::to_string(i));
    text += "x,\"y\n\",\"z\"\n";
    for (std::size_t block_rows : {1, 7, 1000}) {
        Result<Frame> frame = read_csv(text, block_rows);
        ASSERT_TRUE(frame);
        const Column& s = frame->columns()[1];
        ASSERT_EQ(s.dtype(), DType::str);
        EXPECT_EQ(s.values->string(0), "-0.50");
        EXPECT_EQ(s.values->string(49), "49.50");
        EXPECT_EQ(s.values->string(50), "y\n");
        EXPECT_EQ(frame->columns()[0].values->string(50), "x");
        const ColumnValues& m = *frame->columns()[2].values;
        ASSERT_EQ(m.dtype(), DType::str);
        EXPECT_FALSE(m.is_present(49));
        EXPECT_EQ(m.string(50), "z");
    }
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
