// Which cookies of a store or an export go to the service: each name once,
// from the most specific domain, and among equals the one set last.

#include "named_case.h"
#include "netdisk/stored_cookies.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace vantorel;

namespace {

using vantorel::test::CaseName;
using vantorel::test::PrintTo;

StoredCookie cookie(std::string name, std::string value, std::string domain, std::uint64_t created,
                    std::uint64_t lastSet, std::string path = "/") {
    StoredCookie c;
    c.name = std::move(name);
    c.value = std::move(value);
    c.domain = std::move(domain);
    c.path = std::move(path);
    c.created = created;
    c.lastSet = lastSet;
    return c;
}

struct ChoiceCase {
    const char* name;
    std::vector<StoredCookie> cookies;
    bool secureChannel;
    const char* text;
};

class CookieChoice : public ::testing::TestWithParam<ChoiceCase> {};

TEST_P(CookieChoice, EachNameOnce) {
    const ChoiceCase& c = GetParam();
    EXPECT_EQ(cookieTextForHost(c.cookies, "pan.baidu.com", c.secureChannel), c.text);
}

StoredCookie secureOne() {
    StoredCookie c = cookie("S", "1", "pan.baidu.com", 0, 0);
    c.secure = true;
    return c;
}

StoredCookie hostOnlyParent() {
    StoredCookie c = cookie("H", "1", "baidu.com", 0, 0);
    c.hostOnly = true;
    return c;
}

INSTANTIATE_TEST_SUITE_P(
    Cookies, CookieChoice,
    ::testing::Values(ChoiceCase{"HostBeatsParentDomain",
                                 {cookie("STOKEN", "parent", ".baidu.com", 0, 5),
                                  cookie("STOKEN", "host", "pan.baidu.com", 1, 1)},
                                 true,
                                 "STOKEN=host"},
                      ChoiceCase{"HostBeatsParentWhateverTheOrder",
                                 {cookie("STOKEN", "host", "pan.baidu.com", 0, 0),
                                  cookie("STOKEN", "parent", ".baidu.com", 1, 9)},
                                 true,
                                 "STOKEN=host"},
                      ChoiceCase{"EqualDomainsTakeTheOneSetLast",
                                 {cookie("A", "old", ".baidu.com", 0, 0, "/"),
                                  cookie("A", "new", "baidu.com", 1, 7, "/disk")},
                                 true,
                                 "A=new"},
                      ChoiceCase{"OtherNamesKeepTheirPlace",
                                 {cookie("BDUSS", "b", ".baidu.com", 0, 0),
                                  cookie("STOKEN", "parent", ".baidu.com", 1, 1),
                                  cookie("PANPSC", "p", "pan.baidu.com", 2, 2),
                                  cookie("STOKEN", "host", "pan.baidu.com", 3, 3)},
                                 true,
                                 "BDUSS=b; PANPSC=p; STOKEN=host"},
                      ChoiceCase{"LongerPathFirst",
                                 {cookie("A", "1", "pan.baidu.com", 0, 0, "/"),
                                  cookie("B", "2", "pan.baidu.com", 1, 1, "/disk")},
                                 true,
                                 "B=2; A=1"},
                      ChoiceCase{"OtherHostsLeftOut",
                                 {cookie("A", "1", ".example.com", 0, 0),
                                  cookie("B", "2", "other.baidu.com", 1, 1)},
                                 true,
                                 ""},
                      ChoiceCase{"SecureOnlyOverHttps", {secureOne()}, false, ""},
                      ChoiceCase{"SecureOverHttps", {secureOne()}, true, "S=1"},
                      ChoiceCase{
                          "HostOnlyCookieOfTheParentStaysThere", {hostOnlyParent()}, true, ""}),
    CaseName{});

} // namespace
