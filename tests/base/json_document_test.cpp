#include "base/json_document.h"
#include "named_case.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <limits>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace vantorel {
namespace {

using vantorel::test::CaseName;
using vantorel::test::PrintTo;

using ::testing::ElementsAre;
using ::testing::IsEmpty;

// Test names for the case tables.
JsonDocument parsed(std::string_view text) {
    JsonDocument doc;
    EXPECT_TRUE(doc.parse(text)) << text;
    return doc;
}

// --- Reading a listing reply ----------------------------------------------

TEST(JsonDocumentRead, ListingMemberKeepsAllDigitsOfItsId) {
    JsonDocument doc =
        parsed(R"({"list":[{"server_filename":"a.txt","isdir":0,"fs_id":123456789012345}]})");
    EXPECT_EQ(doc.count("list"), 1);
    EXPECT_EQ(doc.getText("list[0].server_filename"), "a.txt");
    EXPECT_EQ(doc.getText("list[0].isdir"), "0");
    EXPECT_EQ(doc.getText("list[0].fs_id"), "123456789012345");
}

TEST(JsonDocumentRead, RootArrayIsIndexedByALeadingBracket) {
    JsonDocument doc = parsed(R"([{"path":"/a"},{"path":"/b","fs_id":7}])");
    EXPECT_EQ(doc.getText("[1].path"), "/b");
    EXPECT_EQ(doc.getText("da[1].fs_id"), "7");
    EXPECT_EQ(doc.count(""), 2);
}

TEST(JsonDocumentRead, MissingIntermediatesReadAsNothing) {
    JsonDocument doc = parsed(R"({"list":[{"path":"/a"},{"path":"/b"}],"n":null})");
    for (std::string_view path : {"list[5].path", "list[2].path.x", "a.b.c.d", "n.x", "n[0]",
                                  "list[0].path.deeper.still"}) {
        SCOPED_TRACE(path);
        EXPECT_EQ(doc.getText(path), "");
        EXPECT_EQ(doc.getJsonText(path), "");
        EXPECT_EQ(doc.typeOf(path), JsonDocument::kTypeMissing);
        EXPECT_FALSE(doc.exists(path));
        EXPECT_EQ(doc.count(path), 0);
        EXPECT_EQ(doc.getNumber(path), 0);
    }
}

TEST(JsonDocumentRead, CountIsZeroForAnythingButAnArray) {
    JsonDocument doc = parsed(R"({"o":{"a":1},"s":"text","a":[1,2,3]})");
    EXPECT_EQ(doc.count("o"), 0);
    EXPECT_EQ(doc.count("s"), 0);
    EXPECT_EQ(doc.count("missing"), 0);
    EXPECT_EQ(doc.count("a"), 3);
}

TEST(JsonDocumentRead, TextOfValuesFollowsJavaScriptToString) {
    JsonDocument doc = parsed(
        R"({"o":{"a":1},"a":[1,"b"],"t":true,"f":false,"z":null,"nested":[1,[2,[3,null]],{}],"s":"x"})");
    EXPECT_EQ(doc.getText("o"), "[object Object]");
    EXPECT_EQ(doc.getText("a"), "1,b");
    EXPECT_EQ(doc.getText("t"), "true");
    EXPECT_EQ(doc.getText("f"), "false");
    EXPECT_EQ(doc.getText("z"), "");
    EXPECT_EQ(doc.getText("nested"), "1,2,3,,[object Object]");
    EXPECT_EQ(doc.getText("s"), "x");
    EXPECT_EQ(doc.getText(""), "[object Object]");
}

TEST(JsonDocumentRead, TypeCodes) {
    JsonDocument doc =
        parsed(R"({"s":"x","n":1.5,"b":false,"o":{},"a":[],"z":null,"toString":"own"})");
    EXPECT_EQ(doc.typeOf("s"), JsonDocument::kTypeString);
    EXPECT_EQ(doc.typeOf("n"), JsonDocument::kTypeNumber);
    EXPECT_EQ(doc.typeOf("b"), JsonDocument::kTypeBoolean);
    EXPECT_EQ(doc.typeOf("o"), JsonDocument::kTypeObject);
    EXPECT_EQ(doc.typeOf("a"), JsonDocument::kTypeArray);
    EXPECT_EQ(doc.typeOf("z"), JsonDocument::kTypeMissing);
    EXPECT_EQ(doc.typeOf("nothing"), JsonDocument::kTypeMissing);
    // Inherited methods are there but are not data.
    EXPECT_EQ(doc.typeOf("o.toJSONString"), JsonDocument::kTypeOther);
    EXPECT_EQ(doc.typeOf("a.parseJSON"), JsonDocument::kTypeOther);
    EXPECT_EQ(doc.getText("o.toJSONString"), "");
    EXPECT_EQ(doc.getJsonText("o.toJSONString"), "");
    // An own member of that name wins.
    EXPECT_EQ(doc.typeOf("toString"), JsonDocument::kTypeString);
}

TEST(JsonDocumentRead, LengthOfArraysAndStrings) {
    JsonDocument doc = parsed(R"({"a":[1,2,3],"s":"中文ab","o":{"length":"own"}})");
    EXPECT_EQ(doc.getText("a.length"), "3");
    EXPECT_EQ(doc.getText("s.length"), "4");
    EXPECT_EQ(doc.getText("o.length"), "own");
}

TEST(JsonDocumentRead, PathForms) {
    JsonDocument doc = parsed(R"({"list":[{"a":"1","b c":"2"}],"data":{"x":"3"},"中":"4"})");
    EXPECT_EQ(doc.getText("list[0]['a']"), "1");
    EXPECT_EQ(doc.getText(R"(list[0]["b c"])"), "2");
    EXPECT_EQ(doc.getText("list [ 0 ] . a"), "1");
    EXPECT_EQ(doc.getText(R"(["data"].x)"), "3");
    EXPECT_EQ(doc.getText("中"), "4");
    for (std::string_view bad : {"list[", "list..a", "list[x]", "list[0]]", ".list", "list[0].",
                                 "list[0]()", "(function(){return 1})()", "list[0].a;x=1"}) {
        SCOPED_TRACE(bad);
        EXPECT_EQ(doc.getText(bad), "");
    }
}

TEST(JsonDocumentRead, RootNameAndRootKeysLikeData) {
    JsonDocument doc = parsed(R"({"data":{"x":1},"list":[{"a":1}],"errno":0})");
    EXPECT_EQ(doc.getText("data.x"), "1");
    EXPECT_EQ(doc.getText("da.data.x"), "1");
    EXPECT_EQ(doc.getText("da.list[0].a"), "1");
    EXPECT_EQ(doc.getText("da"), "[object Object]");

    // A root key named like the root: "da.y" is first tried as the root's
    // y, then as the key "da".
    JsonDocument shadow = parsed(R"({"da":{"y":2}})");
    EXPECT_EQ(shadow.getText("da.y"), "2");
}

struct QualifyCase {
    const char* name;
    std::string path;
    std::string qualified;
    bool found;
};

class QualifyPath : public ::testing::TestWithParam<QualifyCase> {};

TEST_P(QualifyPath, RewritesAndReports) {
    JsonDocument doc = parsed(R"({"data":{"x":1},"list":[{"a":1}],"errno":0,"z":null})");
    std::string path = GetParam().path;
    EXPECT_EQ(doc.qualifyPath(path), GetParam().found);
    EXPECT_EQ(path, GetParam().qualified);
    EXPECT_EQ(doc.exists(GetParam().path), GetParam().found);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, QualifyPath,
    ::testing::Values(QualifyCase{"member", "list", "da.list", true},
                      QualifyCase{"nested", "list[0].a", "da.list[0].a", true},
                      QualifyCase{"leading_bracket", "[0]", "da[0]", false},
                      QualifyCase{"empty_is_root", "", "da", true},
                      QualifyCase{"key_starting_like_root", "data.x", "da.data.x", true},
                      QualifyCase{"qualified_found", "da.list", "da.list", true},
                      QualifyCase{"qualified_missing", "da.missing", "da.da.missing", false},
                      QualifyCase{"root_name", "da", "da", true},
                      QualifyCase{"zero_counts_as_found", "errno", "da.errno", true},
                      QualifyCase{"null_is_not_found", "z", "da.z", false},
                      QualifyCase{"missing", "missing", "da.missing", false}),
    CaseName{});

// --- Numbers ----------------------------------------------------------------

struct NumberCase {
    const char* name;
    const char* json;
    const char* text;
};

class NumberText : public ::testing::TestWithParam<NumberCase> {};

TEST_P(NumberText, FollowsTheEcmaScriptRule) {
    JsonDocument doc = parsed(std::string("[") + GetParam().json + "]");
    EXPECT_EQ(doc.getText("[0]"), GetParam().text);
    EXPECT_EQ(doc.getJsonText("[0]"), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Numbers, NumberText,
    ::testing::Values(
        NumberCase{"zero", "0", "0"}, NumberCase{"negative_zero", "-0", "0"},
        NumberCase{"negative_zero_fraction", "-0.0", "0"},
        NumberCase{"plain_integer", "100", "100"}, NumberCase{"negative", "-2.5", "-2.5"},
        NumberCase{"trailing_zero", "1.50", "1.5"}, NumberCase{"exponent_integer", "1E2", "100"},
        NumberCase{"exponent_fraction", "0.1e1", "1"},
        NumberCase{"sum_with_rounding", "0.30000000000000004", "0.30000000000000004"},
        NumberCase{"below_1e21", "1e20", "100000000000000000000"},
        NumberCase{"at_1e21", "1e21", "1e+21"}, NumberCase{"large_exponent", "1.5e300", "1.5e+300"},
        NumberCase{"small_exponent", "123e-20", "1.23e-18"},
        NumberCase{"at_1e_minus_6", "0.000001", "0.000001"},
        NumberCase{"below_1e_minus_6", "1e-7", "1e-7"},
        NumberCase{"negative_below_1e_minus_6", "-1.5e-7", "-1.5e-7"},
        NumberCase{"smallest_denormal", "5e-324", "5e-324"},
        NumberCase{"shortest_digits", "0.1", "0.1"},
        NumberCase{"fraction_rounds_like_a_double", "12345678901234567.0", "12345678901234568"},
        // Integers keep their digits where a double could not hold them.
        NumberCase{"fs_id_16_digits", "1234567890123456", "1234567890123456"},
        NumberCase{"integer_19_digits", "1234567890123456789", "1234567890123456789"},
        NumberCase{"two_to_53_plus_1", "9007199254740993", "9007199254740993"},
        NumberCase{"integer_30_digits", "123456789012345678901234567890",
                   "123456789012345678901234567890"}),
    CaseName{});

TEST(JsonDocumentNumbers, OverflowReadsAsInfinityAndJsonNull) {
    JsonDocument doc = parsed("[1e400,-1e400]");
    EXPECT_EQ(doc.getText("[0]"), "Infinity");
    EXPECT_EQ(doc.getText("[1]"), "-Infinity");
    EXPECT_EQ(doc.toJsonText(), "[null,null]");
}

TEST(JsonDocumentNumbers, GetNumberConvertsLikeJavaScript) {
    JsonDocument doc = parsed(
        R"({"n":12.5,"big":9007199254740993,"s":" 42 ","hex":"0x1A","word":"abc","t":true,"f":false,"a":["7"],"o":{}})");
    EXPECT_EQ(doc.getNumber("n"), 12.5);
    EXPECT_EQ(doc.getNumber("big"), 9007199254740992.0);
    EXPECT_EQ(doc.getNumber("s"), 42);
    EXPECT_EQ(doc.getNumber("hex"), 26);
    EXPECT_EQ(doc.getNumber("word"), 0);
    EXPECT_EQ(doc.getNumber("t"), 1);
    EXPECT_EQ(doc.getNumber("f"), 0);
    EXPECT_EQ(doc.getNumber("a"), 7);
    EXPECT_EQ(doc.getNumber("o"), 0);
}

TEST(JsonDocumentNumbers, SetNumberStoresThirteenSignificantDigits) {
    JsonDocument doc;
    EXPECT_TRUE(doc.setNumber("sum", 0.1 + 0.2));
    EXPECT_TRUE(doc.setNumber("big", 1e21));
    EXPECT_TRUE(doc.setNumber("id", 123456789012345.0));
    EXPECT_TRUE(doc.setNumber("neg", -0.0));
    EXPECT_EQ(doc.getText("sum"), "0.3");
    EXPECT_EQ(doc.getText("big"), "1e+21");
    EXPECT_EQ(doc.getText("id"), "123456789012300");
    EXPECT_EQ(doc.getText("neg"), "0");
    EXPECT_FALSE(doc.setNumber("nan", std::numeric_limits<double>::quiet_NaN()));
    EXPECT_FALSE(doc.exists("nan"));
}

// --- Parsing ----------------------------------------------------------------

TEST(JsonDocumentParse, EmptyAndNullTextsFail) {
    JsonDocument doc;
    EXPECT_FALSE(doc.parse(""));
    EXPECT_EQ(doc.toJsonText(), "");
    EXPECT_FALSE(doc.parse("   \r\n"));
    EXPECT_FALSE(doc.parse("null"));
    EXPECT_EQ(doc.toJsonText(), "null");
    EXPECT_TRUE(doc.parse("false"));
    EXPECT_TRUE(doc.parse("0"));
    EXPECT_EQ(doc.getText(""), "0");
}

TEST(JsonDocumentParse, JavaScriptLiteralForms) {
    JsonDocument doc = parsed("{a:'x'}");
    EXPECT_EQ(doc.getText("a"), "x");

    doc = parsed(R"({'key': "v", list: [1, 'two', {$n_1: true,},], 1: 'one', 1.50: 'x'})");
    EXPECT_EQ(doc.getText("key"), "v");
    EXPECT_EQ(doc.count("list"), 3);
    EXPECT_EQ(doc.getText("list[1]"), "two");
    EXPECT_EQ(doc.getText("list[2].$n_1"), "true");
    EXPECT_EQ(doc.getText("['1']"), "one");
    EXPECT_EQ(doc.getText("['1.5']"), "x");

    doc = parsed(R"({s: 'it\'s \x41\u4e2d\
 line', d: "say \"hi\""})");
    EXPECT_EQ(doc.getText("s"), "it's A中 line");
    EXPECT_EQ(doc.getText("d"), "say \"hi\"");
}

TEST(JsonDocumentParse, ScriptIsNeverRun) {
    // Each of these would run code (or never end) if it were evaluated.
    for (std::string_view script :
         {"(function(){while(1){}})()", "while(1){}", "{a: alert(1)}", "{a: x}", "1+2",
          "[1, (function(){return 2})()]", "{get a(){return 1}}", "new Object()", "this",
          "{a:1}; while(1){}", "{a:1} // comment", "undefined", "NaN", "{a:'x'} + 1"}) {
        SCOPED_TRACE(script);
        JsonDocument doc;
        EXPECT_FALSE(doc.parse(script));
        EXPECT_EQ(doc.typeOf(""), JsonDocument::kTypeMissing);
        EXPECT_EQ(doc.getText(""), "");
    }
}

TEST(JsonDocumentParse, RepeatedKeyKeepsFirstPlaceAndLastValue) {
    JsonDocument doc = parsed(R"({"a":1,"b":2,"a":3})");
    EXPECT_THAT(doc.memberNames(), ElementsAre("a", "b"));
    EXPECT_EQ(doc.getText("a"), "3");
    EXPECT_EQ(doc.toJsonText(), R"({"a":3,"b":2})");

    doc = parsed("{a:1, b:2, 'a':3}");
    EXPECT_EQ(doc.toJsonText(), R"({"a":3,"b":2})");

    // Objects of the same size and objects with many keys go other ways.
    doc = parsed(R"([{"a":1,"b":2},{"a":3,"b":4},{"a":5,"a":6}])");
    EXPECT_EQ(doc.toJsonText(), R"([{"a":1,"b":2},{"a":3,"b":4},{"a":6}])");
    EXPECT_EQ(doc.getText("[1].b"), "4");
    EXPECT_EQ(doc.getText("[2].b"), "");
    std::string many = "{";
    for (int i = 0; i < 100; ++i)
        many += "\"k" + std::to_string(i) + "\":" + std::to_string(i) + ",";
    many += R"("k5":"last"})";
    doc = parsed(many);
    EXPECT_EQ(doc.memberNames().size(), 100u);
    EXPECT_EQ(doc.getText("k5"), "last");
    EXPECT_EQ(doc.memberNames()[5], "k5");
}

TEST(JsonDocumentParse, KeysKeepInsertionOrder) {
    JsonDocument doc = parsed(R"({"z":1,"a":2,"m":{"y":1,"b":2},"0":3})");
    EXPECT_THAT(doc.memberNames(), ElementsAre("z", "a", "m", "0"));
    EXPECT_THAT(doc.memberNames("m"), ElementsAre("y", "b"));
    EXPECT_EQ(doc.toJsonText(), R"({"z":1,"a":2,"m":{"y":1,"b":2},"0":3})");
}

struct EscapeCase {
    const char* name;
    std::string json;
    std::string text;
};

class StringEscapes : public ::testing::TestWithParam<EscapeCase> {};

TEST_P(StringEscapes, DecodeToUtf8) {
    JsonDocument doc = parsed(R"({"s":)" + GetParam().json + "}");
    EXPECT_EQ(doc.getText("s"), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Escapes, StringEscapes,
    ::testing::Values(EscapeCase{"slash", R"("https:\/\/host\/a")", "https://host/a"},
                      EscapeCase{"bmp", R"("\u4e2d\u6587")", "中文"},
                      EscapeCase{"surrogate_pair", R"("\ud83d\ude00")", "\xF0\x9F\x98\x80"},
                      EscapeCase{"lone_high_surrogate", R"("a\ud800b")",
                                 "a\xEF\xBF\xBD"
                                 "b"},
                      EscapeCase{"lone_low_surrogate", R"("a\udc00b")",
                                 "a\xEF\xBF\xBD"
                                 "b"},
                      EscapeCase{"controls", R"("\t\r\n\b\f\"\\")", "\t\r\n\b\f\"\\"},
                      EscapeCase{"nul", R"("a\u0000b")", std::string("a\0b", 3)},
                      EscapeCase{"invalid_utf8",
                                 "\"a\xFF"
                                 "b\xC3\"",
                                 "a\xEF\xBF\xBD"
                                 "b\xEF\xBF\xBD"},
                      EscapeCase{"overlong_utf8", "\"\xC0\xAF\"", "\xEF\xBF\xBD\xEF\xBF\xBD"},
                      EscapeCase{"raw_chinese", "\"文件 it's\"", "文件 it's"}),
    CaseName{});

TEST(JsonDocumentParse, InvalidUtf8InKeysIsReplaced) {
    JsonDocument doc = parsed("{\"k\xFF\":1}");
    EXPECT_THAT(doc.memberNames(), ElementsAre("k\xEF\xBF\xBD"));
}

TEST(JsonDocumentParse, OddTexts) {
    JsonDocument doc;
    EXPECT_TRUE(doc.parse("\xEF\xBB\xBF{\"a\":1}")); // byte-order mark
    EXPECT_EQ(doc.getText("a"), "1");
    EXPECT_FALSE(doc.parse(std::string("{\"a\":1}\0junk", 12)));
    EXPECT_FALSE(doc.parse(R"({"a":1} {"b":2})"));
    EXPECT_FALSE(doc.parse(R"({"a":01})"));
    EXPECT_FALSE(doc.parse("{\"a\":\"line\nbreak\"}"));
    EXPECT_TRUE(doc.parse(R"("just a string")"));
    EXPECT_EQ(doc.getText(""), "just a string");
}

TEST(JsonDocumentParse, NestingIsBounded) {
    JsonDocument doc;
    EXPECT_FALSE(doc.parse(std::string(100000, '[') + std::string(100000, ']')));
    EXPECT_FALSE(doc.parse(std::string(100000, '{')));
    EXPECT_TRUE(doc.parse(std::string(200, '[') + "1" + std::string(200, ']')));
    EXPECT_EQ(doc.getText(""), "1");
}

TEST(JsonDocumentParse, ReparseReplacesTheRoot) {
    JsonDocument doc = parsed(R"({"a":1})");
    EXPECT_TRUE(doc.parse(R"({"b":2})"));
    EXPECT_FALSE(doc.exists("a"));
    EXPECT_FALSE(doc.parse("not json"));
    EXPECT_FALSE(doc.exists("b"));
    EXPECT_EQ(doc.toJsonText(), "null");
}

// --- JSON text --------------------------------------------------------------

TEST(JsonDocumentJson, CompactOutputWithStandardEscapes) {
    JsonDocument doc = parsed(
        "{ \"a\" : [ 1 , 2.50 , true , null ] ,\n \"s\" : \"q\\\"b\\\\n\\n\\u0001\\/\\u4e2d\" }");
    EXPECT_EQ(doc.toJsonText(), R"({"a":[1,2.5,true,null],"s":"q\"b\\n\n\u0001/中"})");
    EXPECT_EQ(doc.getJsonText("a"), "[1,2.5,true,null]");
    EXPECT_EQ(doc.getText("s", true), R"("q\"b\\n\n\u0001/中")");
}

TEST(JsonDocumentJson, PlaceholderComesOutAsABareBackslash) {
    JsonDocument doc;
    EXPECT_TRUE(doc.setValue("a", R"(C:\x)"));
    EXPECT_EQ(doc.getText("a"), R"(C:\x)");
    EXPECT_EQ(doc.getJsonText("a"), R"("C:\x")");
    EXPECT_EQ(doc.toJsonText(), R"({"a":"C:\x"})");
    std::vector<std::string> values = doc.allValues("", false);
    EXPECT_THAT(values, ElementsAre(R"(C:\x)"));
}

TEST(JsonDocumentJson, ParsedBackslashesStayEscaped) {
    JsonDocument doc = parsed(R"({"a":"C:\\x"})");
    EXPECT_EQ(doc.getText("a"), R"(C:\x)");
    EXPECT_EQ(doc.getJsonText("a"), R"("C:\\x")");
}

// --- Member names and values -------------------------------------------------

TEST(JsonDocumentMembers, NamesSplitAtLineBreaks) {
    EXPECT_THAT(parsed(R"({"a":1,"b":{"c":2}})").memberNames(), ElementsAre("a", "b"));
    EXPECT_THAT(parsed(R"({"a\r\nb":1,"c":2})").memberNames(), ElementsAre("a", "b", "c"));
    EXPECT_THAT(parsed(R"({"":1,"a":2})").memberNames(), ElementsAre("", "a"));
    EXPECT_THAT(parsed(R"({"a":1,"":2})").memberNames(), ElementsAre("a"));
    JsonDocument doc = parsed(R"({"arr":[1,2],"o":{}})");
    EXPECT_THAT(doc.memberNames("arr"), IsEmpty());
    EXPECT_THAT(doc.memberNames("missing"), IsEmpty());
    EXPECT_THAT(doc.memberNames("o"), IsEmpty());
}

TEST(JsonDocumentMembers, NamesNeverListInheritedMethods) {
    JsonDocument doc = parsed(R"({"x":{"a":1}})");
    EXPECT_THAT(doc.memberNames("x"), ElementsAre("a"));
}

TEST(JsonDocumentMembers, AllValuesSplitAtTheSeparator) {
    JsonDocument doc = parsed(R"({"a":"x","b":{"c":1},"d":""})");
    EXPECT_THAT(doc.allValues("", true), ElementsAre("x", "1"));
    EXPECT_THAT(doc.allValues("", false), ElementsAre("x"));

    doc = parsed(R"({"a":"x[2020年7月20日20时0分0秒]y","b":true,"c":"","d":"z"})");
    EXPECT_THAT(doc.allValues("", false), ElementsAre("x", "y", "true", "", "z"));

    doc = parsed(R"([1,[2,"z",{"k":false}],null,false,{"o":9007199254740993}])");
    EXPECT_THAT(doc.allValues("", true),
                ElementsAre("1", "2", "z", "false", "false", "9007199254740993"));
    EXPECT_THAT(doc.allValues("", false), ElementsAre("1", "false"));
    EXPECT_THAT(doc.allValues("missing", true), IsEmpty());
    EXPECT_THAT(doc.allValues("[1][1]", true), IsEmpty()); // a string has no members
}

TEST(JsonDocumentMembers, ArrayMemberText) {
    JsonDocument doc = parsed(R"({"a":["s",5,{"k":1}],"o":{"0":"zero"}})");
    EXPECT_EQ(doc.arrayMemberText(0, "a"), "s");
    EXPECT_EQ(doc.arrayMemberText(1, "a"), "");
    EXPECT_EQ(doc.arrayMemberText(1, "a", true), "5");
    EXPECT_EQ(doc.arrayMemberText(2, "a", true), R"({"k":1})");
    EXPECT_EQ(doc.arrayMemberText(0, "a", true), R"("s")");
    EXPECT_EQ(doc.arrayMemberText(3, "a", true), "");
    EXPECT_EQ(doc.arrayMemberText(-1, "a", true), "");
    EXPECT_EQ(doc.arrayMemberText(0, "o"), "zero");
}

// --- Writing ----------------------------------------------------------------

TEST(JsonDocumentWrite, TextModeKeepsTheCallersText) {
    JsonDocument doc;
    const std::string text = "it's \"quoted\"\r\nC:\\dir\\new \xE2\x90\x80 end";
    EXPECT_TRUE(doc.setValue("t", text));
    // The placeholder character itself also reads back as a backslash.
    EXPECT_EQ(doc.getText("t"), "it's \"quoted\"\r\nC:\\dir\\new \\ end");
    EXPECT_EQ(doc.typeOf("t"), JsonDocument::kTypeString);
}

TEST(JsonDocumentWrite, AssignmentNeedsAnExistingParent) {
    JsonDocument doc = parsed(R"({"o":{"a":1},"arr":[1],"s":"x"})");
    EXPECT_TRUE(doc.setValue("o.b", "2"));
    EXPECT_TRUE(doc.setValue("n", "new"));
    EXPECT_TRUE(doc.setValue("da.o.a", "one"));
    EXPECT_FALSE(doc.setValue("missing.x", "1"));
    EXPECT_FALSE(doc.setValue("s.x", "1"));      // a string takes no members
    EXPECT_FALSE(doc.setValue("arr.x", "1"));    // nor does an array take names
    EXPECT_FALSE(doc.setValue("da.fresh", "1")); // "da.fresh" is missing: it means da.da.fresh
    EXPECT_FALSE(doc.setValue("o[", "1"));
    EXPECT_EQ(doc.toJsonText(), R"({"o":{"a":"one","b":"2"},"arr":[1],"s":"x","n":"new"})");
}

TEST(JsonDocumentWrite, JsonModeMergesIntoAnObject) {
    JsonDocument doc =
        parsed(R"({"o":{"a":"1","n":5,"z":null,"sub":{"k":1},"arr":[1],"keep":true},"s":"x"})");
    EXPECT_TRUE(doc.setValue(
        "o", R"({"a":"2","n":6,"z":7,"sub":{"j":2},"arr":[2,3],"new":{"d":1},"toJSONString":1})",
        true));
    EXPECT_EQ(
        doc.getJsonText("o"),
        R"({"a":"2","n":6,"z":7,"sub":{"k":1,"j":2},"arr":[1,2,3],"keep":true,"new":{"d":1}})");
    EXPECT_TRUE(doc.setValue("o", "", true)); // nothing to merge
    EXPECT_TRUE(doc.setValue("s", "[1,{a:'b'}]", true));
    EXPECT_EQ(doc.getJsonText("s"), R"([1,{"a":"b"}])");
    EXPECT_FALSE(doc.setValue("s", "(function(){})()", true));
    EXPECT_EQ(doc.getJsonText("s"), R"([1,{"a":"b"}])");
    EXPECT_TRUE(doc.setValue("s", "", true)); // undefined: reads as missing
    EXPECT_FALSE(doc.exists("s"));
    EXPECT_EQ(doc.toJsonText().find("\"s\""), std::string::npos);
}

TEST(JsonDocumentWrite, SetFromExpressionTakesLiteralsOnly) {
    JsonDocument doc;
    EXPECT_TRUE(doc.setFromExpression("a", "{k:'v', n:[1,2]}"));
    EXPECT_EQ(doc.getJsonText("a"), R"({"k":"v","n":[1,2]})");
    EXPECT_TRUE(doc.setFromExpression("b", "12"));
    EXPECT_EQ(doc.typeOf("b"), JsonDocument::kTypeNumber);
    EXPECT_TRUE(doc.setFromExpression("c", "'text'"));
    EXPECT_EQ(doc.getText("c"), "text");
    EXPECT_FALSE(doc.setFromExpression("d", "(function(){while(1){}})()"));
    EXPECT_FALSE(doc.setFromExpression("d", "a.k"));
    EXPECT_FALSE(doc.exists("d"));
    EXPECT_TRUE(doc.setFromExpression("b", ""));
    EXPECT_FALSE(doc.exists("b"));
}

TEST(JsonDocumentWrite, ArrayAdd) {
    JsonDocument doc = parsed(R"({"n":5})");
    EXPECT_TRUE(doc.arrayAdd("it's C:\\new", "arr"));
    EXPECT_TRUE(doc.arrayAdd("first", "arr", false, true));
    EXPECT_TRUE(doc.arrayAdd(R"({"k":1})", "arr", true));
    EXPECT_FALSE(doc.arrayAdd("{k:", "arr", true));
    EXPECT_TRUE(doc.arrayAdd("", "arr", true)); // adds nothing
    EXPECT_EQ(doc.getJsonText("arr"), R"(["first","it's C:\\new",{"k":1}])");
    EXPECT_EQ(doc.getText("arr[1]"), "it's C:\\new");
    EXPECT_TRUE(doc.arrayAdd("x", "n")); // a non-array becomes an array first
    EXPECT_EQ(doc.getJsonText("n"), R"(["x"])");
    EXPECT_FALSE(doc.arrayAdd("x", "missing.deeper"));
}

TEST(JsonDocumentWrite, ArrayMembers) {
    JsonDocument doc = parsed(R"({"a":[1],"o":{}})");
    EXPECT_TRUE(doc.setArrayMember(2, "a", "3", true));
    EXPECT_EQ(doc.toJsonText(), R"({"a":[1,null,3],"o":{}})");
    EXPECT_EQ(doc.getText("a"), "1,,3");
    EXPECT_EQ(doc.count("a"), 3);
    EXPECT_TRUE(doc.setArrayMember(0, "a", "one"));
    EXPECT_TRUE(doc.setArrayMember(1, "o", "v"));
    EXPECT_EQ(doc.getText("o['1']"), "v");
    EXPECT_FALSE(doc.setArrayMember(-1, "a", "x"));
    EXPECT_FALSE(doc.setArrayMember(100000000, "a", "x")); // not a hundred million holes
    EXPECT_FALSE(doc.setArrayMember(0, "missing", "x"));

    EXPECT_TRUE(doc.removeArrayMember(-1, "a")); // counts from the end
    EXPECT_EQ(doc.getJsonText("a"), R"(["one",null])");
    EXPECT_TRUE(doc.removeArrayMember(0, "a"));
    EXPECT_FALSE(doc.removeArrayMember(5, "a"));
    EXPECT_FALSE(doc.removeArrayMember(0, "o"));
    EXPECT_EQ(doc.getJsonText("a"), "[null]");
}

TEST(JsonDocumentWrite, Remove) {
    JsonDocument doc = parsed(R"({"a":1,"b":[1,2,3],"c":{"d":1},"e":2})");
    EXPECT_TRUE(doc.remove("a"));
    EXPECT_TRUE(doc.remove("b[1]")); // leaves a hole
    EXPECT_TRUE(doc.remove("c.d"));
    EXPECT_FALSE(doc.remove("missing"));
    EXPECT_FALSE(doc.remove("")); // the root stays
    EXPECT_EQ(doc.toJsonText(), R"({"b":[1,null,3],"c":{},"e":2})");
    EXPECT_EQ(doc.count("b"), 3);
}

TEST(JsonDocumentWrite, ClearAndRootAssignment) {
    JsonDocument doc = parsed("[1,2]");
    EXPECT_TRUE(doc.clear());
    EXPECT_EQ(doc.toJsonText(), "{}");
    // JSON mode merges into the object that is there: an array's members
    // arrive under their index names.
    EXPECT_TRUE(doc.setValue("", "[3]", true));
    EXPECT_EQ(doc.toJsonText(), R"({"0":3})");
    EXPECT_TRUE(doc.setFromExpression("", "[3]"));
    EXPECT_EQ(doc.toJsonText(), "[3]");
    EXPECT_TRUE(doc.arrayAdd("4", "", true));
    EXPECT_EQ(doc.toJsonText(), "[3,4]");
    EXPECT_TRUE(doc.initialise());
    EXPECT_EQ(doc.toJsonText(), "{}");
}

TEST(JsonDocumentWrite, NestingIsBoundedForWritesToo) {
    JsonDocument doc;
    EXPECT_FALSE(doc.setFromExpression("a", std::string(512, '[') + std::string(512, ']')));
    EXPECT_FALSE(doc.exists("a"));
    EXPECT_TRUE(doc.setFromExpression("a", std::string(511, '[') + std::string(511, ']')));
    std::string innermost = "a";
    for (int i = 0; i < 510; ++i)
        innermost += "[0]";
    EXPECT_EQ(doc.typeOf(innermost), JsonDocument::kTypeArray);
    EXPECT_TRUE(doc.arrayAdd("1", innermost, true));
    EXPECT_FALSE(doc.arrayAdd("[]", innermost, true));
}

TEST(JsonDocumentWrite, ManyAppendsStayLinear) {
    JsonDocument doc;
    for (int i = 0; i < 20000; ++i)
        ASSERT_TRUE(doc.arrayAdd(std::to_string(i), "list", true));
    EXPECT_EQ(doc.count("list"), 20000);
    EXPECT_EQ(doc.getText("list[19999]"), "19999");
    for (int i = 0; i < 300; ++i)
        ASSERT_TRUE(doc.setValue("k" + std::to_string(i), "v"));
    EXPECT_EQ(doc.memberNames().size(), 301u);
    EXPECT_EQ(doc.getText("k299"), "v");
}

// --- Documents sharing and copying -------------------------------------------

TEST(JsonDocumentSharing, CloneSharesTheRoot) {
    JsonDocument doc = parsed(R"({"a":1})");
    JsonDocument twin = doc.clone();
    EXPECT_TRUE(twin.setValue("b", "2"));
    EXPECT_EQ(doc.getText("b"), "2");
    EXPECT_TRUE(doc.parse(R"({"c":3})"));
    EXPECT_EQ(twin.toJsonText(), R"({"c":3})");
    JsonDocument third(doc.engine());
    EXPECT_EQ(third.getText("c"), "3");

    doc.destroy(); // the others keep the root alive
    EXPECT_EQ(twin.getText("c"), "3");
}

TEST(JsonDocumentSharing, SubDocumentsAreCopies) {
    JsonDocument doc = parsed(R"({"list":[{"a":1,"big":123456789012345678901},{"a":2}]})");
    JsonDocument member = doc.arrayMemberDocument(0, "list");
    JsonDocument list = doc.getDocument("list");
    EXPECT_EQ(member.toJsonText(), R"({"a":1,"big":123456789012345678901})");
    EXPECT_EQ(list.count(""), 2);
    EXPECT_TRUE(member.setValue("a", "changed"));
    EXPECT_TRUE(doc.parse("[]"));
    EXPECT_EQ(doc.getText("list[0].a"), "");
    EXPECT_EQ(member.getText("a"), "changed");
    EXPECT_EQ(list.getText("[1].a"), "2");

    EXPECT_EQ(doc.getDocument("missing").toJsonText(), "");
    EXPECT_FALSE(doc.getDocument("missing").exists(""));
    EXPECT_EQ(doc.arrayMemberDocument(9, "").toJsonText(), "");
}

TEST(JsonDocumentSharing, SubDocumentOfTextModeValueKeepsItsBackslash) {
    JsonDocument doc;
    ASSERT_FALSE(doc.setValue("o.p", "x")); // no "o" yet
    ASSERT_TRUE(doc.setValue("o", "{}", true));
    ASSERT_TRUE(doc.setValue("o.p", R"(C:\x)"));
    JsonDocument copy = doc.getDocument("o");
    EXPECT_EQ(copy.getText("p"), R"(C:\x)");
}

TEST(JsonDocumentSharing, ReleasedDocumentFailsQuietlyUntilReused) {
    JsonDocument doc = parsed(R"({"a":1})");
    doc.destroy();
    EXPECT_EQ(doc.getText("a"), "");
    EXPECT_EQ(doc.toJsonText(), "");
    EXPECT_EQ(doc.count(""), 0);
    EXPECT_FALSE(doc.exists(""));
    EXPECT_FALSE(doc.setValue("a", "1"));
    EXPECT_FALSE(doc.clear());
    EXPECT_THAT(doc.memberNames(), IsEmpty());
    EXPECT_EQ(doc.engine(), nullptr);
    std::string path = "a";
    EXPECT_FALSE(doc.qualifyPath(path));
    EXPECT_EQ(path, "da.a");
    EXPECT_TRUE(doc.parse(R"({"b":2})"));
    EXPECT_EQ(doc.getText("b"), "2");
}

} // namespace
} // namespace vantorel
