// Where the program finds the service and what its requests carry as the
// service's own web client sends them.

#include "netdisk/connection.h"
#include "netdisk/service_headers.h"

#include <algorithm>
#include <cstdlib>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace vantorel;
using ::testing::HasSubstr;

namespace {

TEST(ServiceOrigin, DefaultsToTheRealService) {
    const ServiceOrigin origin = defaultServiceOrigin();
    EXPECT_EQ(origin.text(), "https://pan.baidu.com");
    EXPECT_EQ(origin.host(), "pan.baidu.com");
    EXPECT_EQ(homePageUrl(origin), "https://pan.baidu.com/disk/home?");
    EXPECT_EQ(origin.url("/api/list?x=1"), "https://pan.baidu.com/api/list?x=1");
}

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

TEST(HeaderBlocks, NameTheDefaultService) {
    const ServiceOrigin real = defaultServiceOrigin();
    EXPECT_EQ(homePageHeaders(real).substr(0, 20), "Host: pan.baidu.com\r");
    EXPECT_THAT(webApiHeaders(real), HasSubstr("\r\nOrigin: https://pan.baidu.com\r\n"));
    EXPECT_THAT(webApiHeaders(real),
                ::testing::EndsWith("Referer: https://pan.baidu.com/disk/home?"));
    const std::string home = homePageHeaders(real);
    const std::string api = webApiHeaders(real);
    EXPECT_EQ(std::count(home.begin(), home.end(), '\n'), 12);
    EXPECT_EQ(std::count(api.begin(), api.end(), '\n'), 13);
}

} // namespace
