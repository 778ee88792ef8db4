#pragma once

// Faults on demand: rules that make chosen requests slow, broken or refused.
// Rules come from the command line (--fault, --delay, --share-errno) and from
// POST /__sim/fault; the README lists the kinds.

#include "json_util.h"

#include <cstdint>
#include <optional>
#include <rapidjson/document.h>
#include <string>
#include <string_view>
#include <vector>

namespace netdisk_sim {

enum class Endpoint {
    Any,
    Login,
    Home,
    List,
    Share,
    Record, // GET /share/record, the share list
    Cancel, // POST /share/cancel
    Rename,
    TaskQuery,
    Template,
    LoginStatus,
    Thumbnail,
    Other,
};

std::optional<Endpoint> endpointFromName(std::string_view name);
const char* endpointName(Endpoint endpoint);

enum class FaultKind {
    Delay,
    Status,
    Drop,
    NotJson,
    Truncate,
    Empty,
    Errno,
    DeleteLogin,
    Mangle,
    RepeatPage,
    NoLink,
};

struct FaultRule {
    Endpoint endpoint = Endpoint::Any;
    FaultKind kind = FaultKind::Status;
    std::int64_t value = 0;            // milliseconds, status code, errno or body bytes
    std::optional<std::uint64_t> fsId; // share requests naming this item only
    std::optional<std::string> dir;    // listing requests of this folder only
    std::optional<std::int64_t> page;  // listing or share-list requests of this page only
    std::int64_t after = 0;            // matching requests let through first
    std::int64_t times = -1;           // requests affected; -1 for all that follow
    std::int64_t seen = 0;
    std::int64_t applied = 0;
};

// ENDPOINT:KIND[=VALUE][,after=N][,times=N][,fs_id=ID][,dir=PATH][,page=N]
std::optional<FaultRule> parseFaultText(std::string_view text, std::string& error);
// {"endpoint": "share", "kind": "errno", "value": 115, "fs_id": 123, "after": 0, "times": 1}
std::optional<FaultRule> parseFaultJson(const rapidjson::Value& value, std::string& error);
void writeFaultJson(JsonWriter& w, const FaultRule& rule);

// What the rules do to one request.
struct FaultPlan {
    std::int64_t delayMs = 0;
    std::optional<FaultRule> transport; // status, drop, not_json, truncate or empty
    std::optional<std::int64_t> errnoValue;
    bool deleteLogin = false;
    bool mangle = false;
    bool repeatPage = false;
    bool noLink = false;
};

// What a rule can match a request by, besides its endpoint.
struct RequestFacts {
    Endpoint endpoint = Endpoint::Other;
    std::vector<std::uint64_t> fsIds; // share requests
    std::string dir;                  // listing requests, normalised
    std::int64_t page = 1;            // listing and share-list requests
};

class FaultSet {
public:
    void add(FaultRule rule) { rules_.push_back(rule); }
    void clear() { rules_.clear(); }
    const std::vector<FaultRule>& rules() const { return rules_; }

    // Counts the request against every matching rule and collects what the
    // rules that are due ask for. The first due rule of each sort wins;
    // delays add up.
    FaultPlan evaluate(const RequestFacts& request);

private:
    std::vector<FaultRule> rules_;
};

} // namespace netdisk_sim
