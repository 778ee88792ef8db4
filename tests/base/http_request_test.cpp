#include "base/http_request.h"
#include "loopback_server.h"
#include "named_case.h"
#include "netdisk/service_headers.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <ostream>
#include <random>
#include <thread>

using namespace vantorel;
using namespace vantorel::fixture;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;

namespace {

using vantorel::test::CaseName;
using vantorel::test::PrintTo;

using Lines = std::vector<std::string>;

constexpr auto guard = std::chrono::seconds(20);

const std::string chrome89Ua =
    "User-Agent: Mozilla/5.0 (Windows NT 10.0; Win64; x64) AppleWebKit/537.36 (KHTML, like "
    "Gecko) Chrome/89.0.4389.82 Safari/537.36";
const std::string secChUa =
    "Sec-Ch-Ua: \"Google Chrome\";v=\"89\", \"Chromium\";v=\"89\", \";Not A Brand\";v=\"99\"";

CannedReply okReply(const std::string& body = "ok", const Lines& headers = {}) {
    return {rawResponse(200, headers, body)};
}

// Serves "ok" to everything and records what came in.
class HttpRequestTest : public ::testing::Test {
protected:
    LoopbackServer server{[](const RecordedRequest&) {
        return okReply();
    }};

    // The one request the server received after a perform.
    RecordedRequest only() {
        const auto all = server.requests();
        EXPECT_EQ(all.size(), 1u);
        return all.empty() ? RecordedRequest{} : all.front();
    }
    // Header lines without Host, which names the ephemeral port.
    Lines headersWithoutHost() {
        Lines lines;
        const RecordedRequest request = only();
        for (const std::string& line : request.headerLines)
            if (line.rfind("Host: ", 0) != 0)
                lines.push_back(line);
        return lines;
    }
    ServiceOrigin origin() const { return *ServiceOrigin::parse(server.origin()); }
};

TEST_F(HttpRequestTest, HomePageBlockGoesOutExactly) {
    std::string cookies = "BDUSS=abc; STOKEN=def";
    HttpRequestOptions options;
    options.cookies = &cookies;
    options.extraHeaders = homePageHeaders(origin());
    const HttpResponse response = HttpRequest::perform(homePageUrl(origin()), options);
    ASSERT_TRUE(response.outcome) << response.outcome.error().message;
    EXPECT_EQ(response.body, "ok");

    const RecordedRequest request = only();
    EXPECT_EQ(request.requestLine, "GET /disk/home? HTTP/1.1");
    EXPECT_THAT(request.headerLines,
                ElementsAre("Host: " + origin().host(), "Cookie: BDUSS=abc; STOKEN=def",
                            "Cache-Control: max-age=0", secChUa, "Sec-Ch-Ua-Mobile: ?0",
                            "Upgrade-Insecure-Requests: 1", chrome89Ua,
                            "Accept: text/html,application/xhtml+xml,application/xml;q=0.9,"
                            "image/avif,image/webp,image/apng,*/*;q=0.8,application/"
                            "signed-exchange;v=b3;q=0.9",
                            "Sec-Fetch-Site: same-origin", "Sec-Fetch-Mode: navigate",
                            "Sec-Fetch-User: ?1", "Sec-Fetch-Dest: document",
                            "Referer: " + homePageUrl(origin()), "Accept-Language: zh-cn"));
}

TEST_F(HttpRequestTest, WebApiBlockCarriesTheTrueContentLength) {
    std::string cookies = "BDUSS=abc";
    HttpRequestOptions options;
    options.method = 1;
    options.bodyText = "period=7&channel_list=%5B%5D&pwd=ab12&schannel=4&fid_list=%5B123%5D";
    options.cookies = &cookies;
    options.extraHeaders = webApiHeaders(origin());
    const HttpResponse response =
        HttpRequest::perform(origin().url("/share/set?channel=chunlei&bdstoken=t"), options);
    ASSERT_TRUE(response.outcome) << response.outcome.error().message;

    const RecordedRequest request = only();
    EXPECT_EQ(request.requestLine, "POST /share/set?channel=chunlei&bdstoken=t HTTP/1.1");
    EXPECT_THAT(request.headerLines,
                ElementsAre("Host: " + origin().host(), "Cookie: BDUSS=abc", secChUa,
                            "Accept: application/json, text/javascript, */*; q=0.01",
                            "X-Requested-With: XMLHttpRequest", "Sec-Ch-Ua-Mobile: ?0", chrome89Ua,
                            "Content-Type: application/x-www-form-urlencoded; charset=UTF-8",
                            "Origin: " + origin().text(), "Sec-Fetch-Site: same-origin",
                            "Sec-Fetch-Mode: cors", "Sec-Fetch-Dest: empty",
                            "Referer: " + homePageUrl(origin()), "Accept-Language: zh-cn",
                            "Content-Length: " + std::to_string(options.bodyText.size())));
    EXPECT_EQ(request.body, options.bodyText);
}

TEST_F(HttpRequestTest, ListingBlockAndItsTrailingBlank) {
    const std::string url =
        origin().url("/api/list?order=time&dir=%2Fa&t=0.657891815'9504346&bdstoken=&logid="
                     "Q0Y3RDE5QTA0QjhFMkM2NTlEMEExRjNCNzU4RTlDMjQ6Rkc9MQ==&clienttype=0 ");
    std::string cookies = "BDUSS=abc";
    HttpRequestOptions options;
    options.cookies = &cookies;
    options.extraHeaders = listingHeaders();
    const HttpResponse response = HttpRequest::perform(url, options);
    ASSERT_TRUE(response.outcome) << response.outcome.error().message;

    const std::string trimmed = url.substr(0, url.size() - 1);
    const RecordedRequest request = only();
    EXPECT_EQ(request.requestLine, "GET " + trimmed.substr(origin().text().size()) + " HTTP/1.1");
    EXPECT_THAT(headersWithoutHost(),
                ElementsAre("Cookie: BDUSS=abc",
                            "User-Agent: Mozilla/5.0 (Windows NT 6.1; WOW64) AppleWebKit/537.36 "
                            "(KHTML, like Gecko) Chrome/50.0.2661.87 Safari/537.36",
                            "Accept: */*", "Referer: " + trimmed, "Accept-Language: zh-cn"));
}

TEST_F(HttpRequestTest, BlanksAndLineBreaksInsideTheUrlAreEscaped) {
    HttpRequest::perform(server.origin() + "/a b?x=\xE4\xB8\xAD&t=1\r\nX-Evil: 1 ");
    const RecordedRequest request = only();
    EXPECT_EQ(request.requestLine, "GET /a%20b?x=%E4%B8%AD&t=1%0D%0AX-Evil:%201 HTTP/1.1");
    EXPECT_THAT(request.headerLines,
                ::testing::Contains(HasSubstr("Referer: " + server.origin() + "/a%20b?")));
    for (const std::string& line : request.headerLines)
        EXPECT_THAT(line, Not(::testing::StartsWith("X-Evil")));
}

struct MethodCase {
    int code;
    const char* word;
};

void PrintTo(const MethodCase& c, std::ostream* os) {
    *os << c.code;
}

class HttpMethodCodes : public ::testing::TestWithParam<MethodCase> {};

TEST_P(HttpMethodCodes, SendTheirWord) {
    LoopbackServer server([](const RecordedRequest&) { return okReply(); });
    HttpRequestOptions options;
    options.method = GetParam().code;
    HttpRequest::perform(server.origin() + "/m", options);
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].requestLine, std::string(GetParam().word) + " /m HTTP/1.1");
    EXPECT_EQ(httpMethodWord(GetParam().code), GetParam().word);
}

INSTANTIATE_TEST_SUITE_P(Codes, HttpMethodCodes,
                         ::testing::Values(MethodCase{0, "GET"}, MethodCase{1, "POST"},
                                           MethodCase{2, "HEAD"}, MethodCase{3, "PUT"},
                                           MethodCase{4, "OPTIONS"}, MethodCase{5, "DELETE"},
                                           MethodCase{6, "TRACE"}, MethodCase{8, "GET"},
                                           MethodCase{-1, "GET"}),
                         [](const ::testing::TestParamInfo<MethodCase>& p) {
                             return p.param.code < 0 ? "Minus" + std::to_string(-p.param.code)
                                                     : "Code" + std::to_string(p.param.code);
                         });

TEST(HttpTimeouts, FollowTheOptionTable) {
    EXPECT_EQ(effectiveTimeoutMs(0), 15000);
    EXPECT_EQ(effectiveTimeoutMs(-5), 15000);
    EXPECT_EQ(effectiveTimeoutMs(3), 3000);
    EXPECT_EQ(effectiveTimeoutMs(-1), std::nullopt);
    EXPECT_EQ(HttpRequestOptions{}.timeoutSeconds, 0);
}

// Edge cases of header completion, capitalisation and the line rules.
struct HeaderCase {
    const char* name;
    int method;
    const char* block;
    bool complete;
    bool normalise;
    Lines expected; // without Host; "{url}" stands for the request URL
};

class HeaderRules : public ::testing::TestWithParam<HeaderCase> {};

TEST_P(HeaderRules, PutTheseLinesOnTheWire) {
    const HeaderCase& c = GetParam();
    LoopbackServer server([](const RecordedRequest&) { return okReply(); });
    const std::string url = server.origin() + "/h";
    HttpRequestOptions options;
    options.method = c.method;
    options.extraHeaders = c.block;
    options.completeHeaders = c.complete;
    options.normaliseHeaderNames = c.normalise;
    ASSERT_TRUE(HttpRequest::perform(url, options).outcome);
    ASSERT_TRUE(server.waitForRequests(1, guard));

    Lines sent;
    const RecordedRequest request = server.requests().front();
    for (const std::string& line : request.headerLines)
        if (line.rfind("Host: ", 0) != 0)
            sent.push_back(line);
    Lines expected;
    for (std::string line : c.expected) {
        if (const auto at = line.find("{url}"); at != std::string::npos)
            line.replace(at, 5, url);
        expected.push_back(line);
    }
    EXPECT_THAT(sent, ElementsAreArray(expected));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HeaderRules,
    ::testing::Values(
        HeaderCase{"DefaultsAfterUserAgent",
                   0,
                   "User-Agent: X",
                   true,
                   true,
                   {"User-Agent: X", "Accept: */*", "Referer: {url}", "Accept-Language: zh-cn"}},
        HeaderCase{"EmptyBlockGetsFourDefaults",
                   0,
                   "",
                   true,
                   true,
                   {"Accept: */*", "Referer: {url}", "Accept-Language: zh-cn",
                    "User-Agent: Mozilla/4.0 (compatible; MSIE 9.0; Windows NT 6.1)"}},
        HeaderCase{
            "LowerCaseAcceptCountsAndIsCapitalised",
            0,
            "accept: text/plain\r\nUser-Agent: X",
            true,
            true,
            {"Accept: text/plain", "User-Agent: X", "Referer: {url}", "Accept-Language: zh-cn"}},
        HeaderCase{"PostGetsFormContentType",
                   1,
                   "User-Agent: X",
                   true,
                   true,
                   {"User-Agent: X", "Accept: */*", "Referer: {url}", "Accept-Language: zh-cn",
                    "Content-Type: application/x-www-form-urlencoded", "Content-Length: 0"}},
        HeaderCase{"PostKeepsItsOwnContentType",
                   1,
                   "content-type: text/plain\r\nUser-Agent: X",
                   true,
                   true,
                   {"Content-Type: text/plain", "User-Agent: X", "Accept: */*", "Referer: {url}",
                    "Accept-Language: zh-cn", "Content-Length: 0"}},
        HeaderCase{"KeepAliveNeverSentCloseIs",
                   0,
                   "Connection: keep-alive\r\nAccept: a\r\nConnection: close",
                   false,
                   true,
                   {"Accept: a", "Connection: close"}},
        HeaderCase{"LineWithoutColonDropped",
                   0,
                   "X-Flag\r\nAccept: a\r\nsec-ch-ua-mobile: ?0",
                   false,
                   true,
                   {"Accept: a", "Sec-Ch-Ua-Mobile: ?0"}},
        HeaderCase{"NamesAsGivenWithoutNormalising",
                   0,
                   "X-Flag\r\nsec-ch-ua-mobile: ?0\r\n  x-a  :   b  ",
                   false,
                   false,
                   {"sec-ch-ua-mobile: ?0", "x-a: b"}},
        HeaderCase{"SingleLineBlock", 0, "accept: x", false, true, {"Accept: x"}},
        HeaderCase{"NoDefaultsMeansNoneOfCurlsEither", 1, "", false, true, {"Content-Length: 0"}},
        HeaderCase{"StatedContentLengthReplaced",
                   1,
                   "Content-Length: 87\r\nAccept: a",
                   false,
                   true,
                   {"Accept: a", "Content-Length: 0"}},
        HeaderCase{"SmuggledLineRefused",
                   0,
                   "Accept: a\r\nX-A: b\nEvil: c\r\nBad Name: d",
                   false,
                   true,
                   {"Accept: a"}}),
    CaseName{});

TEST_F(HttpRequestTest, CookiePrefixIsRemovedFromTheCallersText) {
    LoopbackServer setter([](const RecordedRequest&) {
        return okReply("ok", {"Set-Cookie: c=3; path=/; HttpOnly"});
    });
    std::string cookies = "Cookie: a=1; b=2";
    std::string returned;
    HttpRequestOptions options;
    options.cookies = &cookies;
    options.returnedCookies = &returned;
    options.completeHeaders = false;
    HttpRequest::perform(setter.origin() + "/", options);

    const auto requests = setter.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_THAT(requests[0].headerLines, ::testing::Contains("Cookie: a=1; b=2"));
    EXPECT_EQ(cookies, "c=3; a=1; b=2");
    EXPECT_EQ(returned, cookies);
}

TEST_F(HttpRequestTest, SetCookieLinesAreMergedIntoTheCallersText) {
    LoopbackServer setter([](const RecordedRequest&) {
        return okReply("ok", {"Set-Cookie: b=3; path=/", "Content-Type: text/plain",
                              "Set-Cookie: X=deleted; expires=Thu, 01 Jan 1970 00:00:00 GMT",
                              "Set-Cookie: n=1"});
    });
    std::string cookies = "a=1; X=5; b=2";
    std::string returned = "untouched";
    std::string headers;
    int status = -1;
    HttpRequestOptions options;
    options.cookies = &cookies;
    options.returnedCookies = &returned;
    options.responseHeaders = &headers;
    options.status = &status;
    const HttpResponse response = HttpRequest::perform(setter.origin() + "/", options);

    EXPECT_EQ(cookies, "b=3; n=1; a=1");
    EXPECT_EQ(returned, "b=3; n=1; a=1");
    EXPECT_EQ(response.returnedCookies, returned);
    EXPECT_EQ(status, 200);
    EXPECT_EQ(headers, "Set-Cookie: b=3; path=/\r\nContent-Type: text/plain\r\n"
                       "Set-Cookie: X=deleted; expires=Thu, 01 Jan 1970 00:00:00 GMT\r\n"
                       "Set-Cookie: n=1\r\nContent-Length: 2");
    EXPECT_EQ(response.headers, headers);
}

TEST_F(HttpRequestTest, WithoutMergeTheTextStaysAndOnlyTheCollectedComeBack) {
    LoopbackServer setter(
        [](const RecordedRequest&) { return okReply("ok", {"Set-Cookie: b=3; path=/"}); });
    std::string cookies = " a=1;";
    std::string returned;
    HttpRequestOptions options;
    options.cookies = &cookies;
    options.returnedCookies = &returned;
    options.mergeCookies = false;
    HttpRequest::perform(setter.origin() + "/", options);
    EXPECT_EQ(cookies, " a=1;");
    EXPECT_EQ(returned, "b=3");
}

TEST_F(HttpRequestTest, AbsentCookiesSendNoCookieHeader) {
    HttpRequest::perform(server.origin() + "/");
    const RecordedRequest request = only();
    for (const std::string& line : request.headerLines)
        EXPECT_THAT(line, Not(HasSubstr("Cookie")));
}

TEST(HttpRedirects, AreFollowedUnlessForbidden) {
    LoopbackServer server([](const RecordedRequest& request) {
        if (request.requestLine.rfind("GET /start", 0) == 0 ||
            request.requestLine.rfind("POST /start", 0) == 0)
            return CannedReply{rawResponse(302, {"Location: /final", "Set-Cookie: hop=1"}, "")};
        return okReply("final body", {"Set-Cookie: end=2"});
    });

    std::string cookies = "a=1";
    HttpRequestOptions options;
    options.cookies = &cookies;
    options.method = 1;
    options.bodyText = "x=1";
    const HttpResponse followed = HttpRequest::perform(server.origin() + "/start", options);
    EXPECT_EQ(followed.status, 200);
    EXPECT_EQ(followed.body, "final body");
    EXPECT_EQ(followed.headers, "Set-Cookie: end=2\r\nContent-Length: 10");
    EXPECT_EQ(cookies, "end=2; a=1");
    auto requests = server.requests();
    ASSERT_EQ(requests.size(), 2u);
    // A 302 turns the POST into a GET, as browsers do, and the cookie goes
    // along to the same host.
    EXPECT_EQ(requests[1].requestLine, "GET /final HTTP/1.1");
    EXPECT_THAT(requests[1].headerLines, ::testing::Contains("Cookie: a=1"));

    options.noRedirect = true;
    options.method = 0;
    const HttpResponse held = HttpRequest::perform(server.origin() + "/start", options);
    EXPECT_EQ(held.status, 302);
    EXPECT_THAT(held.headers, HasSubstr("Location: /final"));
    EXPECT_EQ(cookies, "hop=1; end=2; a=1");
    EXPECT_EQ(server.requests().size(), 3u);
}

TEST(HttpRedirects, CookiesDoNotFollowToAnotherServer) {
    LoopbackServer elsewhere([](const RecordedRequest&) { return okReply("elsewhere"); });
    const std::string target = elsewhere.origin() + "/landing";
    LoopbackServer server([target](const RecordedRequest&) {
        return CannedReply{rawResponse(302, {"Location: " + target}, "")};
    });
    std::string cookies = "BDUSS=secret";
    HttpRequestOptions options;
    options.cookies = &cookies;
    const HttpResponse response = HttpRequest::perform(server.origin() + "/", options);
    EXPECT_EQ(response.body, "elsewhere");
    const auto landed = elsewhere.requests();
    ASSERT_EQ(landed.size(), 1u);
    for (const std::string& line : landed.front().headerLines)
        EXPECT_THAT(line, Not(HasSubstr("secret")));
}

TEST(HttpFailures, RefusedConnectionGivesEmptyResultAndRenormalisedCookies) {
    std::string cookies = " a=1; a=1; gone=deleted;";
    std::string headers = "stale";
    int status = -1;
    HttpRequestOptions options;
    options.cookies = &cookies;
    options.responseHeaders = &headers;
    options.status = &status;
    const HttpResponse response = HttpRequest::perform(
        "http://127.0.0.1:" + std::to_string(unusedLoopbackPort()) + "/", options);
    EXPECT_FALSE(response.outcome);
    EXPECT_THAT(response.body, IsEmpty());
    EXPECT_EQ(status, 0);
    EXPECT_EQ(headers, "");
    EXPECT_EQ(cookies, "a=1");
}

TEST(HttpFailures, SilentServerTimesOut) {
    LoopbackServer silent([](const RecordedRequest&) {
        CannedReply reply;
        reply.silent = true;
        return reply;
    });
    std::string cookies = "b=2; b=2";
    int status = -1;
    HttpRequestOptions options;
    options.cookies = &cookies;
    options.status = &status;
    options.timeoutSeconds = 1;
    const auto start = std::chrono::steady_clock::now();
    const HttpResponse response = HttpRequest::perform(silent.origin() + "/", options);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_FALSE(response.outcome);
    EXPECT_EQ(response.outcome.error().code, 28); // CURLE_OPERATION_TIMEDOUT
    EXPECT_THAT(response.body, IsEmpty());
    EXPECT_EQ(status, 0);
    EXPECT_EQ(cookies, "b=2");
    EXPECT_GE(elapsed, std::chrono::milliseconds(900));
    EXPECT_LT(elapsed, guard);
}

TEST(HttpFailures, BrokenResponseIsAFailureNotAShortBody) {
    LoopbackServer liar([](const RecordedRequest&) {
        return CannedReply{"HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nshort", {}, false, true};
    });
    const HttpResponse response = HttpRequest::perform(liar.origin() + "/");
    EXPECT_FALSE(response.outcome);
    EXPECT_THAT(response.body, IsEmpty());
    EXPECT_EQ(response.status, 0);
}

TEST(HttpCancel, StopsAnExchangeInFlightAtOnce) {
    LoopbackServer slow([](const RecordedRequest&) {
        CannedReply reply = okReply("late");
        reply.delay = std::chrono::seconds(10);
        return reply;
    });
    std::stop_source stop;
    std::string cookies = "a=1; a=1";
    HttpResponse response;
    std::chrono::steady_clock::time_point returned;
    std::thread worker([&] {
        HttpRequestOptions options;
        options.cookies = &cookies;
        options.stopToken = stop.get_token();
        response = HttpRequest::perform(slow.origin() + "/", options);
        returned = std::chrono::steady_clock::now();
    });
    ASSERT_TRUE(slow.waitForRequests(1, guard));
    const auto stopped = std::chrono::steady_clock::now();
    stop.request_stop();
    worker.join();

    EXPECT_LT(returned - stopped, std::chrono::milliseconds(200));
    EXPECT_FALSE(response.outcome);
    EXPECT_THAT(response.body, IsEmpty());
    EXPECT_EQ(response.status, 0);
    EXPECT_EQ(cookies, "a=1");
}

TEST(HttpCancel, AnAlreadyStoppedTokenSendsNothing) {
    LoopbackServer server([](const RecordedRequest&) { return okReply(); });
    std::stop_source stop;
    stop.request_stop();
    HttpRequestOptions options;
    options.stopToken = stop.get_token();
    EXPECT_FALSE(HttpRequest::perform(server.origin() + "/", options).outcome);
    EXPECT_EQ(server.connectionCount(), 0);
}

TEST(HttpClientReuse, KeepsOneConnectionAcrossRequests) {
    LoopbackServer server([](const RecordedRequest&) { return okReply(); });
    HttpClient client;
    ASSERT_TRUE(client.isValid());
    HttpRequestOptions options;
    options.client = &client;
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(HttpRequest::perform(server.origin() + "/", options).body, "ok");
    EXPECT_EQ(server.connectionCount(), 1);

    // Without a client every exchange starts afresh.
    HttpRequest::perform(server.origin() + "/");
    EXPECT_EQ(server.connectionCount(), 2);
}

TEST(HttpProxy, CredentialsGoToTheProxyAsBasic) {
    // The "proxy" is a loopback server; the URL's host is never contacted.
    LoopbackServer proxy([](const RecordedRequest&) { return okReply("via proxy"); });
    HttpRequestOptions options;
    options.proxy = proxy.origin();
    options.proxyUser = "user";
    options.proxyPassword = "pa:ss";
    options.completeHeaders = false;
    const HttpResponse response = HttpRequest::perform("http://127.0.0.2:9/x", options);
    EXPECT_EQ(response.body, "via proxy");
    const auto requests = proxy.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].requestLine, "GET http://127.0.0.2:9/x HTTP/1.1");
    EXPECT_THAT(requests[0].headerLines,
                ::testing::Contains("Proxy-Authorization: Basic " + base64Encode("user:pa:ss")));
    EXPECT_EQ(base64Encode("user:pa:ss"), "dXNlcjpwYTpzcw==");
}

TEST(HttpProxy, ServerCredentialsAnswerTheServersChallenge) {
    LoopbackServer proxy([](const RecordedRequest& request) {
        for (const std::string& line : request.headerLines)
            if (line == "Authorization: Basic " + base64Encode("user:pw"))
                return okReply("let in");
        return CannedReply{rawResponse(401, {"WWW-Authenticate: Basic realm=\"x\""}, "")};
    });
    HttpRequestOptions options;
    options.proxy = proxy.origin();
    options.proxyUser = "user";
    options.proxyPassword = "pw";
    options.credentialTarget = 0;
    const HttpResponse response = HttpRequest::perform("http://127.0.0.2:9/x", options);
    EXPECT_EQ(response.body, "let in");
    const auto requests = proxy.requests();
    ASSERT_EQ(requests.size(), 2u);
    for (const std::string& line : requests[0].headerLines)
        EXPECT_THAT(line, Not(HasSubstr("Authorization")));
}

TEST(HttpProxy, EnvironmentProxyIsIgnored) {
    LoopbackServer server([](const RecordedRequest&) { return okReply("direct"); });
    ::setenv("http_proxy", "http://127.0.0.1:1", 1);
    const HttpResponse response = HttpRequest::perform(server.origin() + "/");
    ::unsetenv("http_proxy");
    EXPECT_EQ(response.body, "direct");
}

TEST(Base64, MatchesRfc4648Vectors) {
    EXPECT_EQ(base64Encode(""), "");
    EXPECT_EQ(base64Encode("f"), "Zg==");
    EXPECT_EQ(base64Encode("fo"), "Zm8=");
    EXPECT_EQ(base64Encode("foo"), "Zm9v");
    EXPECT_EQ(base64Encode("foob"), "Zm9vYg==");
    EXPECT_EQ(base64Encode("fooba"), "Zm9vYmE=");
    EXPECT_EQ(base64Encode("foobar"), "Zm9vYmFy");
    EXPECT_EQ(base64Encode(std::string("\xFF\xFE\x00", 3)), "//4A");
}

TEST(NormaliseHeaderBlock, CapitalisesNameWordsOnly) {
    EXPECT_EQ(normaliseHeaderBlock("sec-ch-ua: \"a-b\"\r\naccept: x"),
              "Sec-Ch-Ua: \"a-b\"\r\nAccept: x");
    EXPECT_EQ(normaliseHeaderBlock("x-flag\r\n\r\n-a-: v\r\n1a: 2"), "-A-: v\r\n1a: 2");
    EXPECT_EQ(normaliseHeaderBlock("\r\nuser-agent: X"), "User-Agent: X");
    EXPECT_EQ(normaliseHeaderBlock(""), "");
}

// A self-signed certificate for 127.0.0.1, made for the test run.
class SelfSignedServer {
public:
    SelfSignedServer() {
        std::random_device seed;
        dir_ = std::filesystem::temp_directory_path() /
               ("vantorel-tls-" + std::to_string(seed()) + std::to_string(seed()));
        std::filesystem::create_directories(dir_);
        cert_ = (dir_ / "cert.pem").string();
        key_ = (dir_ / "key.pem").string();
        const std::string command =
            "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 "
            "-subj /CN=127.0.0.1 -addext subjectAltName=IP:127.0.0.1 -keyout '" +
            key_ + "' -out '" + cert_ + "' >/dev/null 2>&1";
        made_ = std::system(command.c_str()) == 0;
        if (!made_)
            return;
        server_ = std::make_unique<httplib::SSLServer>(cert_.c_str(), key_.c_str());
        server_->Get("/secret", [](const httplib::Request&, httplib::Response& res) {
            res.set_content("over tls", "text/plain");
        });
        port_ = server_->bind_to_any_port("127.0.0.1");
        thread_ = std::thread([this] { server_->listen_after_bind(); });
        // stop() only reaches a server that is already running.
        const auto deadline = std::chrono::steady_clock::now() + guard;
        while (!server_->is_running() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ~SelfSignedServer() {
        if (server_) {
            server_->stop();
            thread_.join();
        }
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }
    bool ready() const { return made_ && server_ && server_->is_valid() && port_ > 0; }
    std::string url() const { return "https://127.0.0.1:" + std::to_string(port_) + "/secret"; }
    const std::string& certFile() const { return cert_; }

private:
    std::filesystem::path dir_;
    std::string cert_;
    std::string key_;
    bool made_ = false;
    std::unique_ptr<httplib::SSLServer> server_;
    int port_ = 0;
    std::thread thread_;
};

TEST(HttpTls, UnknownAuthorityIsRefusedUnlessItsCaIsGiven) {
    SelfSignedServer server;
    ASSERT_TRUE(server.ready()) << "cannot make a certificate with the openssl command";

    std::string cookies = "BDUSS=secret";
    HttpRequestOptions options;
    options.cookies = &cookies;
    const HttpResponse refused = HttpRequest::perform(server.url(), options);
    EXPECT_FALSE(refused.outcome);
    EXPECT_EQ(refused.outcome.error().code, 60); // CURLE_PEER_FAILED_VERIFICATION
    EXPECT_THAT(refused.body, IsEmpty());
    EXPECT_EQ(refused.status, 0);

    options.caFile = server.certFile();
    const HttpResponse accepted = HttpRequest::perform(server.url(), options);
    ASSERT_TRUE(accepted.outcome) << accepted.outcome.error().message;
    EXPECT_EQ(accepted.body, "over tls");
    EXPECT_EQ(accepted.status, 200);
}

TEST(HttpTls, ReusedClientDoesNotCarryTheExtraCaOver) {
    SelfSignedServer server;
    ASSERT_TRUE(server.ready());
    HttpClient client;
    HttpRequestOptions options;
    options.client = &client;
    options.caFile = server.certFile();
    EXPECT_EQ(HttpRequest::perform(server.url(), options).body, "over tls");
    options.caFile.clear();
    EXPECT_FALSE(HttpRequest::perform(server.url(), options).outcome);
}

TEST(HttpTls, ResolveCaFileFromCommandLineOrEnvironment) {
    SelfSignedServer server;
    ASSERT_TRUE(server.ready());
    ::setenv("VANTOREL_CA_FILE", server.certFile().c_str(), 1);
    EXPECT_EQ(*resolveCaFile(std::nullopt), server.certFile());
    const auto missing = resolveCaFile("/nonexistent/ca.pem");
    ASSERT_FALSE(missing);
    EXPECT_THAT(missing.error().message, HasSubstr("--ca-file"));
    ::setenv("VANTOREL_CA_FILE", "/nonexistent/ca.pem", 1);
    EXPECT_FALSE(resolveCaFile(std::nullopt));
    ::unsetenv("VANTOREL_CA_FILE");
    EXPECT_EQ(*resolveCaFile(std::nullopt), "");
}

TEST(HttpTls, MissingCaFileIsAReportedFailure) {
    SelfSignedServer server;
    ASSERT_TRUE(server.ready());
    HttpRequestOptions options;
    options.caFile = "/nonexistent/ca.pem";
    const HttpResponse response = HttpRequest::perform(server.url(), options);
    ASSERT_FALSE(response.outcome);
    EXPECT_THAT(response.outcome.error().message, HasSubstr("/nonexistent/ca.pem"));
}

} // namespace
