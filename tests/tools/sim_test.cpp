// The simulated netdisk service, driven from outside as the client and the
// other test areas drive it: a child process, real sockets, its request log.

#include "sim_fixture.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <gtest/gtest.h>
#include <httplib.h>
#include <map>
#include <memory>
#include <rapidjson/document.h>
#include <set>
#include <thread>

using namespace sim_test;

namespace {

// ---------------------------------------------------------------- listing

TEST_F(Sim, ListingAnswersTheClientsExactRequest) {
    ASSERT_NO_FATAL_FAILURE(start());
    auto res = get(listTarget("%2FA"));
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 200);
    const std::string& body = res->body;
    // Numbers unquoted, slashes escaped, as the service writes them.
    EXPECT_NE(body.find("\"fs_id\":521736498120347"), std::string::npos) << body;
    EXPECT_NE(body.find("\"path\":\"\\/A\\/B\""), std::string::npos) << body;
    EXPECT_EQ(body.find("\"/"), std::string::npos) << "an unescaped slash";

    const auto doc = parse(body);
    ASSERT_TRUE(doc.IsObject());
    EXPECT_EQ(doc["errno"].GetInt(), 0);
    // Folders first, each group newest first: B was changed after C.
    EXPECT_EQ(names(doc["list"]), (std::vector<std::string>{"B", "C", "a1.txt"}));
    const auto& a1 = doc["list"][2];
    EXPECT_EQ(a1["isdir"].GetInt(), 0);
    EXPECT_EQ(a1["path"].GetString(), std::string("/A/a1.txt"));
    EXPECT_EQ(a1["fs_id"].GetUint64(), 893025776410239ULL);
    EXPECT_EQ(a1["size"].GetUint64(), 512U);
    EXPECT_EQ(std::string(a1["md5"].GetString()).size(), 32U);
    EXPECT_TRUE(a1["local_ctime"].IsInt64());
    EXPECT_FALSE(a1.HasMember("thumbs")) << "a text file has no thumbnail";
    const auto& b = doc["list"][0];
    EXPECT_EQ(b["isdir"].GetInt(), 1);
    EXPECT_FALSE(b.HasMember("md5"));
}

TEST_F(Sim, ListingCarriesThumbnailsOnItsOwnOrigin) {
    ASSERT_NO_FATAL_FAILURE(start());
    const auto doc = getJson(listTarget("%2FA%2FB"));
    ASSERT_EQ(doc["list"].Size(), 1U);
    const auto& b1 = doc["list"][0];
    const std::string url3 = b1["thumbs"]["url3"].GetString();
    EXPECT_EQ(url3.rfind(sim_->origin() + "/thumbnail/", 0), 0U) << url3;
    auto thumb = get(url3.substr(sim_->origin().size()), false);
    ASSERT_TRUE(thumb);
    EXPECT_EQ(thumb->status, 200);
    EXPECT_EQ(thumb->get_header_value("Content-Type"), "image/png");
    EXPECT_EQ(thumb->body.substr(1, 3), "PNG");
}

TEST_F(Sim, ListingDecodesTheDirValue) {
    ASSERT_NO_FATAL_FAILURE(start());
    struct Case {
        const char* dir;
        std::vector<std::string> expected;
    };
    const std::vector<Case> cases{
        {"%2Fmy+docs", {"it's here", "a b c.txt"}},
        {"%2Fmy%20docs", {"it's here", "a b c.txt"}},
        {"%2Fmy+docs%2Fit's+here", {"x_y.txt"}},
        {"%2Fmy+docs%2Fit%27s+here", {"x_y.txt"}},
        {"%2F%E6%88%91%E7%9A%84%E6%96%87%E6%A1%A3%2F",
         {"报告 2021.docx", "it's mine.txt", "notes_v2 (final).md", "照片_001.jpg", "重复副本.txt",
          "重复副本 (1).txt"}},
        {"", {"A", "我的文档", "my docs", "空文件夹", "大编号_文件.bin", "readme.txt"}},
        {"%2F", {"A", "我的文档", "my docs", "空文件夹", "大编号_文件.bin", "readme.txt"}},
    };
    for (const Case& c : cases) {
        const auto doc = getJson(listTarget(c.dir));
        ASSERT_EQ(errnoOf(doc), 0) << c.dir;
        EXPECT_EQ(names(doc["list"]), c.expected) << c.dir;
    }
}

TEST_F(Sim, ListingAcceptsTheTrailingBlankEscapedOrTrimmed) {
    ASSERT_NO_FATAL_FAILURE(start());
    EXPECT_EQ(errnoOf(getJson(listTarget("%2FA") + "%20")), 0);
    EXPECT_EQ(errnoOf(getJson(listTarget("%2FA"))), 0);
}

TEST_F(Sim, ListingOfAMissingFolderIsRefused) {
    ASSERT_NO_FATAL_FAILURE(start());
    for (const char* dir : {"%2Fnope", "%2FA%2Fa1.txt"}) {
        const auto doc = getJson(listTarget(dir));
        EXPECT_EQ(errnoOf(doc), -9) << dir;
        EXPECT_FALSE(doc.HasMember("list")) << dir;
    }
}

TEST_F(Sim, LargeFsIdsKeepEveryDigit) {
    ASSERT_NO_FATAL_FAILURE(start());
    auto res = get(listTarget("%2F"));
    ASSERT_TRUE(res);
    // 2^53 + 1 has no double of its own; the text must hold it exactly.
    EXPECT_NE(res->body.find("\"fs_id\":9007199254740993"), std::string::npos);
}

// ---------------------------------------------------------------- share

TEST_F(Sim, ShareAnswersTheClientsExactRequest) {
    ASSERT_NO_FATAL_FAILURE(start());
    auto res = post(shareTarget(), shareBody("7", "ab12", "893025776410239"));
    ASSERT_TRUE(res);
    EXPECT_NE(res->body.find(std::string("\"ctime\":") + kShareTime), std::string::npos);
    EXPECT_NE(res->body.find("\"link\":\"http:\\/\\/127.0.0.1:"), std::string::npos) << res->body;
    const auto doc = parse(res->body);
    EXPECT_EQ(errnoOf(doc), 0);
    const std::string link = doc["link"].GetString();
    EXPECT_EQ(link.rfind(sim_->origin() + "/s/1", 0), 0U) << link;
    EXPECT_EQ(link.size(), sim_->origin().size() + 3 + 23);
    EXPECT_TRUE(doc["shareid"].IsUint64());

    // The service rotates a cookie and deletes an irrelevant one.
    const auto cookies = setCookies(res);
    EXPECT_TRUE(anyStartsWith(cookies, "PANPSC=")) << ::testing::PrintToString(cookies);
    EXPECT_TRUE(anyStartsWith(cookies, "BDCLND=deleted;")) << ::testing::PrintToString(cookies);

    const auto st = state();
    ASSERT_EQ(st["share_count"].GetInt(), 1);
    const auto& share = st["shares"][0];
    EXPECT_EQ(share["link"].GetString(), link);
    EXPECT_EQ(share["pwd"].GetString(), std::string("ab12"));
    EXPECT_EQ(share["period"].GetInt(), 7);
    EXPECT_EQ(share["paths"][0].GetString(), std::string("/A/a1.txt"));

    // The link opens a page that asks for the code and then shows the item.
    auto page = get(link.substr(sim_->origin().size()) + "?pwd=ab12", false);
    ASSERT_TRUE(page);
    EXPECT_NE(page->body.find("a1.txt"), std::string::npos);
}

TEST_F(Sim, ShareChecksItsFormFields) {
    ASSERT_NO_FATAL_FAILURE(start());
    struct Case {
        std::string body;
        int expected;
    };
    const std::string a1 = "893025776410239";
    const std::vector<Case> cases{
        {shareBody(" 7", "ab12", a1), 0}, // the period is trimmed
        {shareBody("0", "AB12", a1), 0},
        {shareBody("1", "9z9z", a1), 0},
        {shareBody("30", "abcd", a1), 0},
        {shareBody("3", "ab12", a1), 2},
        {shareBody("", "ab12", a1), 2},
        {shareBody("7", "", a1), 2}, // an empty code
        {shareBody("7", "abcde", a1), 2},
        {shareBody("7", "ab1", a1), 2},
        {shareBody("7", "ab+1", a1), 2},
        {shareBody("7", "ab12", "123"), -9}, // no such item
        {shareBody("7", "ab12", "x"), 2},
        {"period=7&channel_list=%5B%5D&pwd=ab12&schannel=4", 2},
        {"period=7&channel_list=%5B%5D&pwd=ab12&schannel=0&fid_list=%5B" + a1 + "%5D", 2},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(errnoOf(postJson(shareTarget(), c.body)), c.expected) << c.body;
    }
    EXPECT_EQ(state()["share_count"].GetInt(), 4);
}

TEST_F(Sim, ShareOfAFolderAndOfALargeId) {
    ASSERT_NO_FATAL_FAILURE(start());
    EXPECT_EQ(errnoOf(postJson(shareTarget(), shareBody("7", "ab12", "386517923450918"))), 0);
    EXPECT_EQ(errnoOf(postJson(shareTarget(), shareBody("7", "ab12", "9007199254740993"))), 0);
    // 2^53: a client that went through a double would send this instead.
    EXPECT_EQ(errnoOf(postJson(shareTarget(), shareBody("7", "ab12", "9007199254740992"))), -9);
    const auto st = state();
    EXPECT_EQ(st["shares"][1]["paths"][0].GetString(), std::string("/大编号_文件.bin"));
}

// ---------------------------------------------------------------- rename

TEST_F(Sim, RenameAnswersTheClientsExactRequest) {
    ASSERT_NO_FATAL_FAILURE(start());
    const auto doc =
        postJson(renameTarget(), renameBody("%2Fmy+docs%2Fa+b+c.txt", "%E6%96%87.txt"));
    EXPECT_EQ(errnoOf(doc), 0);
    ASSERT_TRUE(doc.HasMember("info"));
    EXPECT_EQ(doc["info"][0]["errno"].GetInt(), 0);
    EXPECT_EQ(doc["info"][0]["path"].GetString(), std::string("/my docs/a b c.txt"));
    EXPECT_EQ(names(getJson(listTarget("%2Fmy+docs"))["list"]),
              (std::vector<std::string>{"it's here", "文.txt"}));
}

TEST_F(Sim, RenamingAFolderMovesWhatItHolds) {
    ASSERT_NO_FATAL_FAILURE(start());
    EXPECT_EQ(errnoOf(postJson(renameTarget(), renameBody("%2FA", "it's+(1)*_A"))), 0);
    const auto doc = getJson(listTarget("%2Fit's+(1)*_A%2FB"));
    ASSERT_EQ(errnoOf(doc), 0);
    EXPECT_EQ(doc["list"][0]["path"].GetString(), std::string("/it's (1)*_A/B/b1.jpg"));
    EXPECT_EQ(errnoOf(getJson(listTarget("%2FA"))), -9);
    // The item keeps its id: sharing it names the new path.
    EXPECT_EQ(errnoOf(postJson(shareTarget(), shareBody("7", "ab12", "1042889473620145"))), 0);
    EXPECT_EQ(state()["shares"][0]["paths"][0].GetString(), std::string("/it's (1)*_A/B/b1.jpg"));
}

TEST_F(Sim, RenameRefusals) {
    ASSERT_NO_FATAL_FAILURE(start());
    struct Case {
        std::string body;
        int expected;
        int itemErrno;
    };
    const std::vector<Case> cases{
        {renameBody("%2FA%2Fa1.txt", "B"), 12, -8}, // a sibling has that name
        {renameBody("%2FA%2Fnope.txt", "x.txt"), 12, -9},
        {renameBody("%2FA%2Fa1.txt", "x%2Fy"), 12, -7}, // a slash in a name
        {renameBody("%2FA%2Fa1.txt", ""), 12, -7},
        {renameBody("%2FA%2Fa1.txt", "a1.txt"), 0, 0}, // the same name: nothing to do
        // A double quote sent unescaped ends the JSON string early.
        {renameBody("%2FA%2Fa1.txt", "say+%22hi%22.txt"), 2, 0},
        // Sent escaped, it is part of the name.
        {renameBody("%2FA%2Fa1.txt", "say+%5C%22hi%5C%22.txt"), 0, 0},
        {"filelist=nonsense", 2, 0},
    };
    for (const Case& c : cases) {
        const auto doc = postJson(renameTarget(), c.body);
        EXPECT_EQ(errnoOf(doc), c.expected) << c.body;
        if (c.expected == 12) {
            EXPECT_EQ(doc["info"][0]["errno"].GetInt(), c.itemErrno) << c.body;
        }
    }
    EXPECT_EQ(names(getJson(listTarget("%2FA"))["list"]),
              (std::vector<std::string>{"B", "C", "say \"hi\".txt"}));
}

// ---------------------------------------------------------------- login

TEST_F(Sim, LoginPageSetsAnHttpOnlyLoginCookieAndGoesHome) {
    ASSERT_NO_FATAL_FAILURE(start());
    auto page = get("/", false);
    ASSERT_TRUE(page);
    EXPECT_NE(page->body.find("<form"), std::string::npos);
    EXPECT_NE(page->body.find("action=\"/login\""), std::string::npos);

    auto res = client_->Post("/login", "user=x&password=y", "application/x-www-form-urlencoded");
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 302);
    EXPECT_EQ(res->get_header_value("Location").rfind("/disk/home", 0), 0U);
    const auto cookies = setCookies(res);
    const auto bduss = std::find_if(cookies.begin(), cookies.end(), [](const std::string& c) {
        return c.rfind(std::string("BDUSS=") + SimProcess::kLoginCookie + ";", 0) == 0;
    });
    ASSERT_NE(bduss, cookies.end()) << ::testing::PrintToString(cookies);
    EXPECT_NE(bduss->find("HttpOnly"), std::string::npos);
    const auto stoken = std::find_if(cookies.begin(), cookies.end(), [](const std::string& c) {
        return c.rfind("STOKEN=", 0) == 0;
    });
    ASSERT_NE(stoken, cookies.end());
    EXPECT_EQ(stoken->find("HttpOnly"), std::string::npos) << "one cookie a page script can see";

    // The same by a plain link.
    auto quick = get("/login?user=x", false);
    ASSERT_TRUE(quick);
    EXPECT_EQ(quick->status, 302);
    EXPECT_TRUE(anyStartsWith(setCookies(quick), "BDUSS="));
}

TEST_F(Sim, HomePageCarriesTheTokensAndTheFileList) {
    ASSERT_NO_FATAL_FAILURE(start({"--user", "it's 张三_x"}));
    auto res = get("/disk/home?");
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 200);
    const std::string& page = res->body;
    const std::size_t mset = page.find("locals.mset(");
    ASSERT_NE(mset, std::string::npos);
    const std::size_t end = page.find(");</script>", mset);
    ASSERT_NE(end, std::string::npos);
    const auto tokens = parse(page.substr(mset + 12, end - mset - 12));
    ASSERT_TRUE(tokens.IsObject()) << "the object after locals.mset( is JSON";
    EXPECT_EQ(tokens["username"].GetString(), std::string("it's 张三_x"));
    EXPECT_EQ(tokens["bdstoken"].GetString(), std::string(SimProcess::kBdstoken));
    // A ")" inside a string value, as the service's page may have: cutting
    // at the first ")" gives no JSON.
    const std::size_t firstParen = page.find(')', mset + 12);
    EXPECT_LT(firstParen, end);
    EXPECT_FALSE(parse(page.substr(mset + 12, firstParen - mset - 12)).IsObject());

    // The page script the client runs depends on these.
    EXPECT_NE(page.find("'system-core:context/SystemContext.js'"), std::string::npos);
    EXPECT_NE(page.find("window.require"), std::string::npos);
    EXPECT_NE(page.find("getSelected"), std::string::npos);
    EXPECT_NE(page.find("window.open("), std::string::npos);
    EXPECT_NE(page.find("window.__sim"), std::string::npos);
}

TEST_F(Sim, HomeStylesWithoutTheMsetObject) {
    ASSERT_NO_FATAL_FAILURE(start({"--home-style", "yundata"}));
    auto res = get("/disk/home?");
    ASSERT_TRUE(res);
    EXPECT_EQ(res->body.find("locals.mset("), std::string::npos);
    EXPECT_NE(res->body.find(std::string("\"bdstoken\":\"") + SimProcess::kBdstoken + "\""),
              std::string::npos);
    client_->Post("/__sim/config", R"({"home_style":"none"})", "application/json");
    res = get("/disk/home?");
    ASSERT_TRUE(res);
    EXPECT_EQ(res->body.find(SimProcess::kBdstoken), std::string::npos);
}

TEST_F(Sim, WithoutTheLoginCookieTheServiceRefuses) {
    ASSERT_NO_FATAL_FAILURE(start());
    auto home = get("/disk/home?", false);
    ASSERT_TRUE(home);
    EXPECT_EQ(home->status, 302);
    EXPECT_EQ(home->get_header_value("Location"), "/");
    EXPECT_EQ(errnoOf(getJson(listTarget("%2FA"), false)), -6);
    EXPECT_EQ(errnoOf(postJson(shareTarget(), shareBody("7", "ab12", "893025776410239"), false)),
              -6);
    EXPECT_EQ(errnoOf(postJson(renameTarget(), renameBody("%2FA", "Z"), false)), -6);

    // A stale login cookie is no better.
    httplib::Headers stale{{"Cookie", "BDUSS=old-value; STOKEN=x"}};
    EXPECT_EQ(errnoOf(parse(client_->Get(listTarget("%2FA"), stale)->body)), -6);

    // Nor is a login the service has ended.
    client_->Post("/__sim/config", R"({"session_valid":false})", "application/json");
    EXPECT_EQ(errnoOf(getJson(listTarget("%2FA"))), -6);
    EXPECT_EQ(get("/login?user=x", false)->status, 302);
    EXPECT_EQ(errnoOf(getJson(listTarget("%2FA"))), 0) << "logging in again revives it";
    EXPECT_EQ(state()["share_count"].GetInt(), 0);
}

TEST_F(Sim, TheBdstokenIsChecked) {
    ASSERT_NO_FATAL_FAILURE(start());
    const std::string wrong = "00000000000000000000000000000000";
    for (const std::string& token : {wrong, std::string()}) {
        EXPECT_EQ(errnoOf(getJson(listTarget("%2FA", token))), -6);
        EXPECT_EQ(errnoOf(postJson(shareTarget(token), shareBody("7", "ab12", "893025776410239"))),
                  -6);
        EXPECT_EQ(errnoOf(postJson(renameTarget(token), renameBody("%2FA", "Z"))), -6);
    }
    EXPECT_EQ(state()["share_count"].GetInt(), 0);
    EXPECT_EQ(state()["renames"].Size(), 0U);
}

// ---------------------------------------------------------------- request log

TEST_F(Sim, RequestLogHoldsTheRawTargetHeadersInOrderAndBody) {
    ASSERT_NO_FATAL_FAILURE(start());
    const std::string body = shareBody(" 7", "ab12", "893025776410239");
    const std::string target = shareTarget();
    const std::string request =
        "POST " + target + " HTTP/1.1\r\n" + "Host: 127.0.0.1:" + std::to_string(sim_->port()) +
        "\r\n" + "Cookie: " + SimProcess::loginCookieHeader() + "\r\n" +
        "Sec-Ch-Ua-Mobile: ?0\r\n" + "zeta: last\r\n" + "Accept-Language: zh-cn\r\n" +
        "Content-Type: " + kFormType + "\r\n" + "Content-Length: " + std::to_string(body.size()) +
        "\r\n" + "Connection: close\r\n\r\n" + body;
    const std::string reply = rawExchange(sim_->port(), request);
    ASSERT_NE(reply.find("\"errno\":0"), std::string::npos) << reply;

    rawExchange(sim_->port(), "GET " + listTarget("%2Fmy+docs%2Fit's+here") +
                                  " HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");

    const auto logged = readRequestLog(logPath());
    ASSERT_EQ(logged.size(), 2U);
    const auto& first = logged[0];
    EXPECT_EQ(first.seq, 1U);
    EXPECT_EQ(first.method, "POST");
    EXPECT_EQ(first.target, target);
    EXPECT_EQ(first.body, body);
    const std::vector<std::pair<std::string, std::string>> sent{
        {"Host", "127.0.0.1:" + std::to_string(sim_->port())},
        {"Cookie", SimProcess::loginCookieHeader()},
        {"Sec-Ch-Ua-Mobile", "?0"},
        {"zeta", "last"},
        {"Accept-Language", "zh-cn"},
        {"Content-Type", kFormType},
        {"Content-Length", std::to_string(body.size())},
        {"Connection", "close"},
    };
    EXPECT_EQ(first.headers, sent);
    EXPECT_EQ(first.header("ZETA"), "last");
    EXPECT_EQ(logged[1].target, listTarget("%2Fmy+docs%2Fit's+here"));
    EXPECT_EQ(logged[1].body, "");
    EXPECT_EQ(requestsTo(logged, "/api/list").size(), 1U);
}

TEST_F(Sim, RequestLogKeepsBodiesThatAreNotUtf8) {
    ASSERT_NO_FATAL_FAILURE(start());
    const std::string body = "x=\xB2\xE2\xCA\xD4"; // GBK bytes
    client_->Post("/share/set", body, "text/plain");
    const auto lines = readLines(logPath());
    ASSERT_EQ(lines.size(), 1U);
    const auto doc = parse(lines[0]);
    ASSERT_TRUE(doc.IsObject()) << lines[0];
    EXPECT_TRUE(doc["body"].IsNull());
    EXPECT_EQ(doc["body_base64"].GetString(), std::string("eD2y4srU"));
    EXPECT_EQ(readRequestLog(logPath())[0].body, body);
}

TEST_F(Sim, KeptAliveConnectionsServeManyRequests) {
    ASSERT_NO_FATAL_FAILURE(start());
    client_->set_keep_alive(true);
    for (int i = 0; i < 50; ++i) {
        auto res = get(listTarget("%2FA"));
        ASSERT_TRUE(res) << i;
        ASSERT_EQ(res->status, 200);
    }
    EXPECT_EQ(readLines(logPath()).size(), 50U);
}

// ---------------------------------------------------------------- faults

TEST_F(Sim, PerItemErrnoAndDailyLimit) {
    ASSERT_NO_FATAL_FAILURE(start({"--share-errno", "893025776410239=115", "--daily-limit", "2"}));
    EXPECT_EQ(errnoOf(postJson(shareTarget(), shareBody("7", "ab12", "893025776410239"))), 115);
    EXPECT_EQ(errnoOf(postJson(shareTarget(), shareBody("7", "ab12", "617274830519627"))), 0);
    EXPECT_EQ(errnoOf(postJson(shareTarget(), shareBody("7", "ab12", "1042889473620145"))), 0);
    EXPECT_EQ(errnoOf(postJson(shareTarget(), shareBody("7", "ab12", "437082514972306"))), 110);
    EXPECT_EQ(state()["share_count"].GetInt(), 2);
    // A reset starts a new day.
    client_->Post("/__sim/reset", "", "application/json");
    EXPECT_EQ(errnoOf(postJson(shareTarget(), shareBody("7", "ab12", "437082514972306"))), 0);
}

TEST_F(Sim, TransportFaults) {
    ASSERT_NO_FATAL_FAILURE(
        start({"--fault", "list:status=500,times=1", "--fault", "list:not_json,after=1,times=1",
               "--fault", "list:empty,after=2,times=1"}));
    auto res = get(listTarget("%2FA"));
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 500);
    res = get(listTarget("%2FA"));
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 200);
    EXPECT_TRUE(parse(res->body).HasParseError()) << res->body;
    EXPECT_NE(res->body.find("<html"), std::string::npos);
    res = get(listTarget("%2FA"));
    ASSERT_TRUE(res);
    EXPECT_EQ(res->body, "");
    EXPECT_EQ(errnoOf(getJson(listTarget("%2FA"))), 0) << "the faults were used up";
}

TEST_F(Sim, DroppedConnectionSendsNothing) {
    ASSERT_NO_FATAL_FAILURE(start({"--fault", "share:drop,times=1"}));
    const std::string body = shareBody("7", "ab12", "893025776410239");
    const std::string reply = rawExchange(
        sim_->port(), "POST " + shareTarget() + " HTTP/1.1\r\nHost: x\r\nCookie: " +
                          SimProcess::loginCookieHeader() + "\r\nContent-Type: " + kFormType +
                          "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body);
    EXPECT_EQ(reply, "");
    EXPECT_TRUE(post(shareTarget(), body)) << "only the first request was dropped";
}

TEST_F(Sim, TruncatedBodyEndsBeforeItsLength) {
    ASSERT_NO_FATAL_FAILURE(start({"--fault", "list:truncate"}));
    const std::string reply =
        rawExchange(sim_->port(), "GET " + listTarget("%2FA") + " HTTP/1.1\r\nHost: x\r\nCookie: " +
                                      SimProcess::loginCookieHeader() + "\r\n\r\n");
    const std::size_t headEnd = reply.find("\r\n\r\n");
    ASSERT_NE(headEnd, std::string::npos) << reply;
    const std::string head = reply.substr(0, headEnd);
    const std::size_t at = head.find("Content-Length: ");
    ASSERT_NE(at, std::string::npos);
    const long long length = std::atoll(head.c_str() + at + 16);
    const std::size_t received = reply.size() - headEnd - 4;
    EXPECT_GT(received, 0U);
    EXPECT_LT(static_cast<long long>(received), length);
}

TEST_F(Sim, DelayedReply) {
    ASSERT_NO_FATAL_FAILURE(start({"--delay", "list=300"}));
    const auto begin = std::chrono::steady_clock::now();
    EXPECT_EQ(errnoOf(getJson(listTarget("%2FA"))), 0);
    EXPECT_GE(std::chrono::steady_clock::now() - begin, std::chrono::milliseconds(300));
}

TEST_F(Sim, RefusedRenameLeavesTheTreeAlone) {
    ASSERT_NO_FATAL_FAILURE(start({"--fault", "rename:errno=12"}));
    const auto doc = postJson(renameTarget(), renameBody("%2FA%2Fa1.txt", "new.txt"));
    EXPECT_EQ(errnoOf(doc), 12);
    EXPECT_EQ(doc["info"][0]["errno"].GetInt(), -8);
    EXPECT_EQ(names(getJson(listTarget("%2FA"))["list"]),
              (std::vector<std::string>{"B", "C", "a1.txt"}));
}

TEST_F(Sim, MangledListingLacksKeysAndHasWrongTypes) {
    ASSERT_NO_FATAL_FAILURE(start({"--fault", "list:mangle"}));
    const auto doc = getJson(listTarget("%2F%E6%88%91%E7%9A%84%E6%96%87%E6%A1%A3"));
    ASSERT_EQ(errnoOf(doc), 0);
    const auto& list = doc["list"];
    ASSERT_EQ(list.Size(), 6U);
    EXPECT_TRUE(list[0]["isdir"].IsInt());
    EXPECT_FALSE(list[1].HasMember("isdir"));
    EXPECT_TRUE(list[2]["isdir"].IsBool());
    EXPECT_TRUE(list[3]["fs_id"].IsString());
    EXPECT_FALSE(list[4].HasMember("path"));
    EXPECT_TRUE(list[5]["server_filename"].IsNumber());
}

TEST_F(Sim, LoginCookieDeletedMidway) {
    ASSERT_NO_FATAL_FAILURE(start({"--fault", "share:delete_login,after=1,times=1"}));
    auto first = post(shareTarget(), shareBody("7", "ab12", "893025776410239"));
    ASSERT_TRUE(first);
    EXPECT_FALSE(anyStartsWith(setCookies(first), "BDUSS="));
    auto second = post(shareTarget(), shareBody("7", "ab12", "617274830519627"));
    ASSERT_TRUE(second);
    EXPECT_EQ(errnoOf(parse(second->body)), 0) << "the reply itself still succeeds";
    EXPECT_TRUE(anyStartsWith(setCookies(second), "BDUSS=deleted;"))
        << ::testing::PrintToString(setCookies(second));
}

// ---------------------------------------------------------------- control

TEST_F(Sim, ControlEndpointAddsAndClearsFaults) {
    ASSERT_NO_FATAL_FAILURE(start());
    auto added =
        client_->Post("/__sim/fault",
                      R"([{"endpoint":"share","kind":"errno","value":-62,"fs_id":"617274830519627"},
            {"endpoint":"list","kind":"errno","value":2,"after":1,"times":1}])",
                      "application/json");
    ASSERT_TRUE(added);
    EXPECT_EQ(added->status, 200) << added->body;
    EXPECT_EQ(errnoOf(postJson(shareTarget(), shareBody("7", "ab12", "617274830519627"))), -62);
    EXPECT_EQ(errnoOf(postJson(shareTarget(), shareBody("7", "ab12", "893025776410239"))), 0);
    EXPECT_EQ(errnoOf(getJson(listTarget("%2FA"))), 0);
    EXPECT_EQ(errnoOf(getJson(listTarget("%2FA"))), 2);
    EXPECT_EQ(errnoOf(getJson(listTarget("%2FA"))), 0);

    const auto st = state();
    ASSERT_EQ(st["faults"].Size(), 2U);
    EXPECT_EQ(st["faults"][0]["applied"].GetInt(), 1);
    EXPECT_EQ(st["faults"][1]["seen"].GetInt(), 3);

    client_->Post("/__sim/faults/clear", "", "application/json");
    EXPECT_EQ(errnoOf(postJson(shareTarget(), shareBody("7", "ab12", "617274830519627"))), 0);
    auto ping = get("/__sim/ping", false);
    ASSERT_TRUE(ping);
    EXPECT_EQ(ping->status, 200);
    EXPECT_EQ(ping->body, R"({"errno":0})");
    EXPECT_EQ(readLines(logPath()).size(), 6U) << "control requests stay out of the log";
}

TEST_F(Sim, ControlEndpointRejectsBadInput) {
    ASSERT_NO_FATAL_FAILURE(start());
    for (const char* body :
         {"not json", R"({"kind":"explode"})", R"({"endpoint":"x","kind":"drop"})",
          R"({"kind":"errno"})", R"({"endpoint":"list","kind":"drop","fs_id":1})"}) {
        auto res = client_->Post("/__sim/fault", body, "application/json");
        ASSERT_TRUE(res);
        EXPECT_EQ(res->status, 400) << body;
    }
    auto res = client_->Post("/__sim/config", R"({"daily_limit":"many"})", "application/json");
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 400);
    res = get("/__sim/nothing", false);
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 404);
}

TEST_F(Sim, ResetRestoresTheTreeAndForgetsShares) {
    ASSERT_NO_FATAL_FAILURE(start());
    const std::string before = get("/__sim/tree", false)->body;
    postJson(renameTarget(), renameBody("%2FA", "Z"));
    postJson(shareTarget(), shareBody("7", "ab12", "893025776410239"));
    EXPECT_NE(get("/__sim/tree", false)->body, before);
    client_->Post("/__sim/reset", "", "application/json");
    EXPECT_EQ(get("/__sim/tree", false)->body, before);
    const auto st = state();
    EXPECT_EQ(st["share_count"].GetInt(), 0);
    EXPECT_EQ(st["renames"].Size(), 0U);
}

// ---------------------------------------------------------------- trees

struct TreeFacts {
    std::size_t files = 0;
    std::size_t folders = 0;
    std::size_t rootFiles = 0;
    int maxDepth = 0;
    std::set<std::uint64_t> ids;
    std::size_t aboveTwoPow53 = 0;
    bool badId = false;
    bool badMd5 = false;
    std::set<std::string> md5s;
    std::size_t repeatedMd5 = 0;
    bool chinese = false, blank = false, apostrophe = false, underscore = false;

    void walk(const rapidjson::Value& list, int depth) {
        for (const auto& e : list.GetArray()) {
            const std::string name = e["name"].GetString();
            chinese = chinese ||
                      std::any_of(name.begin(), name.end(), [](char c) { return (c & 0x80) != 0; });
            blank = blank || name.find(' ') != std::string::npos;
            apostrophe = apostrophe || name.find('\'') != std::string::npos;
            underscore = underscore || name.find('_') != std::string::npos;
            const std::uint64_t id = e["fs_id"].GetUint64();
            const std::size_t digits = std::to_string(id).size();
            badId = badId || digits < 15 || digits > 16 || !ids.insert(id).second;
            aboveTwoPow53 += id > 9007199254740992ULL ? 1 : 0;
            if (e.HasMember("children")) {
                ++folders;
                maxDepth = std::max(maxDepth, depth + 1);
                walk(e["children"], depth + 1);
            } else {
                ++files;
                rootFiles += depth == 0 ? 1 : 0;
                const std::string md5 = e["md5"].GetString();
                badMd5 = badMd5 || md5.size() != 32 ||
                         md5.find_first_not_of("0123456789abcdef") != std::string::npos;
                repeatedMd5 += md5s.insert(md5).second ? 0 : 1;
            }
        }
    }
};

TreeFacts factsOf(const std::string& treeJson) {
    const auto doc = parse(treeJson);
    TreeFacts facts;
    facts.walk(doc["entries"], 0);
    return facts;
}

TEST_F(Sim, GeneratedTreeHasTheAdvertisedShape) {
    ASSERT_NO_FATAL_FAILURE(start({"--generate", "400", "--seed", "7"}));
    const std::string tree = get("/__sim/tree", false)->body;
    const TreeFacts facts = factsOf(tree);
    EXPECT_EQ(facts.files, 400U);
    EXPECT_GE(facts.folders, 3U);
    EXPECT_GE(facts.maxDepth, 2);
    EXPECT_GT(facts.rootFiles, 0U);
    EXPECT_FALSE(facts.badId) << "fs_ids have 15 or 16 digits and are unique";
    EXPECT_GT(facts.aboveTwoPow53, 0U);
    EXPECT_FALSE(facts.badMd5);
    EXPECT_GT(facts.repeatedMd5, 0U) << "some files share their content";
    EXPECT_TRUE(facts.chinese && facts.blank && facts.apostrophe && facts.underscore);

    // The same seed gives the same tree; another seed another.
    SimProcess again({"--generate", "400", "--seed", "7"});
    ASSERT_TRUE(again.started()) << again.error();
    httplib::Client other(again.origin());
    EXPECT_EQ(other.Get("/__sim/tree")->body, tree);
    SimProcess different({"--generate", "400", "--seed", "8"});
    ASSERT_TRUE(different.started()) << different.error();
    httplib::Client third(different.origin());
    EXPECT_NE(third.Get("/__sim/tree")->body, tree);
}

TEST_F(Sim, GeneratedFlatFolder) {
    ASSERT_NO_FATAL_FAILURE(
        start({"--generate", "3000", "--folders", "0", "--list-page-cap", "0"}));
    const auto doc = getJson(listTarget("%2F"));
    ASSERT_EQ(errnoOf(doc), 0);
    EXPECT_EQ(doc["list"].Size(), 3000U);
}

TEST_F(Sim, DefaultTreeHasTheProperties) {
    ASSERT_NO_FATAL_FAILURE(start());
    const TreeFacts facts = factsOf(get("/__sim/tree", false)->body);
    EXPECT_FALSE(facts.badId);
    EXPECT_GT(facts.aboveTwoPow53, 0U);
    EXPECT_GT(facts.repeatedMd5, 0U);
    EXPECT_TRUE(facts.chinese && facts.blank && facts.apostrophe && facts.underscore);
}

TEST_F(Sim, TreeFileIsLoaded) {
    const std::string file = dir_.file("tree.json");
    writeFile(file, R"({"entries": [
        {"name": "docs", "children": [
            {"name": "x.txt", "fs_id": 123456789012345, "size": 10,
             "md5": "0123456789ABCDEF0123456789abcdef"},
            {"name": "y 照片.jpg", "fs_id": "9876543210987654"},
            {"name": "empty", "children": []}
        ]},
        {"name": "top.bin"}  // comments are allowed
    ]})");
    ASSERT_NO_FATAL_FAILURE(start({"--tree", file}));
    const auto doc = getJson(listTarget("%2Fdocs"));
    ASSERT_EQ(errnoOf(doc), 0);
    EXPECT_EQ(names(doc["list"]), (std::vector<std::string>{"empty", "x.txt", "y 照片.jpg"}));
    EXPECT_EQ(doc["list"][1]["fs_id"].GetUint64(), 123456789012345ULL);
    EXPECT_EQ(doc["list"][1]["md5"].GetString(), std::string("0123456789abcdef0123456789abcdef"));
    EXPECT_EQ(doc["list"][2]["fs_id"].GetUint64(), 9876543210987654ULL);
    EXPECT_TRUE(doc["list"][2].HasMember("thumbs"));
    // A dump loads again as it is.
    const std::string dump = get("/__sim/tree", false)->body;
    writeFile(file, dump);
    SimProcess again({"--tree", file});
    ASSERT_TRUE(again.started()) << again.error();
    EXPECT_EQ(httplib::Client(again.origin()).Get("/__sim/tree")->body, dump);
}

TEST(SimStart, BadInputStopsItWithStatus2) {
    TempDir dir;
    const std::string file = dir.file("tree.json");
    writeFile(file, R"([{"name": "a"}, {"name": "a"}])");
    for (const std::vector<std::string>& args : {std::vector<std::string>{"--tree", file},
                                                 {"--fault", "list:explode"},
                                                 {"--delay", "list"},
                                                 {"--bdstoken", "XYZ"},
                                                 {"--home-style", "other"}}) {
        SimProcess sim(args);
        EXPECT_FALSE(sim.started()) << args[0];
        EXPECT_NE(sim.error().find("status 2"), std::string::npos) << sim.error();
    }
}

// ---------------------------------------------------------------- process

TEST(SimStart, StopsCleanlyDuringALongDelay) {
    TempDir dir;
    SimProcess sim({"--delay", "list=60000", "--log", dir.file("log.jsonl")});
    ASSERT_TRUE(sim.started()) << sim.error();
    std::thread waiting([&] {
        rawExchange(sim.port(), "GET /api/list HTTP/1.1\r\nHost: x\r\n\r\n",
                    std::chrono::seconds(90));
    });
    // A kept-alive idle connection as well.
    httplib::Client idle(sim.origin());
    idle.set_keep_alive(true);
    ASSERT_TRUE(idle.Get("/"));
    const auto guard = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (readLines(dir.file("log.jsonl")).size() < 2 &&
           std::chrono::steady_clock::now() < guard) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    // Far less grace than the delay: the delay must give way to the signal.
    EXPECT_EQ(sim.stop(std::chrono::seconds(20)), 0);
    waiting.join();
}

TEST(SimStart, ServesHttpsWithTheGivenCertificate) {
    TempDir dir;
    const std::string cert = dir.file("cert.pem");
    const std::string key = dir.file("key.pem");
    const std::string command =
        "openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=127.0.0.1 "
        "-addext subjectAltName=IP:127.0.0.1 -keyout " +
        key + " -out " + cert + " >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0) {
        GTEST_SKIP() << "the openssl command is not available";
    }
    SimProcess sim({"--cert", cert, "--key", key});
    ASSERT_TRUE(sim.started()) << sim.error();
    EXPECT_EQ(sim.origin().rfind("https://127.0.0.1:", 0), 0U);
    httplib::SSLClient client("127.0.0.1", sim.port());
    client.set_ca_cert_path(cert);
    client.enable_server_certificate_verification(true);
    auto res = client.Get("/login?user=x");
    ASSERT_TRUE(res) << httplib::to_string(res.error());
    EXPECT_EQ(res->status, 302);
    EXPECT_NE(res->get_header_value("Set-Cookie").find("; Secure"), std::string::npos);

    // The plain protocol gets no answer from a TLS port.
    EXPECT_EQ(rawExchange(sim.port(), "GET / HTTP/1.1\r\nHost: x\r\n\r\n", std::chrono::seconds(10))
                  .rfind("HTTP/1.1 200", 0),
              std::string::npos);
}

TEST(SimStart, HelpDescribesTheOptions) {
    TempDir dir;
    const std::string out = dir.file("help.txt");
    const std::string command = SimProcess::binaryPath() + " --help > " + out + " 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0);
    const std::string help = readFile(out);
    for (const char* option : {"--port", "--tree", "--generate", "--seed", "--log", "--fault",
                               "--login-cookie", "--cert", "--daily-limit", "--share-errno"}) {
        EXPECT_NE(help.find(option), std::string::npos) << option;
    }
}

} // namespace
