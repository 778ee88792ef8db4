#include "base/codecs.h"
#include "named_case.h"

#include <gtest/gtest.h>
#include <string>

using namespace vantorel;
using namespace std::string_literals;

namespace {

using vantorel::test::CaseName;
using vantorel::test::PrintTo;

// 中 and 我的资源 as UTF-8.
const std::string kZhong = "\xE4\xB8\xAD";
const std::string kMyFiles = "\xE6\x88\x91\xE7\x9A\x84\xE8\xB5\x84\xE6\xBA\x90";
const std::string kReplacement = "\xEF\xBF\xBD";

struct FormCase {
    const char* name;
    std::string text;
    bool keepQuotes;
    bool utf8;
    std::string expected;
};

struct DecodeCase {
    const char* name;
    std::string text;
    bool utf8;
    std::string expected;
};

struct PathCase {
    const char* name;
    std::string path;
    std::string expected;
};

} // namespace

class FormEncode : public ::testing::TestWithParam<FormCase> {};

TEST_P(FormEncode, EncodesExactlyTheBytesOutsideTheKeptSet) {
    const FormCase& c = GetParam();
    EXPECT_EQ(formEncode(c.text, c.keepQuotes, c.utf8), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FormEncode,
    ::testing::Values(
        FormCase{"BlankBecomesPlus", "a b", true, true, "a+b"},
        FormCase{"UnderscoreAndTildeAreEncoded", "x_y~z", true, true, "x%5Fy%7Ez"},
        FormCase{"BangIsEncoded", "a!b", true, true, "a%21b"},
        FormCase{"ChineseAsUtf8", kZhong, true, true, "%E4%B8%AD"},
        FormCase{"ChineseAsGbk", kZhong, true, false, "%D6%D0"},
        FormCase{"MixedTextAsGbk", kZhong + "\xE6\x96\x87 x", true, false, "%D6%D0%CE%C4+x"},
        FormCase{"QuotesKept", "it's (1)*", true, true, "it's+(1)*"},
        FormCase{"QuotesEncoded", "it's (1)*", false, true, "it%27s+%281%29%2A"},
        FormCase{"UnreservedKept", "Az09-.", false, true, "Az09-."},
        FormCase{"FormSyntaxEncoded", "+&=%/", true, true, "%2B%26%3D%25%2F"},
        FormCase{"FolderPath", "/" + kMyFiles + "/a b.txt", true, true,
                 "%2F%E6%88%91%E7%9A%84%E8%B5%84%E6%BA%90%2Fa+b.txt"},
        FormCase{"Empty", "", true, true, ""}, FormCase{"EndsAtNul", "a\0b"s, true, true, "a"},
        FormCase{"EndsAtNulInGbkMode", "a\0b"s, true, false, "a"},
        FormCase{"InvalidUtf8IsReplaced", "a\xFF", true, true, "a%EF%BF%BD"},
        FormCase{"NoGbkFormBecomesQuestionMark", "\xF0\x9F\x98\x80", true, false, "%3F"}),
    CaseName{});

class PercentDecode : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(PercentDecode, DecodesWellFormedEscapesOnly) {
    const DecodeCase& c = GetParam();
    EXPECT_EQ(percentDecode(c.text, c.utf8), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PercentDecode,
    ::testing::Values(DecodeCase{"LowerCaseHexDecodes", "%2Fmy%20dir%2f", false, "/my dir/"},
                      DecodeCase{"PlusStaysPlus", "a+b", true, "a+b"},
                      DecodeCase{"Utf8Escapes", "%E4%B8%AD", true, kZhong},
                      DecodeCase{"Utf8EscapesLowerCase", "%e4%b8%ad", true, kZhong},
                      DecodeCase{"RawBytesWithoutUtf8", "%D6%D0", false, "\xD6\xD0"},
                      DecodeCase{"InvalidUtf8IsReplaced", "%D6%D0", true,
                                 kReplacement + kReplacement},
                      DecodeCase{"PercentAtEnd", "100%", true, "100%"},
                      DecodeCase{"OneDigitAtEnd", "%4", true, "%4"},
                      DecodeCase{"NonHexDigits", "%zz1", true, "%zz1"},
                      DecodeCase{"SecondDigitNotHex", "%4g", true, "%4g"},
                      DecodeCase{"MalformedThenWellFormed", "%%41", true, "%A"},
                      DecodeCase{"EscapedNulEndsText", "a%00b", true, "a"},
                      DecodeCase{"EscapedNulEndsRawText", "a%00b", false, "a"},
                      DecodeCase{"InputEndsAtNul", "a\0%41"s, true, "a"},
                      DecodeCase{"Empty", "", true, ""}),
    CaseName{});

class PercentEncodePath : public ::testing::TestWithParam<PathCase> {};

TEST_P(PercentEncodePath, EncodesLikeAnAddressComponent) {
    EXPECT_EQ(percentEncodePath(GetParam().path), GetParam().expected);
}

TEST_P(PercentEncodePath, DecodesBackToThePath) {
    EXPECT_EQ(percentDecode(percentEncodePath(GetParam().path), true), GetParam().path);
}

INSTANTIATE_TEST_SUITE_P(Cases, PercentEncodePath,
                         ::testing::Values(PathCase{"Root", "/", "%2F"},
                                           PathCase{"Chinese", "/" + kMyFiles,
                                                    "%2F%E6%88%91%E7%9A%84%E8%B5%84%E6%BA%90"},
                                           PathCase{"BlankAndPlus", "/a b+c", "%2Fa%20b%2Bc"},
                                           PathCase{"MarksKept", "/-_.!~*'()", "%2F-_.!~*'()"},
                                           PathCase{"ReservedEncoded", "/a&b=c?d#e%",
                                                    "%2Fa%26b%3Dc%3Fd%23e%25"},
                                           PathCase{"Empty", "", ""}),
                         CaseName{});

TEST(Utf8ToLocal, ReadsUpToTheFirstNul) {
    EXPECT_EQ(utf8ToLocal("{\"a\":1}\0{\"b\":2}"s), "{\"a\":1}");
    EXPECT_EQ(utf8ToLocal("\0abc"s), "");
}

TEST(Utf8ToLocal, ReplacesInvalidBytesAndKeepsValidText) {
    EXPECT_EQ(utf8ToLocal(kZhong + "\xC3"), kZhong + kReplacement);
    EXPECT_EQ(utf8ToLocal("a\xFF"
                          "b"),
              "a" + kReplacement + "b");
    EXPECT_EQ(utf8ToLocal(kMyFiles), kMyFiles);
}

TEST(LocalToUtf8, PassesProgramTextAndEndsAtNul) {
    EXPECT_EQ(localToUtf8(kMyFiles + "\0tail"s), kMyFiles);
    EXPECT_EQ(localToUtf8("\xC0\xAF"), kReplacement + kReplacement);
}
