#include "share/folder_walk.h"

#include "base/codecs.h"
#include "netdisk/netdisk_api.h"

#include <string>

namespace vantorel {

void walkFolder(NetdiskApi& api, std::string_view dir, int shareType, WalkLists& lists,
                std::stop_token stop) {
    if (stop.stop_requested())
        return;
    Listing listing = api.fetchListing(dir);
    if (shareType != 2)
        lists.folders.insert(lists.folders.end(), listing.folders.begin(), listing.folders.end());
    if (shareType != 3)
        lists.files.insert(lists.files.end(), listing.files.begin(), listing.files.end());
    if (shareType != 4 && shareType != 5)
        return;
    // Deep trees are walked with the recursion of the folder structure; the
    // service's paths bound it long before the stack does.
    for (const ListEntry& folder : listing.folders) {
        if (stop.stop_requested())
            return;
        walkFolder(api, formEncode(folder.path, true, true), shareType, lists, stop);
    }
}

} // namespace vantorel
