// The simulated service as today's service answers: the home page that
// redirects to the new web client, the token requests, listing pages of at
// most 1,000, a login cookie sent twice, the passport redirect, the fault
// rules that pick a folder or a page, and renames that are only accepted.

#include "named_case.h"
#include "sim_fixture.h"

#include <chrono>
#include <thread>

using namespace sim_test;

namespace {

using vantorel::test::CaseName;
using vantorel::test::PrintTo;

const std::string kTemplate = "/api/gettemplatevariable?clienttype=0&app_id=250528&web=1&fields="
                              "%5B%22bdstoken%22%2C%22token%22%2C%22uk%22%2C%22isdocuser%22%2C%22"
                              "servertime%22%5D";
const std::string kLoginStatus =
    "/api/loginStatus?clienttype=0&app_id=250528&web=1&channel=chunlei&version=0";

std::string pagedTarget(const std::string& dir, int page, int num) {
    std::string target = listTarget(dir);
    const std::string from = "&page=1&num=100000&";
    target.replace(target.find(from), from.size(),
                   "&page=" + std::to_string(page) + "&num=" + std::to_string(num) + "&");
    return target;
}

std::vector<std::string> ids(const rapidjson::Value& list) {
    std::vector<std::string> out;
    for (const auto& m : list.GetArray())
        out.push_back(std::to_string(m["fs_id"].GetUint64()));
    return out;
}

} // namespace

TEST_F(Sim, HomePageOfTheNewClientRedirectsToAPageWithoutTokens) {
    ASSERT_NO_FATAL_FAILURE(start({"--home-style", "main"}));
    auto home = get("/disk/home?");
    ASSERT_TRUE(home);
    EXPECT_EQ(home->status, 302);
    EXPECT_EQ(home->get_header_value("Location"), "/disk/main");
    auto page = get("/disk/main");
    ASSERT_TRUE(page);
    EXPECT_EQ(page->status, 200);
    EXPECT_EQ(page->body.find("locals.mset("), std::string::npos);
    EXPECT_EQ(page->body.find("\"bdstoken\""), std::string::npos);
    EXPECT_EQ(page->body.find(SimProcess::kBdstoken), std::string::npos);
    EXPECT_NE(page->body.find("sim-list"), std::string::npos) << "the file page all the same";
}

TEST_F(Sim, TokenRequestsAnswerTheLoggedInAndRefuseOthers) {
    ASSERT_NO_FATAL_FAILURE(start());
    const auto tokens = getJson(kTemplate);
    ASSERT_EQ(errnoOf(tokens), 0);
    EXPECT_STREQ(tokens["result"]["bdstoken"].GetString(), SimProcess::kBdstoken);
    EXPECT_TRUE(tokens["result"]["uk"].IsUint64());
    const auto status = getJson(kLoginStatus);
    ASSERT_EQ(errnoOf(status), 0);
    EXPECT_STREQ(status["login_info"]["username"].GetString(), SimProcess::kUser);
    EXPECT_STREQ(status["login_info"]["bdstoken"].GetString(), SimProcess::kBdstoken);

    EXPECT_EQ(errnoOf(getJson(kTemplate, false)), -6);
    EXPECT_EQ(errnoOf(getJson(kLoginStatus, false)), -6);
}

TEST_F(Sim, TokenRequestsThatAreSwitchedOffAreNotFound) {
    ASSERT_NO_FATAL_FAILURE(start({"--token-api", "loginstatus"}));
    EXPECT_EQ(get(kTemplate)->status, 404);
    EXPECT_EQ(errnoOf(getJson(kLoginStatus)), 0);
    ASSERT_TRUE(client_->Post("/__sim/config", R"({"token_api":"none"})", "application/json"));
    EXPECT_EQ(get(kLoginStatus)->status, 404);
}

TEST_F(Sim, ListingPagesHoldAtMost1000WhateverNumAsks) {
    ASSERT_NO_FATAL_FAILURE(start({"--generate", "2500", "--folders", "0"}));
    const auto first = getJson(pagedTarget("%2F", 1, 100000));
    ASSERT_EQ(errnoOf(first), 0);
    EXPECT_EQ(first["list"].Size(), 1000u);
    const auto third = getJson(pagedTarget("%2F", 3, 1000));
    EXPECT_EQ(third["list"].Size(), 500u);
    const auto beyond = getJson(pagedTarget("%2F", 4, 1000));
    ASSERT_EQ(errnoOf(beyond), 0);
    EXPECT_EQ(beyond["list"].Size(), 0u);
    // Pages follow each other without a gap or a repeat.
    const auto second = getJson(pagedTarget("%2F", 2, 1000));
    std::vector<std::string> all = ids(first["list"]);
    const auto more = ids(second["list"]);
    all.insert(all.end(), more.begin(), more.end());
    std::sort(all.begin(), all.end());
    EXPECT_EQ(std::unique(all.begin(), all.end()), all.end());
    EXPECT_EQ(all.size(), 2000u);
}

TEST_F(Sim, RepeatPageAndDirFaultsPickTheirRequests) {
    ASSERT_NO_FATAL_FAILURE(start({"--generate", "2500", "--folders", "0", "--fault",
                                   "list:repeat_page,page=2", "--fault", "list:errno=-9,dir=/A"}));
    const auto first = getJson(pagedTarget("%2F", 1, 1000));
    const auto second = getJson(pagedTarget("%2F", 2, 1000));
    EXPECT_EQ(ids(first["list"]), ids(second["list"]));
    const auto third = getJson(pagedTarget("%2F", 3, 1000));
    EXPECT_EQ(third["list"].Size(), 500u);
    EXPECT_EQ(errnoOf(getJson(pagedTarget("%2FA", 1, 1000))), -9);
}

TEST_F(Sim, ALoginCookieSentTwiceIsNoLogin) {
    ASSERT_NO_FATAL_FAILURE(start());
    httplib::Headers twice{{"Cookie", SimProcess::loginCookieHeader() + "; STOKEN=a; STOKEN=b"}};
    auto res = client_->Get(listTarget("%2FA"), twice);
    ASSERT_TRUE(res);
    EXPECT_EQ(errnoOf(parse(res->body)), -6);
    httplib::Headers once{{"Cookie", SimProcess::loginCookieHeader() + "; STOKEN=a"}};
    res = client_->Get(listTarget("%2FA"), once);
    EXPECT_EQ(errnoOf(parse(res->body)), 0);
}

TEST_F(Sim, ALoginCookieSentTwiceIsTakenWhenAskedTo) {
    ASSERT_NO_FATAL_FAILURE(start({"--accept-duplicate-login"}));
    httplib::Headers twice{
        {"Cookie", SimProcess::loginCookieHeader() + "; " + SimProcess::loginCookieHeader()}};
    auto res = client_->Get(listTarget("%2FA"), twice);
    ASSERT_TRUE(res);
    EXPECT_EQ(errnoOf(parse(res->body)), 0);
}

TEST_F(Sim, LoggedOutHomePageGoesToThePassport) {
    ASSERT_NO_FATAL_FAILURE(start({"--passport", "http://127.0.0.1:9/passport"}));
    auto res = get("/disk/home?", false);
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 302);
    EXPECT_EQ(res->get_header_value("Location").rfind("http://127.0.0.1:9/passport?", 0), 0u)
        << res->get_header_value("Location");
}

TEST_F(Sim, ShareWithoutALinkSaysYesAndNothingMore) {
    ASSERT_NO_FATAL_FAILURE(start({"--fault", "share:no_link,times=1"}));
    const auto items = getJson(listTarget("%2FA"));
    const std::string id = std::to_string(items["list"][2]["fs_id"].GetUint64());
    const auto first = postJson(shareTarget(), shareBody("0", "ab12", id));
    EXPECT_EQ(errnoOf(first), 0);
    EXPECT_FALSE(first.HasMember("link"));
    const auto second = postJson(shareTarget(), shareBody("0", "ab12", id));
    EXPECT_TRUE(second.HasMember("link"));
}

namespace {

struct AsyncCase {
    const char* name;
    const char* outcome;
    const char* status; // what the task query says after the delay
    bool renamed;
};

class AsyncRename : public Sim, public ::testing::WithParamInterface<AsyncCase> {};

} // namespace

TEST_P(AsyncRename, IsOnlyAcceptedAndEndsLater) {
    const AsyncCase& c = GetParam();
    ASSERT_NO_FATAL_FAILURE(start({"--rename-async", std::string(c.outcome) + ":300"}));
    const auto accepted = postJson(renameTarget(), renameBody("%2FA%2Fa1.txt", "a2.txt"));
    ASSERT_EQ(errnoOf(accepted), 0);
    ASSERT_TRUE(accepted.HasMember("taskid"));
    const std::string query =
        "/share/taskquery?taskid=" + std::to_string(accepted["taskid"].GetUint64()) +
        "&clienttype=0&app_id=250528&web=1";
    EXPECT_STREQ(getJson(query)["status"].GetString(), "running");
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    const auto ended = getJson(query);
    EXPECT_STREQ(ended["status"].GetString(), c.status);
    const auto listing = getJson(listTarget("%2FA"));
    const auto shown = names(listing["list"]);
    EXPECT_EQ(std::find(shown.begin(), shown.end(), "a2.txt") != shown.end(), c.renamed);
    EXPECT_EQ(errnoOf(getJson("/share/taskquery?taskid=1&clienttype=0&app_id=250528&web=1")), 2);
}

INSTANTIATE_TEST_SUITE_P(Sim, AsyncRename,
                         ::testing::Values(AsyncCase{"Success", "success", "success", true},
                                           AsyncCase{"Failed", "failed", "failed", false},
                                           AsyncCase{"Never", "never", "running", false}),
                         CaseName{});

TEST_F(Sim, SynchronousRenameCarriesNoTask) {
    ASSERT_NO_FATAL_FAILURE(start());
    const auto reply = postJson(renameTarget(), renameBody("%2FA%2Fa1.txt", "a2.txt"));
    EXPECT_EQ(errnoOf(reply), 0);
    EXPECT_FALSE(reply.HasMember("taskid"));
}
