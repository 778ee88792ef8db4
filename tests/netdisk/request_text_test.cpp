#include "netdisk/request_text.h"

#include <gtest/gtest.h>

using namespace vantorel;

namespace {
constexpr const char* origin = "https://pan.baidu.com";
}

TEST(ListingUrl, ExactKeysInOrderWithTrailingBlank) {
    EXPECT_EQ(listingUrl(origin, "%2Fmy+docs", "0123456789abcdef0123456789abcdef"),
              "https://pan.baidu.com/api/list?order=time&desc=1&showempty=0&web=1&page=1&num=1000"
              "&dir=%2Fmy+docs&t=0.657891815'9504346&channel=chunlei&web=1&app_id=250528"
              "&bdstoken=0123456789abcdef0123456789abcdef"
              "&logid=Q0Y3RDE5QTA0QjhFMkM2NTlEMEExRjNCNzU4RTlDMjQ6Rkc9MQ==&clienttype=0 ");
    EXPECT_NE(listingUrl(origin, "%2F", "tok", 37).find("&page=37&num=1000&dir=%2F&"),
              std::string::npos);
    const std::string noToken = listingUrl(origin, "", "");
    EXPECT_NE(noToken.find("&dir=&t="), std::string::npos);
    EXPECT_NE(noToken.find("&bdstoken=&logid="), std::string::npos);
}

TEST(TokenRequests, Urls) {
    EXPECT_EQ(templateVariableUrl(origin),
              "https://pan.baidu.com/api/gettemplatevariable?clienttype=0&app_id=250528&web=1"
              "&fields=%5B%22bdstoken%22%2C%22token%22%2C%22uk%22%2C%22isdocuser%22%2C%22"
              "servertime%22%5D");
    EXPECT_EQ(loginStatusUrl(origin), "https://pan.baidu.com/api/loginStatus?clienttype=0"
                                      "&app_id=250528&web=1&channel=chunlei&version=0");
}

TEST(ShareRequest, UrlAndBody) {
    EXPECT_EQ(shareUrl(origin, "tok"),
              "https://pan.baidu.com/share/set?channel=chunlei&bdstoken=tok"
              "&clienttype=0&app_id=250528&web=1");
    EXPECT_EQ(shareBody("7", "ab12", "123"),
              "period=7&channel_list=%5B%5D&pwd=ab12&schannel=4&fid_list=%5B123%5D");
    EXPECT_EQ(shareBody(" 7", "", "900719925474099312"),
              "period= 7&channel_list=%5B%5D&pwd=&schannel=4&fid_list=%5B900719925474099312%5D");
}

TEST(RenameRequest, Url) {
    EXPECT_EQ(renameUrl(origin, "tok"),
              "https://pan.baidu.com/api/filemanager?async=2&onnest=fail&opera=rename&bdstoken=tok"
              "&clienttype=0&app_id=250528&web=1");
}

TEST(RenameRequest, BodyEncodesNamesAsJsonThenForm) {
    const struct {
        const char* path;
        const char* newName;
        const char* body;
    } cases[] = {
        {"/a b/c_d.txt", "\xE6\x96\x87.txt",
         "filelist=%5B%7B%22path%22%3A%22%2Fa+b%2Fc_d.txt%22%2C%22newname%22%3A%22%E6%96%87.txt"
         "%22%7D%5D"},
        {"/x/it's (1)*.txt", "x~y",
         "filelist=%5B%7B%22path%22%3A%22%2Fx%2Fit's+(1)*.txt%22%2C%22newname%22%3A%22x%7Ey"
         "%22%7D%5D"},
        // A double quote stays inside its own JSON string: \" is sent as %5C%22.
        {"/q/say \"hi\".txt", "a\"b",
         "filelist=%5B%7B%22path%22%3A%22%2Fq%2Fsay+%5C%22hi%5C%22.txt%22%2C%22newname%22%3A%22a"
         "%5C%22b%22%7D%5D"},
        {"/b\\s", "n",
         "filelist=%5B%7B%22path%22%3A%22%2Fb%5C%5Cs%22%2C%22newname%22%3A%22n%22%7D%5D"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(renameBody(c.path, c.newName), c.body);
    }
}

TEST(JsonStringContent, EscapesOnlyWhatJsonNeeds) {
    EXPECT_EQ(jsonStringContent("plain \xE4\xB8\xAD"), "plain \xE4\xB8\xAD");
    EXPECT_EQ(jsonStringContent("a\"b\\c\nd\x01"), "a\\\"b\\\\c\\nd\\u0001");
    EXPECT_EQ(jsonStringContent("x\"},{\"path\":\"/other"), "x\\\"},{\\\"path\\\":\\\"/other");
}
