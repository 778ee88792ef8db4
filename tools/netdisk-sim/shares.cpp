// The account's shares after /share/set made them: the share list
// (/share/record), cancelling (/share/cancel) and the share pages (/s/...).

#include "call.h"
#include "json_util.h"

#include <algorithm>

namespace netdisk_sim {

namespace {

// The service hands out at most this many shares a page, whatever `num` asks.
constexpr std::int64_t kRecordPageCap = 100;
// At most this many shareids in one cancel request.
constexpr std::size_t kCancelCap = 100;

} // namespace

std::string shareCode(std::uint64_t shareId) {
    static constexpr char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
    std::uint64_t state = shareId * 0x9E3779B97F4A7C15ULL + 0x51A7E;
    std::string code = "1";
    for (int i = 0; i < 22; ++i) {
        state ^= state >> 29;
        state *= 0xBF58476D1CE4E5B9ULL;
        state ^= state >> 32;
        code.push_back(kAlphabet[state % 64]);
    }
    return code;
}

const Service::Share& Service::addShareLocked(Share share) {
    share.shareId = nextShareId_;
    nextShareId_ += 13;
    share.code = shareCode(share.shareId);
    share.link = origin_ + "/s/" + share.code;
    share.ctime = nowLocked();
    const std::size_t index = shares_.size();
    shares_.push_back(std::move(share));
    const Share& added = shares_.back();
    shareById_.emplace(added.shareId, index);
    shareByCode_.emplace(added.code, index);
    // A new share has the highest shareid, so it goes after every share of
    // its second; only a clock set back puts it anywhere but the end.
    if (shareOrder_.empty() || shares_[shareOrder_.back()].ctime <= added.ctime) {
        shareOrder_.push_back(index);
    } else {
        const auto at = std::upper_bound(
            shareOrder_.begin(), shareOrder_.end(), added.ctime,
            [this](std::int64_t ctime, std::size_t i) { return ctime < shares_[i].ctime; });
        shareOrder_.insert(at, index);
    }
    return added;
}

Service::Share* Service::findShareLocked(std::uint64_t shareId) {
    const auto it = shareById_.find(shareId);
    return it == shareById_.end() ? nullptr : &shares_[it->second];
}

void Service::cancelSharesLocked(const std::vector<std::uint64_t>& ids) {
    bool any = false;
    for (const std::uint64_t id : ids) {
        Share* share = findShareLocked(id);
        if (share != nullptr && !share->cancelled) {
            share->cancelled = true;
            any = true;
        }
    }
    // One pass per request, not one per share: cancelling a long list in
    // requests of 100 stays linear.
    if (any) {
        shareOrder_.erase(std::remove_if(shareOrder_.begin(), shareOrder_.end(),
                                         [this](std::size_t i) { return shares_[i].cancelled; }),
                          shareOrder_.end());
    }
}

void Service::writeShareRecord(JsonWriter& w, const Share& share, std::int64_t now,
                               int variant) const {
    // The share list names the first item by where it is now.
    const Entry* first = share.fsIds.empty() ? nullptr : tree_.findId(share.fsIds.front());
    w.StartObject();
    putKey(w, "shareId");
    if (variant == 2) {
        putString(w, std::to_string(share.shareId));
    } else {
        w.Uint64(share.shareId);
    }
    if (variant != 3) {
        putKey(w, "fsIds");
        w.StartArray();
        for (const std::uint64_t id : share.fsIds) {
            w.Uint64(id);
        }
        w.EndArray();
    }
    putKey(w, "channel");
    w.Int(share.pwd.empty() ? 0 : 4);
    if (variant != 1) {
        putKey(w, "shortlink");
        putString(w, share.link);
    }
    if (variant != 5) {
        putKey(w, "status");
        w.Int(share.status);
    }
    putKey(w, "public");
    w.Int(share.pwd.empty() ? 1 : 0);
    putKey(w, "typicalCategory");
    w.Int(first != nullptr ? first->category : 6);
    putKey(w, "typicalPath");
    putString(w, first != nullptr ? first->path
                                  : (share.paths.empty() ? std::string() : share.paths.front()));
    putKey(w, "expiredType");
    const int type = share.expiredAt(now) ? -1 : share.period;
    if (variant == 4) {
        putString(w, std::to_string(type));
    } else {
        w.Int(type);
    }
    putKey(w, "expiredTime");
    w.Int64(share.secondsLeftAt(now));
    putKey(w, "vCnt");
    w.Int64(share.views);
    putKey(w, "dCnt");
    w.Int64(share.downloads);
    putKey(w, "tCnt");
    w.Int64(share.saves);
    putKey(w, "ctime");
    w.Int64(share.ctime);
    w.EndObject();
}

// GET /share/record?page=N&num=M&desc=1&order=time: one page of the share
// list, newest first.
void Service::shareRecordHandler(Call& call) {
    if (!admitted(call))
        return;
    std::int64_t page = std::max<std::int64_t>(1, parseInt64(call.queryValue("page")).value_or(1));
    if (call.plan.repeatPage && page > 1) {
        --page;
    }
    const std::int64_t num = std::clamp<std::int64_t>(
        parseInt64(call.queryValue("num")).value_or(kRecordPageCap), 1, kRecordPageCap);
    const bool newestFirst = call.queryValue("desc") == "1";
    const std::uint64_t rid = requestId();

    std::string json;
    {
        const std::lock_guard lock(mutex_);
        const std::int64_t now = nowLocked();
        const auto size = static_cast<std::int64_t>(shareOrder_.size());
        // page - 1 beyond the size is past the end whatever num is, and
        // keeps the product below from overflowing.
        const std::int64_t begin = page - 1 > size ? size : (page - 1) * num;
        const std::int64_t end = std::min(size, begin + num);
        if (begin >= end && emptySharePage_ == "bare") {
            json = "{}";
        } else {
            rapidjson::StringBuffer buffer;
            JsonWriter w(buffer);
            w.StartObject();
            putKey(w, "errno");
            w.Int(0);
            putKey(w, "list");
            if (begin >= end && emptySharePage_ == "object") {
                w.StartObject();
                w.EndObject();
            } else {
                w.StartArray();
                for (std::int64_t k = begin; k < end; ++k) {
                    const std::size_t at = static_cast<std::size_t>(newestFirst ? size - 1 - k : k);
                    writeShareRecord(w, shares_[shareOrder_[at]], now,
                                     call.plan.mangle ? static_cast<int>((k - begin) % 6) : 0);
                }
                w.EndArray();
            }
            putKey(w, "request_id");
            w.Uint64(rid);
            w.EndObject();
            json = escapeSlashes(std::string_view(buffer.GetString(), buffer.GetSize()));
        }
    }
    rotateCookie(call);
    replyJson(call, json);
}

// POST /share/cancel, form field shareid_list: a JSON array of shareids.
// The service says yes whether or not an id was one of the account's live
// shares, so ids it does not know are passed over without a word.
void Service::shareCancelHandler(Call& call) {
    if (!admitted(call))
        return;
    const auto ids = parseFidList(call.formValue("shareid_list"));
    if (!ids || ids->empty()) {
        return replyErrno(call, 2, "shareid_list 参数错误");
    }
    if (ids->size() > kCancelCap) {
        return replyErrno(call, 2, "一次最多取消 100 个分享");
    }
    {
        const std::lock_guard lock(mutex_);
        cancelSharesLocked(*ids);
    }
    rotateCookie(call);
    replyErrno(call, 0, "");
}

// GET /s/<code>: the share's page. Every view of a live share counts.
void Service::sharePageHandler(Call& call) {
    const std::string code = call.path.substr(3);
    std::optional<Share> share;
    const char* gone = nullptr; // why the page is not there
    std::vector<std::string> names;
    {
        const std::lock_guard lock(mutex_);
        const auto it = shareByCode_.find(code);
        Share* found = it == shareByCode_.end() ? nullptr : &shares_[it->second];
        if (found == nullptr) {
            gone = "missing";
        } else if (found->cancelled) {
            gone = "cancelled";
        } else if (found->status != 0) {
            gone = "blocked";
        } else if (found->expiredAt(nowLocked())) {
            gone = "expired";
        } else {
            ++found->views;
            share = *found;
            for (const std::uint64_t id : found->fsIds) {
                const Entry* e = tree_.findId(id);
                names.push_back(e != nullptr ? e->name : std::string("(已删除)"));
            }
        }
    }
    if (gone != nullptr) {
        const std::string reason = gone;
        const char* text =
            reason == "blocked"
                ? "此链接分享内容可能因为涉及侵权、色情、反动、低俗等信息，无法访问！"
            : reason == "expired" ? "啊哦，来晚了，该分享文件已过期。"
                                  : "啊哦，你来晚了，分享的文件已经被取消了。";
        call.res.status = 404;
        call.res.set_content(
            sharePage("百度网盘-链接不存在",
                      "<p id=\"sim-share-gone\" data-reason=\"" + reason + "\">" + text + "</p>"),
            "text/html; charset=utf-8");
        return;
    }
    std::string body;
    if (share->pwd.empty() || call.queryValue("pwd") == share->pwd) {
        body = "<h3>分享的文件</h3><ul id=\"sim-shared\">";
        for (const std::string& name : names) {
            body += "<li>" + htmlEscape(name) + "</li>";
        }
        body += "</ul>";
    } else {
        body = "<h3>请输入提取码</h3><form method=\"get\"><input name=\"pwd\" maxlength=\"4\">"
               "<button type=\"submit\">提取文件</button></form>";
    }
    call.res.set_content(sharePage("百度网盘-分享的文件", body), "text/html; charset=utf-8");
}

} // namespace netdisk_sim
