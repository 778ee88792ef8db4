#include "netdisk/login_tokens.h"

#include "base/codecs.h"
#include "base/json_document.h"
#include "base/text.h"
#include "netdisk/page_text.h"
#include "netdisk/request_text.h"
#include "netdisk/service_headers.h"

#include <optional>

namespace vantorel {
namespace {

constexpr int kMaxRedirects = 10;

// The Location of a redirect, or nothing when the response is none.
std::optional<std::string> redirectTarget(const HttpResponse& response) {
    if (response.status < 300 || response.status > 399)
        return std::nullopt;
    for (const std::string& line : splitText(response.headers, "\r\n")) {
        const std::size_t colon = line.find(':');
        if (colon != std::string::npos &&
            equalsIgnoreCase(trimBlanks(std::string_view(line).substr(0, colon)), "Location"))
            return std::string(trimBlanks(std::string_view(line).substr(colon + 1)));
    }
    return std::nullopt;
}

// `location` made absolute against `current`; nothing when it leaves the
// origin (another scheme, host or port) or cannot be read.
std::optional<std::string> sameOriginUrl(const ServiceOrigin& origin, std::string_view current,
                                         std::string_view location) {
    if (startsWith(location, "//"))
        return std::nullopt; // another host, whatever it names
    if (startsWith(location, "/"))
        return origin.url(location);
    const std::size_t scheme = location.find("://");
    if (scheme == std::string_view::npos) {
        // Relative to the folder of the current address.
        const std::size_t pathStart = current.find('/', current.find("://") + 3);
        std::string_view path =
            pathStart == std::string_view::npos ? "/" : current.substr(pathStart);
        path = path.substr(0, path.find_first_of("?#"));
        const std::string base(path.substr(0, path.rfind('/') + 1));
        return origin.url(base + std::string(location));
    }
    const std::size_t authorityEnd = location.find_first_of("/?#", scheme + 3);
    const auto target = ServiceOrigin::parse(location.substr(0, authorityEnd));
    if (!target || !(*target == origin))
        return std::nullopt;
    return std::string(location);
}

struct HomePage {
    std::string body;
    bool leftOrigin = false; // redirected to another host: not logged in
    Status fetched;
};

HomePage fetchHomePage(const ConnectionSettings& connection, std::string& cookieText,
                       std::stop_token stop) {
    HomePage page;
    std::string url = homePageUrl(connection.origin);
    for (int hop = 0;; ++hop) {
        const HttpResponse response = HttpRequest::perform(
            url, serviceRequestOptions(connection, cookieText, homePageHeaders(connection.origin),
                                       stop));
        if (!response.outcome) {
            page.fetched = Error{"cannot reach " + connection.origin.text() + ": " +
                                     response.outcome.error().message,
                                 response.outcome.error().code};
            return page;
        }
        if (const auto location = redirectTarget(response)) {
            auto next = sameOriginUrl(connection.origin, url, *location);
            if (!next) {
                page.leftOrigin = true;
                return page;
            }
            if (hop == kMaxRedirects) {
                page.fetched =
                    Error{connection.origin.text() + " redirected the home page more than " +
                          std::to_string(kMaxRedirects) + " times"};
                return page;
            }
            url = std::move(*next);
            continue;
        }
        if (response.status >= 400) {
            page.fetched =
                Error{connection.origin.text() + " answered the home page with HTTP status " +
                          std::to_string(response.status),
                      response.status};
            return page;
        }
        page.body = utf8ToLocal(response.body);
        return page;
    }
}

enum class TokenAnswer { Answered, LoggedOut, Nothing };

// One token request. Its reply is read into `reply`; a route the service
// does not offer (an error status, no JSON, another errno) gives nothing.
TokenAnswer askTokens(const ConnectionSettings& connection, std::string& cookieText,
                      const std::string& url, std::stop_token stop, JsonDocument& reply,
                      Status& fetched) {
    const HttpResponse response = HttpRequest::perform(
        url, serviceRequestOptions(connection, cookieText, webApiHeaders(connection.origin), stop));
    if (!response.outcome) {
        // A service that cannot be reached says nothing about the login.
        fetched = Error{"cannot reach " + connection.origin.text() + ": " +
                            response.outcome.error().message,
                        response.outcome.error().code};
        return TokenAnswer::Nothing;
    }
    if (response.status >= 300 || !reply.parse(response.body))
        return TokenAnswer::Nothing;
    const std::string errnoText = reply.getText("errno");
    if (errnoText == "-6")
        return TokenAnswer::LoggedOut;
    return errnoText == "0" ? TokenAnswer::Answered : TokenAnswer::Nothing;
}

} // namespace

HomePageTokens readHomePageTokens(std::string_view page) {
    HomePageTokens tokens;
    if (const std::string_view object = inlineSettingsObject(page); !object.empty()) {
        JsonDocument settings;
        if (settings.parse(object)) {
            tokens.userName = settings.getText("username");
            tokens.bdstoken = settings.getText("bdstoken");
        }
    }
    // The service has moved this object before; the token itself is easy to
    // recognise wherever it stands.
    if (tokens.bdstoken.empty()) {
        if (std::string token = findQuotedValue(page, "bdstoken"); looksLikeBdstoken(token))
            tokens.bdstoken = std::move(token);
    }
    if (tokens.userName.empty())
        tokens.userName = findQuotedValue(page, "username");
    return tokens;
}

HomePageTokens fetchHomePageTokens(const ConnectionSettings& connection, std::string& cookieText,
                                   std::stop_token stop) {
    const HomePage page = fetchHomePage(connection, cookieText, stop);
    if (!page.fetched || page.leftOrigin) {
        HomePageTokens none;
        none.fetched = page.fetched;
        return none;
    }
    HomePageTokens tokens = readHomePageTokens(page.body);

    const auto loggedOut = [&tokens] {
        tokens.userName.clear();
        tokens.bdstoken.clear();
        return tokens;
    };
    if (tokens.bdstoken.empty()) {
        JsonDocument reply;
        switch (askTokens(connection, cookieText, templateVariableUrl(connection.origin.text()),
                          stop, reply, tokens.fetched)) {
        case TokenAnswer::LoggedOut:
            return loggedOut();
        case TokenAnswer::Answered:
            tokens.bdstoken = utf8ToLocal(reply.getText("result.bdstoken"));
            break;
        case TokenAnswer::Nothing:
            break;
        }
        if (!tokens.fetched)
            return tokens;
    }
    if (tokens.userName.empty()) {
        JsonDocument reply;
        switch (askTokens(connection, cookieText, loginStatusUrl(connection.origin.text()), stop,
                          reply, tokens.fetched)) {
        case TokenAnswer::LoggedOut:
            return loggedOut();
        case TokenAnswer::Answered:
            tokens.userName = utf8ToLocal(reply.getText("login_info.username"));
            if (tokens.bdstoken.empty())
                tokens.bdstoken = utf8ToLocal(reply.getText("login_info.bdstoken"));
            break;
        case TokenAnswer::Nothing:
            break;
        }
    }
    return tokens;
}

LoginContext gatherLoginContext(BrowserSource& browser, const ConnectionSettings& connection,
                                std::stop_token stop, Status* homePage) {
    LoginContext login;
    login.cookieText = browser.cookieText();
    HomePageTokens tokens = fetchHomePageTokens(connection, login.cookieText, std::move(stop));
    if (homePage != nullptr)
        *homePage = tokens.fetched;
    login.userName = std::move(tokens.userName);
    login.bdstoken = std::move(tokens.bdstoken);
    login.currentPath = currentPathFromUrl(browser.currentUrl());
    login.selectionJson = browser.runPageScript(selectionPageScript);
    return login;
}

} // namespace vantorel
