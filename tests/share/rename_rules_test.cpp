#include "share/rename_rules.h"

#include <algorithm>
#include <cctype>
#include <gtest/gtest.h>
#include <set>

using namespace vantorel;

TEST(RandomText, DrawsStayInRange) {
    for (int i = 0; i < 2000; ++i) {
        const unsigned v = randomInRange(3, 5);
        ASSERT_GE(v, 3u);
        ASSERT_LE(v, 5u);
    }
    const std::string letters = randomLowercase(64);
    const std::string digits = randomDigits(64);
    EXPECT_EQ(letters.size(), 64u);
    EXPECT_EQ(digits.size(), 64u);
    EXPECT_TRUE(
        std::all_of(letters.begin(), letters.end(), [](char c) { return c >= 'a' && c <= 'z'; }));
    EXPECT_TRUE(
        std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }));
}

TEST(ExtractionCode, FixedOrRandomPerShare) {
    EXPECT_EQ(makeExtractionCode("ab12"), "ab12");
    std::set<std::string> seen;
    for (int i = 0; i < 50; ++i) {
        const std::string code = makeExtractionCode("");
        ASSERT_EQ(code.size(), 4u);
        EXPECT_TRUE(std::islower(static_cast<unsigned char>(code[0])) &&
                    std::islower(static_cast<unsigned char>(code[1])));
        EXPECT_TRUE(std::isdigit(static_cast<unsigned char>(code[2])) &&
                    std::isdigit(static_cast<unsigned char>(code[3])));
        seen.insert(code);
    }
    EXPECT_GT(seen.size(), 1u) << "random codes must differ from share to share";
}

TEST(PathExtension, FollowsTheDotAndSeparatorRules) {
    const struct {
        const char* path;
        const char* ext;
    } cases[] = {
        {"/movies/movie.mp4", ".mp4"},
        {"/docs", ""},
        {"/a b/clip", ""},
        {"/album.2021/clip", ".2021/clip"},
        {"/x/report.2 final", ""},
        {"/x/a.tar.gz", ".gz"},
        {"C:\\dir.d\\file", ""},
        {"/\xE6\x96\x87\xE4\xBB\xB6.txt", ".txt"},
        {"", ""},
        {"/x/name.", "."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(pathExtension(c.path), c.ext);
    }
}

TEST(NewName, EveryMode) {
    ListEntry song{.server_filename = "song.mp3", .path = "/music/song.mp3"};
    ShareOptions rule{.renameMode = 0,
                      .keywordBefore = "A",
                      .keywordAfter = "B",
                      .namePrefix = "pre_",
                      .nameSuffix = "_bak"};
    EXPECT_EQ(newNameFor(song, rule), "");
    rule.renameMode = 3;
    EXPECT_EQ(newNameFor(song, rule), "pre_song.mp3");
    rule.renameMode = 4;
    EXPECT_EQ(newNameFor(song, rule), "song.mp3_bak");
    rule.renameMode = 5;
    EXPECT_EQ(newNameFor(song, rule), "pre_song.mp3_bak");
    rule.renameMode = 2; // keyword A does not occur, and is case-sensitive against "a"
    ListEntry mixed{.server_filename = "aAa.txt", .path = "/aAa.txt"};
    EXPECT_EQ(newNameFor(mixed, rule), "aBa.txt");
    EXPECT_EQ(newNameFor(song, rule), "song.mp3");
    rule.renameMode = 9;
    EXPECT_EQ(newNameFor(song, rule), "");
}

TEST(NewName, RandomKeepsTheExtension) {
    const ShareOptions rule{.renameMode = 1};
    const std::string movie =
        newNameFor({.server_filename = "movie.mp4", .path = "/v/movie.mp4"}, rule);
    ASSERT_EQ(movie.size(), 20u);
    EXPECT_TRUE(std::all_of(movie.begin(), movie.begin() + 8, ::isdigit));
    EXPECT_TRUE(std::all_of(movie.begin() + 8, movie.begin() + 16, ::islower));
    EXPECT_EQ(movie.substr(16), ".mp4");
    EXPECT_EQ(newNameFor({.server_filename = "docs", .path = "/docs"}, rule).size(), 16u);
}

TEST(RenamedPath, ReplacesEveryOccurrence) {
    EXPECT_EQ(renamedPath("/x/x", "x", "y"), "/y/y");
    EXPECT_EQ(renamedPath("/a/b.txt", "b.txt", "c.txt"), "/a/c.txt");
    EXPECT_EQ(renamedPath("/a/b.txt", "", "c"), "/a/b.txt");
}
