// `vantorel-cli share` run for real against the simulated service: exit
// status, the entry lines on standard output, the messages and summary on
// standard error, and the ledger the run leaves.

#include "cli_harness.h"
#include "named_case.h"
#include "share/share_run.h"
#include "sim_client.h"
#include "sim_request_log.h"
#include "sim_state.h"
#include "sim_tree_json.h"

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>
#include <sys/stat.h>
#include <thread>

using namespace vantorel;
using namespace vantorel::test;
namespace fs = std::filesystem;

namespace {

using vantorel::test::PrintTo;

constexpr std::string_view kCodeTooLong = "提取密码,不能大于4位";
constexpr std::string_view kCodeForm = "提取密码必须是4位数字和字母组合";

std::string lastLine(const std::string& text) {
    const auto all = lines(text);
    return all.empty() ? std::string() : all.back();
}

std::string summaryLine(int shared, int failed, int skipped) {
    return std::to_string(shared) + " shared, " + std::to_string(failed) + " failed, " +
           std::to_string(skipped) + " skipped";
}

// Field `index` of each stdout line.
std::vector<std::string> column(const std::string& out, std::size_t index) {
    std::vector<std::string> values;
    for (const std::string& line : lines(out)) {
        const auto f = splitTabs(line);
        values.push_back(index < f.size() ? f[index] : std::string());
    }
    return values;
}

std::vector<std::string> paths(const std::vector<ShareRecord>& rows) {
    std::vector<std::string> result;
    for (const ShareRecord& r : rows)
        result.push_back(r.path);
    return result;
}

using Strings = std::vector<std::string>;

class ShareCommand : public CliSimTest {};

TEST_F(ShareCommand, FolderRunSharesEveryEntryInOrderAndRecordsIt) {
    ASSERT_TRUE(startSim());
    const ProcessResult r = share({"--path", "/A"});
    ASSERT_EQ(r.exitCode, 0) << describe(r);

    expectOnlyEntryLines(r.out);
    EXPECT_EQ(column(r.out, 0), (Strings{"shared", "shared", "shared"}));
    EXPECT_EQ(column(r.out, 1), (Strings{"/A/a1.txt", "/A/B", "/A/C"}));
    EXPECT_NE(r.err.find(kRunCompletedMessage), std::string::npos) << r.err;
    EXPECT_EQ(lastLine(r.err), summaryLine(3, 0, 0));

    const auto rows = ledgerRows(dataDir());
    ASSERT_EQ(rows.size(), 3u);
    const auto links = column(r.out, 2);
    const auto codes = column(r.out, 3);
    for (std::size_t i = 0; i < rows.size(); ++i) {
        SCOPED_TRACE(rows[i].path);
        EXPECT_EQ(rows[i].id, static_cast<std::int64_t>(i + 1));
        EXPECT_EQ(rows[i].sharelink, links[i]);
        EXPECT_EQ(rows[i].password, codes[i]);
        EXPECT_EQ(rows[i].sharetime, kSimShareTime);
        EXPECT_EQ(rows[i].username, SimProcess::kUser);
        EXPECT_EQ(rows[i].isdir, i == 0 ? "0" : "1");
    }
    EXPECT_EQ(paths(rows), column(r.out, 1));
    EXPECT_EQ(simState()["share_count"].GetInt(), 3);
}

TEST_F(ShareCommand, SecondRunPrintsSkippedLinesAndSharesNothing) {
    ASSERT_TRUE(startSim());
    ASSERT_EQ(share({"--path", "/A"}).exitCode, 0);

    const ProcessResult again = share({"--path", "/A"});
    ASSERT_EQ(again.exitCode, 0) << describe(again);
    EXPECT_EQ(lines(again.out), (Strings{"skipped\t/A/a1.txt", "skipped\t/A/B", "skipped\t/A/C"}));
    EXPECT_EQ(lastLine(again.err), summaryLine(0, 0, 3));
    EXPECT_EQ(ledgerRows(dataDir()).size(), 3u);
    EXPECT_EQ(simState()["share_count"].GetInt(), 3);
}

TEST_F(ShareCommand, SelectionRunSharesExactlyTheSelectedItems) {
    ASSERT_TRUE(startSim());
    // The selection as the page script gives it: members of the listing, as
    // the service wrote them (the big fs_id keeps all its digits).
    auto client = makeSimClient(sim());
    const auto listing = client->Get(
        std::string("/api/list?dir=%2F&bdstoken=") + SimProcess::kBdstoken, simLoginHeaders());
    ASSERT_TRUE(listing && listing->status == 200);
    rapidjson::Document list;
    list.Parse(listing->body.c_str());
    ASSERT_TRUE(list.IsObject() && list["list"].IsArray()) << listing->body;
    rapidjson::Document selection(rapidjson::kArrayType);
    Strings selected;
    for (auto& member : list["list"].GetArray()) {
        const std::string name = member["server_filename"].GetString();
        if (name == "A" || name == "大编号_文件.bin" || name == "readme.txt") {
            selected.push_back(member["path"].GetString());
            selection.PushBack(rapidjson::Value(member, selection.GetAllocator()),
                               selection.GetAllocator());
        }
    }
    ASSERT_EQ(selected.size(), 3u);
    rapidjson::StringBuffer text;
    rapidjson::Writer<rapidjson::StringBuffer> writer(text);
    selection.Accept(writer);
    ASSERT_NE(std::string(text.GetString()).find("9007199254740993"), std::string::npos);
    writeFile(tempFile("selection.json"), std::string(text.GetString()) + "\n");
    const int listedBefore = simRequests("list");

    const ProcessResult r = share({"--selection", tempFile("selection.json")});
    ASSERT_EQ(r.exitCode, 0) << describe(r);
    expectOnlyEntryLines(r.out);
    EXPECT_EQ(column(r.out, 0), (Strings{"shared", "shared", "shared"}));
    EXPECT_EQ(column(r.out, 1), selected);
    EXPECT_EQ(lastLine(r.err), summaryLine(3, 0, 0));
    // A selection is not walked: nothing inside /A is listed or shared.
    EXPECT_EQ(simRequests("list"), listedBefore);
    EXPECT_EQ(simState()["share_count"].GetInt(), 3);

    const auto rows = ledgerRows(dataDir());
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(paths(rows), selected);
    for (const ShareRecord& row : rows) {
        SCOPED_TRACE(row.path);
        const bool folder = row.path == "/A";
        EXPECT_EQ(row.isdir, folder ? "1" : "0");
        EXPECT_EQ(row.md5.empty(), folder);
        if (row.path == "/大编号_文件.bin") {
            EXPECT_EQ(row.fid, "9007199254740993");
        }
    }
}

TEST_F(ShareCommand, QuotaEndsTheRunWithStatus3AfterExactlyThatManyShares) {
    ASSERT_TRUE(startSim());
    const ProcessResult r = share({"--path", "/A", "--set", "ShareNumber=2"});
    EXPECT_EQ(r.exitCode, 3) << describe(r);
    expectOnlyEntryLines(r.out);
    EXPECT_EQ(column(r.out, 0), (Strings{"shared", "shared"}));
    EXPECT_NE(r.err.find(kQuotaReachedMessage), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find(kRunCompletedMessage), std::string::npos) << r.err;
    EXPECT_EQ(lastLine(r.err), summaryLine(2, 0, 0));
    EXPECT_EQ(ledgerRows(dataDir()).size(), 2u);
    EXPECT_EQ(simState()["share_count"].GetInt(), 2);
}

// --- failures the service reports -------------------------------------------

struct RefusalCase {
    const char* name;
    const char* fault;   // makes the share of /A/B fail
    const char* line;    // its standard output line
    const char* summary; // the last line on standard error
    bool recorded;       // a failure row is written
    const char* next;    // the line of /A/B in the next run
};

class ShareRefusal : public CliSimTest, public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(ShareRefusal, PrintsAFailedOrPendingLine) {
    const RefusalCase& c = GetParam();
    ASSERT_TRUE(startSim({"--fault", c.fault}));
    const ProcessResult r = share({"--path", "/A"});
    ASSERT_EQ(r.exitCode, 0) << describe(r);
    expectOnlyEntryLines(r.out);
    const auto out = lines(r.out);
    ASSERT_EQ(out.size(), 3u) << r.out;
    EXPECT_EQ(out[0].rfind("shared\t/A/a1.txt\t", 0), 0u);
    EXPECT_EQ(out[1], c.line);
    EXPECT_EQ(out[2].rfind("shared\t/A/C\t", 0), 0u);
    EXPECT_EQ(lastLine(r.err), c.summary);

    const auto rows = ledgerRows(dataDir());
    const auto failed = std::find_if(rows.begin(), rows.end(),
                                     [](const ShareRecord& row) { return row.path == "/A/B"; });
    ASSERT_EQ(failed != rows.end(), c.recorded);
    if (c.recorded) {
        EXPECT_EQ(failed->sharelink, kFailedLinkText);
        EXPECT_EQ(failed->password, "");
        EXPECT_EQ(failed->sharetime, "");
    }

    const ProcessResult again = share({"--path", "/A"});
    ASSERT_EQ(again.exitCode, 0) << describe(again);
    const auto second = lines(again.out);
    ASSERT_EQ(second.size(), 3u) << again.out;
    EXPECT_EQ(second[1].rfind(c.next, 0), 0u) << second[1];
}

INSTANTIATE_TEST_SUITE_P(
    ShareCommand, ShareRefusal,
    ::testing::Values(
        // A refusal is recorded; a folder keeps its row and is not tried again.
        RefusalCase{"errno", "share:errno=115,after=1,times=1", "failed\t/A/B\t115",
                    "2 shared, 1 failed, 0 skipped", true, "skipped\t/A/B"},
        // No verdict at all: nothing is known, nothing recorded, tried again.
        RefusalCase{"no_errno", "share:status=500,after=1,times=1", "pending\t/A/B\tHTTP 状态 500",
                    "2 shared, 0 failed, 0 skipped, 1 pending", false, "shared\t/A/B\t"},
        // The service said yes without a link: the share may exist, so the
        // item is neither recorded nor refused, and the user is told.
        RefusalCase{"no_link", "share:no_link,after=1,times=1",
                    "pending\t/A/B\t服务确认了分享, 却没有给出链接",
                    "2 shared, 0 failed, 0 skipped, 1 pending", false, "shared\t/A/B\t"}),
    CaseName());

// A refusal of the account or the session stops the run at once: the item
// gets no row and is shared by the next run, with the others left.
struct RunRefusalCase {
    const char* name;
    int errnoValue;
    int exitCode;
    const char* message; // part of what standard error says
};

class RunRefusal : public CliSimTest, public ::testing::WithParamInterface<RunRefusalCase> {};

TEST_P(RunRefusal, StopsWithTheItemPendingAndSaysWhatToDo) {
    const RunRefusalCase& c = GetParam();
    ASSERT_TRUE(
        startSim({"--fault", "share:errno=" + std::to_string(c.errnoValue) + ",after=1,times=1"}));
    const ProcessResult r = share({"--path", "/A"});
    ASSERT_EQ(r.exitCode, c.exitCode) << describe(r);
    expectOnlyEntryLines(r.out);
    const auto out = lines(r.out);
    ASSERT_EQ(out.size(), 2u) << r.out;
    EXPECT_EQ(out[0].rfind("shared\t/A/a1.txt\t", 0), 0u);
    EXPECT_EQ(out[1].rfind("pending\t/A/B\t", 0), 0u) << out[1];
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("(errno " + std::to_string(c.errnoValue) + ")"), std::string::npos)
        << r.err;
    EXPECT_EQ(r.err.find(kRunCompletedMessage), std::string::npos) << r.err;
    EXPECT_EQ(simRequests("share"), 2);
    EXPECT_EQ(paths(ledgerRows(dataDir())), (Strings{"/A/a1.txt"}));

    const ProcessResult again = share({"--path", "/A"});
    ASSERT_EQ(again.exitCode, 0) << describe(again);
    EXPECT_EQ(column(again.out, 0), (Strings{"skipped", "shared", "shared"}));
    EXPECT_EQ(paths(ledgerRows(dataDir())), (Strings{"/A/a1.txt", "/A/B", "/A/C"}));
}

INSTANTIATE_TEST_SUITE_P(
    ShareCommand, RunRefusal,
    ::testing::Values(RunRefusalCase{"LoginExpired", -6, 4, "登录已失效"},
                      RunRefusalCase{"ShareCountOverLimit", 110, 6, "今日分享次数已超过限制"},
                      RunRefusalCase{"ThrottledAfterASuccess", 2, 6, "分享过于频繁"},
                      RunRefusalCase{"VerificationCode", -62, 6, "需要输入验证码"},
                      RunRefusalCase{"AccountRestricted", 9200, 6, "账号受限"}),
    CaseName());

// The day's limit counts the account's shares of the day, whichever run
// made them.
TEST_F(ShareCommand, TheDailyLimitHoldsAcrossRunsOfOneDay) {
    const auto now = std::chrono::duration_cast<std::chrono::seconds>(
                         std::chrono::system_clock::now().time_since_epoch())
                         .count();
    const std::string tree = tempFile("tree.json");
    writeFile(tree, bigFolderTree("d", 6));
    ASSERT_TRUE(startSim({"--tree", tree}));
    ASSERT_TRUE(simControl(sim(), "/__sim/config", "{\"fixed_time\":" + std::to_string(now) + "}"));
    const ProcessResult first = share({"--path", "/d", "--set", "ShareNumber=2"});
    EXPECT_EQ(first.exitCode, 3) << describe(first);
    EXPECT_EQ(column(first.out, 0), (Strings{"shared", "shared"}));
    for (int run = 0; run < 2; ++run) {
        const ProcessResult again = share({"--path", "/d", "--set", "ShareNumber=2"});
        EXPECT_EQ(again.exitCode, 3) << describe(again);
        EXPECT_EQ(again.out, "");
        EXPECT_NE(again.err.find(kQuotaReachedMessage), std::string::npos) << again.err;
    }
    EXPECT_EQ(simRequests("share"), 2);
    EXPECT_EQ(ledgerRows(dataDir()).size(), 2u);
}

// --- the login ----------------------------------------------------------------

struct LoginCase {
    const char* name;
    Strings loginArgs;
    std::vector<std::pair<std::string, std::string>> env;
};

class NotLoggedIn : public CliSimTest, public ::testing::WithParamInterface<LoginCase> {};

TEST_P(NotLoggedIn, ExitsWith4AndTouchesNothing) {
    const LoginCase& c = GetParam();
    ASSERT_TRUE(startSim());
    Strings args = {"share", "--path", "/A", "--set", "time=-1"};
    args.insert(args.end(), c.loginArgs.begin(), c.loginArgs.end());
    ProcessOptions options;
    options.setEnv = c.env;
    const ProcessResult r = cliAtSim(args, options);
    EXPECT_EQ(r.exitCode, 4) << describe(r);
    EXPECT_NE(r.err.find(kNotLoggedInMessage), std::string::npos) << r.err;
    for (const char* way : {"--cookies", "--cookie-file", "VANTOREL_COOKIES"}) {
        EXPECT_NE(r.err.find(way), std::string::npos) << way << " in " << r.err;
    }
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(ledgerRows(dataDir()).empty());
    EXPECT_EQ(simRequests("list"), 0);
    EXPECT_EQ(simRequests("share"), 0);
}

INSTANTIATE_TEST_SUITE_P(
    ShareCommand, NotLoggedIn,
    ::testing::Values(
        LoginCase{"no_cookie", {}, {}}, LoginCase{"empty_cookie", {"--cookies", ""}, {}},
        LoginCase{"wrong_login", {"--cookies", "BDUSS=not-the-login"}, {}},
        LoginCase{"visitor_cookie_only", {"--cookies", "BAIDUID=visitor"}, {}},
        LoginCase{"wrong_login_in_environment", {}, {{"VANTOREL_COOKIES", "BDUSS=stale-login"}}}),
    CaseName());

TEST_F(ShareCommand, LoginFromTheEnvironment) {
    ASSERT_TRUE(startSim());
    ProcessOptions options;
    options.setEnv = {{"VANTOREL_COOKIES", SimProcess::loginCookieHeader()}};
    const ProcessResult r =
        cliAtSim({"share", "--path", "/A/B", "--set", "time=-1"}, std::move(options));
    ASSERT_EQ(r.exitCode, 0) << describe(r);
    EXPECT_EQ(column(r.out, 1), (Strings{"/A/B/b1.jpg"}));
}

// A service that cannot be reached is not a login problem: the user must not
// be sent to log in again.
TEST_F(ShareCommand, UnreachableServiceIsNotReportedAsNotLoggedIn) {
    const ProcessResult r =
        runCli({"--data-dir", dataDir().string(), "--origin", "http://127.0.0.1:1", "share",
                "--cookies", SimProcess::loginCookieHeader(), "--path", "/A"});
    EXPECT_EQ(r.exitCode, 1) << describe(r);
    EXPECT_EQ(r.err.find(kNotLoggedInMessage), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("127.0.0.1:1"), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");
}

TEST_F(ShareCommand, ServiceErrorOnTheHomePageIsNotReportedAsNotLoggedIn) {
    ASSERT_TRUE(startSim({"--fault", "home:status=503"}));
    const ProcessResult r = share({"--path", "/A"});
    EXPECT_EQ(r.exitCode, 1) << describe(r);
    EXPECT_EQ(r.err.find(kNotLoggedInMessage), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("503"), std::string::npos) << r.err;
    EXPECT_EQ(simRequests("share"), 0);
}

// The home page of today's service redirects to the new web client, whose
// page carries no tokens: they come from its token requests instead.
struct TokenRouteCase {
    const char* name;
    Strings simArgs;
    int exitCode;
    const char* user; // the username column of the rows
};

class TokenRoutes : public CliSimTest, public ::testing::WithParamInterface<TokenRouteCase> {};

TEST_P(TokenRoutes, ShareOrRefuseAsTheLoginAllows) {
    const TokenRouteCase& c = GetParam();
    ASSERT_TRUE(startSim(c.simArgs));
    const ProcessResult r = share({"--path", "/A/B"});
    ASSERT_EQ(r.exitCode, c.exitCode) << describe(r);
    if (c.exitCode == 4) {
        EXPECT_NE(r.err.find(kNotLoggedInMessage), std::string::npos) << r.err;
        EXPECT_EQ(simRequests("list"), 0);
        EXPECT_TRUE(ledgerRows(dataDir()).empty());
        return;
    }
    EXPECT_EQ(column(r.out, 0), (Strings{"shared"}));
    const auto rows = ledgerRows(dataDir());
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].username, c.user);
}

INSTANTIATE_TEST_SUITE_P(
    ShareCommand, TokenRoutes,
    ::testing::Values(
        TokenRouteCase{"OldHomePage", {"--home-style", "mset"}, 0, SimProcess::kUser},
        TokenRouteCase{"RedirectAndTemplateVariable",
                       {"--home-style", "main", "--token-api", "template"},
                       0,
                       ""},
        TokenRouteCase{"RedirectAndBothRequests", {"--home-style", "main"}, 0, SimProcess::kUser},
        TokenRouteCase{"LoginStatusOnly",
                       {"--home-style", "main", "--token-api", "loginstatus"},
                       0,
                       SimProcess::kUser},
        TokenRouteCase{"NoTokensAnywhere", {"--home-style", "main", "--token-api", "none"}, 4, ""}),
    CaseName());

// The login cookie exported twice, for the host and for a parent domain:
// the service would take that as no login, so it goes once, with the
// host's value.
TEST_F(ShareCommand, CookieFileWithStokenTwiceSendsItOnceWithTheHostsValue) {
    ASSERT_TRUE(startSim());
    const std::string file = tempFile("cookies.txt");
    writeFile(file, std::string("# Netscape HTTP Cookie File\n"
                                ".0.1\tTRUE\t/\tFALSE\t0\tSTOKEN\tparent-domain-value\n"
                                "127.0.0.1\tFALSE\t/\tFALSE\t0\tBDUSS\t") +
                        SimProcess::kLoginCookie +
                        "\n127.0.0.1\tFALSE\t/\tFALSE\t0\tSTOKEN\thost-value\n"
                        ".0.1\tTRUE\t/\tFALSE\t0\tBDUSS\tparent-login\n");
    ::chmod(file.c_str(), 0600);
    const ProcessResult r =
        cliAtSim({"share", "--cookie-file", file, "--path", "/A/B", "--set", "time=-1"});
    ASSERT_EQ(r.exitCode, 0) << describe(r);
    const auto sent = readRequestLog(requestLog());
    ASSERT_FALSE(sent.empty());
    for (const LoggedRequest& request : sent) {
        const std::string cookie = request.header("Cookie").value_or("");
        SCOPED_TRACE(request.target + " " + cookie);
        EXPECT_EQ(cookie.find("STOKEN="), cookie.rfind("STOKEN="));
        EXPECT_EQ(cookie.find("BDUSS="), cookie.rfind("BDUSS="));
        EXPECT_NE(cookie.find("STOKEN=host-value"), std::string::npos);
        EXPECT_EQ(cookie.find("parent"), std::string::npos);
    }
}

TEST_F(ShareCommand, FolderOf2500IsSharedWholeInPages) {
    ASSERT_TRUE(startSim({"--generate", "2500", "--folders", "0", "--seed", "3"}));
    const ProcessResult r = share({"--path", "/", "--set", "ShareType=1"});
    ASSERT_EQ(r.exitCode, 0) << describe(r);
    EXPECT_EQ(simRequests("list"), 3);
    // Files that repeat another's content are skipped by MD5; every other
    // one is shared once.
    const auto out = column(r.out, 0);
    const auto shared = std::count(out.begin(), out.end(), "shared");
    const auto skipped = std::count(out.begin(), out.end(), "skipped");
    EXPECT_EQ(shared + skipped, 2500);
    EXPECT_EQ(simRequests("share"), shared);
    EXPECT_GT(shared, 2000);
}

TEST_F(ShareCommand, SubFolderOf1200IsPagedUnderShareType4) {
    const std::string tree = tempFile("tree.json");
    writeFile(tree, bigFolderTree("top", 3, 1200));
    ASSERT_TRUE(startSim({"--tree", tree}));
    const ProcessResult r = share({"--path", "/top", "--set", "ShareType=3"});
    ASSERT_EQ(r.exitCode, 0) << describe(r);
    EXPECT_EQ(simRequests("list"), 3); // the folder, then the sub-folder in two pages
    EXPECT_EQ(simRequests("share"), 1203);
    EXPECT_EQ(ledgerRows(dataDir()).size(), 1203u);
    EXPECT_EQ(lastLine(r.err), summaryLine(1203, 0, 0));
}

struct SelectionFileCase {
    const char* name;
    const char* content;
};

class UnusableSelectionFile : public CliSimTest,
                              public ::testing::WithParamInterface<SelectionFileCase> {};

TEST_P(UnusableSelectionFile, ExitsWith2BeforeAnyRequest) {
    ASSERT_TRUE(startSim());
    const std::string file = tempFile("selection.json");
    writeFile(file, GetParam().content);
    const ProcessResult r = share({"--selection", file});
    EXPECT_EQ(r.exitCode, 2) << describe(r);
    EXPECT_NE(r.err.find("selection.json"), std::string::npos) << r.err;
    EXPECT_EQ(readRequestLog(requestLog()).size(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    ShareCommand, UnusableSelectionFile,
    ::testing::Values(SelectionFileCase{"Empty", ""}, SelectionFileCase{"OnlyALineEnd", "\n"},
                      SelectionFileCase{"Object", R"({"fs_id":1})"},
                      SelectionFileCase{"CutShort", R"([{"fs_id":1,)"},
                      SelectionFileCase{"Html", "<html></html>\n"},
                      SelectionFileCase{"Null", "null\n"}, SelectionFileCase{"Numbers", "[1,2]\n"},
                      SelectionFileCase{"ObjectThenText", R"([{"fs_id":1,"path":"/a"},"x"])"},
                      SelectionFileCase{"ArrayOfArrays", "[[]]"}),
    CaseName());

// An explicit selection of nothing shares nothing: it is not the whole
// folder, which is what the page means by nothing ticked.
class EmptySelectionFile : public CliSimTest,
                           public ::testing::WithParamInterface<SelectionFileCase> {};

TEST_P(EmptySelectionFile, SharesNothingAndAsksTheServiceNothing) {
    ASSERT_TRUE(startSim());
    const std::string file = tempFile("selection.json");
    writeFile(file, GetParam().content);
    const ProcessResult r = share({"--selection", file});
    EXPECT_EQ(r.exitCode, 0) << describe(r);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("0 entries"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(kRunCompletedMessage), std::string::npos) << r.err;
    EXPECT_EQ(lastLine(r.err), summaryLine(0, 0, 0));
    EXPECT_EQ(readRequestLog(requestLog()).size(), 0u);
    EXPECT_EQ(simRequests("list"), 0);
    EXPECT_EQ(simRequests("share"), 0);
    EXPECT_TRUE(ledgerRows(dataDir()).empty());
}

INSTANTIATE_TEST_SUITE_P(ShareCommand, EmptySelectionFile,
                         ::testing::Values(SelectionFileCase{"Brackets", "[]"},
                                           SelectionFileCase{"BracketsAndALineEnd", "[]\n"},
                                           SelectionFileCase{"BracketsAndCrLf", "[]\r\n"},
                                           SelectionFileCase{"Blanks", " [ ] \n"},
                                           SelectionFileCase{"ByteOrderMark", "\xEF\xBB\xBF[]\n"}),
                         CaseName());

// An fs_id is sent as it stands: "a,b,c" shared three items under one link
// and recorded a fid that names none of them.
TEST_F(ShareCommand, SelectedItemWhoseFsIdIsNotANumberIsRefusedWithoutARequest) {
    ASSERT_TRUE(startSim());
    auto client = makeSimClient(sim());
    const auto listing = client->Get(
        std::string("/api/list?dir=%2FA&bdstoken=") + SimProcess::kBdstoken, simLoginHeaders());
    ASSERT_TRUE(listing && listing->status == 200);
    rapidjson::Document list;
    list.Parse(listing->body.c_str());
    ASSERT_TRUE(list.IsObject() && list["list"].IsArray()) << listing->body;
    Strings ids;
    for (const auto& member : list["list"].GetArray())
        ids.push_back(std::to_string(member["fs_id"].GetUint64()));
    ASSERT_GE(ids.size(), 3u);
    const std::string joined = ids[0] + "," + ids[1] + "," + ids[2];
    writeFile(tempFile("selection.json"),
              R"([{"fs_id":")" + joined +
                  R"(","path":"/A/three","server_filename":"three","isdir":0},)"
                  R"({"fs_id":"a,b,c","path":"/A/letters","server_filename":"letters"},)"
                  R"({"fs_id":)" +
                  ids[0] + R"(,"path":"/A/a1.txt","server_filename":"a1.txt","isdir":0}])");
    const int listedBefore = simRequests("list");

    const ProcessResult r = share({"--selection", tempFile("selection.json")});
    ASSERT_EQ(r.exitCode, 0) << describe(r);
    expectOnlyEntryLines(r.out);
    EXPECT_EQ(lines(r.out)[0], "failed\t/A/three\t");
    EXPECT_EQ(lines(r.out)[1], "failed\t/A/letters\t");
    EXPECT_EQ(column(r.out, 0), (Strings{"failed", "failed", "shared"}));
    EXPECT_NE(r.err.find(std::string("/A/three: ") + std::string(kInvalidFsIdReason)),
              std::string::npos)
        << r.err;
    EXPECT_EQ(lastLine(r.err), summaryLine(1, 2, 0));
    EXPECT_EQ(simRequests("share"), 1);
    EXPECT_EQ(simRequests("list"), listedBefore);
    const auto rows = ledgerRows(dataDir());
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].fid, ids[0]);
}

// --- the data directory and the ledger ------------------------------------------

struct DataDirCase {
    const char* name;
    // Prepares the place under `temp` and returns the --data-dir value.
    std::string (*prepare)(const fs::path& temp);
    std::string message; // part of the error on standard error
};

class UnusableDataDir : public CliSimTest, public ::testing::WithParamInterface<DataDirCase> {};

// Running as root, permissions block nothing; these places fail for anyone.
TEST_P(UnusableDataDir, ExitsWith5BeforeSharingAnything) {
    const DataDirCase& c = GetParam();
    ASSERT_TRUE(startSim());
    const std::string dir = c.prepare(fs::path(tempFile("")));
    const ProcessResult r = runCli({"--data-dir", dir, "--origin", origin(), "share", "--cookies",
                                    SimProcess::loginCookieHeader(), "--path", "/A"});
    EXPECT_EQ(r.exitCode, 5) << describe(r);
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(simRequests("share"), 0);
}

INSTANTIATE_TEST_SUITE_P(
    ShareCommand, UnusableDataDir,
    ::testing::Values(DataDirCase{"under_a_regular_file",
                                  [](const fs::path& temp) {
                                      writeFile((temp / "plain").string(), "x");
                                      return (temp / "plain" / "data").string();
                                  },
                                  "cannot be created"},
                      DataDirCase{"under_proc",
                                  [](const fs::path&) { return std::string("/proc/vantorel/x"); },
                                  "cannot be created"},
                      DataDirCase{"ledger_is_a_folder",
                                  [](const fs::path& temp) {
                                      fs::create_directories(temp / "data" / kLedgerFileName);
                                      return (temp / "data").string();
                                  },
                                  std::string(kNoLedgerMessage)},
                      DataDirCase{"ledger_is_not_a_database",
                                  [](const fs::path& temp) {
                                      fs::create_directories(temp / "data");
                                      writeFile((temp / "data" / kLedgerFileName).string(),
                                                std::string(4096, 'x'));
                                      return (temp / "data").string();
                                  },
                                  std::string(kNoLedgerMessage)}),
    CaseName());

TEST_F(ShareCommand, SuccessRowThatCannotBeWrittenEndsTheRunWith5AndKeepsTheLink) {
    ASSERT_TRUE(startSim());
    insertRow(ShareRecord{.isdir = "0", .path = "/elsewhere", .fid = "1"});
    ASSERT_TRUE(LedgerDb(ledgerFile())
                    .exec("CREATE TRIGGER refuse BEFORE INSERT ON linkledger_table "
                          "BEGIN SELECT RAISE(ABORT, 'disk says no'); END;"));
    const ProcessResult r = share({"--path", "/A"});
    EXPECT_EQ(r.exitCode, 5) << describe(r);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find(kRecordWriteFailedMessage), std::string::npos) << r.err;
    // The link exists on the service; the message is the only place left
    // that holds it.
    const rapidjson::Document state = simState();
    ASSERT_EQ(state["share_count"].GetInt(), 1);
    EXPECT_NE(r.err.find(state["shares"][0]["link"].GetString()), std::string::npos) << r.err;
    EXPECT_EQ(ledgerRows(dataDir()).size(), 1u);
}

// --- Ctrl-C ---------------------------------------------------------------------

struct InterruptCase {
    const char* name;
    int signal;
    Strings simArgs;
    const char* interval; // --set time=...
    // Sent once the request log holds this many requests to this path;
    // with no path, once the first entry line is out.
    const char* requestPath;
    std::size_t requestCount;
    std::size_t rowsKept;
    // 128 + the signal, as a shell reports a process the signal ended.
    int exitCode = 130;
};

class Interrupted : public CliSimTest, public ::testing::WithParamInterface<InterruptCase> {};

TEST_P(Interrupted, EndsWith128PlusTheSignalKeepingTheRowsWrittenAndASoundLedger) {
    const InterruptCase& c = GetParam();
    ASSERT_TRUE(startSim(c.simArgs));
    // A run that ignored the signal would wait a minute or hang at the
    // service for two, far beyond the guard below.
    ChildProcess child(cliBinary(), shareArgs({"--path", "/A", "--set", c.interval}),
                       cleanEnvironment());
    ASSERT_TRUE(child.started());
    if (c.requestPath == nullptr) {
        ASSERT_TRUE(child.waitForStdout("shared\t/A/a1.txt\t")) << child.err();
    } else {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (requestsTo(readRequestLog(requestLog()), c.requestPath).size() < c.requestCount) {
            ASSERT_LT(std::chrono::steady_clock::now(), deadline)
                << "no request to " << c.requestPath;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    child.sendSignal(c.signal);
    const ProcessResult r = child.finish(std::chrono::seconds(40));

    EXPECT_EQ(r.exitCode, c.exitCode) << describe(r);
    expectOnlyEntryLines(r.out);
    // The entries answered, and at most the abandoned one as pending.
    const auto out = lines(r.out);
    EXPECT_EQ(
        std::count_if(out.begin(), out.end(),
                      [](const std::string& line) { return line.rfind("pending\t", 0) != 0; }),
        static_cast<std::ptrdiff_t>(c.rowsKept))
        << r.out;
    EXPECT_EQ(r.err.find(kRunCompletedMessage), std::string::npos) << r.err;

    const auto rows = ledgerRows(dataDir());
    ASSERT_EQ(rows.size(), c.rowsKept);
    for (const ShareRecord& row : rows) {
        EXPECT_EQ(row.path, "/A/a1.txt");
        EXPECT_FALSE(row.sharelink.empty());
        EXPECT_EQ(row.password.size(), 4u);
        EXPECT_EQ(row.sharetime, kSimShareTime);
    }
    if (fs::exists(ledgerFile())) {
        EXPECT_EQ(integrityCheck(ledgerFile()), "ok");
    }
}

INSTANTIATE_TEST_SUITE_P(
    ShareCommand, Interrupted,
    ::testing::Values(
        InterruptCase{"sigint_in_the_pause", SIGINT, {}, "time=60", nullptr, 0, 1},
        InterruptCase{"sigterm_in_the_pause", SIGTERM, {}, "time=60", nullptr, 0, 1, 143},
        InterruptCase{"sighup_in_the_pause", SIGHUP, {}, "time=60", nullptr, 0, 1, 129},
        // The second share hangs at the service: abandoned, so no row.
        InterruptCase{"sigint_during_a_share_request",
                      SIGINT,
                      {"--fault", "share:delay=120000,after=1"},
                      "time=-1",
                      "/share/set",
                      2,
                      1},
        InterruptCase{"sigint_while_logging_in",
                      SIGINT,
                      {"--fault", "home:delay=120000"},
                      "time=-1",
                      "/disk/home",
                      1,
                      0}),
    CaseName());

// --- options ----------------------------------------------------------------------

TEST_F(ShareCommand, SetIniDecidesUnlessSetOverridesAKeyWhichIsNotWritten) {
    ASSERT_TRUE(startSim());
    fs::create_directories(dataDir());
    const std::string ini = "[set]\r\npassword=zz99\r\nShareNumber=1\r\nShareTimeLong=1\r\n";
    writeFile((dataDir() / "set.ini").string(), ini);

    const ProcessResult first = share({"--path", "/A"});
    EXPECT_EQ(first.exitCode, 3) << describe(first);
    EXPECT_EQ(lines(first.out).size(), 1u);
    EXPECT_EQ(column(first.out, 3), (Strings{"zz99"}));

    // Keys in any case; the last --set of a key wins.
    const ProcessResult second =
        share({"--path", "/A", "--set", "PASSWORD=ab12", "--set", "sharenumber=0", "--set",
               "ShareTimeLong=3", "--set", "ShareTimeLong=2"});
    ASSERT_EQ(second.exitCode, 0) << describe(second);
    expectOnlyEntryLines(second.out);
    EXPECT_EQ(column(second.out, 0), (Strings{"skipped", "shared", "shared"}));
    EXPECT_EQ(column(second.out, 3), (Strings{"", "ab12", "ab12"}));

    const rapidjson::Document state = simState();
    ASSERT_EQ(state["shares"].Size(), 3u);
    EXPECT_EQ(state["shares"][0]["period"].GetInt(), 30);
    EXPECT_EQ(state["shares"][1]["period"].GetInt(), 7);
    EXPECT_EQ(state["shares"][2]["period"].GetInt(), 7);
    EXPECT_EQ(readFile((dataDir() / "set.ini").string()), ini);
}

struct BadSettingCase {
    const char* name;
    Strings args;
    std::string setIni; // stored before the run, when not empty
    std::string message;
};

class BadSetting : public CliSimTest, public ::testing::WithParamInterface<BadSettingCase> {};

TEST_P(BadSetting, ExitsWith2BeforeAnyRequest) {
    const BadSettingCase& c = GetParam();
    ASSERT_TRUE(startSim());
    if (!c.setIni.empty()) {
        fs::create_directories(dataDir());
        writeFile((dataDir() / "set.ini").string(), c.setIni);
    }
    Strings args = {"--path", "/A"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const ProcessResult r = share(args);
    EXPECT_EQ(r.exitCode, 2) << describe(r);
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(simRequests("home"), 0);
    EXPECT_EQ(simRequests("share"), 0);
    EXPECT_TRUE(ledgerRows(dataDir()).empty());
    if (c.setIni.empty()) {
        EXPECT_FALSE(fs::exists(dataDir() / "set.ini"));
    }
}

INSTANTIATE_TEST_SUITE_P(
    ShareCommand, BadSetting,
    ::testing::Values(
        BadSettingCase{"unknown_key", {"--set", "bogus=1"}, "", "unknown settings key \"bogus\""},
        BadSettingCase{
            "five_character_code", {"--set", "password=abcde"}, "", std::string(kCodeTooLong)},
        BadSettingCase{"three_chinese_characters",
                       {"--set", "password=三个字"},
                       "",
                       std::string(kCodeTooLong)},
        BadSettingCase{
            "stored_code_too_long", {}, "[set]\npassword=abcdef\n", std::string(kCodeTooLong)},
        BadSettingCase{"two_letter_code", {"--set", "password=ab"}, "", std::string(kCodeForm)},
        BadSettingCase{
            "two_chinese_characters", {"--set", "password=提取"}, "", std::string(kCodeForm)},
        BadSettingCase{
            "stored_code_with_a_sign", {}, "[set]\npassword=a-12\n", std::string(kCodeForm)},
        BadSettingCase{"no_equals_sign", {"--set", "password"}, "", "KEY=VALUE"},
        BadSettingCase{"check_box_not_0_or_1", {"--set", "isPassWord=yes"}, "", "isPassWord"},
        BadSettingCase{"list_position_out_of_range", {"--set", "ShareType=9"}, "", "ShareType"}),
    CaseName());

// --- cookie files -------------------------------------------------------------------

TEST_F(ShareCommand, NetscapeCookieFileSendsOnlyTheServicesLiveCookies) {
    ASSERT_TRUE(startSim());
    const std::string file = tempFile("cookies.txt");
    writeFile(file, std::string("# Netscape HTTP Cookie File\n"
                                "# exported for a test\n"
                                "\n"
                                ".example.com\tTRUE\t/\tFALSE\t0\tBDUSS\tFOREIGN-LOGIN\n"
                                "127.0.0.1\tFALSE\t/\tFALSE\t0\tBDUSS\t") +
                        SimProcess::kLoginCookie +
                        "\n"
                        "127.0.0.1\tFALSE\t/\tFALSE\t1000\tOLDTOKEN\tEXPIRED-VALUE\n"
                        "#HttpOnly_127.0.0.1\tFALSE\t/\tFALSE\t0\tHOSTONLY\thttp-only-value\n"
                        "127.0.0.1\tFALSE\t/\tTRUE\t0\tSECURE\tsecure-value\n");
    ::chmod(file.c_str(), 0600);

    const ProcessResult r =
        cliAtSim({"share", "--cookie-file", file, "--path", "/A", "--set", "time=-1"});
    ASSERT_EQ(r.exitCode, 0) << describe(r);
    EXPECT_EQ(column(r.out, 0), (Strings{"shared", "shared", "shared"}));
    EXPECT_EQ(r.err.find("warning"), std::string::npos) << r.err;

    const auto home = requestsTo(readRequestLog(requestLog()), "/disk/home");
    ASSERT_FALSE(home.empty());
    const std::string cookie = home.front().header("Cookie").value_or("");
    EXPECT_NE(cookie.find(SimProcess::loginCookieHeader()), std::string::npos) << cookie;
    EXPECT_NE(cookie.find("HOSTONLY=http-only-value"), std::string::npos) << cookie;
    EXPECT_EQ(cookie.find("FOREIGN-LOGIN"), std::string::npos) << cookie;
    EXPECT_EQ(cookie.find("EXPIRED-VALUE"), std::string::npos) << cookie;
    // The service is reached over http here: a secure cookie stays home.
    EXPECT_EQ(cookie.find("secure-value"), std::string::npos) << cookie;
}

// What cookie extensions export: every site's cookies as a JSON array.
TEST_F(ShareCommand, JsonCookieExportSendsOnlyTheServicesLiveCookiesOnceEach) {
    ASSERT_TRUE(startSim());
    const std::string file = tempFile("cookies.json");
    writeFile(file, std::string(R"([
  {"domain": ".0.1", "name": "BDUSS", "value": "parent-login", "path": "/", "session": true},
  {"domain": "127.0.0.1", "hostOnly": true, "name": "BDUSS", "value": ")") +
                        SimProcess::kLoginCookie + R"(", "path": "/", "secure": false,
   "expirationDate": 4000000000.5},
  {"domain": ".example.com", "name": "FOREIGN", "value": "FOREIGN-LOGIN"},
  {"domain": "127.0.0.1", "name": "OLD", "value": "EXPIRED-VALUE", "expirationDate": 1000},
  {"domain": "127.0.0.1", "name": "SECURE", "value": "secure-value", "secure": true},
  {"domain": "127.0.0.1", "name": "PLAIN", "value": "plain-value", "session": true}
])");
    ::chmod(file.c_str(), 0600);
    const ProcessResult r =
        cliAtSim({"share", "--cookie-file", file, "--path", "/A/B", "--set", "time=-1"});
    ASSERT_EQ(r.exitCode, 0) << describe(r);
    EXPECT_EQ(column(r.out, 0), (Strings{"shared"}));
    const auto sent = readRequestLog(requestLog());
    ASSERT_FALSE(sent.empty());
    for (const LoggedRequest& request : sent) {
        const std::string cookie = request.header("Cookie").value_or("");
        SCOPED_TRACE(request.target + " " + cookie);
        EXPECT_NE(cookie.find(SimProcess::loginCookieHeader()), std::string::npos);
        EXPECT_EQ(cookie.find("BDUSS="), cookie.rfind("BDUSS="));
        EXPECT_NE(cookie.find("PLAIN=plain-value"), std::string::npos);
        for (const char* absent : {"parent-login", "FOREIGN", "EXPIRED", "secure-value"})
            EXPECT_EQ(cookie.find(absent), std::string::npos) << absent;
    }
}

struct CookieFileCase {
    const char* name;
    std::string content;
    std::string message;
};

class RefusedCookieFile : public CliSimTest,
                          public ::testing::WithParamInterface<CookieFileCase> {};

TEST_P(RefusedCookieFile, ExitsWith2BeforeAnyRequest) {
    ASSERT_TRUE(startSim());
    const std::string file = tempFile("cookies.txt");
    writeFile(file, GetParam().content);
    ::chmod(file.c_str(), 0600);
    const ProcessResult r =
        cliAtSim({"share", "--cookie-file", file, "--path", "/A", "--set", "time=-1"});
    EXPECT_EQ(r.exitCode, 2) << describe(r);
    EXPECT_NE(r.err.find(file + ": " + GetParam().message), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("SECRET"), std::string::npos) << r.err;
    EXPECT_EQ(readRequestLog(requestLog()).size(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    ShareCommand, RefusedCookieFile,
    ::testing::Values(
        CookieFileCase{"html_page", "<html><body>BDUSS=SECRET</body></html>\n",
                       "the cookie file is in no known format"},
        CookieFileCase{"json_object", R"({"cookies":[{"name":"BDUSS","value":"SECRET"}]})",
                       "the cookie file is in no known format"},
        CookieFileCase{"json_without_cookies", R"([{"id":"SECRET"}])",
                       "the cookie file is a JSON array without cookies"},
        CookieFileCase{"json_for_another_site",
                       R"([{"domain":".example.com","name":"BDUSS","value":"SECRET"}])",
                       "the cookie file holds no unexpired cookie for 127.0.0.1"}),
    CaseName());

// A cookie text is at most 64 KiB: a longer one is a whole cookie store, and
// libcurl would answer "Out of memory".
struct LongCookieCase {
    const char* name;
    const char* way; // --cookies, --cookie-file or VANTOREL_COOKIES
    std::size_t bytes;
    bool refused;
};

class LongCookieText : public CliSimTest, public ::testing::WithParamInterface<LongCookieCase> {};

TEST_P(LongCookieText, IsRefusedOver64KiB) {
    const LongCookieCase& c = GetParam();
    ASSERT_TRUE(startSim());
    std::string text = SimProcess::loginCookieHeader() + "; pad=";
    text.resize(c.bytes, 'x');
    Strings args = {"whoami"};
    ProcessOptions options;
    const std::string way = c.way;
    if (way == "--cookies") {
        args.insert(args.end(), {"--cookies", text});
    } else if (way == "--cookie-file") {
        writeFile(tempFile("cookie.txt"), text + "\n");
        ::chmod(tempFile("cookie.txt").c_str(), 0600);
        args.insert(args.end(), {"--cookie-file", tempFile("cookie.txt")});
    } else {
        options.setEnv = {{"VANTOREL_COOKIES", text}};
    }
    const ProcessResult r = cliAtSim(args, options);
    const std::string message = "the cookie text is " + std::to_string(c.bytes) + " bytes long";
    EXPECT_EQ(r.err.find(SimProcess::kLoginCookie), std::string::npos) << r.err;
    if (c.refused) {
        EXPECT_EQ(r.exitCode, 2) << describe(r);
        EXPECT_NE(r.err.find(message), std::string::npos) << r.err;
        EXPECT_EQ(readRequestLog(requestLog()).size(), 0u);
    } else {
        // Within the limit the text goes; this service takes no header that
        // long, and says so.
        EXPECT_EQ(r.err.find("bytes long"), std::string::npos) << r.err;
        EXPECT_NE(r.exitCode, 2) << describe(r);
    }
}

INSTANTIATE_TEST_SUITE_P(
    ShareCommand, LongCookieText,
    ::testing::Values(LongCookieCase{"option_at_the_limit", "--cookies", 65536, false},
                      LongCookieCase{"option_over", "--cookies", 65537, true},
                      LongCookieCase{"file_over", "--cookie-file", 100000, true},
                      LongCookieCase{"environment_over", "VANTOREL_COOKIES", 70000, true}),
    CaseName());

struct CookieFileModeCase {
    const char* name;
    mode_t mode;
    bool warned;
};

class CookieFileMode : public CliSimTest,
                       public ::testing::WithParamInterface<CookieFileModeCase> {};

TEST_P(CookieFileMode, WarnsWhenOthersCanReadTheLogin) {
    const CookieFileModeCase& c = GetParam();
    ASSERT_TRUE(startSim());
    const std::string file = tempFile("cookie.txt");
    writeFile(file, SimProcess::loginCookieHeader() + "\n");
    ASSERT_EQ(::chmod(file.c_str(), c.mode), 0);

    const ProcessResult r =
        cliAtSim({"share", "--cookie-file", file, "--path", "/A/C", "--set", "time=-1"});
    ASSERT_EQ(r.exitCode, 0) << describe(r);
    EXPECT_EQ(column(r.out, 1), (Strings{"/A/C/c1.pdf"}));
    EXPECT_EQ(r.err.find("can be read by other users") != std::string::npos, c.warned) << r.err;
    EXPECT_EQ(r.err.find(SimProcess::kLoginCookie), std::string::npos) << r.err;
}

INSTANTIATE_TEST_SUITE_P(ShareCommand, CookieFileMode,
                         ::testing::Values(CookieFileModeCase{"owner_only", 0600, false},
                                           CookieFileModeCase{"owner_read_only", 0400, false},
                                           CookieFileModeCase{"group_readable", 0640, true},
                                           CookieFileModeCase{"world_readable", 0604, true},
                                           CookieFileModeCase{"everyone", 0644, true}),
                         CaseName());

// --- the login never shows ----------------------------------------------------------

constexpr const char* kCanary = "LEAK-CANARY";

struct SecretCase {
    const char* name;
    Strings args; // after the global options; "@" stands for the secret cookie text
    int exitCode;
    bool unreachable = false; // point --origin at a closed port
    bool inEnvironment = false;
};

class CookieNeverShown : public CliSimTest, public ::testing::WithParamInterface<SecretCase> {};

TEST_P(CookieNeverShown, InOutputOrErrors) {
    const SecretCase& c = GetParam();
    ASSERT_TRUE(startSim());
    // Logged in, with one more cookie that must not leak either.
    const std::string secret =
        SimProcess::loginCookieHeader() + "; STOKEN=" + kCanary + "-7f3e; ext=" + kCanary;
    const std::string wrong = std::string("BDUSS=") + kCanary + "-wrong";
    Strings args;
    for (const std::string& a : c.args)
        args.push_back(a == "@" ? secret : a == "!" ? wrong : a);
    ProcessOptions options;
    if (c.inEnvironment)
        options.setEnv = {{"VANTOREL_COOKIES", c.exitCode == 4 ? wrong : secret}};
    Strings all = {"--data-dir", dataDir().string(), "--origin",
                   c.unreachable ? std::string("http://127.0.0.1:1") : origin()};
    all.insert(all.end(), args.begin(), args.end());
    const ProcessResult r = runCli(all, options);

    EXPECT_EQ(r.exitCode, c.exitCode) << describe(r);
    for (const std::string& text : {r.out, r.err}) {
        EXPECT_EQ(text.find(kCanary), std::string::npos) << describe(r);
        EXPECT_EQ(text.find(SimProcess::kLoginCookie), std::string::npos) << describe(r);
    }
}

INSTANTIATE_TEST_SUITE_P(
    ShareCommand, CookieNeverShown,
    ::testing::Values(
        SecretCase{
            "share_success", {"share", "--cookies", "@", "--path", "/A", "--set", "time=-1"}, 0},
        SecretCase{"share_not_logged_in", {"share", "--cookies", "!", "--path", "/A"}, 4},
        SecretCase{"share_env_not_logged_in", {"share", "--path", "/A"}, 4, false, true},
        SecretCase{
            "share_env_success", {"share", "--path", "/A/B", "--set", "time=-1"}, 0, false, true},
        SecretCase{"share_unreachable", {"share", "--cookies", "@", "--path", "/A"}, 1, true},
        SecretCase{"share_code_too_long",
                   {"share", "--cookies", "@", "--path", "/A", "--set", "password=abcde"},
                   2},
        SecretCase{"share_no_path", {"share", "--cookies", "@"}, 2},
        SecretCase{"share_cookies_twice",
                   {"share", "--cookies", "@", "--cookies", "@", "--path", "/A"},
                   2},
        SecretCase{"share_cookies_and_file",
                   {"share", "--cookies", "@", "--cookie-file", "/nonexistent", "--path", "/A"},
                   2},
        SecretCase{
            "share_unknown_option", {"share", "--cookies", "@", "--path", "/A", "--bogus"}, 2},
        SecretCase{"share_stray_argument", {"share", "--cookies", "@", "--path", "/A", "extra"}, 2},
        SecretCase{"whoami_success", {"whoami", "--cookies", "@"}, 0},
        SecretCase{"whoami_not_logged_in", {"whoami", "--cookies", "!"}, 4},
        SecretCase{"whoami_unreachable", {"whoami", "--cookies", "@"}, 1, true}),
    CaseName());

} // namespace
