// The web API client against the simulated service: what the login gather
// reads from the home page, and every byte of the requests the client sends,
// read back from the simulator's request log.

#include "base/service_origin.h"
#include "fake_browser.h"
#include "named_case.h"
#include "netdisk/netdisk_client.h"
#include "netdisk/page_text.h"
#include "sim_process.h"
#include "sim_request_log.h"
#include "sim_state.h"

#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <utility>
#include <vector>

using namespace vantorel;
using namespace vantorel::test;

namespace {

using vantorel::test::CaseName;
using vantorel::test::PrintTo;

using Headers = std::vector<std::pair<std::string, std::string>>;

constexpr const char* kChromeUa = "Mozilla/5.0 (Windows NT 10.0; Win64; x64) AppleWebKit/537.36 "
                                  "(KHTML, like Gecko) Chrome/89.0.4389.82 Safari/537.36";
constexpr const char* kSecChUa =
    "\"Google Chrome\";v=\"89\", \"Chromium\";v=\"89\", \";Not A Brand\";v=\"99\"";

std::string listTarget(const std::string& dir) {
    return "/api/list?order=time&desc=1&showempty=0&web=1&page=1&num=1000&dir=" + dir +
           "&t=0.657891815'9504346&channel=chunlei&web=1&app_id=250528&bdstoken=" +
           SimProcess::kBdstoken +
           "&logid=Q0Y3RDE5QTA0QjhFMkM2NTlEMEExRjNCNzU4RTlDMjQ6Rkc9MQ==&clienttype=0";
}

std::string shareTarget() {
    return std::string("/share/set?channel=chunlei&bdstoken=") + SimProcess::kBdstoken +
           "&clienttype=0&app_id=250528&web=1";
}

std::string renameTarget() {
    return std::string("/api/filemanager?async=2&onnest=fail&opera=rename&bdstoken=") +
           SimProcess::kBdstoken + "&clienttype=0&app_id=250528&web=1";
}

class ClientE2e : public ::testing::Test {
protected:
    void startSim(std::vector<std::string> args = {}) {
        args.insert(args.end(), {"--log", logPath()});
        sim_ = std::make_unique<SimProcess>(args);
        ASSERT_TRUE(sim_->started()) << sim_->error();
        auto origin = ServiceOrigin::parse(sim_->origin());
        ASSERT_TRUE(origin) << origin.error().message;
        connection_.origin = *origin;
    }

    void TearDown() override {
        if (sim_ && sim_->started()) {
            EXPECT_EQ(sim_->stop(), 0) << "netdisk-sim did not end cleanly";
        }
    }

    std::string logPath() const { return dir_.file("requests.jsonl"); }
    std::vector<LoggedRequest> logged() { return readRequestLog(logPath()); }

    std::string host() const { return "127.0.0.1:" + std::to_string(sim_->port()); }

    LoginContext loggedIn() {
        LoginContext login;
        login.cookieText = SimProcess::loginCookieHeader();
        login.userName = SimProcess::kUser;
        login.bdstoken = SimProcess::kBdstoken;
        login.selectionJson = "[]";
        return login;
    }

    TempDir dir_;
    std::unique_ptr<SimProcess> sim_;
    ConnectionSettings connection_;
};

// ---------------------------------------------------------------------------
// Login context

struct GatherCase {
    const char* name;
    std::vector<std::string> simArgs;
    bool cookie;
    const char* user;               // the user name found
    const char* bdstoken;           // the bdstoken found
    std::vector<std::string> asked; // paths of the requests, in order
};

class Gather : public ClientE2e, public ::testing::WithParamInterface<GatherCase> {};

constexpr const char* kTemplatePath = "/api/gettemplatevariable";
constexpr const char* kLoginStatusPath = "/api/loginStatus";

// The simulator's settings object holds ")" and "}" inside string values,
// which must not cut it short; a page that moved the object to another
// variable still gives the tokens. Today's pages carry none: the token
// requests of the new web client give them instead.
TEST_P(Gather, TokensFromTheHomePageOrTheTokenRequests) {
    const GatherCase& c = GetParam();
    startSim(c.simArgs);
    // A selected name holding "%41" stays as the page gave it.
    const std::string selection = R"([{"fs_id":1,"server_filename":"100%41.txt","isdir":0}])";
    FakeBrowser browser(c.cookie ? SimProcess::loginCookieHeader() : "",
                        sim_->origin() + "/disk/home?#/all?vmode=list&path=%2Fdocs%2F2021",
                        selection);
    Status fetched;
    const LoginContext login = gatherLoginContext(browser, connection_, {}, &fetched);

    EXPECT_TRUE(fetched) << fetched.error().message;
    EXPECT_EQ(login.userName, c.user);
    EXPECT_EQ(login.bdstoken, c.bdstoken);
    EXPECT_EQ(login.currentPath, "%2Fdocs%2F2021");
    EXPECT_EQ(login.selectionJson, selection);
    ASSERT_EQ(browser.scripts.size(), 1u);
    EXPECT_EQ(browser.scripts[0], selectionPageScript);

    std::vector<std::string> asked;
    for (const LoggedRequest& r : logged())
        asked.push_back(r.target.substr(0, r.target.find('?')));
    EXPECT_EQ(asked, c.asked);
    const auto homes = requestsTo(logged(), "/disk/home");
    ASSERT_EQ(homes.size(), 1u);
    EXPECT_EQ(homes[0].target, "/disk/home?");
    // The token requests carry the login and the web API's header lines.
    for (const char* path : {kTemplatePath, kLoginStatusPath}) {
        for (const LoggedRequest& r : requestsTo(logged(), path)) {
            EXPECT_EQ(r.header("Cookie").value_or("").find(SimProcess::loginCookieHeader()) !=
                          std::string::npos,
                      c.cookie)
                << path;
            EXPECT_EQ(r.header("X-Requested-With"), "XMLHttpRequest") << path;
        }
    }
}

const char* const kUser = SimProcess::kUser;
const char* const kToken = SimProcess::kBdstoken;

INSTANTIATE_TEST_SUITE_P(
    HomePage, Gather,
    ::testing::Values(GatherCase{"SettingsObjectWithParentheses",
                                 {"--home-style", "mset"},
                                 true,
                                 kUser,
                                 kToken,
                                 {"/disk/home"}},
                      GatherCase{"MovedSettingsObject",
                                 {"--home-style", "yundata"},
                                 true,
                                 kUser,
                                 kToken,
                                 {"/disk/home"}},
                      GatherCase{"RedirectToTheNewClientThenBothTokenRequests",
                                 {"--home-style", "main"},
                                 true,
                                 kUser,
                                 kToken,
                                 {"/disk/home", "/disk/main", kTemplatePath, kLoginStatusPath}},
                      GatherCase{"PageWithoutTokensThenTemplateOnly",
                                 {"--home-style", "none", "--token-api", "template"},
                                 true,
                                 "",
                                 kToken,
                                 {"/disk/home", kTemplatePath, kLoginStatusPath}},
                      GatherCase{"LoginStatusOnlyGivesBoth",
                                 {"--home-style", "main", "--token-api", "loginstatus"},
                                 true,
                                 kUser,
                                 kToken,
                                 {"/disk/home", "/disk/main", kTemplatePath, kLoginStatusPath}},
                      GatherCase{"NoRouteGivesTokens",
                                 {"--home-style", "main", "--token-api", "none"},
                                 true,
                                 "",
                                 "",
                                 {"/disk/home", "/disk/main", kTemplatePath, kLoginStatusPath}},
                      GatherCase{"NotLoggedInStopsAtTheFirstMinus6",
                                 {"--home-style", "mset"},
                                 false,
                                 "",
                                 "",
                                 {"/disk/home", "/", kTemplatePath}},
                      GatherCase{"NotLoggedInOnTheNewClient",
                                 {"--home-style", "main"},
                                 false,
                                 "",
                                 "",
                                 {"/disk/home", "/", kTemplatePath}}),
    CaseName{});

// A logged-out home page sends the browser to the passport host. Nothing
// follows it there: the login cookies stay with the service, and without
// tokens the login counts as not logged in.
TEST_F(ClientE2e, RedirectToAnotherHostIsNotFollowed) {
    SimProcess passport({"--log", dir_.file("passport.jsonl")});
    ASSERT_TRUE(passport.started()) << passport.error();
    startSim({"--passport", passport.origin() + "/passport/login"});
    std::string cookies = "BDUSS=stale-login";
    const HomePageTokens tokens = fetchHomePageTokens(connection_, cookies);
    EXPECT_TRUE(tokens.fetched) << tokens.fetched.error().message;
    EXPECT_EQ(tokens.bdstoken, "");
    EXPECT_EQ(tokens.userName, "");
    EXPECT_TRUE(readRequestLog(dir_.file("passport.jsonl")).empty());
    std::vector<std::string> asked;
    for (const LoggedRequest& r : logged())
        asked.push_back(r.target);
    EXPECT_EQ(asked, std::vector<std::string>{"/disk/home?"});
}

// Every reply sets cookies; each request sends the cookie text as the reply
// before it left it, so a rotated cookie reaches the next request and a
// deleted one is gone from it.
TEST_F(ClientE2e, RotatedCookiesReachTheNextRequest) {
    startSim();
    const std::string browserCookies =
        SimProcess::loginCookieHeader() + "; BDCLND=stale-share-cookie";
    FakeBrowser browser(browserCookies, sim_->origin() + "/disk/home?#/all?path=%2FA", "[]");
    LoginContext login = gatherLoginContext(browser, connection_);
    ASSERT_EQ(login.bdstoken, SimProcess::kBdstoken);

    std::vector<std::string> sent = {browserCookies};
    NetdiskClient client(connection_, login);
    sent.push_back(login.cookieText);
    const Expected<Listing> listing = client.fetchListing("%2FA");
    ASSERT_TRUE(listing) << listing.error().message;
    ASSERT_EQ(listing->files.size(), 1u);
    sent.push_back(login.cookieText);
    EXPECT_EQ(client.createShareLink("0", "ab12", listing->files[0].fs_id).outcome,
              ShareOutcome::Shared);
    sent.push_back(login.cookieText);
    EXPECT_TRUE(client.renameItem(listing->files[0].path, "a2.txt").renamed);
    sent.push_back(login.cookieText);
    client.fetchListing("%2FA");

    const auto requests = logged();
    ASSERT_EQ(requests.size(), sent.size());
    std::vector<std::string> panpsc;
    for (std::size_t i = 0; i < requests.size(); ++i) {
        SCOPED_TRACE(requests[i].target);
        EXPECT_EQ(requests[i].header("Cookie"), sent[i]);
        if (i > 0) {
            const std::size_t at = sent[i].find("PANPSC=");
            ASSERT_NE(at, std::string::npos);
            panpsc.push_back(sent[i].substr(at, sent[i].find(';', at) - at));
        }
    }
    // A new value on every reply.
    for (std::size_t i = 1; i < panpsc.size(); ++i)
        EXPECT_NE(panpsc[i], panpsc[i - 1]);
    // The share reply deletes BDCLND.
    EXPECT_NE(sent[2].find("BDCLND=stale-share-cookie"), std::string::npos);
    EXPECT_EQ(sent[3].find("BDCLND"), std::string::npos);
    EXPECT_NE(sent[3].find(SimProcess::loginCookieHeader()), std::string::npos);
}

// ---------------------------------------------------------------------------
// What goes on the wire

TEST_F(ClientE2e, HeaderLinesOfEachRequest) {
    startSim();
    std::string cookies = SimProcess::loginCookieHeader();
    ASSERT_EQ(fetchHomePageTokens(connection_, cookies).bdstoken, SimProcess::kBdstoken);
    LoginContext login = loggedIn();
    NetdiskClient client(connection_, login);
    const Expected<Listing> listing = client.fetchListing("%2FA");
    ASSERT_TRUE(listing) << listing.error().message;
    ASSERT_EQ(listing->files.size(), 1u);
    client.createShareLink("0", "ab12", listing->files[0].fs_id);
    client.renameItem("/A/a1.txt", "a2.txt");

    const auto requests = logged();
    ASSERT_EQ(requests.size(), 4u);
    const std::string origin = sim_->origin();
    const std::string home = origin + "/disk/home?";

    EXPECT_EQ(requests[0].method, "GET");
    EXPECT_EQ(requests[0].target, "/disk/home?");
    EXPECT_EQ(requests[0].headers,
              (Headers{{"Host", host()},
                       {"Cookie", SimProcess::loginCookieHeader()},
                       {"Cache-Control", "max-age=0"},
                       {"Sec-Ch-Ua", kSecChUa},
                       {"Sec-Ch-Ua-Mobile", "?0"},
                       {"Upgrade-Insecure-Requests", "1"},
                       {"User-Agent", kChromeUa},
                       {"Accept", "text/html,application/xhtml+xml,application/xml;q=0.9,image/"
                                  "avif,image/webp,image/apng,*/*;q=0.8,application/"
                                  "signed-exchange;v=b3;q=0.9"},
                       {"Sec-Fetch-Site", "same-origin"},
                       {"Sec-Fetch-Mode", "navigate"},
                       {"Sec-Fetch-User", "?1"},
                       {"Sec-Fetch-Dest", "document"},
                       {"Referer", home},
                       {"Accept-Language", "zh-cn"}}));

    // The listing's own block is one User-Agent line; Accept, a Referer
    // naming the request itself and Accept-Language complete it.
    EXPECT_EQ(requests[1].method, "GET");
    EXPECT_EQ(requests[1].target, listTarget("%2FA"));
    EXPECT_EQ(requests[1].headers,
              (Headers{{"Host", host()},
                       {"Cookie", SimProcess::loginCookieHeader()},
                       {"User-Agent", "Mozilla/5.0 (Windows NT 6.1; WOW64) AppleWebKit/537.36 "
                                      "(KHTML, like Gecko) Chrome/50.0.2661.87 Safari/537.36"},
                       {"Accept", "*/*"},
                       {"Referer", origin + listTarget("%2FA")},
                       {"Accept-Language", "zh-cn"}}));

    // The web API block: no "Connection: keep-alive", and the real length
    // of the body in place of the block's fixed one.
    const auto apiHeaders = [&](const LoggedRequest& r) {
        // The Cookie values are the rotation test's business.
        return Headers{{"Host", host()},
                       {"Cookie", r.header("Cookie").value_or("")},
                       {"Sec-Ch-Ua", kSecChUa},
                       {"Accept", "application/json, text/javascript, */*; q=0.01"},
                       {"X-Requested-With", "XMLHttpRequest"},
                       {"Sec-Ch-Ua-Mobile", "?0"},
                       {"User-Agent", kChromeUa},
                       {"Content-Type", "application/x-www-form-urlencoded; charset=UTF-8"},
                       {"Origin", origin},
                       {"Sec-Fetch-Site", "same-origin"},
                       {"Sec-Fetch-Mode", "cors"},
                       {"Sec-Fetch-Dest", "empty"},
                       {"Referer", home},
                       {"Accept-Language", "zh-cn"},
                       {"Content-Length", std::to_string(r.body.size())}};
    };
    for (std::size_t i = 2; i < 4; ++i) {
        SCOPED_TRACE(requests[i].target);
        EXPECT_EQ(requests[i].method, "POST");
        EXPECT_EQ(requests[i].headers, apiHeaders(requests[i]));
        EXPECT_NE(requests[i].header("Cookie")->find(SimProcess::loginCookieHeader()),
                  std::string::npos);
    }
    EXPECT_EQ(requests[2].target, shareTarget());
    EXPECT_EQ(requests[3].target, renameTarget());
}

// The seven-day period goes out with its blank and an empty code as an
// empty value; the service refuses the code, and its errno is kept.
TEST_F(ClientE2e, ShareBodyWithBlankPeriodAndEmptyCode) {
    startSim();
    LoginContext login = loggedIn();
    NetdiskClient client(connection_, login);
    const ShareReply refused = client.createShareLink(" 7", "", "893025776410239");
    EXPECT_EQ(refused.outcome, ShareOutcome::ItemRefused);
    EXPECT_EQ(refused.errnoValue, 2);
    EXPECT_EQ(refused.link, "");

    const ShareReply shared = client.createShareLink(" 7", "ab12", "893025776410239");
    EXPECT_EQ(shared.outcome, ShareOutcome::Shared);
    EXPECT_EQ(shared.errnoValue, 0);
    EXPECT_EQ(shared.link.rfind(sim_->origin() + "/s/1", 0), 0u) << shared.link;
    EXPECT_FALSE(shared.shareTime.empty());

    const auto shares = requestsTo(logged(), "/share/set");
    ASSERT_EQ(shares.size(), 2u);
    EXPECT_EQ(shares[0].body,
              "period= 7&channel_list=%5B%5D&pwd=&schannel=4&fid_list=%5B893025776410239%5D");
    EXPECT_EQ(shares[1].body,
              "period= 7&channel_list=%5B%5D&pwd=ab12&schannel=4&fid_list=%5B893025776410239%5D");
    const auto state = readSimState(*sim_);
    ASSERT_TRUE(state);
    ASSERT_EQ(state->shares.size(), 1u);
    EXPECT_EQ(state->shares[0].period, 7);
}

// One item renamed four times: each body exactly as the service's page would
// send it, and the service's tree follows.
TEST_F(ClientE2e, RenameBodiesOfAwkwardNames) {
    writeFile(dir_.file("tree.json"), R"({"entries": [
      {"name": "a b", "children": [{"name": "c_d.txt", "fs_id": 123456789012345}]}
    ]})");
    startSim({"--tree", dir_.file("tree.json")});
    LoginContext login = loggedIn();
    NetdiskClient client(connection_, login);

    const struct {
        const char* path;
        const char* newName;
        const char* encodedPath;
        const char* encodedName;
    } steps[] = {
        {"/a b/c_d.txt", "文.txt", "%2Fa+b%2Fc_d.txt", "%E6%96%87.txt"},
        {"/a b/文.txt", "it's (1)*.txt", "%2Fa+b%2F%E6%96%87.txt", "it's+(1)*.txt"},
        {"/a b/it's (1)*.txt", "x~y", "%2Fa+b%2Fit's+(1)*.txt", "x%7Ey"},
        {"/a b/x~y", "say \"hi\"", "%2Fa+b%2Fx%7Ey", "say+%5C%22hi%5C%22"},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.newName);
        const RenameReply reply = client.renameItem(step.path, step.newName);
        EXPECT_TRUE(reply.renamed) << reply.errnoValue.value_or(9999);
        const auto renames = requestsTo(logged(), "/api/filemanager");
        ASSERT_FALSE(renames.empty());
        EXPECT_EQ(renames.back().target, renameTarget());
        EXPECT_EQ(renames.back().body, std::string("filelist=%5B%7B%22path%22%3A%22") +
                                           step.encodedPath + "%22%2C%22newname%22%3A%22" +
                                           step.encodedName + "%22%7D%5D");
        EXPECT_TRUE(readSimTree(*sim_).contains(std::string("/a b/") + step.newName));
    }
    EXPECT_EQ(readSimTree(*sim_).at("/a b/say \"hi\"").fsId, "123456789012345");
}

// A refused rename is reported as such, with the service's errno.
TEST_F(ClientE2e, RefusedRenameIsReported) {
    startSim({"--fault", "rename:errno=12"});
    LoginContext login = loggedIn();
    NetdiskClient client(connection_, login);
    const RenameReply reply = client.renameItem("/A/a1.txt", "a2.txt");
    EXPECT_FALSE(reply.renamed);
    EXPECT_EQ(reply.errnoValue, 12);
    EXPECT_TRUE(readSimTree(*sim_).contains("/A/a1.txt"));
}

} // namespace
