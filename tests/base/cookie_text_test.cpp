#include "base/cookie_text.h"
#include "named_case.h"

#include <gtest/gtest.h>
#include <ostream>

using namespace vantorel;

namespace {

using vantorel::test::CaseName;
using vantorel::test::PrintTo;

struct MergeCase {
    const char* name;
    const char* sent;
    const char* received;
    const char* merged;
};

class MergeCookieText : public ::testing::TestWithParam<MergeCase> {};

TEST_P(MergeCookieText, Merges) {
    EXPECT_EQ(mergeCookieText(GetParam().sent, GetParam().received), GetParam().merged);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MergeCookieText,
    ::testing::Values(MergeCase{"ReceivedFirstThenUnmatchedSent", "a=1; b=2", "b=3; c=4",
                                "b=3; c=4; a=1"},
                      MergeCase{"DeletionReplacesThenDrops", "a=1; X=5", "X=deleted", "a=1"},
                      MergeCase{"ReceivedRepeatsByNameKept", "", "A=1; A=2", "A=1; A=2"},
                      MergeCase{"ExactRepeatsDropped", "a=1; a=1", "", "a=1"},
                      MergeCase{"NoBlankAfterSemicolonIsOneItem", "a=1;b=2", "", "a=1;b=2"},
                      MergeCase{"NoBlankAfterSemicolonNamesA", "a=1;b=2", "a=9", "a=9"},
                      MergeCase{"TrimmedAndTrailingSemicolon", " a=1; b=2;", "", "a=1; b=2"},
                      MergeCase{"SentDeletedItemDropped", "a=deleted; b=2", "", "b=2"},
                      MergeCase{"SentRepeatsByNameKeepFirst", "a=1; a=2", "", "a=1"},
                      MergeCase{"NamesCompareCaseSensitively", "a=1", "A=2", "A=2; a=1"},
                      MergeCase{"NamesAreTrimmed", "a =1", " a=2", "a=2"},
                      MergeCase{"ItemWithoutEqualsIsItsOwnName", "flag; a=1", "flag", "flag; a=1"},
                      MergeCase{"IdeographicSpaceIsABlank",
                                "\xE3\x80\x80"
                                "a=1",
                                "", "a=1"},
                      MergeCase{"BothEmpty", "", "", ""}),
    CaseName{});

struct CollectCase {
    const char* name;
    const char* headers;
    const char* collected;
};

class CollectSetCookies : public ::testing::TestWithParam<CollectCase> {};

TEST_P(CollectSetCookies, Collects) {
    EXPECT_EQ(collectSetCookies(GetParam().headers), GetParam().collected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CollectSetCookies,
    ::testing::Values(
        CollectCase{"AttributesCutAtFirstSemicolon", "Set-Cookie: A=1; path=/; domain=x", "A=1"},
        CollectCase{"WithoutAttributes", "Set-Cookie: B=2", "B=2"},
        CollectCase{"InHeaderOrder",
                    "Content-Type: text/html\r\nSet-Cookie: A=1; path=/\r\nX: y\r\n"
                    "Set-Cookie: B=deleted; expires=Thu, 01 Jan 1970 00:00:00 GMT\r\n",
                    "A=1; B=deleted"},
        CollectCase{"NoSetCookieLines", "Content-Type: text/html\r\nServer: x", ""},
        CollectCase{"LowerCaseNotCollected", "set-cookie: x=1", ""},
        CollectCase{"NameNeedsColonAndBlank", "Set-Cookie:x=1", ""},
        CollectCase{"ValueTrimmed", "Set-Cookie:   C=3   ", "C=3"},
        CollectCase{"EmptyHeaders", "", ""}),
    CaseName{});

TEST(CookieName, TextBeforeFirstEqualsTrimmed) {
    EXPECT_EQ(cookieName(" BDUSS =a=b"), "BDUSS");
    EXPECT_EQ(cookieName(" flag "), "flag");
    EXPECT_EQ(cookieName("=x"), "");
}

TEST(RemoveDuplicateItems, KeepsFirstOfEachExactItem) {
    EXPECT_EQ(removeDuplicateItems("a; b; a; A; b", "; "), "a; b; A");
    EXPECT_EQ(removeDuplicateItems("x,,y,,", ","), "x,,y");
    EXPECT_EQ(removeDuplicateItems("", "; "), "");
}

} // namespace
