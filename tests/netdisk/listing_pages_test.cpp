// A folder put back together from its pages, and one page read from a
// reply: where a listing ends and what makes it fail.

#include "named_case.h"
#include "netdisk/listing_pages.h"
#include "netdisk/netdisk_client.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace vantorel;
using ::testing::ElementsAreArray;

namespace {

using vantorel::test::CaseName;
using vantorel::test::PrintTo;

ListEntry file(const std::string& id) {
    return ListEntry{.server_filename = "f" + id, .path = "/f" + id, .fs_id = id, .size = "0.0K"};
}

ListEntry folder(const std::string& id) {
    return ListEntry{.server_filename = "d" + id, .path = "/d" + id, .fs_id = id};
}

// Pages of `size` members; a member id starting with "d" is a folder.
using Pages = std::vector<std::vector<std::string>>;

struct PagingCase {
    const char* name;
    std::size_t pageSize;
    Pages pages;                    // what the service hands out for page 1, 2, ...
    int asked;                      // pages asked for
    std::vector<std::string> files; // fs_ids listed, in order
    std::vector<std::string> folders;
};

class Paging : public ::testing::TestWithParam<PagingCase> {};

TEST_P(Paging, AsksUntilTheListingEnds) {
    const PagingCase& c = GetParam();
    int asked = 0;
    const auto listing = collectListingPages(
        [&](int page) -> Expected<ListingPage> {
            ++asked;
            ListingPage reply;
            if (page <= static_cast<int>(c.pages.size())) {
                for (const std::string& id : c.pages[static_cast<std::size_t>(page - 1)]) {
                    if (id.front() == 'd')
                        reply.entries.folders.push_back(folder(id.substr(1)));
                    else
                        reply.entries.files.push_back(file(id));
                }
                reply.members = c.pages[static_cast<std::size_t>(page - 1)].size();
            }
            return reply;
        },
        c.pageSize);
    ASSERT_TRUE(listing) << listing.error().message;
    EXPECT_EQ(asked, c.asked);
    std::vector<std::string> files, folders;
    for (const ListEntry& e : listing->files)
        files.push_back(e.fs_id);
    for (const ListEntry& e : listing->folders)
        folders.push_back(e.fs_id);
    EXPECT_THAT(files, ElementsAreArray(c.files));
    EXPECT_THAT(folders, ElementsAreArray(c.folders));
}

INSTANTIATE_TEST_SUITE_P(
    Pages, Paging,
    ::testing::Values(
        PagingCase{"EmptyFolderIsOnePage", 3, {{}}, 1, {}, {}},
        PagingCase{"ShortFirstPage", 3, {{"d9", "1", "2"}, {"3"}}, 2, {"1", "2", "3"}, {"9"}},
        PagingCase{"FullPagesThenAShortOne",
                   2,
                   {{"1", "2"}, {"3", "4"}, {"5"}},
                   3,
                   {"1", "2", "3", "4", "5"},
                   {}},
        PagingCase{"FullLastPageNeedsAnEmptyOne",
                   2,
                   {{"1", "2"}, {"3", "4"}},
                   3,
                   {"1", "2", "3", "4"},
                   {}},
        // A service that hands out the same page again.
        PagingCase{"RepeatedPageEndsIt", 2, {{"1", "2"}, {"1", "2"}, {"3"}}, 2, {"1", "2"}, {}},
        // Members that moved between pages while the folder was listed.
        PagingCase{"OverlapKeepsEachIdOnce",
                   2,
                   {{"1", "2"}, {"2", "3"}, {"4"}},
                   3,
                   {"1", "2", "3", "4"},
                   {}},
        PagingCase{"FoldersAndFilesKeepTheirOrder",
                   2,
                   {{"d7", "d8"}, {"1", "d9"}, {}},
                   3,
                   {"1"},
                   {"7", "8", "9"}}),
    CaseName{});

TEST(Paging, StopsAtThePageLimit) {
    int asked = 0;
    const auto listing = collectListingPages(
        [&](int page) -> Expected<ListingPage> {
            ++asked;
            ListingPage reply;
            reply.entries.files.push_back(file(std::to_string(page)));
            reply.members = 1;
            return reply;
        },
        1);
    ASSERT_TRUE(listing);
    EXPECT_EQ(asked, kListingPageLimit);
    EXPECT_EQ(listing->files.size(), static_cast<std::size_t>(kListingPageLimit));
}

TEST(Paging, AFailedPageFailsTheListing) {
    int asked = 0;
    const auto listing = collectListingPages(
        [&](int page) -> Expected<ListingPage> {
            ++asked;
            if (page == 2)
                return Error{"errno -9: 文件夹不存在", -9};
            ListingPage reply;
            reply.entries.files = {file("1"), file("2")};
            reply.members = 2;
            return reply;
        },
        2);
    ASSERT_FALSE(listing);
    EXPECT_EQ(listing.error().message, "errno -9: 文件夹不存在");
    EXPECT_EQ(listing.error().code, -9);
    EXPECT_EQ(asked, 2);
}

// ---------------------------------------------------------------------------
// One page as the service writes it

struct ReplyCase {
    const char* name;
    const char* body;
    bool ok;
    const char* reason; // the error's message when not ok
    int code;
    std::size_t members;
};

class ListingReply : public ::testing::TestWithParam<ReplyCase> {};

TEST_P(ListingReply, IsAPageOrSaysWhyNot) {
    const ReplyCase& c = GetParam();
    const auto page = decodeListingReply(c.body);
    ASSERT_EQ(page.hasValue(), c.ok) << (page ? "" : page.error().message);
    if (c.ok) {
        EXPECT_EQ(page->members, c.members);
    } else {
        EXPECT_EQ(page.error().message, c.reason);
        EXPECT_EQ(page.error().code, c.code);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Replies, ListingReply,
    ::testing::Values(
        ReplyCase{"EmptyFolder", R"({"errno":0,"list":[]})", true, "", 0, 0},
        ReplyCase{"MembersCountedWithTheDropped",
                  R"({"errno":0,"list":[{"isdir":0,"fs_id":1},{"isdir":true,"fs_id":2}]})", true,
                  "", 0, 2},
        // The old service's replies did not always carry an errno.
        ReplyCase{"NoErrnoButAList", R"({"list":[{"isdir":1,"fs_id":1}]})", true, "", 0, 1},
        ReplyCase{"FolderGone", R"({"errno":-9,"list":[]})", false, "errno -9: 文件夹不存在", -9,
                  0},
        ReplyCase{"LoginExpired", R"({"errno":-6})", false, "errno -6: 登录已失效,请重新登录", -6,
                  0},
        ReplyCase{"OtherErrno", R"({"errno":"31066"})", false, "errno 31066", 31066, 0},
        ReplyCase{"NoList", R"({"errno":0})", false, "服务的回答中没有文件列表", 0, 0},
        ReplyCase{"ListNotAnArray", R"({"errno":0,"list":{}})", false, "服务的回答中没有文件列表",
                  0, 0},
        ReplyCase{"NotJson", "<html>系统繁忙</html>", false, "服务的回答不是 JSON", 0, 0},
        ReplyCase{"EmptyBody", "", false, "服务的回答不是 JSON", 0, 0}),
    CaseName{});

} // namespace
