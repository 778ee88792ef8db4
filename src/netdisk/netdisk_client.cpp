#include "netdisk/netdisk_client.h"

#include "base/codecs.h"
#include "base/json_document.h"
#include "base/text.h"
#include "base/time_text.h"
#include "base/wait.h"
#include "netdisk/page_text.h"
#include "netdisk/request_text.h"
#include "netdisk/service_headers.h"
#include "netdisk/share_refusals.h"

#include <algorithm>

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
                             std::stop_token stop, RenamePolling polling)
    : connection_(std::move(connection)), login_(login), stop_(std::move(stop)), polling_(polling) {
}

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

namespace {

// The errno of a reply: nothing when it has none that reads as an integer.
std::optional<int> replyErrno(const JsonDocument& reply) {
    const std::string text = reply.getText("errno");
    if (text.empty() || text.find_first_not_of("-0123456789") != std::string::npos)
        return std::nullopt;
    return static_cast<int>(textToInt64(text));
}

ShareReply noVerdict(std::string reason) {
    ShareReply reply;
    reply.outcome = ShareOutcome::NoVerdict;
    reply.reason = std::move(reason);
    return reply;
}

} // namespace

ShareReply NetdiskClient::createShareLink(std::string_view period, std::string_view code,
                                          std::string_view fsId) {
    const HttpResponse response =
        post(shareUrl(connection_.origin.text(), login_.bdstoken), shareBody(period, code, fsId));
    if (!response.outcome && stop_.stop_requested())
        return noVerdict("已停止"); // abandoned: whether the link exists is unknown
    if (std::string failure = exchangeFailure(response); !failure.empty())
        return noVerdict(std::move(failure));

    JsonDocument answer;
    if (!answer.parse(response.body))
        return noVerdict("服务的回答不是 JSON");
    const std::optional<int> errnoValue = replyErrno(answer);
    if (!errnoValue)
        return noVerdict("服务的回答中没有 errno");

    ShareReply reply;
    reply.errnoValue = errnoValue;
    if (*errnoValue == 0) {
        reply.link = answer.getText("link");
        // The service said yes without saying where: the share may exist,
        // so the item is neither recorded nor refused.
        if (reply.link.empty()) {
            reply.outcome = ShareOutcome::NoVerdict;
            reply.reason = "服务确认了分享, 却没有给出链接";
            return reply;
        }
        reply.outcome = ShareOutcome::Shared;
        reply.shareTime = unixTimeToText(answer.getText("ctime"), ClockMode::TwentyFourHour);
        hasShared_ = true;
        return reply;
    }
    const Refusal refusal = classifyShareRefusal(*errnoValue, hasShared_);
    reply.outcome =
        refusal.scope == RefusalScope::Run ? ShareOutcome::RunRefused : ShareOutcome::ItemRefused;
    reply.reason = std::string(refusal.reason);
    reply.advice = std::string(refusal.advice);
    return reply;
}

std::optional<RenameReply> NetdiskClient::awaitRenameTask(const std::string& taskId) {
    const auto deadline = std::chrono::steady_clock::now() + polling_.limit;
    const std::string url = taskQueryUrl(connection_.origin.text(), taskId);
    while (true) {
        if (waitFor(stop_, polling_.interval) == WaitResult::Stopped)
            return std::nullopt;
        const HttpResponse response = HttpRequest::perform(
            url, serviceRequestOptions(connection_, login_.cookieText,
                                       webApiHeaders(connection_.origin), stop_, &client_));
        JsonDocument answer;
        if (response.outcome && response.status < 400 && answer.parse(response.body) &&
            replyErrno(answer) == 0) {
            const std::string status = answer.getText("status");
            if (status == "success")
                return RenameReply{.renamed = true, .errnoValue = 0};
            if (status == "failed")
                return RenameReply{.renamed = false,
                                   .errnoValue =
                                       static_cast<int>(textToInt64(answer.getText("task_errno")))};
        }
        // Running, or an answer that says nothing: asked again until the
        // limit, for the rename may still end either way.
        if (std::chrono::steady_clock::now() + polling_.interval > deadline)
            return std::nullopt;
    }
}

RenameReply NetdiskClient::renameItem(std::string_view path, std::string_view newName) {
    const HttpResponse response =
        post(renameUrl(connection_.origin.text(), login_.bdstoken), renameBody(path, newName));
    RenameReply reply;
    JsonDocument answer;
    if (!response.outcome || response.status >= 400 || !answer.parse(response.body))
        return reply;
    reply.errnoValue = replyErrno(answer);
    if (reply.errnoValue != 0)
        return reply;
    // With async=2 the service may only have accepted the rename; its task
    // tells how it ended.
    if (const std::string task = answer.getText("taskid"); !task.empty() && task != "0") {
        if (std::optional<RenameReply> ended = awaitRenameTask(task))
            return *ended;
        return RenameReply{.renamed = false, .errnoValue = std::nullopt};
    }
    reply.renamed = true;
    return reply;
}

Expected<SharePage> NetdiskClient::fetchSharePage(int page) {
    const HttpResponse response = HttpRequest::perform(
        shareRecordUrl(connection_.origin.text(), login_.bdstoken, page),
        serviceRequestOptions(connection_, login_.cookieText, webApiHeaders(connection_.origin),
                              stop_, &client_));
    if (std::string failure = exchangeFailure(response); !failure.empty())
        return Error{"分享列表: " + failure, response.status};
    return decodeSharePage(response.body);
}

Expected<ShareListWalk> NetdiskClient::listShares(const SharePageSink& onPage) {
    return walkSharePages([this](int page) { return fetchSharePage(page); }, onPage, stop_);
}

Status NetdiskClient::cancelShares(std::span<const std::int64_t> shareIds,
                                   const CancelledBatchSink& onCancelled) {
    const std::string url = shareCancelUrl(connection_.origin.text(), login_.bdstoken);
    for (std::size_t from = 0; from < shareIds.size(); from += kCancelBatchSize) {
        if (stop_.stop_requested())
            return Error{"已停止"};
        const std::span<const std::int64_t> batch =
            shareIds.subspan(from, std::min(kCancelBatchSize, shareIds.size() - from));
        const HttpResponse response = post(url, shareCancelBody(batch));
        if (std::string failure = exchangeFailure(response); !failure.empty())
            return Error{"取消分享: " + failure, response.status};
        if (Status accepted = decodeCancelReply(response.body); !accepted)
            return accepted;
        if (onCancelled)
            onCancelled(batch);
    }
    return {};
}

Expected<std::vector<ServiceShare>> NetdiskClient::findSharesSince(std::int64_t since) {
    std::vector<ServiceShare> found;
    Expected<ShareListWalk> walked = listShares([&](const SharePage& page, int) {
        bool older = false;
        for (const ServiceShare& share : page.shares) { // newest first
            if (share.ctime < since)
                older = true;
            else if (!share.fsIds.empty())
                found.push_back(share);
        }
        return older ? PageVerdict::Enough : PageVerdict::Continue;
    });
    if (!walked)
        return Error{"无法读取分享列表: " + walked.error().message, walked.error().code};
    if (walked->stopped)
        return Error{"已停止"};
    return found;
}

std::chrono::milliseconds NetdiskClient::inFlightLimit() const {
    return std::chrono::milliseconds(
        2 * effectiveTimeoutMs(connection_.timeoutSeconds).value_or(15000L));
}

} // namespace vantorel
