#include "faults.h"

#include "text_util.h"
#include "tree.h"

#include <algorithm>
#include <array>
#include <utility>

namespace netdisk_sim {

namespace {

constexpr std::array<std::pair<const char*, Endpoint>, 13> kEndpoints{{
    {"any", Endpoint::Any},
    {"login", Endpoint::Login},
    {"home", Endpoint::Home},
    {"list", Endpoint::List},
    {"share", Endpoint::Share},
    {"record", Endpoint::Record},
    {"cancel", Endpoint::Cancel},
    {"rename", Endpoint::Rename},
    {"taskquery", Endpoint::TaskQuery},
    {"template", Endpoint::Template},
    {"loginstatus", Endpoint::LoginStatus},
    {"thumbnail", Endpoint::Thumbnail},
    {"other", Endpoint::Other},
}};

constexpr std::array<std::pair<const char*, FaultKind>, 11> kKinds{{
    {"delay", FaultKind::Delay},
    {"status", FaultKind::Status},
    {"drop", FaultKind::Drop},
    {"not_json", FaultKind::NotJson},
    {"truncate", FaultKind::Truncate},
    {"empty", FaultKind::Empty},
    {"errno", FaultKind::Errno},
    {"delete_login", FaultKind::DeleteLogin},
    {"mangle", FaultKind::Mangle},
    {"repeat_page", FaultKind::RepeatPage},
    {"no_link", FaultKind::NoLink},
}};

std::optional<FaultKind> kindFromName(std::string_view name) {
    for (const auto& [n, k] : kKinds) {
        if (name == n) {
            return k;
        }
    }
    return std::nullopt;
}

const char* kindName(FaultKind kind) {
    for (const auto& [n, k] : kKinds) {
        if (k == kind) {
            return n;
        }
    }
    return "?";
}

// Fills in defaults and rejects combinations that could never act.
bool finish(FaultRule& rule, bool hasValue, std::string& error) {
    switch (rule.kind) {
    case FaultKind::Delay:
    case FaultKind::Errno:
        if (!hasValue) {
            error = std::string(kindName(rule.kind)) + " needs a value";
            return false;
        }
        break;
    case FaultKind::Status:
        if (!hasValue) {
            rule.value = 500;
        }
        if (rule.value < 100 || rule.value > 599) {
            error = "status must be from 100 to 599";
            return false;
        }
        break;
    case FaultKind::Mangle:
    case FaultKind::RepeatPage:
        if (rule.endpoint != Endpoint::List && rule.endpoint != Endpoint::Record) {
            error =
                std::string(kindName(rule.kind)) + " applies to the list and record endpoints only";
            return false;
        }
        break;
    case FaultKind::NoLink:
        if (rule.endpoint != Endpoint::Share) {
            error = "no_link applies to the share endpoint only";
            return false;
        }
        break;
    default:
        break;
    }
    if (rule.kind == FaultKind::Delay && rule.value < 0) {
        error = "a delay cannot be negative";
        return false;
    }
    if (rule.fsId && rule.endpoint != Endpoint::Share) {
        error = "fs_id applies to the share endpoint only";
        return false;
    }
    if (rule.dir && rule.endpoint != Endpoint::List) {
        error = "dir applies to the list endpoint only";
        return false;
    }
    if (rule.page && rule.endpoint != Endpoint::List && rule.endpoint != Endpoint::Record) {
        error = "page applies to the list and record endpoints only";
        return false;
    }
    if (rule.dir) {
        rule.dir = Tree::normalisePath(*rule.dir);
    }
    if (rule.after < 0) {
        error = "after cannot be negative";
        return false;
    }
    return true;
}

} // namespace

std::optional<Endpoint> endpointFromName(std::string_view name) {
    for (const auto& [n, e] : kEndpoints) {
        if (name == n) {
            return e;
        }
    }
    return std::nullopt;
}

const char* endpointName(Endpoint endpoint) {
    for (const auto& [n, e] : kEndpoints) {
        if (e == endpoint) {
            return n;
        }
    }
    return "?";
}

std::optional<FaultRule> parseFaultText(std::string_view text, std::string& error) {
    FaultRule rule;
    const std::size_t colon = text.find(':');
    if (colon == std::string_view::npos) {
        error = "expected ENDPOINT:KIND[=VALUE][,after=N][,times=N][,fs_id=ID], got \"" +
                std::string(text) + "\"";
        return std::nullopt;
    }
    const auto endpoint = endpointFromName(text.substr(0, colon));
    if (!endpoint) {
        error = "unknown endpoint \"" + std::string(text.substr(0, colon)) + "\"";
        return std::nullopt;
    }
    rule.endpoint = *endpoint;
    bool hasValue = false;
    bool first = true;
    std::string_view rest = text.substr(colon + 1);
    while (!rest.empty() || first) {
        const std::size_t comma = rest.find(',');
        const std::string_view item = rest.substr(0, comma);
        rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
        const std::size_t eq = item.find('=');
        const std::string_view key = item.substr(0, eq);
        const std::string_view value =
            eq == std::string_view::npos ? std::string_view() : item.substr(eq + 1);
        if (first) {
            first = false;
            const auto kind = kindFromName(key);
            if (!kind) {
                error = "unknown fault kind \"" + std::string(key) + "\"";
                return std::nullopt;
            }
            rule.kind = *kind;
            if (eq != std::string_view::npos) {
                const auto v = parseInt64(value);
                if (!v) {
                    error = "the value of " + std::string(key) + " must be an integer";
                    return std::nullopt;
                }
                rule.value = *v;
                hasValue = true;
            }
            continue;
        }
        if (key == "fs_id") {
            const auto id = parseUint64(value);
            if (!id) {
                error = "fs_id must be digits";
                return std::nullopt;
            }
            rule.fsId = id;
        } else if (key == "after" || key == "times" || key == "page") {
            const auto v = parseInt64(value);
            if (!v) {
                error = std::string(key) + " must be an integer";
                return std::nullopt;
            }
            if (key == "page") {
                rule.page = *v;
            } else {
                (key == "after" ? rule.after : rule.times) = *v;
            }
        } else if (key == "dir") {
            rule.dir = percentDecode(value, true);
        } else {
            error = "unknown fault option \"" + std::string(key) + "\"";
            return std::nullopt;
        }
    }
    if (!finish(rule, hasValue, error)) {
        return std::nullopt;
    }
    return rule;
}

std::optional<FaultRule> parseFaultJson(const rapidjson::Value& value, std::string& error) {
    if (!value.IsObject()) {
        error = "a fault rule must be a JSON object";
        return std::nullopt;
    }
    FaultRule rule;
    bool hasKind = false;
    bool hasValue = false;
    for (auto m = value.MemberBegin(); m != value.MemberEnd(); ++m) {
        const std::string_view key = m->name.GetString();
        const auto& v = m->value;
        if (key == "endpoint") {
            const auto e = v.IsString() ? endpointFromName(v.GetString()) : std::nullopt;
            if (!e) {
                error = "unknown endpoint";
                return std::nullopt;
            }
            rule.endpoint = *e;
        } else if (key == "kind") {
            const auto k = v.IsString() ? kindFromName(v.GetString()) : std::nullopt;
            if (!k) {
                error = "unknown fault kind";
                return std::nullopt;
            }
            rule.kind = *k;
            hasKind = true;
        } else if (key == "value" || key == "after" || key == "times" || key == "page") {
            if (!v.IsInt64()) {
                error = std::string(key) + " must be an integer";
                return std::nullopt;
            }
            if (key == "value") {
                rule.value = v.GetInt64();
                hasValue = true;
            } else if (key == "page") {
                rule.page = v.GetInt64();
            } else {
                (key == "after" ? rule.after : rule.times) = v.GetInt64();
            }
        } else if (key == "dir") {
            if (!v.IsString()) {
                error = "dir must be a text";
                return std::nullopt;
            }
            rule.dir = std::string(v.GetString(), v.GetStringLength());
        } else if (key == "fs_id") {
            std::optional<std::uint64_t> id;
            if (v.IsUint64()) {
                id = v.GetUint64();
            } else if (v.IsString()) {
                id = parseUint64(v.GetString());
            }
            if (!id) {
                error = "fs_id must be a number or digits";
                return std::nullopt;
            }
            rule.fsId = id;
        } else {
            error = "unknown key \"" + std::string(key) + "\" in a fault rule";
            return std::nullopt;
        }
    }
    if (!hasKind) {
        error = "a fault rule needs a \"kind\"";
        return std::nullopt;
    }
    if (!finish(rule, hasValue, error)) {
        return std::nullopt;
    }
    return rule;
}

void writeFaultJson(JsonWriter& w, const FaultRule& rule) {
    w.StartObject();
    putKey(w, "endpoint");
    putString(w, endpointName(rule.endpoint));
    putKey(w, "kind");
    putString(w, kindName(rule.kind));
    putKey(w, "value");
    w.Int64(rule.value);
    if (rule.fsId) {
        putKey(w, "fs_id");
        w.Uint64(*rule.fsId);
    }
    if (rule.dir) {
        putKey(w, "dir");
        putString(w, *rule.dir);
    }
    if (rule.page) {
        putKey(w, "page");
        w.Int64(*rule.page);
    }
    putKey(w, "after");
    w.Int64(rule.after);
    putKey(w, "times");
    w.Int64(rule.times);
    putKey(w, "seen");
    w.Int64(rule.seen);
    putKey(w, "applied");
    w.Int64(rule.applied);
    w.EndObject();
}

FaultPlan FaultSet::evaluate(const RequestFacts& request) {
    FaultPlan plan;
    for (FaultRule& rule : rules_) {
        if (rule.endpoint != Endpoint::Any && rule.endpoint != request.endpoint) {
            continue;
        }
        if (rule.fsId && std::find(request.fsIds.begin(), request.fsIds.end(), *rule.fsId) ==
                             request.fsIds.end()) {
            continue;
        }
        if ((rule.dir && *rule.dir != request.dir) || (rule.page && *rule.page != request.page)) {
            continue;
        }
        ++rule.seen;
        if (rule.seen <= rule.after || (rule.times >= 0 && rule.applied >= rule.times)) {
            continue;
        }
        switch (rule.kind) {
        case FaultKind::Delay:
            plan.delayMs += rule.value;
            break;
        case FaultKind::Errno:
            if (plan.errnoValue) {
                continue; // not due for this one: leave it for a later request
            }
            plan.errnoValue = rule.value;
            break;
        case FaultKind::DeleteLogin:
            plan.deleteLogin = true;
            break;
        case FaultKind::Mangle:
            plan.mangle = true;
            break;
        case FaultKind::RepeatPage:
            plan.repeatPage = true;
            break;
        case FaultKind::NoLink:
            plan.noLink = true;
            break;
        default:
            if (plan.transport) {
                continue;
            }
            plan.transport = rule;
            break;
        }
        ++rule.applied;
    }
    return plan;
}

} // namespace netdisk_sim
