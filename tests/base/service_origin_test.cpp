#include "base/service_origin.h"
#include "named_case.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <ostream>

using namespace vantorel;

namespace {

using vantorel::test::CaseName;
using vantorel::test::PrintTo;

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

} // namespace
