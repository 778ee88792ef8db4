#include "sim_state.h"

#include "sim_client.h"

#include <functional>
#include <rapidjson/document.h>

namespace vantorel::test {

namespace {

std::string numberText(const rapidjson::Value& v) {
    if (v.IsUint64())
        return std::to_string(v.GetUint64());
    if (v.IsInt64())
        return std::to_string(v.GetInt64());
    if (v.IsString())
        return std::string(v.GetString(), v.GetStringLength());
    return {};
}

std::string text(const rapidjson::Value& object, const char* key) {
    const auto member = object.FindMember(key);
    if (member == object.MemberEnd() || !member->value.IsString())
        return {};
    return std::string(member->value.GetString(), member->value.GetStringLength());
}

} // namespace

std::optional<SimState> readSimState(const SimProcess& sim) {
    const auto client = makeSimClient(sim);
    const auto res = client->Get("/__sim/state");
    if (!res || res->status != 200)
        return std::nullopt;
    rapidjson::Document doc;
    doc.Parse(res->body.c_str(), res->body.size());
    if (doc.HasParseError() || !doc.IsObject() || !doc.HasMember("shares") ||
        !doc.HasMember("renames") || !doc.HasMember("requests"))
        return std::nullopt;

    SimState state;
    for (const auto& s : doc["shares"].GetArray()) {
        SimShare share;
        for (const auto& id : s["fs_ids"].GetArray())
            share.fsIds.push_back(numberText(id));
        for (const auto& p : s["paths"].GetArray())
            share.paths.emplace_back(p.GetString(), p.GetStringLength());
        share.link = text(s, "link");
        share.pwd = text(s, "pwd");
        share.period = s["period"].GetInt();
        share.ctime = s["ctime"].GetInt64();
        state.shares.push_back(std::move(share));
    }
    for (const auto& r : doc["renames"].GetArray())
        state.renames.push_back({text(r, "path"), text(r, "newname"), r["errno"].GetInt()});
    for (auto m = doc["requests"].MemberBegin(); m != doc["requests"].MemberEnd(); ++m)
        state.requests[m->name.GetString()] = m->value.GetUint64();
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
            item.fsId = numberText(e["fs_id"]);
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

bool simControl(const SimProcess& sim, const std::string& path, const std::string& json) {
    const auto client = makeSimClient(sim);
    const auto res = client->Post(path, json, "application/json");
    return res && res->status == 200;
}

} // namespace vantorel::test
