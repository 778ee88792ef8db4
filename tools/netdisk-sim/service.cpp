#include "call.h"
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
constexpr std::uint64_t kFirstShareId = 48201736925ULL;

// A 2 x 2 pixel PNG: every thumbnail looks the same.
constexpr unsigned char kThumbnail[] = {
    0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A, 0x00, 0x00, 0x00, 0x0D, 0x49, 0x48, 0x44,
    0x52, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x02, 0x08, 0x02, 0x00, 0x00, 0x00, 0xFD,
    0xD4, 0x9A, 0x73, 0x00, 0x00, 0x00, 0x10, 0x49, 0x44, 0x41, 0x54, 0x78, 0xDA, 0x63, 0xC8,
    0x3B, 0xF8, 0x1F, 0x88, 0x18, 0x20, 0x14, 0x00, 0x3A, 0xD2, 0x08, 0xB9, 0x78, 0xC5, 0xE5,
    0xAD, 0x00, 0x00, 0x00, 0x00, 0x49, 0x45, 0x4E, 0x44, 0xAE, 0x42, 0x60, 0x82};

Endpoint classify(const std::string& path) {
    if (path == "/" || path == "/login" || path == "/logout") {
        return Endpoint::Login;
    }
    if (path == "/disk/home" || path == "/disk/main") {
        return Endpoint::Home;
    }
    if (path == "/api/gettemplatevariable") {
        return Endpoint::Template;
    }
    if (path == "/api/loginStatus") {
        return Endpoint::LoginStatus;
    }
    if (path == "/share/taskquery") {
        return Endpoint::TaskQuery;
    }
    if (path == "/api/list") {
        return Endpoint::List;
    }
    if (path == "/share/set") {
        return Endpoint::Share;
    }
    if (path == "/share/record") {
        return Endpoint::Record;
    }
    if (path == "/share/cancel") {
        return Endpoint::Cancel;
    }
    if (path == "/api/filemanager") {
        return Endpoint::Rename;
    }
    if (path.rfind("/thumbnail/", 0) == 0) {
        return Endpoint::Thumbnail;
    }
    return Endpoint::Other;
}

} // namespace

bool equalsNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               const auto lower = [](char c) {
                   return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
               };
               return lower(x) == lower(y);
           });
}

Service::Service(ServiceOptions options, RequestLog& log)
    : options_(std::move(options)), log_(log) {
    resetLocked();
}

bool Service::isValidHomeStyle(const std::string& style) {
    return style == "mset" || style == "yundata" || style == "none" || style == "main";
}

bool Service::isValidTokenApi(const std::string& which) {
    return which == "both" || which == "template" || which == "loginstatus" || which == "none";
}

bool Service::isValidRenameOutcome(const std::string& outcome) {
    return outcome.empty() || outcome == "success" || outcome == "failed" || outcome == "never";
}

bool Service::isValidEmptySharePage(const std::string& form) {
    return form == "list" || form == "bare" || form == "object";
}

std::int64_t Service::nowLocked() const {
    return fixedTime_.value_or(static_cast<std::int64_t>(std::time(nullptr)));
}

void Service::resetLocked() {
    tree_ = options_.makeTree ? options_.makeTree() : Tree::makeDefault();
    faults_.clear();
    for (const FaultRule& rule : options_.faults) {
        faults_.add(rule);
    }
    dailyLimit_ = options_.dailyLimit;
    homeStyle_ = options_.homeStyle;
    tokenApi_ = options_.tokenApi;
    listPageCap_ = options_.listPageCap;
    tasks_.clear();
    listingCache_.clear();
    fixedTime_ = options_.fixedTime;
    sessionValid_ = true;
    emptySharePage_ = options_.emptySharePage;
    shares_.clear();
    shareById_.clear();
    shareByCode_.clear();
    shareOrder_.clear();
    setShareCount_ = 0;
    bulkShareCount_ = 0;
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
    // Today's service takes a login cookie that comes twice (for the host
    // and for a parent domain) as no login at all.
    if (options_.rejectDuplicateLogin) {
        for (const char* name : {"BDUSS", "STOKEN"}) {
            if (std::count_if(call.cookies.begin(), call.cookies.end(),
                              [name](const auto& item) { return item.first == name; }) > 1) {
                return false;
            }
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
    RequestFacts facts;
    facts.endpoint = call.endpoint;
    if (call.endpoint == Endpoint::Share) {
        facts.fsIds =
            parseFidList(call.formValue("fid_list")).value_or(std::vector<std::uint64_t>());
    } else if (call.endpoint == Endpoint::List) {
        facts.dir = Tree::normalisePath(call.queryValue("dir"));
        facts.page = std::max<std::int64_t>(1, parseInt64(call.queryValue("page")).value_or(1));
    } else if (call.endpoint == Endpoint::Record) {
        facts.page = std::max<std::int64_t>(1, parseInt64(call.queryValue("page")).value_or(1));
    }
    {
        const std::lock_guard lock(mutex_);
        ++requestCounts_[endpointName(call.endpoint)];
        call.plan = faults_.evaluate(facts);
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
    } else if (call.path == "/disk/main" && get) {
        mainPageHandler(call);
    } else if (call.endpoint == Endpoint::Template && get) {
        templateVariableHandler(call);
    } else if (call.endpoint == Endpoint::LoginStatus && get) {
        loginStatusHandler(call);
    } else if (call.path == "/api/list" && get) {
        listHandler(call);
    } else if (call.path == "/share/set" && post) {
        shareHandler(call);
    } else if (call.endpoint == Endpoint::Record && get) {
        shareRecordHandler(call);
    } else if (call.endpoint == Endpoint::Cancel && post) {
        shareCancelHandler(call);
    } else if (call.path == "/api/filemanager" && post) {
        renameHandler(call);
    } else if (call.endpoint == Endpoint::TaskQuery && get) {
        taskQueryHandler(call);
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
        timestamp = nowLocked();
    }
    if (style == "none" || style == "main") {
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
    w.Uint64(kAccountUk);
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
        // Today's service sends a logged-out visitor to its passport host.
        call.res.set_redirect(options_.passport.empty()
                                  ? std::string("/")
                                  : options_.passport +
                                        "?tpl=netdisk&u=" + percentEncode(origin_ + "/disk/home"));
        return;
    }
    std::string style;
    {
        const std::lock_guard lock(mutex_);
        style = homeStyle_;
    }
    if (style == "main") {
        call.res.set_redirect("/disk/main");
        return;
    }
    rotateCookie(call);
    call.res.set_content(homePage(options_.user, tokenScript(), options_.oldPageScript),
                         "text/html; charset=utf-8");
}

// The new web client: no tokens in the page; its own script asks the token
// requests for them, as the service's client does.
void Service::mainPageHandler(Call& call) {
    if (!loggedIn(call)) {
        call.res.set_redirect(options_.passport.empty() ? std::string("/") : options_.passport);
        return;
    }
    rotateCookie(call);
    call.res.set_content(homePage(options_.user, mainPageTokenScript(), options_.oldPageScript),
                         "text/html; charset=utf-8");
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

bool Service::admitted(Call& call) {
    if (!authorised(call)) {
        return false;
    }
    if (call.plan.errnoValue) {
        replyErrno(call, static_cast<int>(*call.plan.errnoValue), "模拟的服务故障");
        return false;
    }
    return true;
}

void Service::thumbnailHandler(Call& call) {
    call.res.set_header("Cache-Control", "max-age=86400");
    call.res.set_content(reinterpret_cast<const char*>(kThumbnail), sizeof(kThumbnail),
                         "image/png");
}

} // namespace netdisk_sim
