#pragma once

// Which entries of the open folder a run shares, collected by share type.

#include "base/expected.h"
#include "netdisk/list_entry.h"
#include "settings/share_options.h"

#include <stop_token>
#include <string_view>
#include <vector>

namespace vantorel {

class NetdiskApi;

struct WalkLists {
    std::vector<ListEntry> files;   // in walk order
    std::vector<ListEntry> folders; // in walk order
};

// The start of the message for a folder that could not be listed; the
// folder's path and the reason follow it.
inline constexpr std::string_view kListingFailedMessage = "获取文件列表失败: ";

// Lists `dir` (already percent-encoded) and, under share types 4 and 5, every
// sub-folder below it: depth first, parents first, each sub-folder walked
// completely before the next. ShareType::Files collects no folders,
// ShareType::Folders no files.
// A listing that fails ends the walk: nothing further is listed, and the
// error's message is kListingFailedMessage, the folder's path and why. A stop
// request ends the walk too, without an error.
Status walkFolder(NetdiskApi& api, std::string_view dir, ShareType shareType, WalkLists& lists,
                  std::stop_token stop = {});

} // namespace vantorel
