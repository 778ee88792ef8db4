#include "base/text.h"

#include <climits>
#include <gtest/gtest.h>

using namespace vantorel;

struct IntCase {
    const char* text;
    int expected;
};

void PrintTo(const IntCase& c, std::ostream* os) {
    *os << '"' << c.text << '"';
}

class TextToInt : public ::testing::TestWithParam<IntCase> {};

TEST_P(TextToInt, ReadsLeadingInteger) {
    EXPECT_EQ(textToInt(GetParam().text), GetParam().expected) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TextToInt,
    ::testing::Values(IntCase{"", 0}, IntCase{"0", 0}, IntCase{"abc", 0}, IntCase{"-5", -5},
                      IntCase{"12s", 12}, IntCase{"  +7", 7},
                      IntCase{"\xEF\xBC\x91\xEF\xBC\x90", 10},
                      IntCase{"\xE3\x80\x80"
                              "42",
                              42},
                      IntCase{"\xEF\xBC\x8D"
                              "3",
                              -3},
                      IntCase{"99999999999", INT_MAX}, IntCase{"-99999999999", INT_MIN},
                      IntCase{"2147483647", INT_MAX}, IntCase{"-2147483648", INT_MIN}));

TEST(TextToInt64, ReadsSizes) {
    EXPECT_EQ(textToInt64("1610612736"), 1610612736);
    EXPECT_EQ(textToInt64("9007199254740993"), 9007199254740993LL);
    EXPECT_EQ(textToInt64("x"), 0);
}

TEST(SplitText, KeepsInnerEmptyPiecesAndDropsEmptyLast) {
    using V = std::vector<std::string>;
    EXPECT_EQ(splitText("", ","), V{});
    EXPECT_EQ(splitText("a,,b", ","), (V{"a", "", "b"}));
    EXPECT_EQ(splitText("a,b,", ","), (V{"a", "b"}));
    EXPECT_EQ(splitText(",a", ","), (V{"", "a"}));
    EXPECT_EQ(splitText("a; b;c", "; "), (V{"a", "b;c"}));
}

TEST(ReplaceAll, ReplacesEveryOccurrenceLeftToRight) {
    EXPECT_EQ(replaceAll("/x/x", "x", "y"), "/y/y");
    EXPECT_EQ(replaceAll("aaa", "aa", "b"), "ba");
    EXPECT_EQ(replaceAll("abc", "", "z"), "abc");
    EXPECT_EQ(replaceAll("", "a", "z"), "");
    EXPECT_EQ(replaceAll("Aa", "A", "b"), "ba");
    EXPECT_EQ(replaceAll("x", "x", "xx"), "xx");
}

TEST(TrimBlanks, RemovesSpacesAndIdeographicSpacesButNotTabs) {
    EXPECT_EQ(trimBlanks("  a b  "), "a b");
    EXPECT_EQ(trimBlanks("\xE3\x80\x80x\xE3\x80\x80"), "x");
    EXPECT_EQ(trimBlanks("\tx\t"), "\tx\t");
    EXPECT_EQ(trimBlanks("   "), "");
}

TEST(CaseInsensitive, AsciiOnly) {
    EXPECT_TRUE(equalsIgnoreCase("Set-Cookie", "set-cookie"));
    EXPECT_FALSE(equalsIgnoreCase("a", "ab"));
    EXPECT_EQ(findIgnoreCase("x COOKIE: y", "cookie:"), 2u);
    EXPECT_EQ(findIgnoreCase("abc", "d"), std::string_view::npos);
}

TEST(FormatG13, MatchesPrintf) {
    EXPECT_EQ(formatG13(1.5), "1.5");
    EXPECT_EQ(formatG13(1024.0), "1024");
    EXPECT_EQ(formatG13(0.1 + 0.2), "0.3");
}
