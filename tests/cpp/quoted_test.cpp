#include "base/quoted.hpp"

#include <gtest/gtest.h>

namespace tarnwick {
namespace {

struct QuotedCase {
    std::string_view text;
    std::string_view expected;
};

class QuotedForm : public testing::TestWithParam<QuotedCase> {};

TEST_P(QuotedForm, EscapesWhatWouldNotReadBack) {
    EXPECT_EQ(quoted(GetParam().text), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, QuotedForm,
    testing::Values(QuotedCase{"a", "\"a\""}, QuotedCase{"", "\"\""},
                    QuotedCase{"say \"hi\"", "\"say \\\"hi\\\"\""},
                    QuotedCase{"back\\slash", "\"back\\\\slash\""},
                    QuotedCase{"t\tr\rn\n", "\"t\\tr\\rn\\n\""},
                    QuotedCase{std::string_view("nul\0", 4), "\"nul\\0\""},
                    QuotedCase{"it's", "\"it's\""}, QuotedCase{"\x01\x7f", "\"\\u{1}\\u{7f}\""},
                    // no-break space and zero-width space are separators / format
                    QuotedCase{"a\u00a0b\u200bc", "\"a\\u{a0}b\\u{200b}c\""},
                    // a combining acute accent, and a letter that needs no escape
                    QuotedCase{"e\u0301\u00e9", "\"e\\u{301}\u00e9\""},
                    // unassigned code point, private use stands as itself
                    QuotedCase{"\U000e0fff\ue000", "\"\\u{e0fff}\ue000\""},
                    // a line separator, and an emoji
                    QuotedCase{"\u2028\U0001F600", "\"\\u{2028}\U0001F600\""},
                    // a byte that is not UTF-8 is shown as the replacement character
                    QuotedCase{"\xff", "\"\\u{fffd}\""}));

}  // namespace
}  // namespace tarnwick
