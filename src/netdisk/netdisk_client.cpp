#include "netdisk/netdisk_client.h"

#include "base/codecs.h"
#include "base/json_document.h"
#include "base/text.h"
#include "base/time_text.h"
#include "netdisk/page_text.h"
#include "netdisk/request_text.h"

namespace vantorel {

namespace {

// What a listing errno means, for the message that names the folder.
std::string listingErrnoReason(const std::string& errnoText) {
    if (errnoText == "-9")
        return "errno -9: 文件夹不存在";
    if (errnoText == "-6")
        return "errno -6: 登录已失效,请重新登录";
    if (errnoText == "-7")
        return "errno -7: 文件夹名非法";
    return "errno " + errnoText;
}

} // namespace

Expected<ListingPage> decodeListingReply(std::string_view body) {
    JsonDocument reply;
    if (!reply.parse(utf8ToLocal(body)))
        return Error{"服务的回答不是 JSON"};
    // Replies of the old service did not always carry an errno; one that
    // does and is not 0 is a refusal, whatever else it holds.
    if (const std::string errnoText = reply.getText("errno");
        !errnoText.empty() && errnoText != "0")
        return Error{listingErrnoReason(errnoText), static_cast<int>(textToInt64(errnoText))};
    if (reply.typeOf("list") != JsonDocument::kTypeArray)
        return Error{"服务的回答中没有文件列表"};
    ListingPage page;
    Listing& listing = page.entries;
    const int n = reply.count("list");
    page.members = static_cast<std::size_t>(n);
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
    return page;
}

NetdiskClient::NetdiskClient(ConnectionSettings connection, LoginContext& login,
                             std::stop_token stop)
    : connection_(std::move(connection)), login_(login), stop_(std::move(stop)) {}

Expected<ListingPage> NetdiskClient::fetchListingPage(std::string_view dir, int page) {
    const HttpResponse response = HttpRequest::perform(
        listingUrl(connection_.origin.text(), dir, login_.bdstoken, page),
        serviceRequestOptions(connection_, login_.cookieText, listingHeaders(), stop_, &client_));
    if (std::string failure = exchangeFailure(response); !failure.empty())
        return Error{std::move(failure), response.status};
    return decodeListingReply(response.body);
}

Expected<Listing> NetdiskClient::fetchListing(std::string_view dir) {
    return collectListingPages([&](int page) { return fetchListingPage(dir, page); },
                               kListingPageSize);
}

HttpResponse NetdiskClient::post(const std::string& url, std::string body) {
    HttpRequestOptions options = serviceRequestOptions(
        connection_, login_.cookieText, webApiHeaders(connection_.origin), stop_, &client_);
    options.method = static_cast<int>(HttpMethod::Post);
    options.bodyText = std::move(body);
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
