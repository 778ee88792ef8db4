// `vantorel-cli records ...` on a ledger the test fills itself (or by a real
// share against the simulator): what is listed, exported and deleted.

#include "cli_harness.h"
#include "named_case.h"
#include "share/share_run.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <rapidjson/document.h>

using namespace vantorel;
using namespace vantorel::test;
namespace fs = std::filesystem;

namespace {

using vantorel::test::PrintTo;

using Strings = std::vector<std::string>;
using Ids = std::vector<std::int64_t>;

const Strings kHeader = {"id",        "isdir",    "path",      "beforename", "aftername",
                         "sharelink", "password", "sharetime", "size",       "MD5",
                         "pic",       "fid",      "username"};

// Names with Chinese text, quotes, commas and apostrophes, two users, three
// days and a failure.
std::vector<ShareRecord> sampleRows() {
    return {
        ShareRecord{.id = 1,
                    .isdir = "0",
                    .path = "/文档/报告,\"终稿\" 2021.docx",
                    .beforename = "报告,\"终稿\" 2021.docx",
                    .sharelink = "http://127.0.0.1/s/1abcDEF",
                    .password = "ab12",
                    .sharetime = "2021-05-01 10:00:00",
                    .size = "1.5M",
                    .md5 = "0123456789abcdef0123456789abcdef",
                    .pic = "http://127.0.0.1/thumbnail/1",
                    .fid = "111",
                    .username = "小明"},
        ShareRecord{.id = 2,
                    .isdir = "0",
                    .path = "/文档/it's mine.txt",
                    .beforename = "it's mine.txt",
                    .sharelink = std::string(kFailedLinkText),
                    .fid = "222",
                    .username = "小明"},
        ShareRecord{.id = 3,
                    .isdir = "1",
                    .path = "/NOTES_重命名",
                    .beforename = "notes",
                    .aftername = "NOTES_重命名",
                    .sharelink = "http://127.0.0.1/s/1ghiJKL",
                    .password = "cd34",
                    .sharetime = "2021-06-15 23:59:59",
                    .fid = "333",
                    .username = "other user"},
        ShareRecord{.id = 4,
                    .isdir = "0",
                    .path = "/它说 \"你好\", 然后走了.txt",
                    .beforename = "它说 \"你好\", 然后走了.txt",
                    .sharelink = "http://127.0.0.1/s/1mnoPQR",
                    .password = "ef56",
                    .sharetime = "2021-07-01 00:00:00",
                    .size = "0.0K",
                    .md5 = "fedcba9876543210fedcba9876543210",
                    .fid = "9007199254740993",
                    .username = "小明"},
    };
}

Strings cellsOf(const ShareRecord& r) {
    return {
        std::to_string(r.id), r.isdir, r.path, r.beforename, r.aftername, r.sharelink, r.password,
        r.sharetime,          r.size,  r.md5,  r.pic,        r.fid,       r.username};
}

std::vector<Strings> tableOf(const std::vector<ShareRecord>& rows) {
    std::vector<Strings> table = {kHeader};
    for (const ShareRecord& r : rows)
        table.push_back(cellsOf(r));
    return table;
}

Ids idsOfTsv(const std::string& out) {
    Ids ids;
    const auto all = lines(out);
    for (std::size_t i = 1; i < all.size(); ++i)
        ids.push_back(std::stoll(splitTabs(all[i])[0]));
    return ids;
}

Ids idsInLedger(const fs::path& dataDir) {
    Ids ids;
    for (const ShareRecord& r : ledgerRows(dataDir))
        ids.push_back(r.id);
    return ids;
}

class RecordsCommand : public CliTest {
protected:
    void SetUp() override {
        for (const ShareRecord& row : sampleRows())
            insertRow(row);
    }
};

TEST_F(RecordsCommand, ListIsTabSeparatedWithAHeaderByDefault) {
    const ProcessResult r = cli({"records", "list"});
    ASSERT_EQ(r.exitCode, 0) << describe(r);
    const auto out = lines(r.out);
    const auto expected = tableOf(sampleRows());
    ASSERT_EQ(out.size(), expected.size()) << r.out;
    for (std::size_t i = 0; i < out.size(); ++i)
        EXPECT_EQ(splitTabs(out[i]), expected[i]) << out[i];
    EXPECT_EQ(r.err, "");
}

TEST_F(RecordsCommand, ListAsCsvIsRfc4180) {
    const ProcessResult r = cli({"records", "list", "--format", "csv"});
    ASSERT_EQ(r.exitCode, 0) << describe(r);
    EXPECT_EQ(r.out.rfind("id,isdir,", 0), 0u) << "no byte-order mark on standard output";
    std::string error;
    const auto table = parseCsv(r.out, &error);
    ASSERT_TRUE(table) << error << "\n" << r.out;
    EXPECT_EQ(*table, tableOf(sampleRows()));
}

TEST_F(RecordsCommand, ListAsJsonIsOneArrayOfObjectsKeyedByColumn) {
    const ProcessResult r = cli({"records", "list", "--format", "json"});
    ASSERT_EQ(r.exitCode, 0) << describe(r);
    rapidjson::Document doc;
    doc.Parse<rapidjson::kParseValidateEncodingFlag>(r.out.c_str());
    ASSERT_FALSE(doc.HasParseError()) << r.out;
    ASSERT_TRUE(doc.IsArray());
    const auto rows = sampleRows();
    ASSERT_EQ(doc.Size(), rows.size());
    for (rapidjson::SizeType i = 0; i < doc.Size(); ++i) {
        const auto& object = doc[i];
        ASSERT_TRUE(object.IsObject());
        ASSERT_EQ(object.MemberCount(), kHeader.size());
        const Strings cells = cellsOf(rows[i]);
        std::size_t c = 0;
        for (const auto& member : object.GetObject()) {
            EXPECT_EQ(member.name.GetString(), kHeader[c]);
            if (c == 0) {
                ASSERT_TRUE(member.value.IsInt64());
                EXPECT_EQ(member.value.GetInt64(), rows[i].id);
            } else {
                ASSERT_TRUE(member.value.IsString()) << kHeader[c];
                EXPECT_EQ(member.value.GetString(), cells[c]) << kHeader[c];
            }
            ++c;
        }
    }
}

TEST(RecordsCommandEmpty, ListOfAFreshDataDirectoryHasOnlyTheHeader) {
    TempDir temp;
    const std::string dir = temp.file("fresh");
    ProcessResult r = runCli({"--data-dir", dir, "records", "list"});
    ASSERT_EQ(r.exitCode, 0) << describe(r);
    EXPECT_EQ(lines(r.out), (Strings{"id\tisdir\tpath\tbeforename\taftername\tsharelink\tpassword"
                                     "\tsharetime\tsize\tMD5\tpic\tfid\tusername"}));
    r = runCli({"--data-dir", dir, "records", "list", "--format", "json"});
    ASSERT_EQ(r.exitCode, 0) << describe(r);
    rapidjson::Document doc;
    doc.Parse(r.out.c_str());
    ASSERT_FALSE(doc.HasParseError()) << r.out;
    EXPECT_TRUE(doc.IsArray() && doc.Empty());
}

struct FilterCase {
    const char* name;
    Strings args;
    Ids ids;
};

class RecordsFilter : public RecordsCommand, public ::testing::WithParamInterface<FilterCase> {};

TEST_P(RecordsFilter, ListsTheMatchingRowsInIdOrder) {
    const FilterCase& c = GetParam();
    Strings args = {"records", "list"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const ProcessResult r = cli(args);
    ASSERT_EQ(r.exitCode, 0) << describe(r);
    EXPECT_EQ(idsOfTsv(r.out), c.ids) << r.out;
}

INSTANTIATE_TEST_SUITE_P(
    RecordsCommand, RecordsFilter,
    ::testing::Values(FilterCase{"none", {}, {1, 2, 3, 4}}, FilterCase{"failed", {"--failed"}, {2}},
                      FilterCase{"shared", {"--shared"}, {1, 3, 4}},
                      FilterCase{"user", {"--user", "小明"}, {1, 2, 4}},
                      FilterCase{"user_with_blank", {"--user", "other user"}, {3}},
                      FilterCase{"user_is_exact", {"--user", "小"}, {}},
                      FilterCase{"name_in_beforename", {"--name", "终稿"}, {1}},
                      FilterCase{"name_in_aftername", {"--name", "重命名"}, {3}},
                      FilterCase{"name_ignores_ascii_case", {"--name", "Notes"}, {3}},
                      FilterCase{"name_with_quote_and_comma", {"--name", "\"你好\","}, {4}},
                      FilterCase{"name_with_apostrophe", {"--name", "it's"}, {2}},
                      FilterCase{"since_is_inclusive", {"--since", "2021-06-15"}, {3, 4}},
                      FilterCase{"until_is_inclusive", {"--until", "2021-06-15"}, {1, 3}},
                      FilterCase{
                          "one_day", {"--since", "2021-07-01", "--until", "2021-07-01"}, {4}},
                      FilterCase{"dates_leave_failures_out", {"--since", "2000-01-01"}, {1, 3, 4}},
                      FilterCase{"all_combined",
                                 {"--shared", "--user", "小明", "--name", ".DOCX", "--since",
                                  "2021-05-01", "--until", "2021-06-30"},
                                 {1}},
                      FilterCase{"failed_and_user", {"--failed", "--user", "other user"}, {}}),
    CaseName());

struct UsageCase {
    const char* name;
    Strings args;
};

class RecordsUsage : public RecordsCommand, public ::testing::WithParamInterface<UsageCase> {};

TEST_P(RecordsUsage, ExitsWith2AndChangesNothing) {
    const UsageCase& c = GetParam();
    const ProcessResult r = cli(c.args);
    EXPECT_EQ(r.exitCode, 2) << describe(r);
    EXPECT_EQ(r.out, "");
    EXPECT_FALSE(r.err.empty());
    EXPECT_EQ(idsInLedger(dataDir()), (Ids{1, 2, 3, 4}));
}

INSTANTIATE_TEST_SUITE_P(
    RecordsCommand, RecordsUsage,
    ::testing::Values(UsageCase{"slashed_date", {"records", "list", "--since", "2021/05/01"}},
                      UsageCase{"word_for_a_date", {"records", "list", "--until", "yesterday"}},
                      UsageCase{"failed_and_shared", {"records", "list", "--failed", "--shared"}},
                      UsageCase{"unknown_format", {"records", "list", "--format", "xml"}},
                      UsageCase{"export_without_file", {"records", "export"}},
                      UsageCase{"export_unknown_column",
                                {"records", "export", "x.csv", "--columns", "id,nope"}},
                      UsageCase{"delete_without_ids", {"records", "delete"}},
                      UsageCase{"delete_not_a_number", {"records", "delete", "2", "two"}},
                      UsageCase{"records_alone", {"records"}},
                      UsageCase{"unknown_records_command", {"records", "purge"}}),
    CaseName());

// --- export ------------------------------------------------------------------------

TEST_F(RecordsCommand, ExportCsvHasAByteOrderMarkAndReadsBackIntact) {
    const std::string file = tempFile("records.csv");
    const ProcessResult r = cli({"records", "export", file});
    ASSERT_EQ(r.exitCode, 0) << describe(r);
    EXPECT_EQ(r.out, "");
    const std::string text = readFile(file);
    ASSERT_EQ(text.rfind("\xEF\xBB\xBF", 0), 0u) << "no UTF-8 byte-order mark";
    std::string error;
    const auto table = parseCsv(std::string_view(text).substr(3), &error);
    ASSERT_TRUE(table) << error;
    EXPECT_EQ(*table, tableOf(sampleRows()));
}

std::string findOnPath(const std::string& program) {
    const char* path = std::getenv("PATH");
    std::string_view rest = path != nullptr ? path : "";
    while (!rest.empty()) {
        const std::size_t colon = rest.find(':');
        const std::string candidate = std::string(rest.substr(0, colon)) + "/" + program;
        if (::access(candidate.c_str(), X_OK) == 0)
            return candidate;
        if (colon == std::string_view::npos)
            break;
        rest.remove_prefix(colon + 1);
    }
    return {};
}

// A reader that is not ours: Python's csv module, as a spreadsheet import
// would see the file (the byte-order mark taken as such).
TEST_F(RecordsCommand, ExportCsvReadsBackIntactWithPythonsCsvModule) {
    const std::string python = findOnPath("python3");
    if (python.empty())
        GTEST_SKIP() << "python3 is not installed";
    const std::string file = tempFile("records.csv");
    ASSERT_EQ(cli({"records", "export", file, "--format", "csv"}).exitCode, 0);
    const ProcessResult py =
        runProcess(python, {"-c",
                            "import csv, json, sys\n"
                            "with open(sys.argv[1], newline='', encoding='utf-8-sig') as f:\n"
                            "    rows = list(csv.reader(f, strict=True))\n"
                            "sys.stdout.write(json.dumps(rows))\n",
                            file});
    ASSERT_EQ(py.exitCode, 0) << describe(py);
    rapidjson::Document doc;
    doc.Parse(py.out.c_str());
    ASSERT_TRUE(!doc.HasParseError() && doc.IsArray()) << py.out;
    std::vector<Strings> table;
    for (const auto& row : doc.GetArray()) {
        Strings cells;
        for (const auto& cell : row.GetArray())
            cells.emplace_back(cell.GetString(), cell.GetStringLength());
        table.push_back(std::move(cells));
    }
    EXPECT_EQ(table, tableOf(sampleRows()));
}

struct ExportCase {
    const char* name;
    const char* file;
    Strings args;
    std::string content;
};

class RecordsExport : public RecordsCommand, public ::testing::WithParamInterface<ExportCase> {};

TEST_P(RecordsExport, WritesTheChosenColumnsAndRows) {
    const ExportCase& c = GetParam();
    const std::string file = tempFile(c.file);
    Strings args = {"records", "export", file};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const ProcessResult r = cli(args);
    ASSERT_EQ(r.exitCode, 0) << describe(r);
    EXPECT_EQ(readFile(file), c.content);
}

INSTANTIATE_TEST_SUITE_P(
    RecordsCommand, RecordsExport,
    ::testing::Values(
        ExportCase{"txt_columns",
                   "out.txt",
                   {"--format", "txt", "--columns", "id,path"},
                   "1\t/文档/报告,\"终稿\" 2021.docx\n2\t/文档/it's mine.txt\n3\t/NOTES_重命名\n"
                   "4\t/它说 \"你好\", 然后走了.txt\n"},
        ExportCase{"txt_by_file_name",
                   "shared.txt",
                   {"--shared", "--user", "other user"},
                   "3\t1\t/NOTES_重命名\tnotes\tNOTES_重命名\thttp://127.0.0.1/s/1ghiJKL\tcd34\t"
                   "2021-06-15 23:59:59\t\t\t\t333\tother user\n"},
        ExportCase{"csv_columns_any_case_in_given_order",
                   "links.csv",
                   {"--columns", "SHARELINK, beforename,id", "--name", "\""},
                   "\xEF\xBB\xBF"
                   "sharelink,beforename,id\r\n"
                   "http://127.0.0.1/s/1abcDEF,\"报告,\"\"终稿\"\" 2021.docx\",1\r\n"
                   "http://127.0.0.1/s/1mnoPQR,\"它说 \"\"你好\"\", 然后走了.txt\",4\r\n"},
        ExportCase{"csv_of_failures",
                   "failed.txt",
                   {"--format", "csv", "--failed", "--columns", "path,sharelink"},
                   "\xEF\xBB\xBF"
                   "path,sharelink\r\n/文档/it's mine.txt,分享失败\r\n"}),
    CaseName());

TEST_F(RecordsCommand, ExportToAPlaceThatCannotBeWrittenFails) {
    writeFile(tempFile("plain"), "x");
    const ProcessResult r = cli({"records", "export", tempFile("plain") + "/out.csv"});
    EXPECT_EQ(r.exitCode, 1) << describe(r);
    EXPECT_NE(r.err.find("cannot write"), std::string::npos) << r.err;
}

TEST_F(RecordsCommand, ExportWithAnUnknownColumnWritesNoFile) {
    const ProcessResult r = cli({"records", "export", tempFile("x.csv"), "--columns", "id,nope"});
    EXPECT_EQ(r.exitCode, 2) << describe(r);
    EXPECT_NE(r.err.find("nope"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(tempFile("x.csv")));
}

// --- delete and clear -------------------------------------------------------------------

TEST_F(RecordsCommand, DeletePrintsHowManyRowsWent) {
    const ProcessResult r = cli({"records", "delete", "1", "3", "99"});
    ASSERT_EQ(r.exitCode, 0) << describe(r);
    EXPECT_EQ(r.out, "2\n");
    EXPECT_EQ(idsInLedger(dataDir()), (Ids{2, 4}));

    const ProcessResult again = cli({"records", "delete", "1"});
    ASSERT_EQ(again.exitCode, 0) << describe(again);
    EXPECT_EQ(again.out, "0\n");
}

struct ClearCase {
    const char* name;
    Strings args;
    std::string stdinText;
};

class ClearRefused : public RecordsCommand, public ::testing::WithParamInterface<ClearCase> {};

TEST_P(ClearRefused, DeletesNothingAndExitsWith2) {
    const ClearCase& c = GetParam();
    Strings args = {"records", "clear"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    ProcessOptions options;
    options.stdinText = c.stdinText;
    const ProcessResult r = cli(args, options);
    EXPECT_EQ(r.exitCode, 2) << describe(r);
    EXPECT_EQ(r.out.find("删除成功"), std::string::npos) << r.out;
    EXPECT_EQ(idsInLedger(dataDir()), (Ids{1, 2, 3, 4}));
}

INSTANTIATE_TEST_SUITE_P(
    RecordsCommand, ClearRefused,
    ::testing::Values(ClearCase{"wrong_word", {}, "删除\n"}, ClearCase{"yes", {}, "yes\n"},
                      ClearCase{"no_answer", {}, ""}, ClearCase{"empty_line", {}, "\n"},
                      ClearCase{"word_with_a_leading_blank", {}, " " + std::string(kConfirmWord)},
                      ClearCase{"word_twice", {}, std::string(kConfirmWord) + "删除所有分享记录\n"},
                      ClearCase{"wrong_confirm_option", {"--confirm", "删除所有"}, ""},
                      ClearCase{"confirm_option_wins_over_input",
                                {"--confirm", "yes"},
                                std::string(kConfirmWord) + "\n"}),
    CaseName());

class ClearConfirmed : public RecordsCommand, public ::testing::WithParamInterface<ClearCase> {};

TEST_P(ClearConfirmed, DeletesEverythingAndTheNextRowGetsId1) {
    const ClearCase& c = GetParam();
    Strings args = {"records", "clear"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    ProcessOptions options;
    options.stdinText = c.stdinText;
    const ProcessResult r = cli(args, options);
    ASSERT_EQ(r.exitCode, 0) << describe(r);
    EXPECT_EQ(r.out, "删除成功\n");
    EXPECT_TRUE(ledgerRows(dataDir()).empty());

    insertRow(ShareRecord{.isdir = "0", .path = "/after.txt", .fid = "5"});
    const ProcessResult list = cli({"records", "list"});
    EXPECT_EQ(idsOfTsv(list.out), (Ids{1})) << list.out;
}

INSTANTIATE_TEST_SUITE_P(
    RecordsCommand, ClearConfirmed,
    ::testing::Values(ClearCase{"word_on_input", {}, std::string(kConfirmWord) + "\n"},
                      ClearCase{"word_on_input_crlf", {}, std::string(kConfirmWord) + "\r\n"},
                      ClearCase{"word_without_line_end", {}, std::string(kConfirmWord)},
                      ClearCase{"confirm_option", {"--confirm", std::string(kConfirmWord)}, ""}),
    CaseName());

TEST_F(RecordsCommand, ClearAsksForTheWordOnStandardError) {
    ProcessOptions options;
    options.stdinText = "no\n";
    const ProcessResult r = cli({"records", "clear"}, options);
    EXPECT_NE(r.err.find("\"删除所有分享记录\""), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");
}

// --- a ledger that cannot be used -------------------------------------------------------

struct UnusableCase {
    const char* name;
    Strings args;
};

class RecordsWithoutLedger : public ::testing::TestWithParam<UnusableCase> {};

TEST_P(RecordsWithoutLedger, ExitsWith5) {
    TempDir temp;
    fs::create_directories(fs::path(temp.path()) / "data" / kLedgerFileName);
    Strings args = {"--data-dir", temp.file("data")};
    args.insert(args.end(), GetParam().args.begin(), GetParam().args.end());
    const ProcessResult r = runCli(args);
    EXPECT_EQ(r.exitCode, 5) << describe(r);
    EXPECT_NE(r.err.find(kNoLedgerMessage), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");
}

INSTANTIATE_TEST_SUITE_P(
    RecordsCommand, RecordsWithoutLedger,
    ::testing::Values(UnusableCase{"list", {"records", "list"}},
                      UnusableCase{"export", {"records", "export", "/dev/null"}},
                      UnusableCase{"delete", {"records", "delete", "1"}},
                      UnusableCase{"clear", {"records", "clear", "--confirm", "删除所有分享记录"}}),
    CaseName());

// --- names that went through a real share -----------------------------------------------

class RecordsOfARealShare : public CliSimTest {};

TEST_F(RecordsOfARealShare, CsvExportKeepsChineseQuotesAndCommasOfSharedNames) {
    const Strings names = {"报告,\"终稿\" 2021.docx", "它说 \"你好\", 然后走了.txt", "a'b,c\"d.md"};
    writeFile(tempFile("tree.json"),
              "{\"entries\": [{\"name\": \"导出\", \"children\": ["
              "{\"name\": \"报告,\\\"终稿\\\" 2021.docx\", \"mtime\": 1600000003},"
              "{\"name\": \"它说 \\\"你好\\\", 然后走了.txt\", \"mtime\": 1600000002},"
              "{\"name\": \"a'b,c\\\"d.md\", \"mtime\": 1600000001}]}]}");
    ASSERT_TRUE(startSim({"--tree", tempFile("tree.json")}));
    const ProcessResult shared = share({"--path", "/导出"});
    ASSERT_EQ(shared.exitCode, 0) << describe(shared);
    ASSERT_EQ(lines(shared.out).size(), 3u) << shared.out;

    const std::string file = tempFile("out.csv");
    const ProcessResult r = cli({"records", "export", file, "--columns", "path,beforename"});
    ASSERT_EQ(r.exitCode, 0) << describe(r);
    const std::string text = readFile(file);
    ASSERT_EQ(text.rfind("\xEF\xBB\xBF", 0), 0u);
    std::string error;
    const auto table = parseCsv(std::string_view(text).substr(3), &error);
    ASSERT_TRUE(table) << error;
    std::vector<Strings> expected = {{"path", "beforename"}};
    for (const std::string& name : names)
        expected.push_back({"/导出/" + name, name});
    EXPECT_EQ(*table, expected);
}

// --- what an export must never overwrite --------------------------------------------

struct ProtectedCase {
    const char* name;
    std::string target;     // relative to the data directory's parent, or absolute
    std::string linkTo;     // make `target` a symbolic link to this file of the data directory
    bool inDataDir = false; // run in the data directory, so that the target is relative to it
};

class ExportOntoDataFile : public RecordsCommand,
                           public ::testing::WithParamInterface<ProtectedCase> {};

TEST_P(ExportOntoDataFile, IsRefusedAndLeavesTheLedgerAndSettingsAlone) {
    const ProtectedCase& c = GetParam();
    const fs::path parent = dataDir().parent_path();
    writeFile((dataDir() / "set.ini").string(), "[set]\ntime=5\n");
    if (!c.linkTo.empty())
        fs::create_symlink(dataDir() / c.linkTo, parent / c.target);
    const auto before = filesIn(dataDir());
    ProcessOptions options;
    if (c.inDataDir)
        options.workDir = dataDir().string();
    const std::string target = c.inDataDir ? c.target : (parent / c.target).string();

    const ProcessResult r = cli({"records", "export", target}, options);
    EXPECT_EQ(r.exitCode, 2) << describe(r);
    EXPECT_NE(r.err.find("refusing to write " + target), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(filesIn(dataDir()), before);
    EXPECT_EQ(integrityCheck(ledgerFile()), "ok");
    EXPECT_EQ(idsInLedger(dataDir()), (Ids{1, 2, 3, 4}));
    EXPECT_EQ(readFile((dataDir() / "set.ini").string()), "[set]\ntime=5\n");
}

INSTANTIATE_TEST_SUITE_P(
    RecordsCommand, ExportOntoDataFile,
    ::testing::Values(ProtectedCase{"ledger", "data/linkledger.db"},
                      ProtectedCase{"ledger_spelt_otherwise", "data/../data/./linkledger.db"},
                      ProtectedCase{"ledger_relative", "linkledger.db", "", true},
                      ProtectedCase{"write_ahead_log", "data/linkledger.db-wal"},
                      ProtectedCase{"shared_memory", "data/linkledger.db-shm"},
                      ProtectedCase{"settings", "data/set.ini"},
                      ProtectedCase{"settings_as_text", "set.ini", "", true},
                      ProtectedCase{"link_to_the_ledger", "records.csv", "linkledger.db"}),
    CaseName());

TEST_F(RecordsCommand, ExportReplacesAnEarlierExportWhole) {
    const std::string file = tempFile("records.csv");
    writeFile(file, "an earlier export\n");
    const ProcessResult r = cli({"records", "export", file});
    ASSERT_EQ(r.exitCode, 0) << describe(r);
    const std::string text = readFile(file);
    const auto table = parseCsv(std::string_view(text).substr(3));
    ASSERT_TRUE(table);
    EXPECT_EQ(*table, tableOf(sampleRows()));
    // Nothing left beside it: no temporary file.
    EXPECT_EQ(filesIn(fs::path(file).parent_path()), (Strings{"data", "records.csv"}));
}

// A disk that fills up during the export, made here by a file-size limit on
// the program (its writes then fail as on a full disk): the old export stays
// as it was, and no half-written file is left.
TEST_F(RecordsCommand, ExportOnAFullDiskLeavesTheOldFile) {
    {
        LedgerDb raw(ledgerFile(), LedgerDb::Open::ExistingOnly);
        ASSERT_TRUE(raw.exec("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n "
                             "WHERE i < 4000) INSERT INTO linkledger_table SELECT null, 0, "
                             "'/big/' || printf('%0200d', i), 'f' || i, '', 'http://x/s/1' || i, "
                             "'ab12', '2021-05-01 10:00:00', '1K', '', '', 'x' || i, 'u', "
                             "'other' FROM n;"));
    }
    const std::string file = tempFile("records.csv");
    writeFile(file, "the export of yesterday\n");
    ProcessOptions options;
    options.fileSizeLimit = 256 * 1024;
    const ProcessResult r = cli({"records", "export", file}, options);
    EXPECT_EQ(r.exitCode, 1) << describe(r);
    EXPECT_NE(r.err.find("cannot write " + file + ": File too large"), std::string::npos) << r.err;
    EXPECT_EQ(readFile(file), "the export of yesterday\n");
    EXPECT_EQ(filesIn(fs::path(file).parent_path()), (Strings{"data", "records.csv"}));
    EXPECT_EQ(integrityCheck(ledgerFile()), "ok");
}

TEST_F(RecordsCommand, ExportToADeviceWritesToItAndLeavesItADevice) {
    const ProcessResult r = cli({"records", "export", "/dev/null"});
    ASSERT_EQ(r.exitCode, 0) << describe(r);
    EXPECT_TRUE(fs::is_character_file("/dev/null"));
}

// --- cells that spreadsheets would run ----------------------------------------------

class RecordsWithFormulas : public CliTest {
protected:
    static constexpr const char* kNames[] = {"=HYPERLINK(\"http://x.example\",\"点我\")", "+cmd",
                                             "@SUM(1)", "-2+3", "\tindent"};
    void SetUp() override {
        for (std::size_t i = 0; i < std::size(kNames); ++i)
            insertRow(ShareRecord{.isdir = "0",
                                  .path = std::string("/f/") + kNames[i],
                                  .beforename = kNames[i],
                                  .sharelink = "http://127.0.0.1/s/1" + std::to_string(i),
                                  .fid = std::to_string(100 + i)});
    }
    // The beforename column of every record of a CSV text.
    static Strings csvNames(std::string_view text) {
        const auto table = parseCsv(text);
        EXPECT_TRUE(table);
        Strings names;
        if (table)
            for (std::size_t i = 1; i < table->size(); ++i)
                names.push_back((*table)[i][3]);
        return names;
    }
};

TEST_F(RecordsWithFormulas, CsvLeadsThemWithAQuoteAndTsvAndJsonKeepThemExact) {
    Strings guarded;
    for (const char* name : kNames)
        guarded.push_back(std::string("'") + name);

    const std::string file = tempFile("records.csv");
    ASSERT_EQ(cli({"records", "export", file}).exitCode, 0);
    EXPECT_EQ(csvNames(std::string_view(readFile(file)).substr(3)), guarded);

    const ProcessResult list = cli({"records", "list", "--format", "csv"});
    ASSERT_EQ(list.exitCode, 0) << describe(list);
    EXPECT_EQ(csvNames(list.out), guarded);

    const ProcessResult json = cli({"records", "list", "--format", "json"});
    rapidjson::Document doc;
    doc.Parse(json.out.c_str());
    ASSERT_TRUE(!doc.HasParseError() && doc.IsArray()) << json.out;
    for (rapidjson::SizeType i = 0; i < doc.Size(); ++i)
        EXPECT_STREQ(doc[i]["beforename"].GetString(), kNames[i]);

    const std::string text = tempFile("records.txt");
    ASSERT_EQ(cli({"records", "export", text, "--columns", "beforename"}).exitCode, 0);
    EXPECT_EQ(readFile(text),
              "=HYPERLINK(\"http://x.example\",\"点我\")\n+cmd\n@SUM(1)\n-2+3\n indent\n");
}

// A name from the service must not drive the terminal it is listed on:
// clear the screen, retitle the window, hide the text after it.
TEST_F(RecordsCommand, ListOnATerminalShowsControlCharactersEscaped) {
    insertRow(ShareRecord{.isdir = "0",
                          .path = "/x/\x1b[2J\x1b]0;owned\x07name\rfake.txt",
                          .beforename = "\x1b[2J\x1b]0;owned\x07name\rfake.txt",
                          .fid = "55"});
    const TerminalRun run =
        runCliOnTerminal({"--data-dir", dataDir().string(), "records", "list", "--name", "owned"});
    EXPECT_EQ(run.exitCode, 0) << run.shown;
    const std::string& shown = run.shown;
    EXPECT_EQ(shown.find('\x1b'), std::string::npos) << shown;
    EXPECT_EQ(shown.find('\x07'), std::string::npos) << shown;
    EXPECT_EQ(shown.find('\r'), std::string::npos) << shown;
    EXPECT_NE(shown.find("/x/\\x1b[2J\\x1b]0;owned\\x07name\\rfake.txt"), std::string::npos)
        << shown;

    // Into a file or a pipe the text stays exact (only tabs and line breaks
    // become blanks).
    const ProcessResult piped = cli({"records", "list", "--name", "owned"});
    EXPECT_NE(piped.out.find("/x/\x1b[2J\x1b]0;owned\x07name fake.txt"), std::string::npos)
        << piped.out;
}

// --- ids are decimal ----------------------------------------------------------------

class DeleteByDecimalId : public CliTest {
protected:
    void SetUp() override {
        for (int i = 1; i <= 20; ++i)
            insertRow(ShareRecord{
                .isdir = "0", .path = "/r" + std::to_string(i), .fid = std::to_string(i)});
    }
    static Ids allBut(const Ids& gone) {
        Ids ids;
        for (std::int64_t i = 1; i <= 20; ++i)
            if (std::find(gone.begin(), gone.end(), i) == gone.end())
                ids.push_back(i);
        return ids;
    }
};

TEST_F(DeleteByDecimalId, LeadingZerosAreStillDecimal) {
    const ProcessResult r = cli({"records", "delete", "010", "0016"});
    ASSERT_EQ(r.exitCode, 0) << describe(r);
    EXPECT_EQ(r.out, "2\n");
    EXPECT_EQ(idsInLedger(dataDir()), allBut({10, 16}));
}

struct IdCase {
    const char* name;
    std::string id;
};

class NotADecimalId : public DeleteByDecimalId, public ::testing::WithParamInterface<IdCase> {};

TEST_P(NotADecimalId, IsRefusedAndNothingIsDeleted) {
    const std::string& id = GetParam().id;
    const ProcessResult r = cli({"records", "delete", "3", id});
    EXPECT_EQ(r.exitCode, 2) << describe(r);
    EXPECT_NE(r.err.find("not a record id: \"" + id + "\""), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(idsInLedger(dataDir()), allBut({}));
}

INSTANTIATE_TEST_SUITE_P(RecordsCommand, NotADecimalId,
                         ::testing::Values(IdCase{"hexadecimal", "0x10"},
                                           IdCase{"hexadecimal_capital", "0X8"},
                                           IdCase{"plus", "+1"}, IdCase{"exponent", "1e1"},
                                           IdCase{"fraction", "1.0"}, IdCase{"leading_blank", " 1"},
                                           IdCase{"trailing_letter", "12a"},
                                           IdCase{"full_width", "１"}, IdCase{"empty", ""},
                                           IdCase{"too_big", "99999999999999999999"}),
                         CaseName());

} // namespace