// The real vantorel-cli against a simulated service that misbehaves: error
// pages, dropped and cut-off replies, silence, refusals, a login that is
// taken away midway, huge and malformed listings. Whatever happens the run
// must end normally and the ledger must hold exactly the rows the answers
// call for: one per verdict, none where the service gave no verdict (so the
// item is tried again later), never two for one entry.

#include "expected_run.h"
#include "named_case.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <iterator>
#include <map>
#include <string>
#include <vector>

namespace vantorel::test {
namespace {

using vantorel::test::PrintTo;

constexpr const char* kFixedTime = "1622100000";
constexpr const char* kFolder = "/故障 测试";

// Six files, newest first as listed, with the names that trip up encoders.
std::string faultTree() {
    return R"({"entries": [
      {"name": "故障 测试", "children": [
        {"name": "report 2021.docx", "fs_id": 100000000000001, "size": 12345,
         "md5": "0123456789abcdef0123456789abcd01", "mtime": 1622000600},
        {"name": "it's mine.txt", "fs_id": 100000000000002, "size": 0,
         "md5": "0123456789abcdef0123456789abcd02", "mtime": 1622000500},
        {"name": "照片_001.jpg", "fs_id": 100000000000003, "size": 2097152,
         "md5": "0123456789abcdef0123456789abcd03", "mtime": 1622000400, "thumbs": true},
        {"name": "notes_v2 (final).md", "fs_id": 100000000000004, "size": 512,
         "md5": "0123456789abcdef0123456789abcd04", "mtime": 1622000300},
        {"name": "big.bin", "fs_id": 100000000000005, "size": 5368709120,
         "md5": "0123456789abcdef0123456789abcd05", "mtime": 1622000200},
        {"name": "大编号.bin", "fs_id": 9007199254740993, "size": 1048576,
         "md5": "0123456789abcdef0123456789abcd06", "mtime": 1622000100},
        {"name": "子目录", "fs_id": 100000000000010, "mtime": 1622000000, "children": [
          {"name": "inner.txt", "fs_id": 100000000000011}
        ]}
      ]}
    ]})";
}

std::vector<std::string> shareArgs(const TempDir& data, const SimProcess& sim,
                                   const std::string& folder, std::vector<std::string> extra) {
    std::vector<std::string> args = {"--data-dir", data.path(), "--origin", sim.origin(), "share",
                                     "--cookies", SimProcess::loginCookieHeader(), "--path", folder,
                                     // No pause between entries.
                                     "--set", "time=-1"};
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
}

bool sanitizerSpoke(const std::string& err) {
    return err.find("Sanitizer") != std::string::npos ||
           err.find("runtime error:") != std::string::npos;
}

// Checks a finished run against what it must have printed and written.
void expectRunAsPrescribed(const ProcessResult& result, const ExpectedRun& expected,
                           const std::string& ledgerFile) {
    EXPECT_FALSE(sanitizerSpoke(result.err)) << result.err;
    const auto lines = parseShareOutput(result.out);
    ASSERT_EQ(lines.size(), expected.lines.size()) << describe(result);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        SCOPED_TRACE("output line " + std::to_string(i + 1));
        EXPECT_EQ(lines[i].kind, expected.lines[i].kind);
        EXPECT_EQ(lines[i].path, expected.lines[i].path);
        EXPECT_EQ(lines[i].link, expected.lines[i].link);
        EXPECT_EQ(lines[i].code, expected.lines[i].code);
        EXPECT_EQ(lines[i].errnoText, expected.lines[i].errnoText);
    }

    EXPECT_EQ(integrityCheck(ledgerFile), "ok");
    const LedgerRead ledger = readLedger(ledgerFile);
    ASSERT_EQ(ledger.error, "");
    ASSERT_EQ(ledger.rows.size(), expected.rows.size()) << describe(result);
    std::map<std::string, int> rowsPerFid;
    for (std::size_t i = 0; i < ledger.rows.size(); ++i) {
        EXPECT_EQ(ledger.rows[i], expected.rows[i]) << "row " << i + 1;
        ++rowsPerFid[ledger.rows[i].fid];
    }
    for (const auto& [fid, count] : rowsPerFid)
        EXPECT_EQ(count, 1) << "fid " << fid << " has " << count << " rows";
}

AttemptOutcome shared() {
    return {};
}
AttemptOutcome refused(std::string errnoText) {
    return {.kind = AttemptOutcome::Refused, .errnoText = std::move(errnoText)};
}
AttemptOutcome runRefused(std::string errnoText) {
    return {.kind = AttemptOutcome::RunRefused, .errnoText = std::move(errnoText)};
}
AttemptOutcome noVerdict() {
    return {.kind = AttemptOutcome::NoVerdict};
}

// A fault rule on the share requests of chosen items: every request naming
// one of them gets it (a retry by the HTTP layer included), the other items
// are answered normally.
struct ShareFault {
    std::string name;
    std::string rule; // JSON for POST /__sim/fault, without fs_id and times
    AttemptOutcome hit;
    std::vector<std::string> cliOptions;
    std::vector<int> items = {1, 2}; // positions in run order
    int times = -1;                  // per item; -1: every request
    // Outcomes after the last item hit, when the fault changes more than
    // the requests it hits.
    std::function<AttemptOutcome(int)> later;
};

class ShareFaultTest : public ::testing::TestWithParam<ShareFault> {};

// Refusals of the item and replies without a verdict leave the run going;
// a refusal of the account or the session ends it, with the item pending.
TEST_P(ShareFaultTest, OneRowPerVerdictAndARefusedRunEnds) {
    const ShareFault& fault = GetParam();
    TempDir data;
    writeFile(data.file("tree.json"), faultTree());
    SimProcess sim({"--tree", data.file("tree.json"), "--fixed-time", kFixedTime});
    ASSERT_TRUE(sim.started()) << sim.error();
    const auto listing = fetchListing(sim, kFolder);
    ASSERT_EQ(listing.size(), 7u);

    std::vector<ListedMember> files;
    std::copy_if(listing.begin(), listing.end(), std::back_inserter(files),
                 [](const ListedMember& m) { return m.isdir == "0"; });
    for (int item : fault.items) {
        std::string rule = fault.rule;
        rule.insert(
            rule.size() - 1,
            ",\"fs_id\":" + files[static_cast<std::size_t>(item)].fsId +
                (fault.times >= 0 ? ",\"times\":" + std::to_string(fault.times) : std::string()));
        ASSERT_TRUE(simControl(sim, "/__sim/fault", rule)) << rule;
    }

    // Share type 2: the files of the folder only.
    std::vector<std::string> options = {"--set", "ShareType=1"};
    options.insert(options.end(), fault.cliOptions.begin(), fault.cliOptions.end());
    const ProcessResult result = runCli(shareArgs(data, sim, kFolder, options));
    const SimState state = readSimState(sim).value_or(SimState{});
    ASSERT_EQ(state.faultsApplied.size(), fault.items.size());
    for (std::int64_t applied : state.faultsApplied)
        EXPECT_GE(applied, 1) << "a fault did not act";

    const auto outcome = [&](int attempt) {
        if (std::find(fault.items.begin(), fault.items.end(), attempt) != fault.items.end())
            return fault.hit;
        if (fault.later && attempt > fault.items.back())
            return fault.later(attempt);
        return shared();
    };
    const ExpectedRun expected = expectFolderRun(listing, 2, outcome, state);
    if (expected.refusedBy.empty()) {
        ASSERT_EQ(result.exitCode, 0) << describe(result);
        EXPECT_NE(result.err.find("分享完成!"), std::string::npos) << result.err;
    } else {
        ASSERT_EQ(result.exitCode, expected.refusedBy == "-6" ? 4 : 6) << describe(result);
        EXPECT_EQ(result.err.find("分享完成!"), std::string::npos) << result.err;
        EXPECT_NE(result.err.find("(errno " + expected.refusedBy + ")"), std::string::npos)
            << result.err;
    }
    expectRunAsPrescribed(result, expected, data.file("linkledger.db"));
}

std::string errnoRule(int value) {
    return R"({"endpoint":"share","kind":"errno","value":)" + std::to_string(value) + "}";
}

INSTANTIATE_TEST_SUITE_P(
    Faults, ShareFaultTest,
    ::testing::Values(
        ShareFault{"Status500", R"({"endpoint":"share","kind":"status","value":500})", noVerdict()},
        ShareFault{"DroppedConnection", R"({"endpoint":"share","kind":"drop"})", noVerdict()},
        ShareFault{"NotJson", R"({"endpoint":"share","kind":"not_json"})", noVerdict()},
        ShareFault{"TruncatedBody", R"({"endpoint":"share","kind":"truncate"})", noVerdict()},
        ShareFault{"EmptyBody", R"({"endpoint":"share","kind":"empty"})", noVerdict()},
        ShareFault{"Delay20sAgainstTimeout2s",
                   R"({"endpoint":"share","kind":"delay","value":20000})",
                   noVerdict(),
                   {"--timeout", "2"},
                   {1}},
        // A refused run sends nothing more, so one item is hit.
        ShareFault{"ErrnoMinus6", errnoRule(-6), runRefused("-6"), {}, {1}},
        // errno 2 after a success is the service's throttle; before any, it
        // refuses the item.
        ShareFault{"Errno2AfterASuccess", errnoRule(2), runRefused("2"), {}, {1}},
        ShareFault{"Errno2BeforeAnySuccess", errnoRule(2), refused("2"), {}, {0}},
        ShareFault{"Errno110", errnoRule(110), runRefused("110"), {}, {1}},
        ShareFault{"Errno115", errnoRule(115), refused("115")},
        ShareFault{"ErrnoMinus62", errnoRule(-62), runRefused("-62"), {}, {1}},
        // The third reply deletes the login cookie: that share stands, every
        // later request goes out without the login and is refused.
        ShareFault{"LoginCookieDeletedMidway",
                   R"({"endpoint":"share","kind":"delete_login"})",
                   shared(),
                   {},
                   {2},
                   1,
                   [](int) {
                       return runRefused("-6");
                   }}),
    CaseName{});

// A listing that fails ends the run: exit 1, the folder and the reason on
// standard error, no share request and no row; it is never reported as a
// completed run.
struct ListingFault {
    std::string name;
    std::string rule;
    std::string reason; // part of what the message says after the folder
    std::vector<std::string> cliOptions;
};

class ListingFaultTest : public ::testing::TestWithParam<ListingFault> {};

TEST_P(ListingFaultTest, EndsTheRunNamingTheFolderAndWhy) {
    const ListingFault& fault = GetParam();
    TempDir data;
    writeFile(data.file("tree.json"), faultTree());
    SimProcess sim({"--tree", data.file("tree.json"), "--fixed-time", kFixedTime});
    ASSERT_TRUE(sim.started()) << sim.error();
    ASSERT_TRUE(simControl(sim, "/__sim/fault", fault.rule));

    const ProcessResult result = runCli(shareArgs(data, sim, kFolder, fault.cliOptions));
    ASSERT_EQ(result.exitCode, 1) << describe(result);
    EXPECT_FALSE(sanitizerSpoke(result.err)) << result.err;
    EXPECT_EQ(result.out, "");
    EXPECT_NE(result.err.find(std::string("获取文件列表失败: ") + kFolder + " ("),
              std::string::npos)
        << result.err;
    EXPECT_NE(result.err.find(fault.reason), std::string::npos) << result.err;
    EXPECT_EQ(result.err.find("分享完成!"), std::string::npos) << result.err;

    const SimState state = readSimState(sim).value_or(SimState{});
    EXPECT_TRUE(state.shares.empty());
    EXPECT_EQ(state.raw.find("\"share\":"), std::string::npos) << "a share request was sent";
    const LedgerRead ledger = readLedger(data.file("linkledger.db"));
    EXPECT_EQ(ledger.error, "");
    EXPECT_TRUE(ledger.rows.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Faults, ListingFaultTest,
    ::testing::Values(
        ListingFault{"Status500", R"({"endpoint":"list","kind":"status","value":500})",
                     "HTTP 状态 500"},
        ListingFault{"DroppedConnection", R"({"endpoint":"list","kind":"drop"})", "网络错误"},
        ListingFault{"NotJson", R"({"endpoint":"list","kind":"not_json"})", "不是 JSON"},
        ListingFault{"TruncatedBody", R"({"endpoint":"list","kind":"truncate"})", "网络错误"},
        ListingFault{"ErrnoMinus6", R"({"endpoint":"list","kind":"errno","value":-6})", "errno -6"},
        ListingFault{"ErrnoMinus9", R"({"endpoint":"list","kind":"errno","value":-9})",
                     "errno -9: 文件夹不存在"},
        ListingFault{"OtherErrno", R"({"endpoint":"list","kind":"errno","value":31066})",
                     "errno 31066"},
        ListingFault{"Delay20sAgainstTimeout2s",
                     R"({"endpoint":"list","kind":"delay","value":20000})",
                     "网络错误",
                     {"--timeout", "2"}}),
    CaseName{});

// Members with keys missing or of the wrong type (isdir absent or a boolean,
// numbers as strings, no path or md5, a number for a name): members without
// a readable isdir are dropped, the rest are shared with what they carry.
TEST(ListingContent, MalformedMembersAreDroppedOrSharedAsTheyRead) {
    TempDir data;
    std::string tree = R"({"entries": [{"name": "杂乱", "children": [)";
    for (int i = 0; i < 16; ++i) {
        if (i > 0)
            tree += ",";
        const bool folder = i % 5 == 4;
        tree += R"({"name": "item )" + std::to_string(i) + (folder ? "" : ".txt") +
                R"(", "fs_id": )" + std::to_string(200000000000000 + i) + R"(, "mtime": )" +
                std::to_string(1622000000 - i) +
                (folder ? R"(, "children": [])" : R"(, "size": )" + std::to_string(i * 1000)) +
                (i % 3 == 0 && !folder ? R"(, "thumbs": true)" : "") + "}";
    }
    tree += "]}]}";
    writeFile(data.file("tree.json"), tree);
    SimProcess sim({"--tree", data.file("tree.json"), "--fixed-time", kFixedTime});
    ASSERT_TRUE(sim.started()) << sim.error();
    ASSERT_TRUE(simControl(sim, "/__sim/fault", R"({"endpoint":"list","kind":"mangle"})"));
    const auto listing = fetchListing(sim, "/杂乱");
    ASSERT_EQ(listing.size(), 16u);

    // Share type 1: files, then folders.
    const ProcessResult result = runCli(shareArgs(data, sim, "/杂乱", {"--set", "ShareType=0"}));
    ASSERT_EQ(result.exitCode, 0) << describe(result);
    EXPECT_NE(result.err.find("分享完成!"), std::string::npos) << result.err;

    const SimState state = readSimState(sim).value_or(SimState{});
    const ExpectedRun expected = expectFolderRun(
        listing, 1, [](int) { return shared(); }, state);
    // Some members must really have been dropped, and some shared.
    EXPECT_LT(expected.lines.size(), listing.size());
    EXPECT_GE(state.shares.size(), 5u);
    expectRunAsPrescribed(result, expected, data.file("linkledger.db"));
}

// A folder of 100,000 entries (the most one listing returns), three of them
// sub-folders. Share type 5 walks the whole listing (and the empty
// sub-folders) into both lists, so every entry counts, and the folder pass
// shares the three folders.
TEST(ListingContent, HundredThousandEntries) {
    TempDir data;
    std::string tree = R"({"entries": [{"name": "大目录", "children": [)";
    tree.reserve(4'000'000);
    std::vector<ListedMember> folders;
    for (int i = 0; i < 3; ++i) {
        const std::string name = "sub " + std::to_string(i);
        const std::string fsId = std::to_string(300000000000000 + i);
        tree += R"({"name": ")" + name + R"(", "fs_id": )" + fsId + R"(, "children": []},)";
        folders.push_back({.isdir = "1", .path = "/大目录/" + name, .name = name, .fsId = fsId});
    }
    for (int i = 0; i < 99997; ++i) {
        if (i > 0)
            tree += ",";
        tree += R"({"name": "f)" + std::to_string(i) + R"(.dat"})";
    }
    tree += "]}]}";
    writeFile(data.file("tree.json"), tree);
    SimProcess sim({"--tree", data.file("tree.json"), "--fixed-time", kFixedTime});
    ASSERT_TRUE(sim.started()) << sim.error();

    const ProcessResult result = runCli(shareArgs(data, sim, "/大目录", {"--set", "ShareType=4"}));
    ASSERT_EQ(result.exitCode, 0) << describe(result);
    EXPECT_NE(result.err.find("100000 entries to go through"), std::string::npos) << result.err;
    EXPECT_NE(result.err.find("分享完成!"), std::string::npos) << result.err;

    const SimState state = readSimState(sim).value_or(SimState{});
    const ExpectedRun expected = expectFolderRun(
        folders, 3, [](int) { return shared(); }, state);
    ASSERT_EQ(expected.rows.size(), 3u);
    expectRunAsPrescribed(result, expected, data.file("linkledger.db"));
}

// A rename that fails after a share that worked: the share is recorded, under
// the name and path the item still has on the service.
struct RenameFault {
    std::string name;
    std::string rule;
};

class RenameFaultTest : public ::testing::TestWithParam<RenameFault> {};

TEST_P(RenameFaultTest, ShareIsRecordedUnderTheNameTheItemKeeps) {
    TempDir data;
    writeFile(data.file("tree.json"), faultTree());
    SimProcess sim({"--tree", data.file("tree.json"), "--fixed-time", kFixedTime});
    ASSERT_TRUE(sim.started()) << sim.error();
    const auto listing = fetchListing(sim, kFolder);
    std::string rule = GetParam().rule;
    // Every rename after the first fails (a retry by the HTTP layer too).
    rule.insert(rule.size() - 1, R"(,"after":1)");
    ASSERT_TRUE(simControl(sim, "/__sim/fault", rule));

    const ProcessResult result = runCli(
        shareArgs(data, sim, kFolder,
                  {"--set", "ShareType=1", "--set", "befor=1", "--set", "BeforZhui=已分享_"}));
    ASSERT_EQ(result.exitCode, 0) << describe(result);

    const SimState state = readSimState(sim).value_or(SimState{});
    ASSERT_EQ(state.faultsApplied.size(), 1u);
    EXPECT_GE(state.faultsApplied[0], 5);
    const auto outcome = [](int attempt) {
        AttemptOutcome answer;
        answer.renamed = attempt == 0;
        return answer;
    };
    const ExpectedRun expected = expectFolderRun(listing, 2, outcome, state, {}, "已分享_");
    expectRunAsPrescribed(result, expected, data.file("linkledger.db"));
}

INSTANTIATE_TEST_SUITE_P(
    Faults, RenameFaultTest,
    ::testing::Values(RenameFault{"Status500",
                                  R"({"endpoint":"rename","kind":"status","value":500})"},
                      RenameFault{"DroppedConnection", R"({"endpoint":"rename","kind":"drop"})"},
                      RenameFault{"Errno12", R"({"endpoint":"rename","kind":"errno","value":12})"}),
    CaseName{});

// Without the home page there is no bdstoken: the run refuses to start
// rather than record every item as failed. An error page says nothing about
// the login, so the message names the service's answer, not a missing login.
TEST(HomePageFault, ErrorPageRefusesTheRun) {
    TempDir data;
    writeFile(data.file("tree.json"), faultTree());
    SimProcess sim({"--tree", data.file("tree.json")});
    ASSERT_TRUE(sim.started()) << sim.error();
    ASSERT_TRUE(
        simControl(sim, "/__sim/fault", R"({"endpoint":"home","kind":"status","value":500})"));

    const ProcessResult result = runCli(shareArgs(data, sim, kFolder, {}));
    EXPECT_EQ(result.exitCode, 1) << describe(result);
    EXPECT_NE(result.err.find("HTTP status 500"), std::string::npos) << describe(result);
    EXPECT_EQ(result.out, "");
    const SimState state = readSimState(sim).value_or(SimState{});
    EXPECT_TRUE(state.shares.empty());
    const LedgerRead ledger = readLedger(data.file("linkledger.db"));
    EXPECT_TRUE(ledger.rows.empty());
}

} // namespace
} // namespace vantorel::test
