#include "netdisk/netdisk_client.h"

#include "base/codecs.h"
#include "base/json_document.h"
#include "base/text.h"
#include "base/time_text.h"
#include "netdisk/page_text.h"
#include "netdisk/request_text.h"

namespace vantorel {

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
    HttpRequestOptions options;
    options.cookies = &cookieText;
    options.extraHeaders = homePageHeaders(connection.origin);
    options.caFile = connection.caFile;
    options.timeoutSeconds = connection.timeoutSeconds;
    options.stopToken = std::move(stop);
    const HttpResponse response = HttpRequest::perform(connection.origin.homePageUrl(), options);
    HomePageTokens tokens = readHomePageTokens(utf8ToLocal(response.body));
    if (!response.outcome)
        tokens.fetched = Error{"cannot reach " + connection.origin.text() + ": " +
                                   response.outcome.error().message,
                               response.outcome.error().code};
    else if (response.status >= 400)
        tokens.fetched =
            Error{connection.origin.text() + " answered the home page with HTTP status " +
                      std::to_string(response.status),
                  response.status};
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

Listing decodeListingReply(std::string_view body) {
    Listing listing;
    JsonDocument reply;
    if (!reply.parse(utf8ToLocal(body)))
        return listing;
    const int n = reply.count("list");
    for (int i = 0; i < n; ++i) {
        const std::string at = "list[" + std::to_string(i) + "].";
        const std::string isdir = reply.getText(at + "isdir");
        if (isdir != "1" && isdir != "0")
            continue;
        ListEntry entry;
        entry.path = reply.getText(at + "path");
        entry.server_filename = reply.getText(at + "server_filename");
        entry.local_ctime = reply.getText(at + "local_ctime");
        entry.fs_id = reply.getText(at + "fs_id");
        if (isdir == "1") {
            listing.folders.push_back(std::move(entry));
            continue;
        }
        entry.thumbs_url3 = reply.getText(at + "thumbs.url3");
        entry.md5 = reply.getText(at + "md5");
        entry.size = formatSizeText(textToInt64(reply.getText(at + "size")));
        listing.files.push_back(std::move(entry));
    }
    return listing;
}

NetdiskClient::NetdiskClient(ConnectionSettings connection, LoginContext& login,
                             std::stop_token stop)
    : connection_(std::move(connection)), login_(login), stop_(std::move(stop)) {}

Listing NetdiskClient::fetchListing(std::string_view dir) {
    HttpRequestOptions options;
    options.cookies = &login_.cookieText;
    options.extraHeaders = listingHeaders();
    options.client = &client_;
    options.caFile = connection_.caFile;
    options.timeoutSeconds = connection_.timeoutSeconds;
    options.stopToken = stop_;
    const HttpResponse response =
        HttpRequest::perform(listingUrl(connection_.origin.text(), dir, login_.bdstoken), options);

    return decodeListingReply(response.body);
}

HttpResponse NetdiskClient::post(const std::string& url, std::string body) {
    HttpRequestOptions options;
    options.method = static_cast<int>(HttpMethod::Post);
    options.bodyText = std::move(body);
    options.cookies = &login_.cookieText;
    options.extraHeaders = webApiHeaders(connection_.origin);
    options.client = &client_;
    options.caFile = connection_.caFile;
    options.timeoutSeconds = connection_.timeoutSeconds;
    options.stopToken = stop_;
    return HttpRequest::perform(url, options);
}

ShareReply NetdiskClient::createShareLink(std::string_view period, std::string_view code,
                                          std::string_view fsId) {
    const HttpResponse response =
        post(shareUrl(connection_.origin.text(), login_.bdstoken), shareBody(period, code, fsId));
    ShareReply reply;
    if (!response.outcome && stop_.stop_requested())
        return reply; // abandoned: whether the link exists is unknown

    JsonDocument answer;
    answer.parse(response.body);
    reply.errnoText = answer.getText("errno");
    reply.verdict = !reply.errnoText.empty();
    if (reply.errnoText == "0") {
        reply.text =
            answer.getText("link") + "," + unixTimeToText(answer.getText("ctime"), kClock24Hour);
        return reply;
    }
    reply.text = std::string(kShareFailedText);
    return reply;
}

RenameReply NetdiskClient::renameItem(std::string_view path, std::string_view newName) {
    const HttpResponse response =
        post(renameUrl(connection_.origin.text(), login_.bdstoken), renameBody(path, newName));
    RenameReply reply;
    JsonDocument answer;
    if (answer.parse(response.body))
        reply.errnoText = answer.getText("errno");
    reply.renamed = reply.errnoText == "0";
    return reply;
}

} // namespace vantorel
