#include "sim_state.h"

#include "sim_client.h"

#include <functional>
#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

namespace vantorel::test {

namespace {

// A value as the client's JSON reader gives it as text.
std::string jsText(const rapidjson::Value* value) {
    if (value == nullptr || value->IsNull())
        return {};
    if (value->IsString())
        return {value->GetString(), value->GetStringLength()};
    if (value->IsBool())
        return value->GetBool() ? "true" : "false";
    if (value->IsUint64())
        return std::to_string(value->GetUint64());
    if (value->IsInt64())
        return std::to_string(value->GetInt64());
    if (value->IsObject())
        return "[object Object]";
    return "?";
}

const rapidjson::Value* member(const rapidjson::Value& object, const char* key) {
    if (!object.IsObject())
        return nullptr;
    const auto it = object.FindMember(key);
    return it == object.MemberEnd() ? nullptr : &it->value;
}

const rapidjson::Value* array(const rapidjson::Value& object, const char* key) {
    const rapidjson::Value* value = member(object, key);
    return value != nullptr && value->IsArray() ? value : nullptr;
}

std::int64_t int64(const rapidjson::Value& object, const char* key) {
    const rapidjson::Value* value = member(object, key);
    return value != nullptr && value->IsInt64() ? value->GetInt64() : 0;
}

bool flag(const rapidjson::Value& object, const char* key) {
    const rapidjson::Value* value = member(object, key);
    return value != nullptr && value->IsBool() && value->GetBool();
}

std::string text(const rapidjson::Value& object, const char* key) {
    const rapidjson::Value* value = member(object, key);
    return value != nullptr && value->IsString() ? jsText(value) : std::string();
}

} // namespace

std::optional<SimState> readSimState(const SimProcess& sim) {
    const auto client = makeSimClient(sim);
    const auto res = client->Get("/__sim/state");
    if (!res || res->status != 200)
        return std::nullopt;
    rapidjson::Document doc;
    doc.Parse(res->body.c_str(), res->body.size());
    if (doc.HasParseError() || !doc.IsObject())
        return std::nullopt;

    SimState state;
    state.raw = res->body;
    state.user = jsText(member(doc, "user"));
    if (const auto* shares = array(doc, "shares")) {
        for (const auto& s : shares->GetArray()) {
            SimShare share;
            if (const auto* ids = array(s, "fs_ids"))
                for (const auto& id : ids->GetArray())
                    share.fsIds.push_back(jsText(&id));
            if (const auto* paths = array(s, "paths"))
                for (const auto& p : paths->GetArray())
                    share.paths.push_back(jsText(&p));
            share.link = text(s, "link");
            share.pwd = text(s, "pwd");
            share.period = static_cast<int>(int64(s, "period"));
            share.ctime = int64(s, "ctime");
            share.shareId = jsText(member(s, "shareid"));
            share.status = static_cast<int>(int64(s, "status"));
            share.cancelled = flag(s, "cancelled");
            share.expired = flag(s, "expired");
            share.bulk = flag(s, "bulk");
            share.views = int64(s, "vCnt");
            share.downloads = int64(s, "dCnt");
            share.saves = int64(s, "tCnt");
            state.shares.push_back(std::move(share));
        }
    }
    if (const auto* renames = array(doc, "renames"))
        for (const auto& r : renames->GetArray())
            state.renames.push_back(
                {text(r, "path"), text(r, "newname"), static_cast<int>(int64(r, "errno"))});
    if (const auto* requests = member(doc, "requests"); requests != nullptr && requests->IsObject())
        for (auto m = requests->MemberBegin(); m != requests->MemberEnd(); ++m)
            state.requests[m->name.GetString()] = m->value.IsUint64() ? m->value.GetUint64() : 0;
    if (const auto* faults = array(doc, "faults"))
        for (const auto& f : faults->GetArray()) {
            const auto* applied = member(f, "applied");
            state.faultsApplied.push_back(
                applied != nullptr && applied->IsInt64() ? applied->GetInt64() : -1);
        }
    return state;
}

std::map<std::string, SimItem> readSimTree(const SimProcess& sim) {
    std::map<std::string, SimItem> items;
    const auto client = makeSimClient(sim);
    const auto res = client->Get("/__sim/tree");
    if (!res || res->status != 200)
        return items;
    rapidjson::Document doc;
    doc.Parse(res->body.c_str(), res->body.size());
    if (doc.HasParseError() || !doc.IsObject() || !doc.HasMember("entries"))
        return items;
    const std::function<void(const rapidjson::Value&)> add = [&](const rapidjson::Value& list) {
        for (const auto& e : list.GetArray()) {
            SimItem item;
            item.name = text(e, "name");
            item.fsId = jsText(member(e, "fs_id"));
            item.md5 = text(e, "md5");
            item.isDir = e.HasMember("children");
            items[text(e, "path")] = item;
            if (item.isDir)
                add(e["children"]);
        }
    };
    add(doc["entries"]);
    return items;
}

std::string queryEncode(const std::string& text) {
    constexpr char hex[] = "0123456789ABCDEF";
    std::string out;
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') ||
            (byte >= '0' && byte <= '9') || byte == '-' || byte == '.' || byte == '_') {
            out.push_back(c);
        } else {
            out.push_back('%');
            out.push_back(hex[byte >> 4]);
            out.push_back(hex[byte & 0x0F]);
        }
    }
    return out;
}

std::string jsonQuote(const std::string& text) {
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
    writer.String(text.c_str(), static_cast<rapidjson::SizeType>(text.size()));
    return {buffer.GetString(), buffer.GetSize()};
}

std::vector<ListedMember> fetchListing(const SimProcess& sim, const std::string& folder) {
    auto client = makeSimClient(sim);
    const std::string target =
        "/api/list?order=time&desc=1&page=1&num=100000&dir=" + queryEncode(folder) +
        "&bdstoken=" + SimProcess::kBdstoken;
    const auto res = client->Get(target.c_str(), simLoginHeaders());
    std::vector<ListedMember> members;
    if (!res || res->status != 200)
        return members;
    rapidjson::Document doc;
    doc.Parse(res->body.c_str(), res->body.size());
    const rapidjson::Value* list = doc.HasParseError() ? nullptr : array(doc, "list");
    if (list == nullptr)
        return members;
    for (const auto& m : list->GetArray()) {
        ListedMember entry;
        entry.isdir = jsText(member(m, "isdir"));
        entry.path = jsText(member(m, "path"));
        entry.name = jsText(member(m, "server_filename"));
        entry.fsId = jsText(member(m, "fs_id"));
        entry.md5 = jsText(member(m, "md5"));
        entry.size = jsText(member(m, "size"));
        if (const auto* thumbs = member(m, "thumbs"))
            entry.thumbsUrl3 = jsText(member(*thumbs, "url3"));
        members.push_back(std::move(entry));
    }
    return members;
}

bool simControl(const SimProcess& sim, const std::string& path, const std::string& json) {
    const auto client = makeSimClient(sim);
    const auto res = client->Post(path, json, "application/json");
    return res && res->status == 200;
}

std::optional<std::string> makeBulkShares(const SimProcess& sim, int count, int period,
                                          int offset) {
    const auto client = makeSimClient(sim);
    const std::string body = "{\"count\":" + std::to_string(count) +
                             ",\"period\":" + std::to_string(period) +
                             ",\"offset\":" + std::to_string(offset) + "}";
    const auto res = client->Post("/__sim/shares/make", body, "application/json");
    if (!res || res->status != 200)
        return std::nullopt;
    return res->body;
}

} // namespace vantorel::test
