#include "share/rename_rules.h"

#include <algorithm>
#include <cctype>
#include <gtest/gtest.h>
#include <map>
#include <set>
#include <vector>

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
        // A folder's dot is not its file's extension.
        {"/album.2021/clip", ""},
        {"album.2021/clip.mp4", ".mp4"},
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
    ShareOptions rule{.renameMode = RenameMode::None,
                      .keywordBefore = "A",
                      .keywordAfter = "B",
                      .namePrefix = "pre_",
                      .nameSuffix = "_bak"};
    EXPECT_EQ(newNameFor(song, rule), "");
    rule.renameMode = RenameMode::AddPrefix;
    EXPECT_EQ(newNameFor(song, rule), "pre_song.mp3");
    rule.renameMode = RenameMode::AddSuffix;
    EXPECT_EQ(newNameFor(song, rule), "song.mp3_bak");
    rule.renameMode = RenameMode::AddPrefixAndSuffix;
    EXPECT_EQ(newNameFor(song, rule), "pre_song.mp3_bak");
    rule.renameMode =
        RenameMode::ReplaceKeyword; // keyword A does not occur, and is case-sensitive against "a"
    ListEntry mixed{.server_filename = "aAa.txt", .path = "/aAa.txt"};
    EXPECT_EQ(newNameFor(mixed, rule), "aBa.txt");
    EXPECT_EQ(newNameFor(song, rule), "song.mp3");
    rule.renameMode = static_cast<RenameMode>(9);
    EXPECT_EQ(newNameFor(song, rule), "");
}

TEST(NewName, RandomKeepsTheExtension) {
    const ShareOptions rule{.renameMode = RenameMode::RandomName};
    const std::string movie =
        newNameFor({.server_filename = "movie.mp4", .path = "/v/movie.mp4"}, rule);
    ASSERT_EQ(movie.size(), 20u);
    EXPECT_TRUE(std::all_of(movie.begin(), movie.begin() + 8, ::isdigit));
    EXPECT_TRUE(std::all_of(movie.begin() + 8, movie.begin() + 16, ::islower));
    EXPECT_EQ(movie.substr(16), ".mp4");
    EXPECT_EQ(newNameFor({.server_filename = "docs", .path = "/docs"}, rule).size(), 16u);
    // The extension comes from the item's own name, never across a "/".
    const std::string clip =
        newNameFor({.server_filename = "clip", .path = "/album.2021/clip"}, rule);
    EXPECT_EQ(clip.size(), 16u) << clip;
    EXPECT_EQ(clip.find('/'), std::string::npos) << clip;
}

// Only the item itself is renamed: a folder above it with the same name
// keeps its name in the recorded path.
TEST(RenamedPath, ReplacesTheLastComponentOnly) {
    EXPECT_EQ(renamedPath("/x/x", "px"), "/x/px");
    EXPECT_EQ(renamedPath("/a/b.txt", "c.txt"), "/a/c.txt");
    EXPECT_EQ(renamedPath("/song.mp3", "新_song.mp3"), "/新_song.mp3");
    EXPECT_EQ(renamedPath("/a b/it's (1).txt", "x"), "/a b/x");
    EXPECT_EQ(renamedPath("loose", "x"), "x");
}

// ---------------------------------------------------------------------------
// The codes are drawn from the system's random source: every letter and digit
// equally likely at every position, and no more repeats than chance gives.

namespace {

// Pearson's statistic of `counts` against a uniform spread of `total`.
double chiSquare(const std::vector<int>& counts, int total) {
    const double expected = static_cast<double>(total) / static_cast<double>(counts.size());
    double sum = 0;
    for (int c : counts)
        sum += (c - expected) * (c - expected) / expected;
    return sum;
}

} // namespace

TEST(ExtractionCode, EveryPositionIsUniform) {
    constexpr int kCodes = 10000;
    std::vector<std::vector<int>> counts = {std::vector<int>(26), std::vector<int>(26),
                                            std::vector<int>(10), std::vector<int>(10)};
    for (int i = 0; i < kCodes; ++i) {
        const std::string code = makeExtractionCode("");
        ASSERT_EQ(code.size(), 4u);
        for (int p = 0; p < 4; ++p) {
            const int value = p < 2 ? code[p] - 'a' : code[p] - '0';
            ASSERT_GE(value, 0) << code;
            ASSERT_LT(value, static_cast<int>(counts[p].size())) << code;
            ++counts[p][value];
        }
    }
    // Bounds at p = 1e-6 (25 and 9 degrees of freedom): a fair source fails
    // one run in a million; a biased or clock-driven one fails every time.
    for (int p = 0; p < 4; ++p) {
        const double bound = p < 2 ? 74.5 : 46.0;
        EXPECT_LT(chiSquare(counts[p], kCodes), bound) << "position " << p;
    }
}

TEST(ExtractionCode, RepeatsNoMoreThanChanceAllows) {
    // 100 runs of 100 codes from 26 x 26 x 10 x 10 = 67,600: about 0.073
    // repeated pairs a run, 7.3 in all; more than 25 has a chance below 1e-7.
    int repeatedPairs = 0;
    for (int run = 0; run < 100; ++run) {
        std::map<std::string, int> seen;
        for (int i = 0; i < 100; ++i)
            repeatedPairs += seen[makeExtractionCode("")]++;
    }
    EXPECT_LE(repeatedPairs, 25);
}

TEST(RandomText, WholeRangesAndSingleValues) {
    EXPECT_EQ(randomInRange(5, 5), 5u);
    std::set<unsigned> seen;
    for (int i = 0; i < 200; ++i)
        seen.insert(randomInRange(0, 0xFFFFFFFFu) >> 28);
    EXPECT_GT(seen.size(), 8u) << "the top bits of a full-range draw vary";
}
