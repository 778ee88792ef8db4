#include "service.h"

#include "json_util.h"
#include "pages.h"

#include <algorithm>
#include <chrono>
#include <ctime>
#include <rapidjson/document.h>
#include <rapidjson/prettywriter.h>

namespace netdisk_sim {

namespace {

constexpr const char* kHomeAddress = "/disk/home?#/all?vmode=list&path=%2F";
constexpr const char* kDeletedCookieTail = "=deleted; expires=Thu, 01-Jan-1970 00:00:01 GMT; "
                                           "max-age=0; path=/";
constexpr std::uint64_t kFirstShareId = 48201736925ULL;

// A 2 x 2 pixel PNG: every thumbnail looks the same.
constexpr unsigned char kThumbnail[] = {
    0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A, 0x00, 0x00, 0x00, 0x0D, 0x49, 0x48, 0x44,
    0x52, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x02, 0x08, 0x02, 0x00, 0x00, 0x00, 0xFD,
    0xD4, 0x9A, 0x73, 0x00, 0x00, 0x00, 0x10, 0x49, 0x44, 0x41, 0x54, 0x78, 0xDA, 0x63, 0xC8,
    0x3B, 0xF8, 0x1F, 0x88, 0x18, 0x20, 0x14, 0x00, 0x3A, 0xD2, 0x08, 0xB9, 0x78, 0xC5, 0xE5,
    0xAD, 0x00, 0x00, 0x00, 0x00, 0x49, 0x45, 0x4E, 0x44, 0xAE, 0x42, 0x60, 0x82};

bool equalsNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               const auto lower = [](char c) {
                   return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
               };
               return lower(x) == lower(y);
           });
}

Endpoint classify(const std::string& path) {
    if (path == "/" || path == "/login" || path == "/logout") {
        return Endpoint::Login;
    }
    if (path == "/disk/home") {
        return Endpoint::Home;
    }
    if (path == "/api/list") {
        return Endpoint::List;
    }
    if (path == "/share/set") {
        return Endpoint::Share;
    }
    if (path == "/api/filemanager") {
        return Endpoint::Rename;
    }
    if (path.rfind("/thumbnail/", 0) == 0) {
        return Endpoint::Thumbnail;
    }
    return Endpoint::Other;
}

// fid_list as the share request sends it: a JSON array of ids, numbers or
// digit strings. Nothing when it is not such an array.
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

struct Service::Call {
    const httplib::Request& req;
    httplib::Response& res;
    RawHead head;
    std::string path; // percent-decoded
    Pairs query;
    Pairs form;
    Pairs cookies;
    Endpoint endpoint = Endpoint::Other;
    FaultPlan plan;

    std::string queryValue(std::string_view key) const {
        return findValue(query, key).value_or(std::string());
    }
    std::string formValue(std::string_view key) const {
        return findValue(form, key).value_or(std::string());
    }
};

Service::Service(ServiceOptions options, RequestLog& log)
    : options_(std::move(options)), log_(log) {
    resetLocked();
}

bool Service::isValidHomeStyle(const std::string& style) {
    return style == "mset" || style == "yundata" || style == "none";
}

void Service::resetLocked() {
    tree_ = options_.makeTree ? options_.makeTree() : Tree::makeDefault();
    faults_.clear();
    for (const FaultRule& rule : options_.faults) {
        faults_.add(rule);
    }
    dailyLimit_ = options_.dailyLimit;
    homeStyle_ = options_.homeStyle;
    fixedTime_ = options_.fixedTime;
    sessionValid_ = true;
    shares_.clear();
    renames_.clear();
    requestCounts_.clear();
    nextShareId_ = kFirstShareId;
}

std::size_t Service::fileCount() const {
    const std::lock_guard lock(mutex_);
    return tree_.fileCount();
}

std::size_t Service::folderCount() const {
    const std::lock_guard lock(mutex_);
    return tree_.folderCount();
}

void Service::install(SimHttpServer& server, std::string origin) {
    origin_ = std::move(origin);
    const auto handler = [this](const httplib::Request& req, httplib::Response& res) {
        handle(req, res);
    };
    server.Get(".*", handler);
    server.Post(".*", handler);
    server.Put(".*", handler);
    server.Delete(".*", handler);
    server.Patch(".*", handler);
    server.Options(".*", handler);
}

void Service::stop() {
    {
        const std::lock_guard lock(stopMutex_);
        stopping_ = true;
    }
    stopCv_.notify_all();
}

void Service::pause(std::int64_t ms) {
    if (ms <= 0) {
        return;
    }
    std::unique_lock lock(stopMutex_);
    stopCv_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stopping_; });
}

std::uint64_t Service::requestId() {
    const std::lock_guard lock(mutex_);
    return 8000000000000000000ULL + ++requestSerial_ * 7919ULL;
}

bool Service::loggedIn(const Call& call) const {
    {
        const std::lock_guard lock(mutex_);
        if (!sessionValid_) {
            return false;
        }
    }
    const auto bduss = findValue(call.cookies, "BDUSS");
    return bduss && *bduss == options_.loginCookie;
}

std::string Service::cookieAttributes(bool httpOnly, long long maxAge) const {
    std::string text = "; max-age=" + std::to_string(maxAge) + "; path=/";
    if (httpOnly) {
        text += "; HttpOnly";
    }
    if (origin_.rfind("https:", 0) == 0) {
        text += "; Secure";
    }
    return text;
}

void Service::rotateCookie(Call& call) {
    std::uint64_t serial = 0;
    {
        const std::lock_guard lock(mutex_);
        serial = ++cookieSerial_;
    }
    char value[32];
    std::snprintf(value, sizeof(value), "%016llx",
                  static_cast<unsigned long long>(serial * 0x9E3779B97F4A7C15ULL));
    call.res.headers.emplace("Set-Cookie",
                             std::string("PANPSC=") + value + cookieAttributes(true, 86400));
}

void Service::replyJson(Call& call, const std::string& json) {
    call.res.set_content(json, "application/json; charset=UTF-8");
}

void Service::replyErrno(Call& call, int errnoValue, const char* message) {
    rapidjson::StringBuffer buffer;
    JsonWriter w(buffer);
    w.StartObject();
    putKey(w, "errno");
    w.Int(errnoValue);
    putKey(w, "request_id");
    w.Uint64(requestId());
    putKey(w, "show_msg");
    putString(w, message);
    w.EndObject();
    replyJson(call, escapeSlashes(std::string_view(buffer.GetString(), buffer.GetSize())));
}

void Service::handle(const httplib::Request& req, httplib::Response& res) {
    Call call{req, res, SimHttpServer::currentHead(), {}, {}, {}, {}, Endpoint::Other, {}};
    if (call.head.method.empty()) {
        call.head.method = req.method;
        call.head.target = req.target;
        for (const auto& [name, value] : req.headers) {
            call.head.headers.emplace_back(name, value);
        }
    }
    const std::string& target = call.head.target;
    const std::size_t question = target.find('?');
    call.path = percentDecode(target.substr(0, question), false);
    if (question != std::string::npos) {
        call.query = parseForm(std::string_view(target).substr(question + 1));
    }
    if (call.path == "/__sim" || call.path.rfind("/__sim/", 0) == 0) {
        controlHandler(call);
        return;
    }

    log_.write(call.head, req.body);
    for (const auto& [name, value] : call.head.headers) {
        if (equalsNoCase(name, "Cookie")) {
            for (auto& item : parseCookieHeader(value)) {
                call.cookies.push_back(std::move(item));
            }
        }
    }
    if (req.method == "POST") {
        call.form = parseForm(req.body);
    }
    call.endpoint = classify(call.path);
    std::vector<std::uint64_t> fsIds;
    if (call.endpoint == Endpoint::Share) {
        fsIds = parseFidList(call.formValue("fid_list")).value_or(std::vector<std::uint64_t>());
    }
    {
        const std::lock_guard lock(mutex_);
        ++requestCounts_[endpointName(call.endpoint)];
        call.plan = faults_.evaluate(call.endpoint, fsIds);
    }
    pause(call.plan.delayMs);

    if (call.plan.transport) {
        const FaultRule& rule = *call.plan.transport;
        switch (rule.kind) {
        case FaultKind::Status:
            res.status = static_cast<int>(rule.value);
            res.set_content(statusPage(res.status), "text/html; charset=utf-8");
            return;
        case FaultKind::NotJson:
            res.set_content(busyPage(), "text/html; charset=utf-8");
            return;
        case FaultKind::Empty:
            res.set_content("", "application/json; charset=UTF-8");
            return;
        case FaultKind::Drop:
            SimHttpServer::dropConnection();
            res.set_content("dropped", "text/plain");
            return;
        default:
            break; // truncation acts on the normal reply below
        }
    }

    dispatch(call);

    if (call.plan.transport && call.plan.transport->kind == FaultKind::Truncate) {
        SimHttpServer::truncateBody(call.plan.transport->value > 0 ? call.plan.transport->value
                                                                   : -1);
    }
    if (call.plan.deleteLogin) {
        res.headers.emplace("Set-Cookie", std::string("BDUSS") + kDeletedCookieTail + "; HttpOnly");
    }
}

void Service::dispatch(Call& call) {
    const std::string& method = call.req.method;
    const bool get = method == "GET" || method == "HEAD";
    const bool post = method == "POST";
    if (call.path == "/" && get) {
        loginPageHandler(call);
    } else if (call.path == "/login" && (get || post)) {
        loginHandler(call);
    } else if (call.path == "/logout" && get) {
        logoutHandler(call);
    } else if (call.path == "/disk/home" && get) {
        homeHandler(call);
    } else if (call.path == "/api/list" && get) {
        listHandler(call);
    } else if (call.path == "/share/set" && post) {
        shareHandler(call);
    } else if (call.path == "/api/filemanager" && post) {
        renameHandler(call);
    } else if (call.endpoint == Endpoint::Thumbnail && get) {
        thumbnailHandler(call);
    } else if (call.path.rfind("/s/", 0) == 0 && get) {
        sharePageHandler(call);
    } else if (call.path == "/popup" && get) {
        call.res.set_content(popupPage(), "text/html; charset=utf-8");
    } else {
        call.res.status = 404;
        call.res.set_content(statusPage(404), "text/html; charset=utf-8");
    }
}

void Service::loginPageHandler(Call& call) {
    if (loggedIn(call)) {
        call.res.set_redirect(kHomeAddress);
        return;
    }
    if (!findValue(call.cookies, "BAIDUID")) {
        call.res.headers.emplace("Set-Cookie", "BAIDUID=9C2F4D7A1B3E5F60718293A4B5C6D7E8:FG=1" +
                                                   cookieAttributes(false, 31536000));
    }
    call.res.set_content(loginPage(options_.user), "text/html; charset=utf-8");
}

void Service::loginHandler(Call& call) {
    {
        const std::lock_guard lock(mutex_);
        sessionValid_ = true;
    }
    std::string next = call.formValue("next");
    if (next.empty()) {
        next = call.queryValue("next");
    }
    if (next.empty() || next[0] != '/' || (next.size() > 1 && next[1] == '/')) {
        next = kHomeAddress;
    }
    call.res.headers.emplace("Set-Cookie",
                             "BDUSS=" + options_.loginCookie + cookieAttributes(true, 31536000));
    call.res.headers.emplace("Set-Cookie", "STOKEN=" + options_.bdstoken.substr(0, 16) +
                                               "0d1e2f3a4b5c6d7e" +
                                               cookieAttributes(false, 31536000));
    rotateCookie(call);
    call.res.set_redirect(next);
}

void Service::logoutHandler(Call& call) {
    call.res.headers.emplace("Set-Cookie",
                             std::string("BDUSS") + kDeletedCookieTail + "; HttpOnly");
    call.res.headers.emplace("Set-Cookie", std::string("STOKEN") + kDeletedCookieTail);
    call.res.set_redirect("/");
}

std::string Service::tokenScript() const {
    std::string style;
    std::int64_t timestamp = 0;
    {
        const std::lock_guard lock(mutex_);
        style = homeStyle_;
        timestamp = fixedTime_.value_or(static_cast<std::int64_t>(std::time(nullptr)));
    }
    if (style == "none") {
        return {};
    }
    rapidjson::StringBuffer buffer;
    JsonWriter w(buffer);
    w.StartObject();
    putKey(w, "loginstate");
    w.Int(1);
    putKey(w, "username");
    putString(w, options_.user);
    // Real pages carry free text with brackets and parentheses in this
    // object; readers that cut it at the first ")" lose the token.
    putKey(w, "notice");
    putString(w, "系统维护通知（周五 23:00 起）) 请提前保存 :) {重要}");
    putKey(w, "sampling");
    w.StartObject();
    putKey(w, "expvar");
    w.StartArray();
    putString(w, "list_v2)");
    putString(w, "share}");
    w.EndArray();
    w.EndObject();
    putKey(w, "bdstoken");
    putString(w, options_.bdstoken);
    putKey(w, "uk");
    w.Uint64(1099511627776ULL + 4097);
    putKey(w, "is_vip");
    w.Int(0);
    putKey(w, "is_svip");
    w.Int(0);
    putKey(w, "photo");
    putString(w, origin_ + "/thumbnail/avatar");
    putKey(w, "timestamp");
    w.Int64(timestamp);
    w.EndObject();
    const std::string object =
        escapeSlashes(std::string_view(buffer.GetString(), buffer.GetSize()));
    if (style == "yundata") {
        return "window.yunData = " + object +
               ";\nlocals.get = function (k) { return window.yunData[k]; };";
    }
    return "locals.mset(" + object + ");";
}

void Service::homeHandler(Call& call) {
    if (!loggedIn(call)) {
        call.res.set_redirect("/");
        return;
    }
    rotateCookie(call);
    call.res.set_content(homePage(options_.user, tokenScript()), "text/html; charset=utf-8");
}

// Every API call needs the login cookie and the page's bdstoken; a call
// without them is refused with -6 before anything else is looked at.
bool Service::authorised(Call& call) {
    if (!loggedIn(call)) {
        replyErrno(call, -6, "登录状态已失效，请重新登录");
        return false;
    }
    if (call.queryValue("bdstoken") != options_.bdstoken) {
        replyErrno(call, -6, "bdstoken 无效");
        return false;
    }
    return true;
}

void Service::listHandler(Call& call) {
    if (!authorised(call))
        return;
    if (call.plan.errnoValue) {
        return replyErrno(call, static_cast<int>(*call.plan.errnoValue), "模拟的服务故障");
    }
    std::string dir = call.queryValue("dir");
    if (dir.empty()) {
        dir = "/";
    }
    const std::string order = call.queryValue("order");
    const bool desc = call.queryValue("desc") == "1";
    const std::int64_t page =
        std::max<std::int64_t>(1, parseInt64(call.queryValue("page")).value_or(1));
    const std::int64_t num =
        std::max<std::int64_t>(1, parseInt64(call.queryValue("num")).value_or(1000));
    const std::uint64_t rid = requestId();

    std::string json;
    {
        const std::lock_guard lock(mutex_);
        const Entry* folder = tree_.findPath(dir);
        if (folder == nullptr || !folder->isDir) {
            json.clear();
        } else {
            std::vector<const Entry*> items = tree_.children(*folder);
            const auto key = [&order](const Entry* a, const Entry* b) {
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
                if (key(a, b) != key(b, a)) {
                    return desc ? key(b, a) : key(a, b);
                }
                return a->name != b->name ? a->name < b->name : a->fsId < b->fsId;
            });
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
    if (!authorised(call))
        return;
    if (call.plan.errnoValue) {
        return replyErrno(call, static_cast<int>(*call.plan.errnoValue), "模拟的服务故障");
    }
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
        if (refusal == 0 && dailyLimit_ > 0 &&
            static_cast<std::int64_t>(shares_.size()) >= dailyLimit_) {
            refusal = 110;
        }
        if (refusal == 0) {
            share.shareId = nextShareId_;
            nextShareId_ += 13;
            share.fsIds = *ids;
            share.code = shareCode(share.shareId);
            share.link = origin_ + "/s/" + share.code;
            share.pwd = pwd;
            share.period = std::stoi(periodText);
            share.ctime = fixedTime_.value_or(static_cast<std::int64_t>(std::time(nullptr)));
            shares_.push_back(share);
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
    putKey(w, "link");
    putString(w, share.link);
    putKey(w, "shorturl");
    putString(w, share.link);
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
    if (topErrno == 0) {
        std::uint64_t task = 0;
        {
            const std::lock_guard lock(mutex_);
            task = 301522317042906ULL + ++taskSerial_;
        }
        putKey(w, "taskid");
        w.Uint64(task);
    }
    w.EndObject();
    rotateCookie(call);
    replyJson(call, escapeSlashes(std::string_view(buffer.GetString(), buffer.GetSize())));
}

void Service::thumbnailHandler(Call& call) {
    call.res.set_header("Cache-Control", "max-age=86400");
    call.res.set_content(reinterpret_cast<const char*>(kThumbnail), sizeof(kThumbnail),
                         "image/png");
}

void Service::sharePageHandler(Call& call) {
    const std::string code = call.path.substr(3);
    std::optional<Share> share;
    std::vector<std::string> names;
    {
        const std::lock_guard lock(mutex_);
        for (const Share& s : shares_) {
            if (s.code == code) {
                share = s;
                for (const std::uint64_t id : s.fsIds) {
                    const Entry* e = tree_.findId(id);
                    names.push_back(e != nullptr ? e->name : std::string("(已删除)"));
                }
            }
        }
    }
    if (!share) {
        call.res.status = 404;
        call.res.set_content(
            sharePage("百度网盘-链接不存在", "<p>啊哦，你来晚了，分享的文件已经被取消了。</p>"),
            "text/html; charset=utf-8");
        return;
    }
    std::string body;
    if (call.queryValue("pwd") == share->pwd) {
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

void Service::controlHandler(Call& call) {
    const std::string& method = call.req.method;
    const auto error = [&call](int status, const std::string& message) {
        rapidjson::StringBuffer buffer;
        JsonWriter w(buffer);
        w.StartObject();
        putKey(w, "error");
        putString(w, message);
        w.EndObject();
        call.res.status = status;
        call.res.set_content(std::string(buffer.GetString(), buffer.GetSize()), "application/json");
    };
    const auto ok = [&call](std::string json) {
        call.res.set_content(std::move(json), "application/json");
    };

    if (call.path == "/__sim/state" && method == "GET") {
        rapidjson::StringBuffer buffer;
        rapidjson::PrettyWriter<rapidjson::StringBuffer> w(buffer);
        const std::lock_guard lock(mutex_);
        w.StartObject();
        w.Key("origin");
        w.String(origin_.c_str());
        w.Key("user");
        w.String(options_.user.c_str());
        w.Key("bdstoken");
        w.String(options_.bdstoken.c_str());
        w.Key("login_cookie");
        w.String(options_.loginCookie.c_str());
        w.Key("session_valid");
        w.Bool(sessionValid_);
        w.Key("home_style");
        w.String(homeStyle_.c_str());
        w.Key("fixed_time");
        if (fixedTime_) {
            w.Int64(*fixedTime_);
        } else {
            w.Null();
        }
        w.Key("daily_limit");
        w.Int64(dailyLimit_);
        w.Key("files");
        w.Uint64(tree_.fileCount());
        w.Key("folders");
        w.Uint64(tree_.folderCount());
        w.Key("share_count");
        w.Uint64(shares_.size());
        w.Key("shares");
        w.StartArray();
        for (const Share& s : shares_) {
            w.StartObject();
            w.Key("shareid");
            w.Uint64(s.shareId);
            w.Key("fs_ids");
            w.StartArray();
            for (const std::uint64_t id : s.fsIds) {
                w.Uint64(id);
            }
            w.EndArray();
            w.Key("paths");
            w.StartArray();
            for (const std::string& p : s.paths) {
                w.String(p.c_str(), static_cast<rapidjson::SizeType>(p.size()));
            }
            w.EndArray();
            w.Key("link");
            w.String(s.link.c_str());
            w.Key("pwd");
            w.String(s.pwd.c_str());
            w.Key("period");
            w.Int(s.period);
            w.Key("ctime");
            w.Int64(s.ctime);
            w.EndObject();
        }
        w.EndArray();
        w.Key("renames");
        w.StartArray();
        for (const RenameRecord& r : renames_) {
            w.StartObject();
            w.Key("path");
            w.String(r.path.c_str(), static_cast<rapidjson::SizeType>(r.path.size()));
            w.Key("newname");
            w.String(r.newName.c_str(), static_cast<rapidjson::SizeType>(r.newName.size()));
            w.Key("errno");
            w.Int(r.errnoValue);
            w.EndObject();
        }
        w.EndArray();
        w.Key("requests");
        w.StartObject();
        for (const auto& [name, count] : requestCounts_) {
            w.Key(name.c_str());
            w.Uint64(count);
        }
        w.EndObject();
        w.Key("faults");
        w.StartArray();
        for (const FaultRule& rule : faults_.rules()) {
            rapidjson::StringBuffer one;
            JsonWriter ow(one);
            writeFaultJson(ow, rule);
            w.RawValue(one.GetString(), one.GetSize(), rapidjson::kObjectType);
        }
        w.EndArray();
        w.EndObject();
        return ok(std::string(buffer.GetString(), buffer.GetSize()) + "\n");
    }
    if (call.path == "/__sim/ping" && method == "GET") {
        return ok("{\"errno\":0}");
    }
    if (call.path == "/__sim/tree" && method == "GET") {
        const std::lock_guard lock(mutex_);
        return ok(tree_.toJson());
    }
    if (call.path == "/__sim/reset" && method == "POST") {
        const std::lock_guard lock(mutex_);
        resetLocked();
        return ok("{\"ok\":true}\n");
    }
    if (call.path == "/__sim/faults/clear" && method == "POST") {
        const std::lock_guard lock(mutex_);
        faults_.clear();
        return ok("{\"ok\":true}\n");
    }

    const bool isFault = call.path == "/__sim/fault" && method == "POST";
    const bool isConfig = call.path == "/__sim/config" && method == "POST";
    if (!isFault && !isConfig) {
        return error(404, "no such control endpoint: " + method + " " + call.path);
    }
    rapidjson::Document doc;
    doc.Parse(call.req.body.c_str(), call.req.body.size());
    if (doc.HasParseError()) {
        return error(400, "the body is not JSON");
    }
    if (isFault) {
        std::vector<FaultRule> rules;
        const auto take = [&](const rapidjson::Value& v) {
            std::string message;
            const auto rule = parseFaultJson(v, message);
            if (!rule) {
                error(400, message);
                return false;
            }
            rules.push_back(*rule);
            return true;
        };
        if (doc.IsArray()) {
            for (const auto& v : doc.GetArray()) {
                if (!take(v)) {
                    return;
                }
            }
        } else if (!take(doc)) {
            return;
        }
        const std::lock_guard lock(mutex_);
        for (const FaultRule& rule : rules) {
            faults_.add(rule);
        }
        return ok("{\"ok\":true,\"faults\":" + std::to_string(faults_.rules().size()) + "}\n");
    }

    // config
    if (!doc.IsObject()) {
        return error(400, "config must be a JSON object");
    }
    std::optional<std::int64_t> limit;
    std::optional<std::string> style;
    std::optional<std::optional<std::int64_t>> fixed;
    std::optional<bool> session;
    for (auto m = doc.MemberBegin(); m != doc.MemberEnd(); ++m) {
        const std::string_view key = m->name.GetString();
        const auto& v = m->value;
        if (key == "daily_limit" && v.IsInt64()) {
            limit = v.GetInt64();
        } else if (key == "home_style" && v.IsString() && isValidHomeStyle(v.GetString())) {
            style = v.GetString();
        } else if (key == "fixed_time" && (v.IsInt64() || v.IsNull())) {
            fixed = v.IsNull() ? std::optional<std::int64_t>() : v.GetInt64();
        } else if (key == "session_valid" && v.IsBool()) {
            session = v.GetBool();
        } else {
            return error(400, "unknown key or bad value: " + std::string(key));
        }
    }
    const std::lock_guard lock(mutex_);
    if (limit) {
        dailyLimit_ = *limit;
    }
    if (style) {
        homeStyle_ = *style;
    }
    if (fixed) {
        fixedTime_ = *fixed;
    }
    if (session) {
        sessionValid_ = *session;
    }
    return ok("{\"ok\":true}\n");
}

} // namespace netdisk_sim
