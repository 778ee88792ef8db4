#include "netdisk/page_text.h"

#include <gtest/gtest.h>

using namespace vantorel;

TEST(CurrentPath, FromBrowserAddress) {
    const struct {
        const char* url;
        const char* path;
    } cases[] = {
        {"https://pan.baidu.com/disk/home?#/all?vmode=list&path=%2Fdocs%2F2021", "%2Fdocs%2F2021"},
        {"https://pan.baidu.com/disk/home#/all?path=%2Fdocs&vmode=list", "%2Fdocs"},
        {"https://pan.baidu.com/disk/home", ""},
        {"https://x/?path=%2Fa&path=%2Fb", "%2Fa&path=%2Fb"},
        {"https://x/?path=&vmode=list", ""},
        {"https://x/?PATH=%2Fa", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url);
        EXPECT_EQ(currentPathFromUrl(c.url), c.path);
    }
}

TEST(InlineSettings, ReadsTheWholeObjectPastBracketsInStrings) {
    const std::string page = "<script>locals.mset({\"username\":\"a)b}c\",\"bdstoken\":"
                             "\"0123456789abcdef0123456789abcdef\","
                             "\"nested\":{\"x\":[1,2]},'q':'it\\'s'});var y=1;</script>";
    EXPECT_EQ(inlineSettingsObject(page),
              "{\"username\":\"a)b}c\",\"bdstoken\":\"0123456789abcdef0123456789abcdef\","
              "\"nested\":{\"x\":[1,2]},'q':'it\\'s'}");
}

TEST(InlineSettings, MissingOrUnterminated) {
    EXPECT_EQ(inlineSettingsObject("<html>no settings</html>"), "");
    EXPECT_EQ(inlineSettingsObject("locals.mset(42)"), "");
    EXPECT_EQ(inlineSettingsObject("locals.mset({\"a\":\"b\""), "");
    EXPECT_EQ(inlineSettingsObject("locals.mset( {} )"), "{}");
}

TEST(QuotedValue, FallbackSearch) {
    const std::string page = "var ctx = {\"bdstoken\" : \"0123456789abcdef0123456789abcdef\","
                             "\"username\":\"\\u5f20\\u4e09\\\"x\"};";
    EXPECT_EQ(findQuotedValue(page, "bdstoken"), "0123456789abcdef0123456789abcdef");
    EXPECT_EQ(findQuotedValue(page, "username"), "\xE5\xBC\xA0\xE4\xB8\x89\"x");
    EXPECT_EQ(findQuotedValue(page, "missing"), "");
    EXPECT_EQ(findQuotedValue("\"bdstoken\":123", "bdstoken"), "");
    EXPECT_EQ(findQuotedValue("\"k\":\"\\ud83d\\ude00\"", "k"), "\xF0\x9F\x98\x80");
}

TEST(Bdstoken, Shape) {
    EXPECT_TRUE(looksLikeBdstoken("0123456789abcdef0123456789ABCDEF"));
    EXPECT_FALSE(looksLikeBdstoken("0123456789abcdef0123456789abcde"));
    EXPECT_FALSE(looksLikeBdstoken("0123456789abcdef0123456789abcdeg"));
}

TEST(SelectionScript, FourLinesJoinedByCrLf) {
    EXPECT_EQ(selectionPageScript,
              "var ccc = require(\"system-core:context/SystemContext.js\");\r\n"
              "var obj = new ccc(!1);\r\n"
              "var result = obj.list.getSelected();\r\n"
              "return JSON.stringify(result); ");
}
