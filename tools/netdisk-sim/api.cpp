// The service's web API: listing, share creation and rename.

#include "call.h"
#include "json_util.h"

#include <algorithm>
#include <rapidjson/document.h>

namespace netdisk_sim {

std::optional<std::vector<std::uint64_t>> parseFidList(const std::string& text) {
    rapidjson::Document doc;
    doc.Parse(text.c_str(), text.size());
    if (doc.HasParseError() || !doc.IsArray()) {
        return std::nullopt;
    }
    std::vector<std::uint64_t> ids;
    for (const auto& v : doc.GetArray()) {
        if (v.IsUint64()) {
            ids.push_back(v.GetUint64());
        } else if (v.IsString() && parseUint64(v.GetString())) {
            ids.push_back(*parseUint64(v.GetString()));
        } else {
            return std::nullopt;
        }
    }
    return ids;
}

namespace {

std::string thumbnailUrl(const std::string& origin, const Entry& e, const char* size) {
    return origin + "/thumbnail/" + e.md5 + "?fid=" + std::to_string(e.fsId) + "&size=" + size +
           "&quality=100&ft=image";
}

// One member of the listing. Variants other than 0 break the member the way
// a changed or faulty service might: keys missing, values of the wrong type.
void writeMember(JsonWriter& w, const Entry& e, const std::string& origin, int variant) {
    w.StartObject();
    putKey(w, "tkbind_id");
    w.Int(0);
    putKey(w, "server_mtime");
    w.Int64(e.mtime);
    putKey(w, "category");
    w.Int(e.category);
    putKey(w, "real_category");
    putString(w, "");
    if (variant != 1) {
        putKey(w, "isdir");
        if (variant == 2) {
            w.Bool(e.isDir);
        } else if (variant == 5) {
            putString(w, e.isDir ? "1" : "0");
        } else {
            w.Int(e.isDir ? 1 : 0);
        }
    }
    putKey(w, "wpfile");
    w.Int(0);
    putKey(w, "local_mtime");
    w.Int64(e.mtime);
    putKey(w, "share");
    w.Int(0);
    putKey(w, "oper_id");
    w.Int(0);
    putKey(w, "local_ctime");
    if (variant == 5) {
        w.Null();
    } else {
        w.Int64(e.ctime);
    }
    if (variant != 4) {
        putKey(w, "path");
        putString(w, e.path);
    }
    putKey(w, "server_filename");
    if (variant == 5) {
        w.Int(12345);
    } else {
        putString(w, e.name);
    }
    putKey(w, "size");
    if (variant == 3) {
        putString(w, std::to_string(e.size));
    } else {
        w.Uint64(e.size);
    }
    if (!e.isDir && variant != 4) {
        putKey(w, "md5");
        putString(w, e.md5);
    }
    putKey(w, "server_ctime");
    w.Int64(e.ctime);
    putKey(w, "unlist");
    w.Int(0);
    putKey(w, "server_atime");
    w.Int(0);
    putKey(w, "fs_id");
    if (variant == 3) {
        putString(w, std::to_string(e.fsId));
    } else {
        w.Uint64(e.fsId);
    }
    if (e.isDir) {
        putKey(w, "dir_empty");
        w.Int(e.children.empty() ? 1 : 0);
        putKey(w, "empty");
        w.Int(0);
    } else if (e.thumbs) {
        putKey(w, "thumbs");
        if (variant == 4) {
            putString(w, "");
        } else {
            w.StartObject();
            putKey(w, "icon");
            putString(w, thumbnailUrl(origin, e, "c60_u60"));
            putKey(w, "url1");
            putString(w, thumbnailUrl(origin, e, "c140_u90"));
            putKey(w, "url2");
            putString(w, thumbnailUrl(origin, e, "c360_u270"));
            putKey(w, "url3");
            putString(w, thumbnailUrl(origin, e, "c850_u580"));
            w.EndObject();
        }
    }
    w.EndObject();
}

} // namespace

bool Service::tokenRouteOpen(const char* route) const {
    const std::lock_guard lock(mutex_);
    return tokenApi_ == "both" || tokenApi_ == route;
}

// GET /api/gettemplatevariable: the tokens the new web client asks for
// instead of reading them from its page.
void Service::templateVariableHandler(Call& call) {
    if (!tokenRouteOpen("template")) {
        call.res.status = 404;
        call.res.set_content(statusPage(404), "text/html; charset=utf-8");
        return;
    }
    if (!loggedIn(call)) {
        return replyErrno(call, -6, "登录状态已失效，请重新登录");
    }
    if (call.plan.errnoValue) {
        return replyErrno(call, static_cast<int>(*call.plan.errnoValue), "模拟的服务故障");
    }
    std::int64_t now = 0;
    {
        const std::lock_guard lock(mutex_);
        now = nowLocked();
    }
    rapidjson::StringBuffer buffer;
    JsonWriter w(buffer);
    w.StartObject();
    putKey(w, "errno");
    w.Int(0);
    putKey(w, "result");
    w.StartObject();
    putKey(w, "bdstoken");
    putString(w, options_.bdstoken);
    putKey(w, "token");
    putString(w, options_.bdstoken.substr(0, 16) + "a1b2c3d4e5f60718");
    putKey(w, "uk");
    w.Uint64(kAccountUk);
    putKey(w, "isdocuser");
    w.Int(0);
    putKey(w, "servertime");
    w.Int64(now);
    w.EndObject();
    putKey(w, "request_id");
    w.Uint64(requestId());
    w.EndObject();
    rotateCookie(call);
    replyJson(call, escapeSlashes(std::string_view(buffer.GetString(), buffer.GetSize())));
}

// GET /api/loginStatus: the account's name, and a bdstoken too.
void Service::loginStatusHandler(Call& call) {
    if (!tokenRouteOpen("loginstatus")) {
        call.res.status = 404;
        call.res.set_content(statusPage(404), "text/html; charset=utf-8");
        return;
    }
    if (!loggedIn(call)) {
        return replyErrno(call, -6, "登录状态已失效，请重新登录");
    }
    if (call.plan.errnoValue) {
        return replyErrno(call, static_cast<int>(*call.plan.errnoValue), "模拟的服务故障");
    }
    rapidjson::StringBuffer buffer;
    JsonWriter w(buffer);
    w.StartObject();
    putKey(w, "errno");
    w.Int(0);
    putKey(w, "login_info");
    w.StartObject();
    putKey(w, "bdstoken");
    putString(w, options_.bdstoken);
    putKey(w, "photo_url");
    putString(w, origin_ + "/thumbnail/avatar");
    putKey(w, "uk");
    w.Uint64(kAccountUk);
    putKey(w, "username");
    putString(w, options_.user);
    putKey(w, "vip_type");
    w.Int(0);
    w.EndObject();
    putKey(w, "request_id");
    w.Uint64(requestId());
    w.EndObject();
    rotateCookie(call);
    replyJson(call, escapeSlashes(std::string_view(buffer.GetString(), buffer.GetSize())));
}

const std::vector<const Entry*>& Service::sortedChildren(const Entry& folder,
                                                         const std::string& order, bool desc) {
    const std::string key = folder.path + '\0' + order + (desc ? "\0d" : "\0a");
    if (const auto cached = listingCache_.find(key); cached != listingCache_.end()) {
        return cached->second;
    }
    std::vector<const Entry*> items = tree_.children(folder);
    const auto before = [&order](const Entry* a, const Entry* b) {
        if (order == "time") {
            return a->mtime < b->mtime;
        }
        if (order == "size") {
            return a->size < b->size;
        }
        return a->name < b->name;
    };
    std::sort(items.begin(), items.end(), [&](const Entry* a, const Entry* b) {
        if (a->isDir != b->isDir) {
            return a->isDir;
        }
        if (before(a, b) != before(b, a)) {
            return desc ? before(b, a) : before(a, b);
        }
        return a->name != b->name ? a->name < b->name : a->fsId < b->fsId;
    });
    return listingCache_.emplace(key, std::move(items)).first->second;
}

void Service::listHandler(Call& call) {
    if (!admitted(call))
        return;
    std::string dir = call.queryValue("dir");
    if (dir.empty()) {
        dir = "/";
    }
    const std::string order = call.queryValue("order");
    const bool desc = call.queryValue("desc") == "1";
    std::int64_t page = std::max<std::int64_t>(1, parseInt64(call.queryValue("page")).value_or(1));
    // A faulty service that hands out the page before once more.
    if (call.plan.repeatPage && page > 1) {
        --page;
    }
    std::int64_t num = std::max<std::int64_t>(1, parseInt64(call.queryValue("num")).value_or(1000));
    const std::uint64_t rid = requestId();

    std::string json;
    {
        const std::lock_guard lock(mutex_);
        // Today's service hands out at most this many members a page,
        // whatever the request asks for.
        if (listPageCap_ > 0) {
            num = std::min(num, listPageCap_);
        }
        const Entry* folder = tree_.findPath(dir);
        if (folder != nullptr && folder->isDir) {
            const std::vector<const Entry*>& items = sortedChildren(*folder, order, desc);
            rapidjson::StringBuffer buffer;
            JsonWriter w(buffer);
            w.StartObject();
            putKey(w, "errno");
            w.Int(0);
            putKey(w, "guid_info");
            putString(w, "");
            putKey(w, "list");
            w.StartArray();
            const auto first =
                static_cast<std::uint64_t>(page - 1) * static_cast<std::uint64_t>(num);
            for (std::uint64_t i = first;
                 i < items.size() && i < first + static_cast<std::uint64_t>(num); ++i) {
                writeMember(w, *items[i], origin_, call.plan.mangle ? static_cast<int>(i % 6) : 0);
            }
            w.EndArray();
            putKey(w, "request_id");
            w.Uint64(rid);
            putKey(w, "guid");
            w.Int(0);
            w.EndObject();
            json = escapeSlashes(std::string_view(buffer.GetString(), buffer.GetSize()));
        }
    }
    if (json.empty()) {
        return replyErrno(call, -9, "文件夹不存在");
    }
    rotateCookie(call);
    replyJson(call, json);
}

void Service::shareHandler(Call& call) {
    if (!admitted(call))
        return;
    const std::string periodText(trimSpace(call.formValue("period")));
    if (periodText != "0" && periodText != "1" && periodText != "7" && periodText != "30") {
        return replyErrno(call, 2, "有效期参数错误：只能是 0、1、7 或 30");
    }
    const std::string pwd = call.formValue("pwd");
    if (pwd.size() != 4 || !std::all_of(pwd.begin(), pwd.end(), [](char c) {
            return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        })) {
        return replyErrno(call, 2, "提取码必须是 4 位字母或数字");
    }
    if (call.formValue("schannel") != "4") {
        return replyErrno(call, 2, "schannel 参数错误");
    }
    rapidjson::Document channels;
    const std::string channelList = call.formValue("channel_list");
    channels.Parse(channelList.c_str(), channelList.size());
    if (channels.HasParseError() || !channels.IsArray()) {
        return replyErrno(call, 2, "channel_list 参数错误");
    }
    const auto ids = parseFidList(call.formValue("fid_list"));
    if (!ids || ids->empty()) {
        return replyErrno(call, 2, "fid_list 参数错误");
    }

    Share share;
    int refusal = 0;
    {
        const std::lock_guard lock(mutex_);
        for (const std::uint64_t id : *ids) {
            const Entry* e = tree_.findId(id);
            if (e == nullptr) {
                refusal = -9;
                break;
            }
            share.paths.push_back(e->path);
        }
        if (refusal == 0 && dailyLimit_ > 0 && setShareCount_ >= dailyLimit_) {
            refusal = 110;
        }
        if (refusal == 0) {
            share.fsIds = *ids;
            share.pwd = pwd;
            share.period = std::stoi(periodText);
            share = addShareLocked(std::move(share));
            ++setShareCount_;
        }
    }
    if (refusal == -9) {
        return replyErrno(call, -9, "文件不存在");
    }
    if (refusal == 110) {
        return replyErrno(call, 110, "您今天分享太多，已超出分享的限制");
    }

    rapidjson::StringBuffer buffer;
    JsonWriter w(buffer);
    w.StartObject();
    putKey(w, "errno");
    w.Int(0);
    putKey(w, "request_id");
    w.Uint64(requestId());
    putKey(w, "show_msg");
    putString(w, "");
    putKey(w, "shareid");
    w.Uint64(share.shareId);
    // A service in trouble may say yes without saying where the link is.
    if (!call.plan.noLink) {
        putKey(w, "link");
        putString(w, share.link);
        putKey(w, "shorturl");
        putString(w, share.link);
    }
    putKey(w, "ctime");
    w.Int64(share.ctime);
    putKey(w, "expiredType");
    w.Int(share.period);
    putKey(w, "createsharetips_ldlj");
    putString(w, "");
    putKey(w, "premis");
    w.Bool(false);
    w.EndObject();
    rotateCookie(call);
    call.res.headers.emplace("Set-Cookie", std::string("BDCLND") + kDeletedCookieTail);
    replyJson(call, escapeSlashes(std::string_view(buffer.GetString(), buffer.GetSize())));
}

void Service::renameHandler(Call& call) {
    if (!authorised(call))
        return;
    if (call.queryValue("opera") != "rename") {
        return replyErrno(call, 2, "不支持的操作");
    }
    const std::string filelist = call.formValue("filelist");
    rapidjson::Document doc;
    doc.Parse<rapidjson::kParseValidateEncodingFlag>(filelist.c_str(), filelist.size());
    std::vector<std::pair<std::string, std::string>> items;
    bool wellFormed = !doc.HasParseError() && doc.IsArray() && !doc.Empty();
    if (wellFormed) {
        for (const auto& v : doc.GetArray()) {
            if (!v.IsObject() || !v.HasMember("path") || !v["path"].IsString() ||
                !v.HasMember("newname") || !v["newname"].IsString()) {
                wellFormed = false;
                break;
            }
            items.emplace_back(
                std::string(v["path"].GetString(), v["path"].GetStringLength()),
                std::string(v["newname"].GetString(), v["newname"].GetStringLength()));
        }
    }
    if (!wellFormed) {
        return replyErrno(call, 2, "filelist 参数错误");
    }

    if (!options_.renameAsync.outcome.empty() && !call.plan.errnoValue) {
        // Accepted only: the task ends later, and only a task query tells how.
        std::uint64_t task = 0;
        {
            const std::lock_guard lock(mutex_);
            task = 301522317042906ULL + ++taskSerial_;
            tasks_[task] = RenameTask{items, options_.renameAsync.outcome,
                                      std::chrono::steady_clock::now() +
                                          std::chrono::milliseconds(options_.renameAsync.delayMs),
                                      std::nullopt};
        }
        rapidjson::StringBuffer buffer;
        JsonWriter w(buffer);
        w.StartObject();
        putKey(w, "errno");
        w.Int(0);
        putKey(w, "info");
        w.StartArray();
        w.EndArray();
        putKey(w, "request_id");
        w.Uint64(requestId());
        putKey(w, "taskid");
        w.Uint64(task);
        w.EndObject();
        rotateCookie(call);
        return replyJson(call,
                         escapeSlashes(std::string_view(buffer.GetString(), buffer.GetSize())));
    }

    std::vector<int> results;
    {
        const std::lock_guard lock(mutex_);
        for (const auto& [path, newName] : items) {
            int result = 0;
            if (call.plan.errnoValue) {
                // A refused rename leaves the tree alone.
                result = *call.plan.errnoValue == 12 ? -8 : static_cast<int>(*call.plan.errnoValue);
            } else {
                result = static_cast<int>(tree_.rename(path, newName));
                listingCache_.clear();
            }
            results.push_back(result);
            renames_.push_back({path, newName, result});
        }
    }
    int topErrno = 0;
    if (call.plan.errnoValue) {
        topErrno = static_cast<int>(*call.plan.errnoValue);
    } else if (std::any_of(results.begin(), results.end(), [](int r) { return r != 0; })) {
        topErrno = 12;
    }

    rapidjson::StringBuffer buffer;
    JsonWriter w(buffer);
    w.StartObject();
    putKey(w, "errno");
    w.Int(topErrno);
    putKey(w, "info");
    w.StartArray();
    for (std::size_t i = 0; i < items.size(); ++i) {
        w.StartObject();
        putKey(w, "errno");
        w.Int(results[i]);
        putKey(w, "path");
        putString(w, items[i].first);
        w.EndObject();
    }
    w.EndArray();
    putKey(w, "request_id");
    w.Uint64(requestId());
    w.EndObject();
    rotateCookie(call);
    replyJson(call, escapeSlashes(std::string_view(buffer.GetString(), buffer.GetSize())));
}

void Service::settleTask(RenameTask& task) {
    if (task.taskErrno || task.outcome == "never" || std::chrono::steady_clock::now() < task.due) {
        return;
    }
    if (task.outcome == "failed") {
        task.taskErrno = -8;
        for (const auto& [path, newName] : task.items) {
            renames_.push_back({path, newName, -8});
        }
        return;
    }
    int worst = 0;
    for (const auto& [path, newName] : task.items) {
        const int result = static_cast<int>(tree_.rename(path, newName));
        renames_.push_back({path, newName, result});
        if (result != 0) {
            worst = result;
        }
    }
    listingCache_.clear();
    task.taskErrno = worst;
}

// GET /share/taskquery?taskid=N: how an accepted rename ended, if it has.
void Service::taskQueryHandler(Call& call) {
    if (!loggedIn(call)) {
        return replyErrno(call, -6, "登录状态已失效，请重新登录");
    }
    if (call.plan.errnoValue) {
        return replyErrno(call, static_cast<int>(*call.plan.errnoValue), "模拟的服务故障");
    }
    const auto id = parseUint64(call.queryValue("taskid"));
    std::string status;
    int taskErrno = 0;
    {
        const std::lock_guard lock(mutex_);
        const auto task = id ? tasks_.find(*id) : tasks_.end();
        if (task != tasks_.end()) {
            settleTask(task->second);
            status = !task->second.taskErrno        ? "running"
                     : *task->second.taskErrno == 0 ? "success"
                                                    : "failed";
            taskErrno = task->second.taskErrno.value_or(0);
        }
    }
    if (status.empty()) {
        return replyErrno(call, 2, "任务不存在");
    }
    rapidjson::StringBuffer buffer;
    JsonWriter w(buffer);
    w.StartObject();
    putKey(w, "errno");
    w.Int(0);
    putKey(w, "request_id");
    w.Uint64(requestId());
    putKey(w, "status");
    putString(w, status);
    putKey(w, "task_errno");
    w.Int(taskErrno);
    w.EndObject();
    rotateCookie(call);
    replyJson(call, escapeSlashes(std::string_view(buffer.GetString(), buffer.GetSize())));
}

} // namespace netdisk_sim
