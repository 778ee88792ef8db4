// Hostile input through the real vantorel-cli: names built to break out of
// the SQL statement or the rename request's JSON, replies that carry script,
// a service whose certificate nobody vouches for, and the login cookie that
// must never show up anywhere but in the user's own cookie file.

#include "expected_run.h"
#include "named_case.h"
#include "sim_client.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <httplib.h>
#include <sys/stat.h>
#include <thread>

namespace vantorel::test {
namespace {

using vantorel::test::PrintTo;

namespace fs = std::filesystem;

constexpr const char* kFixedTime = "1622100000";

std::vector<std::string> shareArgs(const std::string& dataDir, const std::string& origin,
                                   const std::string& cookies, const std::string& folder,
                                   std::vector<std::string> extra = {}) {
    std::vector<std::string> args = {"--data-dir", dataDir, "--origin",   origin, "share",
                                     "--cookies",  cookies, "--path",     folder, "--set",
                                     "time=-1",    "--set", "ShareType=1"};
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
}

// --- SQL --------------------------------------------------------------------

TEST(HostileNames, SqlInANameIsStoredVerbatim) {
    const std::string crafted = "x'); DROP TABLE linkledger_table;--";
    const std::string craftedUser = "u'; DELETE FROM linkledger_table; --";
    TempDir data;
    writeFile(data.file("tree.json"), R"({"entries": [{"name": "安全", "children": [
        {"name": ")" + crafted + R"(", "fs_id": 500000000000001, "size": 10},
        {"name": "plain.txt", "fs_id": 500000000000002, "size": 20}]}]})");
    SimProcess sim(
        {"--tree", data.file("tree.json"), "--fixed-time", kFixedTime, "--user", craftedUser});
    ASSERT_TRUE(sim.started()) << sim.error();
    const auto listing = fetchListing(sim, "/安全");

    const ProcessResult result =
        runCli(shareArgs(data.path(), sim.origin(), SimProcess::loginCookieHeader(), "/安全"));
    ASSERT_EQ(result.exitCode, 0) << describe(result);

    const SimState state = readSimState(sim).value_or(SimState{});
    ASSERT_EQ(state.user, craftedUser);
    const ExpectedRun expected = expectFolderRun(
        listing, 2, [](int) { return AttemptOutcome{}; }, state);
    const LedgerRead ledger = readLedger(data.file("linkledger.db"));
    ASSERT_EQ(ledger.error, "") << "the table is gone";
    ASSERT_EQ(ledger.rows.size(), 2u);
    EXPECT_EQ(ledger.rows[0], expected.rows[0]);
    EXPECT_EQ(ledger.rows[1], expected.rows[1]);
    EXPECT_EQ(ledger.rows[0].beforename, crafted);
    EXPECT_EQ(ledger.rows[0].path, "/安全/" + crafted);
    EXPECT_EQ(ledger.rows[0].username, craftedUser);

    // Filters carry the same text into a query of their own.
    const ProcessResult listed = runCli(
        {"--data-dir", data.path(), "records", "list", "--name", crafted, "--user", craftedUser});
    ASSERT_EQ(listed.exitCode, 0) << describe(listed);
    EXPECT_NE(listed.out.find(crafted), std::string::npos) << listed.out;
    EXPECT_EQ(listed.out.find("plain.txt"), std::string::npos) << listed.out;

    // A second run finds both rows and shares nothing again.
    const ProcessResult again =
        runCli(shareArgs(data.path(), sim.origin(), SimProcess::loginCookieHeader(), "/安全"));
    ASSERT_EQ(again.exitCode, 0) << describe(again);
    EXPECT_EQ(readSimState(sim).value_or(SimState{}).shares.size(), 2u);
    EXPECT_EQ(readLedger(data.file("linkledger.db")).rows.size(), 2u);
}

// --- JSON in the rename request ----------------------------------------------

// The rename request carries a JSON array of {path, newname}. A name that
// closes its string and adds an object of its own must still rename only
// itself. "\u002f" spells the slashes a name cannot hold.
TEST(HostileNames, JsonInANameRenamesOnlyItsOwnItem) {
    const std::string crafted =
        R"(a","newname":"pwned.txt"},{"path":"\u002f安全\u002fvictim.txt","newname":"pwned.txt)";
    TempDir data;
    writeFile(data.file("tree.json"), R"({"entries": [{"name": "安全", "children": [
        {"name": "victim.txt", "fs_id": 500000000000011, "mtime": 1622000000},
        {"name": )" + jsonQuote(crafted) +
                                          R"(, "fs_id": 500000000000012, "mtime": 1622000100}
      ]}]})");
    SimProcess sim({"--tree", data.file("tree.json"), "--fixed-time", kFixedTime});
    ASSERT_TRUE(sim.started()) << sim.error();
    const auto listing = fetchListing(sim, "/安全");
    ASSERT_EQ(listing.size(), 2u);
    ASSERT_EQ(listing[0].name, crafted);

    // Share only the crafted item, renamed with a prefix.
    writeFile(data.file("selection.json"), R"([{"fs_id": 500000000000012, "isdir": 0, "path": )" +
                                               jsonQuote("/安全/" + crafted) +
                                               R"(, "server_filename": )" + jsonQuote(crafted) +
                                               R"(, "size": 0, "md5": ""}])");
    const ProcessResult result =
        runCli({"--data-dir", data.path(), "--origin", sim.origin(), "share", "--cookies",
                SimProcess::loginCookieHeader(), "--selection", data.file("selection.json"),
                "--set", "time=-1", "--set", "befor=1", "--set", "BeforZhui=新_"});
    ASSERT_EQ(result.exitCode, 0) << describe(result);

    const SimState state = readSimState(sim).value_or(SimState{});
    ASSERT_EQ(state.renames.size(), 1u) << state.raw;
    EXPECT_EQ(state.renames[0].path, "/安全/" + crafted);
    EXPECT_EQ(state.renames[0].newName, "新_" + crafted);
    EXPECT_EQ(state.renames[0].errnoValue, 0);

    const auto after = fetchListing(sim, "/安全");
    std::vector<std::string> names;
    for (const ListedMember& m : after)
        names.push_back(m.name);
    EXPECT_EQ(names, (std::vector<std::string>{"新_" + crafted, "victim.txt"}));

    const LedgerRead ledger = readLedger(data.file("linkledger.db"));
    ASSERT_EQ(ledger.rows.size(), 1u);
    EXPECT_EQ(ledger.rows[0].aftername, "新_" + crafted);
    EXPECT_EQ(ledger.rows[0].path, "/安全/新_" + crafted);
}

// U+2400 is the character the JSON reader once turned into a backslash in
// every text. A folder holding "x\y.txt" and "x␀y.txt": sharing the second
// with a rename must rename the second, not the first.
TEST(HostileNames, PlaceholderCharacterInANameRenamesOnlyItsOwnItem) {
    const std::string backslashName = "x\\y.txt";
    const std::string placeholderName = "x\xE2\x90\x80y.txt";
    TempDir data;
    writeFile(data.file("tree.json"), R"({"entries": [{"name": "安全", "children": [
        {"name": )" + jsonQuote(backslashName) +
                                          R"(, "fs_id": 500000000000041},
        {"name": )" + jsonQuote(placeholderName) +
                                          R"(, "fs_id": 500000000000042}]}]})");
    SimProcess sim({"--tree", data.file("tree.json"), "--fixed-time", kFixedTime});
    ASSERT_TRUE(sim.started()) << sim.error();
    writeFile(data.file("selection.json"),
              R"([{"fs_id": 500000000000042, "isdir": 0, "path": )" +
                  jsonQuote("/安全/" + placeholderName) + R"(, "server_filename": )" +
                  jsonQuote(placeholderName) + R"(, "size": 0, "md5": ""}])");
    const ProcessResult result =
        runCli({"--data-dir", data.path(), "--origin", sim.origin(), "share", "--cookies",
                SimProcess::loginCookieHeader(), "--selection", data.file("selection.json"),
                "--set", "time=-1", "--set", "befor=1", "--set", "BeforZhui=新_"});
    ASSERT_EQ(result.exitCode, 0) << describe(result);
    EXPECT_EQ(result.out.find(backslashName), std::string::npos) << result.out;

    const SimState state = readSimState(sim).value_or(SimState{});
    ASSERT_EQ(state.renames.size(), 1u) << state.raw;
    EXPECT_EQ(state.renames[0].path, "/安全/" + placeholderName);
    EXPECT_EQ(state.renames[0].errnoValue, 0);
    std::vector<std::string> names;
    for (const ListedMember& m : fetchListing(sim, "/安全"))
        names.push_back(m.name);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"x\\y.txt", "新_" + placeholderName}));

    const LedgerRead ledger = readLedger(data.file("linkledger.db"));
    ASSERT_EQ(ledger.rows.size(), 1u);
    EXPECT_EQ(ledger.rows[0].beforename, placeholderName);
    EXPECT_EQ(ledger.rows[0].path, "/安全/新_" + placeholderName);
}

// --- replies that carry script -------------------------------------------

// A stand-in service on 127.0.0.1 whose listing reply is whatever the test
// says; it logs the user in and counts share requests.
class ScriptService {
public:
    ScriptService(std::string listingBody, std::string shareBody) {
        server_.Get("/disk/home", [](const httplib::Request&, httplib::Response& res) {
            res.set_content("<html><script>locals.mset({\"username\":\"tester\","
                            "\"bdstoken\":\"0123456789abcdef0123456789abcdef\"});</script></html>",
                            "text/html; charset=utf-8");
        });
        server_.Get("/api/list", [body = std::move(listingBody)](const httplib::Request&,
                                                                 httplib::Response& res) {
            res.set_content(body, "application/json");
        });
        server_.Post("/share/set", [this, body = std::move(shareBody)](const httplib::Request&,
                                                                       httplib::Response& res) {
            ++shareRequests_;
            res.set_content(body, "application/json");
        });
        port_ = server_.bind_to_any_port("127.0.0.1");
        thread_ = std::thread([this] { server_.listen_after_bind(); });
        while (!server_.is_running())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ~ScriptService() {
        server_.stop();
        thread_.join();
    }
    std::string origin() const { return "http://127.0.0.1:" + std::to_string(port_); }
    int shareRequests() const { return shareRequests_; }

private:
    httplib::Server server_;
    int port_ = 0;
    std::thread thread_;
    std::atomic<int> shareRequests_{0};
};

constexpr const char* kEntry =
    R"({"isdir":0,"path":"/evil.txt","server_filename":"evil.txt","fs_id":1,"md5":"x","size":1})";

struct ScriptReply {
    std::string name;
    std::string body;
};

class ScriptReplyTest : public ::testing::TestWithParam<ScriptReply> {};

// Run as script, each of these would list an entry; read as data, none is a
// listing at all.
// Nothing of such a reply runs: it is no listing, and the run ends on it.
TEST_P(ScriptReplyTest, ListingThatIsScriptIsNoListing) {
    ScriptService service(GetParam().body, R"({"errno":0,"link":"x","ctime":1})");
    TempDir data;
    const ProcessResult result = runCli(shareArgs(data.path(), service.origin(), "BDUSS=1", "/"));
    ASSERT_EQ(result.exitCode, 1) << describe(result);
    EXPECT_EQ(result.out, "");
    EXPECT_NE(result.err.find("获取文件列表失败: / ("), std::string::npos) << result.err;
    EXPECT_EQ(service.shareRequests(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Replies, ScriptReplyTest,
    ::testing::Values(
        ScriptReply{"FunctionCall",
                    "(function(){return {\"errno\":0,\"list\":[" + std::string(kEntry) + "]}})()"},
        ScriptReply{"EvalInsideLiteral", "{\"errno\":0,\"list\":eval(\"[" +
                                             std::string(R"({isdir:0,path:'/e',fs_id:1})") +
                                             "]\")}"},
        ScriptReply{"ConcatInsideLiteral",
                    "{\"errno\":0,\"list\":[].concat([" + std::string(kEntry) + "])}"},
        ScriptReply{"ExpressionAsValue",
                    R"({"errno":0,"list":[{"isdir":1-1,"path":"/a"+"b","fs_id":2}]})"},
        ScriptReply{"Jsonp", "callback({\"errno\":0,\"list\":[" + std::string(kEntry) + "]})"},
        ScriptReply{"HtmlWithScript", "<html><script>document.write('{\"errno\":0,\"list\":[" +
                                          std::string(kEntry) + "]}')</script></html>"}),
    CaseName{});

// A share reply that needs script to read is no verdict: no row, so the
// item is tried again later.
TEST(ScriptReplies, ShareReplyThatIsScriptIsNoVerdict) {
    ScriptService service("{\"errno\":0,\"list\":[" + std::string(kEntry) + "]}",
                          R"({"errno":0,"link":"http://127.0.0.1/s/1","ctime":eval("1")})");
    TempDir data;
    const ProcessResult result = runCli(shareArgs(data.path(), service.origin(), "BDUSS=1", "/"));
    ASSERT_EQ(result.exitCode, 0) << describe(result);
    EXPECT_EQ(result.out, "pending\t/evil.txt\t服务的回答不是 JSON\n");
    EXPECT_EQ(service.shareRequests(), 1);
    EXPECT_TRUE(readLedger(data.file("linkledger.db")).rows.empty());
}

// --- HTTPS ---------------------------------------------------------------------

// A certificate for 127.0.0.1 that signs itself, made fresh for the test.
bool makeSelfSignedCertificate(const TempDir& dir) {
    const std::string command =
        "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 "
        "-subj /CN=127.0.0.1 -addext subjectAltName=IP:127.0.0.1 -keyout '" +
        dir.file("key.pem") + "' -out '" + dir.file("cert.pem") + "' >/dev/null 2>&1";
    return std::system(command.c_str()) == 0 && fs::exists(dir.file("cert.pem"));
}

TEST(Https, SelfSignedServiceIsRefusedUnlessItsCertificateIsGiven) {
    TempDir data;
    ASSERT_TRUE(makeSelfSignedCertificate(data)) << "openssl could not make a certificate";
    writeFile(data.file("tree.json"), R"({"entries": [{"name": "安全", "children": [
        {"name": "a.txt", "fs_id": 500000000000021}]}]})");
    SimProcess sim({"--tree", data.file("tree.json"), "--cert", data.file("cert.pem"), "--key",
                    data.file("key.pem"), "--log", data.file("requests.jsonl")});
    ASSERT_TRUE(sim.started()) << sim.error();
    ASSERT_EQ(sim.origin().rfind("https://", 0), 0u) << sim.origin();

    const auto args =
        shareArgs(data.path(), sim.origin(), SimProcess::loginCookieHeader(), "/安全");
    const ProcessResult refused = runCli(args);
    EXPECT_EQ(refused.exitCode, 1) << describe(refused);
    EXPECT_NE(refused.err.find("certificate"), std::string::npos) << refused.err;
    EXPECT_EQ(refused.out, "");
    // The handshake failed before any request, the login included, was sent.
    EXPECT_EQ(readFile(data.file("requests.jsonl")), "");

    const ProcessResult whoami =
        runCli({"--origin", sim.origin(), "whoami", "--cookies", SimProcess::loginCookieHeader()});
    EXPECT_EQ(whoami.exitCode, 1) << describe(whoami);

    // The same certificate given as the CA to trust: the run goes through.
    auto trusted = args;
    trusted.insert(trusted.begin(), {"--ca-file", data.file("cert.pem")});
    const ProcessResult accepted = runCli(trusted);
    ASSERT_EQ(accepted.exitCode, 0) << describe(accepted);
    EXPECT_EQ(parseShareOutput(accepted.out).size(), 1u) << accepted.out;
    EXPECT_EQ(readSimState(sim).value_or(SimState{}).shares.size(), 1u);
    EXPECT_EQ(readLedger(data.file("linkledger.db")).rows.size(), 1u);

    // Also through the environment.
    const ProcessResult viaEnv =
        runCli({"--origin", sim.origin(), "whoami", "--cookies", SimProcess::loginCookieHeader()},
               {.setEnv = {{"VANTOREL_CA_FILE", data.file("cert.pem")}}});
    EXPECT_EQ(viaEnv.exitCode, 0) << describe(viaEnv);
    EXPECT_EQ(viaEnv.out, std::string(SimProcess::kUser) + "\n");
}

// --- the login cookie ----------------------------------------------------------

// Every file under `dir` whose bytes hold `secret`, except the `allowed` ones.
std::vector<std::string> filesHolding(const std::string& dir, const std::string& secret,
                                      const std::vector<std::string>& allowed) {
    std::vector<std::string> found;
    for (const auto& item : fs::recursive_directory_iterator(dir)) {
        if (!item.is_regular_file() ||
            std::find(allowed.begin(), allowed.end(), item.path().string()) != allowed.end())
            continue;
        if (readFile(item.path().string()).find(secret) != std::string::npos)
            found.push_back(item.path().filename().string());
    }
    return found;
}

TEST(LoginCookie, AppearsInNoOutputMessageOrFile) {
    const std::string secret = "SECRET-c00k1e-9d2e47a1b5f3";
    TempDir data;
    writeFile(data.file("tree.json"), R"({"entries": [{"name": "安全", "children": [
        {"name": "a.txt", "fs_id": 500000000000031, "mtime": 1622000300},
        {"name": "b.txt", "fs_id": 500000000000032, "mtime": 1622000200},
        {"name": "c.txt", "fs_id": 500000000000033, "mtime": 1622000100}]}]})");
    SimProcess sim({"--tree", data.file("tree.json"), "--login-cookie", secret});
    ASSERT_TRUE(sim.started()) << sim.error();
    const std::string cookies = "BDUSS=" + secret + "; STOKEN=abc";
    const std::string cookieFile = data.file("cookies.txt");
    writeFile(cookieFile, "# Netscape HTTP Cookie File\n127.0.0.1\tFALSE\t/\tFALSE\t0\tBDUSS\t" +
                              secret + "\n");
    ::chmod(cookieFile.c_str(), 0600);
    const std::string otherHostFile = data.file("other.txt");
    writeFile(otherHostFile,
              "# Netscape HTTP Cookie File\n.example.com\tTRUE\t/\tFALSE\t0\tBDUSS\t" + secret +
                  "\n");
    ::chmod(otherHostFile.c_str(), 0600);
    const std::string jsonFile = data.file("cookies.json");
    writeFile(jsonFile, R"([{"domain":"127.0.0.1","name":"BDUSS","value":")" + secret +
                            R"("},{"domain":".example.com","name":"X","value":")" + secret +
                            R"("}])");
    ::chmod(jsonFile.c_str(), 0600);
    // Refused files: one in no known format, one far too long.
    const std::string unknownFile = data.file("unknown.txt");
    writeFile(unknownFile, "<p>BDUSS=" + secret + "</p>\n");
    ::chmod(unknownFile.c_str(), 0600);
    const std::string longFile = data.file("long.txt");
    writeFile(longFile, "BDUSS=" + secret + "; pad=" + std::string(70000, 'p') + "\n");
    ::chmod(longFile.c_str(), 0600);

    std::vector<ProcessResult> results;
    const auto run = [&](std::vector<std::string> args,
                         std::vector<std::pair<std::string, std::string>> env = {}) {
        results.push_back(runCli(std::move(args), {.setEnv = std::move(env)}));
        return results.back();
    };
    const std::string dataDir = data.file("data");
    fs::create_directory(dataDir);

    EXPECT_EQ(run({"--data-dir", dataDir, "settings", "set", "time", "-1"}).exitCode, 0);
    // Shares that work, with a rename, by every way of giving the login.
    EXPECT_EQ(run(shareArgs(dataDir, sim.origin(), cookies, "/安全",
                            {"--set", "befor=1", "--set", "BeforZhui=x_"}))
                  .exitCode,
              0);
    ASSERT_TRUE(
        simControl(sim, "/__sim/fault", R"({"endpoint":"share","kind":"status","value":500})"));
    std::vector<std::string> viaFile = shareArgs(dataDir, sim.origin(), "", "/安全");
    viaFile.erase(viaFile.begin() + 5, viaFile.begin() + 7);
    viaFile.insert(viaFile.begin() + 5, {"--cookie-file", cookieFile});
    EXPECT_EQ(run(viaFile).exitCode, 0);
    std::vector<std::string> viaEnv = shareArgs(dataDir, sim.origin(), "", "/安全");
    viaEnv.erase(viaEnv.begin() + 5, viaEnv.begin() + 7);
    EXPECT_EQ(run(viaEnv, {{"VANTOREL_COOKIES", cookies}}).exitCode, 0);
    EXPECT_EQ(run({"--origin", sim.origin(), "whoami", "--cookies", cookies}).exitCode, 0);
    EXPECT_EQ(run({"--origin", sim.origin(), "whoami", "--cookie-file", jsonFile}).exitCode, 0);
    for (const std::string& refused : {unknownFile, longFile})
        EXPECT_EQ(run({"--origin", sim.origin(), "whoami", "--cookie-file", refused}).exitCode, 2);
    EXPECT_EQ(
        run({"--origin", sim.origin(), "whoami", "--cookies", cookies + std::string(70000, 'p')})
            .exitCode,
        2);
    // Failures: a cookie file for another site, a login the service no longer
    // takes, a service that is gone, bad arguments next to the login.
    EXPECT_EQ(run({"--origin", sim.origin(), "whoami", "--cookie-file", otherHostFile}).exitCode,
              2);
    EXPECT_EQ(run({"--origin", sim.origin(), "share", "--cookies", cookies, "--path", "/安全",
                   "--set", "nokey=1"})
                  .exitCode,
              2);
    EXPECT_EQ(
        run({"share", "--cookies", cookies, "--cookie-file", cookieFile, "--path", "/"}).exitCode,
        2);
    auto client = makeSimClient(sim);
    ASSERT_TRUE(client->Post("/__sim/config", R"({"session_valid":false})", "application/json"));
    EXPECT_EQ(run(shareArgs(dataDir, sim.origin(), cookies, "/安全")).exitCode, 4);
    const std::string origin = sim.origin();
    sim.stop();
    EXPECT_NE(run(shareArgs(dataDir, origin, cookies, "/安全")).exitCode, 0);
    EXPECT_NE(run({"--origin", origin, "whoami", "--cookies", cookies}).exitCode, 0);
    EXPECT_EQ(run({"--data-dir", dataDir, "records", "list", "--format", "json"}).exitCode, 0);
    EXPECT_EQ(run({"--data-dir", dataDir, "settings", "show"}).exitCode, 0);

    for (std::size_t i = 0; i < results.size(); ++i) {
        EXPECT_EQ(results[i].out.find(secret), std::string::npos) << "run " << i << " stdout";
        EXPECT_EQ(results[i].err.find(secret), std::string::npos) << "run " << i << " stderr:\n"
                                                                  << results[i].err;
        EXPECT_EQ(results[i].termSignal, 0) << describe(results[i]);
    }
    EXPECT_FALSE(readLedger(dataDir + "/linkledger.db").rows.empty());
    // The ledger, set.ini and anything else the program left: only the
    // user's own cookie files hold the login.
    EXPECT_TRUE(fs::exists(dataDir + "/linkledger.db"));
    EXPECT_EQ(filesHolding(data.path(), secret,
                           {cookieFile, otherHostFile, jsonFile, unknownFile, longFile}),
              std::vector<std::string>{});
}

TEST(LoginCookie, CookieFileReadableByOthersGetsAWarning) {
    TempDir data;
    SimProcess sim;
    ASSERT_TRUE(sim.started()) << sim.error();
    const std::string file = data.file("cookies.txt");
    writeFile(file, SimProcess::loginCookieHeader() + "\n");

    struct Mode {
        mode_t bits;
        bool warned;
    };
    for (const Mode mode : {Mode{0644, true}, Mode{0640, true}, Mode{0604, true}, Mode{0600, false},
                            Mode{0400, false}}) {
        SCOPED_TRACE(mode.bits);
        ASSERT_EQ(::chmod(file.c_str(), mode.bits), 0);
        const ProcessResult result =
            runCli({"--origin", sim.origin(), "whoami", "--cookie-file", file});
        EXPECT_EQ(result.exitCode, 0) << describe(result);
        EXPECT_EQ(result.err.find("can be read by other users") != std::string::npos, mode.warned)
            << result.err;
        EXPECT_EQ(result.err.find(SimProcess::kLoginCookie), std::string::npos);
    }
}

} // namespace
} // namespace vantorel::test
