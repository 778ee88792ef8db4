// The control requests that act on the share list and the clock: what a
// user does in the browser (cancel), what the service does on its own
// (block, count views and saves, let time pass), and shares made in bulk
// for benchmarks.

#include "call.h"
#include "json_util.h"

#include <array>
#include <functional>
#include <limits>
#include <rapidjson/document.h>

namespace netdisk_sim {

namespace {

std::optional<std::uint64_t> shareIdOf(const rapidjson::Value& v) {
    if (v.IsUint64()) {
        return v.GetUint64();
    }
    if (v.IsString()) {
        return parseUint64(v.GetString());
    }
    return std::nullopt;
}

// A code for a share made in bulk: four lower-case letters or digits, the
// same for the same shareid.
std::string bulkCode(std::uint64_t shareId) {
    static constexpr char kAlphabet[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::uint64_t state = shareId * 0xD1B54A32D192ED03ULL + 0xC0DE;
    std::string code;
    for (int i = 0; i < 4; ++i) {
        state ^= state >> 31;
        state *= 0x9E3779B97F4A7C15ULL;
        code.push_back(kAlphabet[(state >> 33) % 36]);
    }
    return code;
}

// The tree's first `count` files in the order GET /__sim/tree prints them.
std::vector<const Entry*> firstFiles(const Tree& tree, std::size_t count) {
    std::vector<const Entry*> files;
    const std::function<void(const Entry&)> walk = [&](const Entry& folder) {
        for (const Entry* e : tree.children(folder)) {
            if (files.size() >= count) {
                return;
            }
            if (e->isDir) {
                walk(*e);
            } else {
                files.push_back(e);
            }
        }
    };
    walk(tree.root());
    return files;
}

} // namespace

bool Service::shareControlHandler(Call& call) {
    static const std::array<const char*, 5> kPaths{"/__sim/clock", "/__sim/share/block",
                                                   "/__sim/share/cancel", "/__sim/share/counts",
                                                   "/__sim/shares/make"};
    if (call.req.method != "POST" ||
        std::find(kPaths.begin(), kPaths.end(), call.path) == kPaths.end()) {
        return false;
    }
    const auto error = [&call](const std::string& message) {
        controlError(call.res, 400, message);
        return true;
    };
    rapidjson::Document doc;
    doc.Parse(call.req.body.c_str(), call.req.body.size());
    if (doc.HasParseError() || !doc.IsObject()) {
        return error("the body must be a JSON object");
    }
    // Every key must be one the request knows, so that a misspelt one is
    // not silently ignored.
    const auto onlyKeys = [&doc](std::initializer_list<std::string_view> known) -> std::string {
        for (auto m = doc.MemberBegin(); m != doc.MemberEnd(); ++m) {
            const std::string_view key = m->name.GetString();
            if (std::find(known.begin(), known.end(), key) == known.end()) {
                return std::string(key);
            }
        }
        return {};
    };
    const auto intKey = [&doc](const char* key) -> std::optional<std::int64_t> {
        const auto it = doc.FindMember(key);
        if (it == doc.MemberEnd() || !it->value.IsInt64()) {
            return std::nullopt;
        }
        return it->value.GetInt64();
    };

    if (call.path == "/__sim/clock") {
        if (const std::string bad = onlyKeys({"advance"}); !bad.empty()) {
            return error("unknown key: " + bad);
        }
        const auto advance = intKey("advance");
        if (!advance) {
            return error("\"advance\" must be a whole number of seconds");
        }
        const std::lock_guard lock(mutex_);
        fixedTime_ = nowLocked() + *advance;
        controlOk(call.res, "{\"ok\":true,\"clock\":" + std::to_string(*fixedTime_) + "}\n");
        return true;
    }

    if (call.path == "/__sim/shares/make") {
        if (const std::string bad = onlyKeys({"count", "period", "offset", "public"});
            !bad.empty()) {
            return error("unknown key: " + bad);
        }
        const auto count = intKey("count");
        const std::int64_t period = intKey("period").value_or(7);
        const std::int64_t offset = intKey("offset").value_or(0);
        const auto publicKey = doc.FindMember("public");
        if (!count || *count < 1 || offset < 0) {
            return error("\"count\" must be at least 1 and \"offset\" not negative");
        }
        if (period != 0 && period != 1 && period != 7 && period != 30) {
            return error("\"period\" must be 0, 1, 7 or 30");
        }
        if (publicKey != doc.MemberEnd() && !publicKey->value.IsBool()) {
            return error("\"public\" must be true or false");
        }
        const bool withoutCode = publicKey != doc.MemberEnd() && publicKey->value.GetBool();
        const std::lock_guard lock(mutex_);
        const auto available = static_cast<std::int64_t>(tree_.fileCount());
        if (offset > available || *count > available - offset) {
            return error("the tree has only " + std::to_string(available) + " files");
        }
        const auto wanted = static_cast<std::size_t>(offset + *count);
        const std::vector<const Entry*> files = firstFiles(tree_, wanted);
        rapidjson::StringBuffer buffer;
        JsonWriter w(buffer);
        w.StartObject();
        putKey(w, "ok");
        w.Bool(true);
        putKey(w, "made");
        w.Int64(*count);
        putKey(w, "shares");
        w.StartArray();
        for (std::size_t i = static_cast<std::size_t>(offset); i < wanted; ++i) {
            Share share;
            share.fsIds = {files[i]->fsId};
            share.paths = {files[i]->path};
            share.period = static_cast<int>(period);
            share.bulk = true;
            addShareLocked(std::move(share));
            Share& stored = shares_.back();
            if (!withoutCode) {
                stored.pwd = bulkCode(stored.shareId);
            }
            ++bulkShareCount_;
            w.StartObject();
            putKey(w, "shareid");
            w.Uint64(stored.shareId);
            putKey(w, "fs_id");
            w.Uint64(files[i]->fsId);
            putKey(w, "path");
            putString(w, files[i]->path);
            putKey(w, "md5");
            putString(w, files[i]->md5);
            putKey(w, "link");
            putString(w, stored.link);
            putKey(w, "pwd");
            putString(w, stored.pwd);
            putKey(w, "ctime");
            w.Int64(stored.ctime);
            w.EndObject();
        }
        w.EndArray();
        w.EndObject();
        controlOk(call.res, std::string(buffer.GetString(), buffer.GetSize()) + "\n");
        return true;
    }

    // The rest act on one share, named by "shareid" (a number or digits).
    const auto idMember = doc.FindMember("shareid");
    const auto id = idMember == doc.MemberEnd() ? std::nullopt : shareIdOf(idMember->value);
    if (!id) {
        return error("\"shareid\" must be a number or digits");
    }
    std::optional<std::int64_t> status;
    std::array<std::optional<std::int64_t>, 3> counts; // vCnt, dCnt, tCnt
    if (call.path == "/__sim/share/block") {
        if (const std::string bad = onlyKeys({"shareid", "status"}); !bad.empty()) {
            return error("unknown key: " + bad);
        }
        status = doc.HasMember("status") ? intKey("status") : std::optional<std::int64_t>(1);
        if (!status || *status < 0 || *status > std::numeric_limits<int>::max()) {
            return error("\"status\" must be a whole number, 0 or more");
        }
    } else if (call.path == "/__sim/share/counts") {
        if (const std::string bad = onlyKeys({"shareid", "vCnt", "dCnt", "tCnt"}); !bad.empty()) {
            return error("unknown key: " + bad);
        }
        const std::array<const char*, 3> keys{"vCnt", "dCnt", "tCnt"};
        for (std::size_t k = 0; k < keys.size(); ++k) {
            if (doc.HasMember(keys[k])) {
                counts[k] = intKey(keys[k]);
                if (!counts[k] || *counts[k] < 0) {
                    return error(std::string("\"") + keys[k] +
                                 "\" must be a whole number, 0 or more");
                }
            }
        }
    } else if (const std::string bad = onlyKeys({"shareid"}); !bad.empty()) {
        return error("unknown key: " + bad);
    }

    const std::lock_guard lock(mutex_);
    Share* share = findShareLocked(*id);
    if (share == nullptr) {
        return error("no share " + std::to_string(*id));
    }
    if (call.path == "/__sim/share/block") {
        share->status = static_cast<int>(*status);
    } else if (call.path == "/__sim/share/counts") {
        std::int64_t* fields[] = {&share->views, &share->downloads, &share->saves};
        for (std::size_t k = 0; k < counts.size(); ++k) {
            if (counts[k]) {
                *fields[k] = *counts[k];
            }
        }
    } else {
        cancelSharesLocked({*id});
    }
    controlOk(call.res, "{\"ok\":true}\n");
    return true;
}

} // namespace netdisk_sim
