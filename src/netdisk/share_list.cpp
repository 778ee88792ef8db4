#include "netdisk/share_list.h"

#include "base/codecs.h"
#include "base/json_document.h"
#include "base/text.h"

#include <optional>
#include <unordered_set>

namespace vantorel {
namespace {

bool isIntegerText(std::string_view text) {
    if (!text.empty() && text.front() == '-')
        text.remove_prefix(1);
    return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
}

// A number the service may write bare or as a digit string.
bool readInteger(const JsonDocument& reply, const std::string& path, std::int64_t& out) {
    const int type = reply.typeOf(path);
    if (type != JsonDocument::kTypeNumber && type != JsonDocument::kTypeString)
        return false;
    const std::string text = reply.getText(path);
    if (!isIntegerText(text))
        return false;
    out = textToInt64(text);
    return true;
}

std::int64_t integerOr(const JsonDocument& reply, const std::string& path, std::int64_t fallback) {
    std::int64_t value = fallback;
    return readInteger(reply, path, value) ? value : fallback;
}

std::string serviceErrnoReason(std::string_view what, const std::string& errnoText) {
    if (errnoText == "-6")
        return std::string(what) + ": errno -6: 登录已失效,请重新登录";
    return std::string(what) + ": errno " + errnoText;
}

// The reply's errno when it has one other than 0.
std::optional<Error> refusal(const JsonDocument& reply, std::string_view what) {
    const std::string errnoText = reply.getText("errno");
    if (errnoText.empty() || errnoText == "0")
        return std::nullopt;
    return Error{serviceErrnoReason(what, errnoText), static_cast<int>(textToInt64(errnoText))};
}

ServiceShare readShare(const JsonDocument& reply, const std::string& at) {
    ServiceShare share;
    std::int64_t status = 0;
    std::int64_t expiredType = 0;
    const bool hasStatus = readInteger(reply, at + "status", status);
    const bool hasExpiry = readInteger(reply, at + "expiredType", expiredType);
    share.status = static_cast<int>(status);
    share.expiredType = static_cast<int>(expiredType);
    share.link = utf8ToLocal(reply.getText(at + "shortlink"));
    const std::string fsIdsPath = at + "fsIds";
    const int fsIdCount = reply.count(fsIdsPath);
    share.fsIds.reserve(static_cast<std::size_t>(fsIdCount));
    for (int k = 0; k < fsIdCount; ++k) {
        std::string id = reply.getText(fsIdsPath + "[" + std::to_string(k) + "]");
        if (isIntegerText(id))
            share.fsIds.push_back(std::move(id));
    }
    share.isPublic = static_cast<int>(integerOr(reply, at + "public", 0));
    share.typicalPath = utf8ToLocal(reply.getText(at + "typicalPath"));
    share.secondsLeft = integerOr(reply, at + "expiredTime", 0);
    share.views = integerOr(reply, at + "vCnt", 0);
    share.downloads = integerOr(reply, at + "dCnt", 0);
    share.saves = integerOr(reply, at + "tCnt", 0);
    share.ctime = integerOr(reply, at + "ctime", 0);
    share.complete = hasStatus && hasExpiry && (!share.link.empty() || !share.fsIds.empty());
    return share;
}

} // namespace

Expected<SharePage> decodeSharePage(std::string_view body) {
    JsonDocument reply;
    if (!reply.parse(body) || reply.typeOf("") != JsonDocument::kTypeObject)
        return Error{"分享列表: 服务的回答不是 JSON"};
    if (std::optional<Error> refused = refusal(reply, "分享列表"))
        return *refused;
    SharePage page;
    // An empty list comes as {}, as "list":{} or as "list":[]; only an
    // array has members.
    if (reply.typeOf("list") != JsonDocument::kTypeArray)
        return page;
    const int n = reply.count("list");
    page.members = static_cast<std::size_t>(n);
    page.shares.reserve(page.members);
    for (int i = 0; i < n; ++i) {
        const std::string at = "list[" + std::to_string(i) + "].";
        std::int64_t shareId = 0;
        if (!readInteger(reply, at + "shareId", shareId) || shareId <= 0) {
            ++page.unreadable;
            continue;
        }
        ServiceShare share = readShare(reply, at);
        share.shareId = shareId;
        page.shares.push_back(std::move(share));
    }
    return page;
}

std::string shareRecordUrl(std::string_view origin, std::string_view bdstoken, int page) {
    std::string url(origin);
    url += "/share/record?page=";
    url += std::to_string(page);
    url += "&num=";
    url += std::to_string(kSharePageSize);
    url += "&desc=1&order=time&clienttype=0&app_id=250528&web=1&bdstoken=";
    url += bdstoken;
    return url;
}

std::string shareCancelUrl(std::string_view origin, std::string_view bdstoken) {
    std::string url(origin);
    url += "/share/cancel?channel=chunlei&clienttype=0&app_id=250528&web=1&bdstoken=";
    url += bdstoken;
    return url;
}

std::string shareCancelBody(std::span<const std::int64_t> shareIds) {
    std::string body = "shareid_list=%5B";
    for (std::size_t i = 0; i < shareIds.size(); ++i) {
        if (i > 0)
            body += "%2C";
        body += std::to_string(shareIds[i]);
    }
    body += "%5D";
    return body;
}

Status decodeCancelReply(std::string_view body) {
    JsonDocument reply;
    if (!reply.parse(body) || reply.typeOf("") != JsonDocument::kTypeObject)
        return Error{"取消分享: 服务的回答不是 JSON"};
    if (std::optional<Error> refused = refusal(reply, "取消分享"))
        return *refused;
    if (reply.getText("errno").empty())
        return Error{"取消分享: 服务的回答中没有 errno"};
    return {};
}

Expected<ShareListWalk> walkSharePages(const SharePageSource& fetchPage,
                                       const SharePageSink& onPage, std::stop_token stop) {
    ShareListWalk walk;
    std::unordered_set<std::int64_t> seen;
    for (int number = 1; number <= kSharePageLimit; ++number) {
        if (stop.stop_requested()) {
            walk.stopped = true;
            return walk;
        }
        Expected<SharePage> page = fetchPage(number);
        if (!page) {
            if (stop.stop_requested()) {
                walk.stopped = true;
                return walk;
            }
            return Error{page.error().message + " (第 " + std::to_string(number) + " 页)",
                         page.error().code};
        }
        std::size_t fresh = 0;
        for (const ServiceShare& share : page->shares)
            fresh += seen.insert(share.shareId).second ? 1 : 0;
        if (fresh == 0 && !page->shares.empty())
            return Error{"分享列表: 服务把第 " + std::to_string(number - 1) +
                         " 页又给了一次, 列表不完整"};
        ++walk.pages;
        walk.shares += page->shares.size();
        walk.unreadable += page->unreadable;
        const PageVerdict verdict = onPage(*page, number);
        if (page->members < static_cast<std::size_t>(kSharePageSize)) {
            walk.complete = true;
            return walk;
        }
        if (verdict == PageVerdict::Enough) {
            walk.enough = true;
            return walk;
        }
    }
    return walk;
}

} // namespace vantorel
