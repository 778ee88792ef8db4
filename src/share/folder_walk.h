#pragma once

// Which entries of the open folder a run shares, collected by share type.

#include "netdisk/list_entry.h"

#include <stop_token>
#include <string_view>
#include <vector>

namespace vantorel {

class NetdiskApi;

struct WalkLists {
    std::vector<ListEntry> files;   // in walk order
    std::vector<ListEntry> folders; // in walk order
};

// Lists `dir` (already percent-encoded) and, under share types 4 and 5, every
// sub-folder below it: depth first, parents first, each sub-folder walked
// completely before the next. Type 2 collects no folders, type 3 no files.
// A failed listing contributes nothing; a stop request ends the walk.
void walkFolder(NetdiskApi& api, std::string_view dir, int shareType, WalkLists& lists,
                std::stop_token stop = {});

} // namespace vantorel
