#include "base/service_origin.h"
#include "named_case.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <ostream>

using namespace vantorel;

namespace {

using vantorel::test::CaseName;
using vantorel::test::PrintTo;

TEST(ServiceOrigin, DefaultsToTheRealService) {
    const ServiceOrigin origin;
    EXPECT_EQ(origin.text(), "https://pan.baidu.com");
    EXPECT_EQ(origin.host(), "pan.baidu.com");
    EXPECT_EQ(origin.homePageUrl(), "https://pan.baidu.com/disk/home?");
    EXPECT_EQ(origin.url("/api/list?x=1"), "https://pan.baidu.com/api/list?x=1");
}

struct ParseCase {
    const char* name;
    const char* input;
    const char* text; // nullptr: refused
    const char* host;
};

class ParseServiceOrigin : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ParseServiceOrigin, AcceptsOnlySchemeHostAndPort) {
    const ParseCase& c = GetParam();
    const auto origin = ServiceOrigin::parse(c.input);
    if (c.text == nullptr) {
        ASSERT_FALSE(origin) << c.input;
        EXPECT_NE(origin.error().message.find(c.input), std::string::npos);
        return;
    }
    ASSERT_TRUE(origin) << origin.error().message;
    EXPECT_EQ(origin->text(), c.text);
    EXPECT_EQ(origin->host(), c.host);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ParseServiceOrigin,
    ::testing::Values(ParseCase{"LoopbackWithPort", "http://127.0.0.1:8080",
                                "http://127.0.0.1:8080", "127.0.0.1:8080"},
                      ParseCase{"CaseFolded", "HTTPS://Pan.Baidu.COM", "https://pan.baidu.com",
                                "pan.baidu.com"},
                      ParseCase{"DefaultPortDropped", "https://pan.baidu.com:443/",
                                "https://pan.baidu.com", "pan.baidu.com"},
                      ParseCase{"Ipv6", "http://[::1]:9000", "http://[::1]:9000", "[::1]:9000"},
                      ParseCase{"NoScheme", "pan.baidu.com", nullptr, nullptr},
                      ParseCase{"OtherScheme", "ftp://pan.baidu.com", nullptr, nullptr},
                      ParseCase{"Path", "https://pan.baidu.com/disk", nullptr, nullptr},
                      ParseCase{"Query", "https://pan.baidu.com?x=1", nullptr, nullptr},
                      ParseCase{"UserInfo", "https://u:p@pan.baidu.com", nullptr, nullptr},
                      ParseCase{"EmptyHost", "https://:80", nullptr, nullptr},
                      ParseCase{"PortZero", "http://127.0.0.1:0", nullptr, nullptr},
                      ParseCase{"PortTooLarge", "http://127.0.0.1:65536", nullptr, nullptr},
                      ParseCase{"PortNotNumeric", "http://127.0.0.1:8o", nullptr, nullptr},
                      ParseCase{"BlankInHost", "http://pan baidu.com", nullptr, nullptr}),
    CaseName{});

TEST(ResolveServiceOrigin, CommandLineThenEnvironmentThenDefault) {
    ::setenv("VANTOREL_ORIGIN", "http://127.0.0.1:7001", 1);
    EXPECT_EQ(resolveServiceOrigin("http://127.0.0.1:7002")->text(), "http://127.0.0.1:7002");
    EXPECT_EQ(resolveServiceOrigin(std::nullopt)->text(), "http://127.0.0.1:7001");

    ::setenv("VANTOREL_ORIGIN", "not an origin", 1);
    const auto bad = resolveServiceOrigin(std::nullopt);
    ASSERT_FALSE(bad);
    EXPECT_NE(bad.error().message.find("VANTOREL_ORIGIN"), std::string::npos);

    ::unsetenv("VANTOREL_ORIGIN");
    EXPECT_EQ(resolveServiceOrigin(std::nullopt)->text(), "https://pan.baidu.com");
    EXPECT_FALSE(resolveServiceOrigin("https://x/y"));
}

} // namespace
