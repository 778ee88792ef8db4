#pragma once

// What the handlers of the simulated service share: one request in hand and
// the helpers that read it. Private to the service's own files.

#include "pages.h"
#include "service.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace netdisk_sim {

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

// fid_list as the share request sends it: a JSON array of ids, numbers or
// digit strings. Nothing when it is not such an array.
std::optional<std::vector<std::uint64_t>> parseFidList(const std::string& text);

bool equalsNoCase(std::string_view a, std::string_view b);

// The part of a share link after /s/ for that share: "1" and 22 more
// characters, the same for the same shareid.
std::string shareCode(std::uint64_t shareId);

// Replies of the control requests: the JSON as it stands, or a status
// with {"error": message}.
void controlOk(httplib::Response& res, std::string json);
void controlError(httplib::Response& res, int status, const std::string& message);

// The account's user id, as every token reply names it.
inline constexpr std::uint64_t kAccountUk = 1099511627776ULL + 4097;

inline constexpr const char* kDeletedCookieTail =
    "=deleted; expires=Thu, 01-Jan-1970 00:00:01 GMT; max-age=0; path=/";

} // namespace netdisk_sim
