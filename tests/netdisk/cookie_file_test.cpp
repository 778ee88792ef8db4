#include "netdisk/cookie_file.h"

#include <gtest/gtest.h>

using namespace vantorel;

namespace {
constexpr std::int64_t now = 1700000000;
}

TEST(CookieDomain, HostAndParentDomainsOnly) {
    const struct {
        const char* domain;
        const char* host;
        bool match;
    } cases[] = {
        {".baidu.com", "pan.baidu.com", true},
        {"baidu.com", "pan.baidu.com", true},
        {"pan.baidu.com", "pan.baidu.com", true},
        {".pan.baidu.com", "pan.baidu.com", true},
        {"other.baidu.com", "pan.baidu.com", false},
        {"idu.com", "pan.baidu.com", false},
        {"notbaidu.com", "baidu.com", false},
        {"127.0.0.1", "127.0.0.1", true},
        {"", "pan.baidu.com", false},
        {"PAN.Baidu.com", "pan.baidu.com", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.domain) + " / " + c.host);
        EXPECT_EQ(cookieDomainMatches(c.domain, c.host), c.match);
    }
}

TEST(CookieFile, NetscapeExportKeepsMatchingUnexpiredCookies) {
    const std::string file = "# Netscape HTTP Cookie File\r\n"
                             "# a comment\r\n"
                             "\r\n"
                             "#HttpOnly_.baidu.com\tTRUE\t/\tTRUE\t1800000000\tBDUSS\tsecret1\r\n"
                             ".baidu.com\tTRUE\t/\tFALSE\t0\tBAIDUID\tabc:FG=1\r\n"
                             "pan.baidu.com\tFALSE\t/\tTRUE\t1800000000\tSTOKEN\ts2\r\n"
                             ".example.com\tTRUE\t/\tFALSE\t1800000000\tOTHER\tx\r\n"
                             ".baidu.com\tTRUE\t/\tFALSE\t1600000000\tOLD\ty\r\n";
    auto text = cookieTextFromFile(file, "pan.baidu.com", now);
    ASSERT_TRUE(text) << text.error().message;
    EXPECT_EQ(*text, "BDUSS=secret1; BAIDUID=abc:FG=1; STOKEN=s2");
}

TEST(CookieFile, NetscapeWithoutMatchFailsWithoutLeakingValues) {
    const std::string file = ".example.com\tTRUE\t/\tFALSE\t0\tSID\tsecretvalue\n";
    auto text = cookieTextFromFile(file, "pan.baidu.com", now);
    ASSERT_FALSE(text);
    EXPECT_EQ(text.error().message.find("secretvalue"), std::string::npos);
}

TEST(CookieFile, PlainCookieText) {
    const struct {
        const char* content;
        const char* text;
    } cases[] = {
        {"a=1; b=2\n", "a=1; b=2"},
        {"\xEF\xBB\xBF"
         "a=1; b=2",
         "a=1; b=2"},
        {"Cookie: a=1; b=2", "a=1; b=2"},
        {"a=1;\nb=2\n", "a=1; b=2"},
        {"  a=1  \r\n", "a=1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.content);
        auto text = cookieTextFromFile(c.content, "pan.baidu.com", now);
        ASSERT_TRUE(text) << text.error().message;
        EXPECT_EQ(*text, c.text);
    }
    EXPECT_FALSE(cookieTextFromFile("", "pan.baidu.com", now));
    EXPECT_FALSE(cookieTextFromFile("\n# only a comment\n", "pan.baidu.com", now));
    EXPECT_FALSE(cookieTextFromFile("garbage", "pan.baidu.com", now));
}
