// The control endpoints under /__sim/: what the service holds, and the
// switches that tests and demos turn.

#include "call.h"
#include "json_util.h"

#include <rapidjson/document.h>
#include <rapidjson/prettywriter.h>

namespace netdisk_sim {

void controlOk(httplib::Response& res, std::string json) {
    res.set_content(std::move(json), "application/json");
}

void controlError(httplib::Response& res, int status, const std::string& message) {
    rapidjson::StringBuffer buffer;
    JsonWriter w(buffer);
    w.StartObject();
    putKey(w, "error");
    putString(w, message);
    w.EndObject();
    res.status = status;
    res.set_content(std::string(buffer.GetString(), buffer.GetSize()), "application/json");
}

void Service::controlHandler(Call& call) {
    const std::string& method = call.req.method;
    const auto error = [&call](int status, const std::string& message) {
        controlError(call.res, status, message);
    };
    const auto ok = [&call](std::string json) {
        controlOk(call.res, std::move(json));
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
        w.Key("token_api");
        w.String(tokenApi_.c_str());
        w.Key("list_page_cap");
        w.Int64(listPageCap_);
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
        w.Key("clock");
        w.Int64(nowLocked());
        w.Key("empty_share_page");
        w.String(emptySharePage_.c_str());
        w.Key("share_count");
        w.Uint64(shares_.size());
        w.Key("bulk_share_count");
        w.Uint64(bulkShareCount_);
        w.Key("listed_share_count");
        w.Uint64(shareOrder_.size());
        w.Key("shares");
        w.StartArray();
        const std::int64_t now = nowLocked();
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
            w.Key("status");
            w.Int(s.status);
            w.Key("cancelled");
            w.Bool(s.cancelled);
            w.Key("expired");
            w.Bool(s.expiredAt(now));
            w.Key("public");
            w.Bool(s.pwd.empty());
            w.Key("bulk");
            w.Bool(s.bulk);
            w.Key("vCnt");
            w.Int64(s.views);
            w.Key("dCnt");
            w.Int64(s.downloads);
            w.Key("tCnt");
            w.Int64(s.saves);
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

    if (shareControlHandler(call)) {
        return;
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
    std::optional<std::string> tokenApi;
    std::optional<std::int64_t> pageCap;
    std::optional<std::optional<std::int64_t>> fixed;
    std::optional<bool> session;
    std::optional<std::string> emptyPage;
    for (auto m = doc.MemberBegin(); m != doc.MemberEnd(); ++m) {
        const std::string_view key = m->name.GetString();
        const auto& v = m->value;
        if (key == "daily_limit" && v.IsInt64()) {
            limit = v.GetInt64();
        } else if (key == "home_style" && v.IsString() && isValidHomeStyle(v.GetString())) {
            style = v.GetString();
        } else if (key == "token_api" && v.IsString() && isValidTokenApi(v.GetString())) {
            tokenApi = v.GetString();
        } else if (key == "list_page_cap" && v.IsInt64() && v.GetInt64() >= 0) {
            pageCap = v.GetInt64();
        } else if (key == "fixed_time" && (v.IsInt64() || v.IsNull())) {
            fixed = v.IsNull() ? std::optional<std::int64_t>() : v.GetInt64();
        } else if (key == "session_valid" && v.IsBool()) {
            session = v.GetBool();
        } else if (key == "empty_share_page" && v.IsString() &&
                   isValidEmptySharePage(v.GetString())) {
            emptyPage = v.GetString();
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
    if (tokenApi) {
        tokenApi_ = *tokenApi;
    }
    if (pageCap) {
        listPageCap_ = *pageCap;
    }
    if (fixed) {
        fixedTime_ = *fixed;
    }
    if (session) {
        sessionValid_ = *session;
    }
    if (emptyPage) {
        emptySharePage_ = *emptyPage;
    }
    return ok("{\"ok\":true}\n");
}

} // namespace netdisk_sim
