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

namespace {

// What browser extensions export: one object per cookie of every site.
const std::string kJsonExport = R"([
  {"domain": ".baidu.com", "expirationDate": 1800000000.25, "hostOnly": false, "httpOnly": true,
   "name": "BDUSS", "path": "/", "sameSite": "unspecified", "secure": false, "session": false,
   "storeId": "0", "value": "parent-login"},
  {"domain": "pan.baidu.com", "hostOnly": true, "name": "BDUSS", "path": "/", "secure": false,
   "session": true, "value": "host-login"},
  {"domain": ".baidu.com", "name": "BAIDUID", "path": "/", "value": "abc:FG=1"},
  {"domain": "pan.baidu.com", "hostOnly": true, "name": "STOKEN", "secure": true,
   "session": true, "value": "stoken-value"},
  {"domain": ".example.com", "name": "FOREIGN", "value": "other-site"},
  {"domain": "other.baidu.com", "name": "SIBLING", "value": "sibling"},
  {"domain": "baidu.com", "hostOnly": true, "name": "PARENTONLY", "value": "parent-host"},
  {"domain": ".baidu.com", "expirationDate": 1600000000, "name": "OLD", "value": "expired"},
  {"domain": ".baidu.com", "expirationDate": 1600000000, "session": true, "name": "KEPT",
   "value": "session"},
  {"domain": ".baidu.com", "name": "BROKEN", "value": "a;b"}
])";

} // namespace

TEST(CookieFile, JsonExportKeepsTheServicesLiveCookiesOnceEach) {
    const struct {
        const char* host;
        bool secure;
        const char* text;
    } cases[] = {
        {"pan.baidu.com", true,
         "BDUSS=host-login; BAIDUID=abc:FG=1; STOKEN=stoken-value; KEPT=session"},
        {"pan.baidu.com", false, "BDUSS=host-login; BAIDUID=abc:FG=1; KEPT=session"},
        {"baidu.com", true,
         "BDUSS=parent-login; BAIDUID=abc:FG=1; PARENTONLY=parent-host; "
         "KEPT=session"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.host) + (c.secure ? " https" : " http"));
        auto text = cookieTextFromFile(kJsonExport, c.host, now, c.secure);
        ASSERT_TRUE(text) << text.error().message;
        EXPECT_EQ(*text, c.text);
    }
    auto none = cookieTextFromFile(kJsonExport, "example.org", now);
    ASSERT_FALSE(none);
    EXPECT_EQ(none.error().message, "the cookie file holds no unexpired cookie for example.org");
}

TEST(CookieFile, NetscapeSecureCookiesGoOverHttpsOnly) {
    const std::string file = "pan.baidu.com\tFALSE\t/\tTRUE\t0\tSECURE\ts\n"
                             "#HttpOnly_pan.baidu.com\tFALSE\t/\tFALSE\t0\tPLAIN\tp\n";
    auto https = cookieTextFromFile(file, "pan.baidu.com", now, true);
    ASSERT_TRUE(https);
    EXPECT_EQ(*https, "SECURE=s; PLAIN=p");
    auto http = cookieTextFromFile(file, "pan.baidu.com", now, false);
    ASSERT_TRUE(http);
    EXPECT_EQ(*http, "PLAIN=p");
}

// A file that is none of the three formats is refused with a fixed text,
// never a piece of it, rather than sent as the Cookie header.
TEST(CookieFile, FileInNoKnownFormatIsRefused) {
    const struct {
        const char* content;
        const char* message;
    } cases[] = {
        {"<html><body>a=secret</body></html>", "no known format"},
        {"{\"cookies\": [{\"name\": \"a\", \"value\": \"secret\"}]}", "no known format"},
        {"[1, 2, 3", "no known format"},
        {"a=1; this is not=a cookie; b=secret", "no known format"},
        {"a=1; =secret", "no known format"},
        {"a=1\x01secret", "no known format"},
        {"[{\"a\": \"secret\"}, 3]", "JSON array without cookies"},
        {"[]", "JSON array without cookies"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.content);
        auto text = cookieTextFromFile(c.content, "pan.baidu.com", now);
        ASSERT_FALSE(text) << *text;
        EXPECT_NE(text.error().message.find(c.message), std::string::npos) << text.error().message;
        EXPECT_EQ(text.error().message.find("secret"), std::string::npos);
    }
}

TEST(CookieFile, TextsOver64KiBAreRefused) {
    EXPECT_TRUE(checkCookieTextSize(std::string(kMaxCookieTextBytes, 'a')));
    const std::string long_ = "BDUSS=" + std::string(kMaxCookieTextBytes, 'x');
    const Status refused = checkCookieTextSize(long_);
    ASSERT_FALSE(refused);
    EXPECT_NE(refused.error().message.find(std::to_string(long_.size()) + " bytes"),
              std::string::npos)
        << refused.error().message;
    EXPECT_EQ(refused.error().message.find("xxxx"), std::string::npos);
}
