#pragma once

// What the simulator holds after a client has talked to it: the shares and
// renames it accepted (GET /__sim/state), its folder tree (GET /__sim/tree)
// and a folder's listing as the client reads it, read back through its own
// endpoints.

#include "sim_process.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace vantorel::test {

struct SimShare {
    std::vector<std::string> fsIds; // decimal, every digit kept
    std::vector<std::string> paths;
    std::string link;
    std::string pwd;
    int period = 0;
    std::int64_t ctime = 0;
    std::string shareId; // decimal
    int status = 0;      // 0 normal, 1 blocked by the service
    bool cancelled = false;
    bool expired = false; // by the simulator's clock when the state was read
    bool bulk = false;    // made by POST /__sim/shares/make, not by /share/set
    std::int64_t views = 0, downloads = 0, saves = 0;
};

struct SimRename {
    std::string path;
    std::string newName;
    int errnoValue = 0; // 0 when the item was renamed
};

struct SimState {
    std::string user; // the account's name
    std::vector<SimShare> shares;
    std::vector<SimRename> renames;
    std::map<std::string, std::uint64_t> requests; // per endpoint name
    // How often each fault rule acted, in the order the rules were added.
    std::vector<std::int64_t> faultsApplied;
    std::string raw; // the whole answer
};

struct SimItem {
    std::string name;
    std::string fsId;
    std::string md5; // empty for folders
    bool isDir = false;
};

// Nothing when the simulator did not answer with a JSON object; members it
// lacks stay empty.
std::optional<SimState> readSimState(const SimProcess& sim);

// Every item of the tree by its full path ("/A/a1.txt").
std::map<std::string, SimItem> readSimTree(const SimProcess& sim);

// A member of a listing reply, its values read the way the client reads
// them: strings as they are, numbers in decimal, anything missing empty.
struct ListedMember {
    std::string isdir, path, name, fsId, md5, size, thumbsUrl3;
};
// GET /api/list of that folder (plain path), as the logged-in client asks.
// Rules on the listing endpoint apply to this request too.
std::vector<ListedMember> fetchListing(const SimProcess& sim, const std::string& folder);

// Percent-encoding as the HTTP query of a listing wants it.
std::string queryEncode(const std::string& text);

// A JSON string literal for `text`, for trees and fault rules built in a
// test.
std::string jsonQuote(const std::string& text);

// POSTs a JSON body to a control endpoint ("/__sim/fault", "/__sim/config",
// "/__sim/reset"); true when the simulator accepted it.
bool simControl(const SimProcess& sim, const std::string& path, const std::string& json = "{}");

// POST /__sim/shares/make for `count` files from `offset` on: the reply
// body, nothing when the simulator refused.
std::optional<std::string> makeBulkShares(const SimProcess& sim, int count, int period = 7,
                                          int offset = 0);

} // namespace vantorel::test
