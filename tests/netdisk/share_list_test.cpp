// The share list's replies, URLs and bodies, and the paging over it.

#include "named_case.h"
#include "netdisk/share_list.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace vantorel;

namespace {

using vantorel::test::CaseName;
using vantorel::test::PrintTo;

constexpr const char* kMember =
    R"({"shareId":48201736925,"fsIds":[893025776410239,9007199254740993],"channel":4,)"
    R"("shortlink":"http:\/\/127.0.0.1:9\/s\/1AbC","status":0,"public":0,)"
    R"("typicalCategory":4,"typicalPath":"\/A\/\u6587.txt","expiredType":7,)"
    R"("expiredTime":604740,"vCnt":3,"dCnt":2,"tCnt":1,"ctime":1622099878})";

TEST(SharePage, ReadsEveryFieldOfAMember) {
    const auto page =
        decodeSharePage(std::string(R"({"errno":0,"list":[)") + kMember + R"(],"request_id":1})");
    ASSERT_TRUE(page) << page.error().message;
    ASSERT_EQ(page->shares.size(), 1u);
    EXPECT_EQ(page->members, 1u);
    const ServiceShare& s = page->shares[0];
    EXPECT_EQ(s.shareId, 48201736925);
    EXPECT_EQ(s.fsIds, (std::vector<std::string>{"893025776410239", "9007199254740993"}));
    EXPECT_EQ(s.link, "http://127.0.0.1:9/s/1AbC");
    EXPECT_EQ(s.status, 0);
    EXPECT_EQ(s.isPublic, 0);
    EXPECT_EQ(s.typicalPath, "/A/文.txt");
    EXPECT_EQ(s.expiredType, 7);
    EXPECT_EQ(s.secondsLeft, 604740);
    EXPECT_EQ(s.views, 3);
    EXPECT_EQ(s.downloads, 2);
    EXPECT_EQ(s.saves, 1);
    EXPECT_EQ(s.ctime, 1622099878);
    EXPECT_TRUE(s.complete);
}

struct EmptyCase {
    const char* name;
    const char* body;
};

class EmptySharePage : public ::testing::TestWithParam<EmptyCase> {};

TEST_P(EmptySharePage, HasNoMembers) {
    const auto page = decodeSharePage(GetParam().body);
    ASSERT_TRUE(page) << page.error().message;
    EXPECT_EQ(page->members, 0u);
    EXPECT_TRUE(page->shares.empty());
}

INSTANTIATE_TEST_SUITE_P(Forms, EmptySharePage,
                         ::testing::Values(EmptyCase{"Bare", "{}"},
                                           EmptyCase{"ListObject", R"({"errno":0,"list":{}})"},
                                           EmptyCase{"ListArray", R"({"errno":0,"list":[]})"}),
                         CaseName{});

struct FailureCase {
    const char* name;
    const char* body;
    int code;
};

class FailedSharePage : public ::testing::TestWithParam<FailureCase> {};

TEST_P(FailedSharePage, IsAnErrorWithItsErrno) {
    const auto page = decodeSharePage(GetParam().body);
    ASSERT_FALSE(page);
    EXPECT_EQ(page.error().code, GetParam().code);
    EXPECT_FALSE(page.error().message.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Replies, FailedSharePage,
    ::testing::Values(FailureCase{"NotLoggedIn", R"({"errno":-6,"request_id":1})", -6},
                      FailureCase{"OtherErrno", R"({"errno":2,"list":[]})", 2},
                      FailureCase{"NotJson", "<html>busy</html>", 0},
                      FailureCase{"EmptyBody", "", 0}, FailureCase{"JsonArray", "[]", 0}),
    CaseName{});

TEST(SharePage, NotLoggedInSaysSo) {
    const auto page = decodeSharePage(R"({"errno":-6})");
    ASSERT_FALSE(page);
    EXPECT_NE(page.error().message.find("登录"), std::string::npos);
}

TEST(SharePage, DigitStringsReadAsNumbersAndMissingKeysMakeAMemberIncomplete) {
    const auto page = decodeSharePage(
        R"({"errno":0,"list":[{"shareId":"12","fsIds":[5],"shortlink":"x","expiredType":"-1"},)"
        R"({"fsIds":[6],"status":0,"expiredType":0},)"
        R"({"shareId":13,"status":1,"expiredType":0}]})");
    ASSERT_TRUE(page);
    EXPECT_EQ(page->members, 3u);
    EXPECT_EQ(page->unreadable, 1u); // no shareId
    ASSERT_EQ(page->shares.size(), 2u);
    EXPECT_EQ(page->shares[0].shareId, 12);
    EXPECT_EQ(page->shares[0].expiredType, -1);
    EXPECT_FALSE(page->shares[0].complete); // no status
    EXPECT_FALSE(page->shares[1].complete); // neither link nor fs_ids
}

TEST(ShareRequests, UrlsAndBodiesAreTheWebClients) {
    EXPECT_EQ(shareRecordUrl("http://h", "tok", 3),
              "http://h/share/record?page=3&num=100&desc=1&order=time&clienttype=0&app_id=250528"
              "&web=1&bdstoken=tok");
    EXPECT_EQ(shareCancelUrl("http://h", "tok"),
              "http://h/share/cancel?channel=chunlei&clienttype=0&app_id=250528&web=1"
              "&bdstoken=tok");
    const std::vector<std::int64_t> ids{1, 48201736925};
    EXPECT_EQ(shareCancelBody(ids), "shareid_list=%5B1%2C48201736925%5D");
}

TEST(CancelReply, AcceptsErrnoZeroOnly) {
    EXPECT_TRUE(decodeCancelReply(R"({"errno":0,"show_msg":""})"));
    EXPECT_EQ(decodeCancelReply(R"({"errno":-6})").error().code, -6);
    EXPECT_FALSE(decodeCancelReply("{}"));
    EXPECT_FALSE(decodeCancelReply("oops"));
}

// Pages of `perPage` shares with ids from `first` down.
SharePage pageOf(std::int64_t first, std::size_t count) {
    SharePage page;
    for (std::size_t i = 0; i < count; ++i) {
        ServiceShare share;
        share.shareId = first + static_cast<std::int64_t>(i);
        page.shares.push_back(share);
    }
    page.members = count;
    return page;
}

TEST(ShareWalk, EndsAtTheFirstShortPage) {
    std::vector<int> asked;
    const auto walk = walkSharePages(
        [&](int n) -> Expected<SharePage> {
            asked.push_back(n);
            return pageOf(n * 1000, n < 3 ? kSharePageSize : 7);
        },
        [](const SharePage&, int) { return PageVerdict::Continue; });
    ASSERT_TRUE(walk);
    EXPECT_EQ(asked, (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(walk->shares, 207u);
    EXPECT_TRUE(walk->complete);
}

TEST(ShareWalk, AFullLastPageIsFollowedByAnEmptyOne) {
    const auto walk = walkSharePages(
        [&](int n) -> Expected<SharePage> { return pageOf(n * 1000, n == 1 ? 100 : 0); },
        [](const SharePage&, int) { return PageVerdict::Continue; });
    ASSERT_TRUE(walk);
    EXPECT_EQ(walk->pages, 2);
    EXPECT_TRUE(walk->complete);
}

TEST(ShareWalk, TheSinkCanSayEnough) {
    int asked = 0;
    const auto walk = walkSharePages(
        [&](int n) -> Expected<SharePage> {
            ++asked;
            return pageOf(n * 1000, kSharePageSize);
        },
        [](const SharePage&, int n) {
            return n == 2 ? PageVerdict::Enough : PageVerdict::Continue;
        });
    ASSERT_TRUE(walk);
    EXPECT_EQ(asked, 2);
    EXPECT_TRUE(walk->enough);
    EXPECT_FALSE(walk->complete);
}

TEST(ShareWalk, ARepeatedPageIsAnErrorAfterThePagesBeforeIt) {
    int stored = 0;
    const auto walk = walkSharePages(
        [&](int n) -> Expected<SharePage> { return pageOf(n == 3 ? 2000 : n * 1000, 100); },
        [&](const SharePage&, int) {
            ++stored;
            return PageVerdict::Continue;
        });
    EXPECT_FALSE(walk);
    EXPECT_EQ(stored, 2);
}

TEST(ShareWalk, AFailedPageFailsTheWalkAndNamesThePage) {
    const auto walk = walkSharePages(
        [&](int n) -> Expected<SharePage> {
            if (n == 2)
                return Error{"分享列表: HTTP 状态 500", 500};
            return pageOf(n * 1000, 100);
        },
        [](const SharePage&, int) { return PageVerdict::Continue; });
    ASSERT_FALSE(walk);
    EXPECT_EQ(walk.error().code, 500);
    EXPECT_NE(walk.error().message.find("第 2 页"), std::string::npos);
}

TEST(ShareWalk, AStopEndsItBetweenPages) {
    std::stop_source stop;
    int asked = 0;
    const auto walk = walkSharePages(
        [&](int n) -> Expected<SharePage> {
            ++asked;
            if (n == 2)
                stop.request_stop();
            return pageOf(n * 1000, 100);
        },
        [](const SharePage&, int) { return PageVerdict::Continue; }, stop.get_token());
    ASSERT_TRUE(walk);
    EXPECT_TRUE(walk->stopped);
    EXPECT_EQ(walk->pages, 2);
    EXPECT_EQ(asked, 2);
}

TEST(ShareWalk, NeverReadsPastThePageLimit) {
    int asked = 0;
    const auto walk = walkSharePages(
        [&](int n) -> Expected<SharePage> {
            ++asked;
            return pageOf(static_cast<std::int64_t>(n) * 1000, 100);
        },
        [](const SharePage&, int) { return PageVerdict::Continue; });
    ASSERT_TRUE(walk);
    EXPECT_EQ(asked, kSharePageLimit);
    EXPECT_FALSE(walk->complete);
}

} // namespace
