#pragma once

// What the simulator holds after a client has talked to it: the shares and
// renames it accepted (GET /__sim/state) and its folder tree (GET
// /__sim/tree), read back through its control endpoints.

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
};

struct SimRename {
    std::string path;
    std::string newName;
    int errnoValue = 0; // 0 when the item was renamed
};

struct SimState {
    std::vector<SimShare> shares;
    std::vector<SimRename> renames;
    std::map<std::string, std::uint64_t> requests; // per endpoint name
};

struct SimItem {
    std::string name;
    std::string fsId;
    std::string md5; // empty for folders
    bool isDir = false;
};

// Nothing when the simulator did not answer with its JSON.
std::optional<SimState> readSimState(const SimProcess& sim);

// Every item of the tree by its full path ("/A/a1.txt").
std::map<std::string, SimItem> readSimTree(const SimProcess& sim);

// POSTs a JSON body to a control endpoint ("/__sim/fault", "/__sim/config",
// "/__sim/reset"); true when the simulator accepted it.
bool simControl(const SimProcess& sim, const std::string& path, const std::string& json = "{}");

} // namespace vantorel::test
