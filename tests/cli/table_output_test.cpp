// The text formats of `records list` and `records export`, without running
// the program.

#include "cli/table_output.h"
#include "cli_harness.h"
#include "named_case.h"

#include <gtest/gtest.h>
#include <rapidjson/document.h>
#include <rapidjson/error/en.h>
#include <sstream>

using namespace vantorel::cli;
using vantorel::test::CaseName;
using vantorel::test::parseCsv;

namespace {

using vantorel::test::PrintTo;
using Strings = std::vector<std::string>;

Table oneColumn(const std::string& value) {
    return Table{.columns = {"v"}, .rows = {{value}}, .numericColumns = {}};
}

struct CsvCase {
    const char* name;
    std::string value;
    std::string field; // as written
};

class CsvField : public ::testing::TestWithParam<CsvCase> {};

TEST_P(CsvField, IsQuotedOnlyWhenItMustBeAndReadsBack) {
    const CsvCase& c = GetParam();
    std::ostringstream out;
    writeCsv(out, oneColumn(c.value));
    EXPECT_EQ(out.str(), "v\r\n" + c.field + "\r\n");

    std::string error;
    const auto records = parseCsv(out.str(), &error);
    ASSERT_TRUE(records) << error;
    ASSERT_EQ(records->size(), 2u);
    EXPECT_EQ((*records)[1], std::vector<std::string>{c.value});
}

INSTANTIATE_TEST_SUITE_P(
    TableOutput, CsvField,
    ::testing::Values(CsvCase{"plain", "a1.txt", "a1.txt"}, CsvCase{"empty", "", ""},
                      CsvCase{"chinese", "报告 2021.docx", "报告 2021.docx"},
                      CsvCase{"apostrophe", "it's mine.txt", "it's mine.txt"},
                      CsvCase{"comma", "a,b", "\"a,b\""},
                      CsvCase{"quote", "say \"hi\"", "\"say \"\"hi\"\"\""},
                      CsvCase{"only_quote", "\"", "\"\"\"\""},
                      CsvCase{"line_feed", "two\nlines", "\"two\nlines\""},
                      CsvCase{"carriage_return", "a\rb", "\"a\rb\""},
                      CsvCase{"all_at_once", "报告,\"终稿\"\r\n", "\"报告,\"\"终稿\"\"\r\n\""}),
    CaseName());

TEST(TableOutput, CsvHeaderRowsAndByteOrderMark) {
    const Table table{.columns = {"id", "path"}, .rows = {{"1", "/a"}, {"2", "/b,c"}}};
    std::ostringstream plain;
    writeCsv(plain, table);
    EXPECT_EQ(plain.str(), "id,path\r\n1,/a\r\n2,\"/b,c\"\r\n");

    std::ostringstream marked;
    writeCsv(marked, table, true);
    EXPECT_EQ(marked.str(), "\xEF\xBB\xBF" + plain.str());
}

// `records list --format csv` is read by spreadsheets as much as the export.
TEST(TableOutput, CsvKeepsFormulasFromRunningAndJsonAndTsvKeepThemExact) {
    const Strings formulas = {"=HYPERLINK(\"http://x.example\",\"a\")", "+cmd", "-1+2", "@SUM(1)"};
    for (const std::string& value : formulas) {
        SCOPED_TRACE(value);
        std::ostringstream csv;
        writeCsv(csv, oneColumn(value));
        const auto records = parseCsv(csv.str());
        ASSERT_TRUE(records);
        EXPECT_EQ((*records)[1], Strings{"'" + value});

        std::ostringstream tsv;
        writeTsv(tsv, oneColumn(value), false);
        EXPECT_EQ(tsv.str(), value + "\n");
        std::ostringstream json;
        writeJson(json, oneColumn(value));
        rapidjson::Document doc;
        doc.Parse(json.str().c_str());
        ASSERT_FALSE(doc.HasParseError()) << json.str();
        EXPECT_EQ(doc[0]["v"].GetString(), value);
    }
}

struct TsvCase {
    const char* name;
    std::string value;
    std::string written;
};

class TsvField : public ::testing::TestWithParam<TsvCase> {};

TEST_P(TsvField, KeepsEveryRowOnOneLine) {
    const TsvCase& c = GetParam();
    const Table table{.columns = {"a", "b"}, .rows = {{c.value, "end"}}};
    std::ostringstream out;
    writeTsv(out, table);
    EXPECT_EQ(out.str(), "a\tb\n" + c.written + "\tend\n");
    std::ostringstream bare;
    writeTsv(bare, table, false);
    EXPECT_EQ(bare.str(), c.written + "\tend\n");
}

INSTANTIATE_TEST_SUITE_P(TableOutput, TsvField,
                         ::testing::Values(TsvCase{"plain", "报告 2021.docx", "报告 2021.docx"},
                                           TsvCase{"tab", "a\tb", "a b"},
                                           TsvCase{"line_feed", "a\nb", "a b"},
                                           TsvCase{"crlf", "a\r\nb", "a  b"},
                                           TsvCase{"quotes_and_commas", "\"x\",y", "\"x\",y"},
                                           TsvCase{"empty", "", ""}),
                         CaseName());

struct TerminalCase {
    const char* name;
    std::string value;
    std::string shown;
};

class TerminalText : public ::testing::TestWithParam<TerminalCase> {};

// On a terminal, a name must not move the cursor, retitle the window, clear
// the screen or hide the text after it.
TEST_P(TerminalText, ShowsControlCharactersEscaped) {
    const TerminalCase& c = GetParam();
    EXPECT_EQ(terminalSafe(c.value), c.shown);
    std::ostringstream out;
    writeTsv(out, Table{.columns = {"a", "b"}, .rows = {{c.value, "end"}}}, true, true);
    std::string line = c.shown;
    for (char& ch : line)
        if (ch == '\t')
            ch = ' ';
    EXPECT_EQ(out.str(), "a\tb\n" + line + "\tend\n");
}

INSTANTIATE_TEST_SUITE_P(
    TableOutput, TerminalText,
    ::testing::Values(TerminalCase{"plain", "报告 2021.docx", "报告 2021.docx"},
                      TerminalCase{"escape_sequence", "\x1b[2Jx.txt", "\\x1b[2Jx.txt"},
                      TerminalCase{"window_title", "\x1b]0;owned\x07.txt",
                                   "\\x1b]0;owned\\x07.txt"},
                      TerminalCase{"line_breaks", "a\r\nb", "a\\r\\nb"},
                      TerminalCase{"tab_kept", "a\tb", "a\tb"},
                      TerminalCase{"delete", "a\x7f", "a\\x7f"},
                      TerminalCase{"nul", std::string("a\0b", 3), "a\\x00b"},
                      TerminalCase{"c1_csi",
                                   "a\xC2\x9B"
                                   "31m",
                                   "a\\u009b31m"},
                      TerminalCase{"latin1_kept", "caf\xC3\xA9", "caf\xC3\xA9"},
                      TerminalCase{"not_utf8", "\xB1\xA8 x", "\\xb1\\xa8 x"},
                      TerminalCase{"cut_sequence", "a\xE6\x8A", "a\\xe6\\x8a"}),
    CaseName());

struct JsonCase {
    const char* name;
    std::string value;
    std::string quoted; // jsonQuoted's text
};

class JsonText : public ::testing::TestWithParam<JsonCase> {};

TEST_P(JsonText, IsEscapedAndParsesBackToTheSameBytes) {
    const JsonCase& c = GetParam();
    EXPECT_EQ(jsonQuoted(c.value), c.quoted);

    std::ostringstream out;
    writeJson(out, oneColumn(c.value));
    rapidjson::Document doc;
    doc.Parse<rapidjson::kParseValidateEncodingFlag>(out.str().c_str());
    ASSERT_FALSE(doc.HasParseError())
        << rapidjson::GetParseError_En(doc.GetParseError()) << " in " << out.str();
    ASSERT_TRUE(doc.IsArray() && doc.Size() == 1 && doc[0].IsObject());
    const auto& v = doc[0]["v"];
    EXPECT_EQ(std::string(v.GetString(), v.GetStringLength()), c.value);
}

INSTANTIATE_TEST_SUITE_P(
    TableOutput, JsonText,
    ::testing::Values(JsonCase{"plain", "a1.txt", "\"a1.txt\""},
                      JsonCase{"chinese", "测试账号_小明", "\"测试账号_小明\""},
                      JsonCase{"quote", "say \"hi\"", "\"say \\\"hi\\\"\""},
                      JsonCase{"backslash", "C:\\dir", "\"C:\\\\dir\""},
                      JsonCase{"slash_kept", "/a/b", "\"/a/b\""},
                      JsonCase{"line_breaks_and_tab", "a\r\n\tb", "\"a\\r\\n\\tb\""},
                      JsonCase{"control", std::string("a\x01z\x1f", 4), "\"a\\u0001z\\u001f\""},
                      JsonCase{"nul", std::string("a\0b", 3), "\"a\\u0000b\""}),
    CaseName());

// A ledger written by another program may hold bytes that are not UTF-8; the
// JSON must still be JSON that a strict reader accepts.
TEST(TableOutput, JsonOfBytesThatAreNotUtf8StaysValidJson) {
    std::ostringstream out;
    writeJson(out, oneColumn("\xB1\xA8\xB8\xE6 report")); // GBK bytes
    rapidjson::Document doc;
    doc.Parse<rapidjson::kParseValidateEncodingFlag>(out.str().c_str());
    ASSERT_FALSE(doc.HasParseError()) << rapidjson::GetParseError_En(doc.GetParseError());
    EXPECT_NE(std::string(doc[0]["v"].GetString()).find(" report"), std::string::npos);
}

TEST(TableOutput, JsonWritesNumericColumnsAsNumbersOnlyWhenTheyAre) {
    const Table table{.columns = {"id", "fid"},
                      .rows = {{"1", "9007199254740993"},
                               {"007", "1"},
                               {"12345678901234567890", "2"},
                               {"", "3"},
                               {"-4", "4"}},
                      .numericColumns = {"id"}};
    std::ostringstream out;
    writeJson(out, table);
    rapidjson::Document doc;
    doc.Parse(out.str().c_str());
    ASSERT_FALSE(doc.HasParseError()) << out.str();
    ASSERT_EQ(doc.Size(), 5u);
    EXPECT_TRUE(doc[0]["id"].IsInt64());
    EXPECT_EQ(doc[0]["id"].GetInt64(), 1);
    // Ids that a number would change stay texts; other columns always are.
    EXPECT_STREQ(doc[0]["fid"].GetString(), "9007199254740993");
    EXPECT_STREQ(doc[1]["id"].GetString(), "007");
    EXPECT_STREQ(doc[2]["id"].GetString(), "12345678901234567890");
    EXPECT_STREQ(doc[3]["id"].GetString(), "");
    EXPECT_EQ(doc[4]["id"].GetInt64(), -4);
}

TEST(TableOutput, JsonOfNoRowsIsAnEmptyArray) {
    std::ostringstream out;
    writeJson(out, Table{.columns = {"id"}, .rows = {}});
    rapidjson::Document doc;
    doc.Parse(out.str().c_str());
    ASSERT_FALSE(doc.HasParseError()) << out.str();
    EXPECT_TRUE(doc.IsArray());
    EXPECT_EQ(doc.Size(), 0u);
}

} // namespace
