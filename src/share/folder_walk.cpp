#include "share/folder_walk.h"

#include "base/codecs.h"
#include "netdisk/netdisk_api.h"

#include <string>

namespace vantorel {
namespace {

// `shownPath` is the folder as the user knows it, for the message.
Status walk(NetdiskApi& api, std::string_view dir, const std::string& shownPath,
            ShareType shareType, WalkLists& lists, const std::stop_token& stop) {
    if (stop.stop_requested())
        return {};
    Expected<Listing> listing = api.fetchListing(dir);
    if (!listing) {
        // A stop abandons the request in flight; that is no failure.
        if (stop.stop_requested())
            return {};
        return Error{std::string(kListingFailedMessage) + shownPath + " (" +
                         listing.error().message + ")",
                     listing.error().code};
    }
    if (shareType != ShareType::Files)
        lists.folders.insert(lists.folders.end(), listing->folders.begin(), listing->folders.end());
    if (shareType != ShareType::Folders)
        lists.files.insert(lists.files.end(), listing->files.begin(), listing->files.end());
    if (!descendsIntoSubfolders(shareType))
        return {};
    // Deep trees are walked with the recursion of the folder structure; the
    // service's paths bound it long before the stack does.
    for (const ListEntry& folder : listing->folders) {
        if (stop.stop_requested())
            return {};
        if (Status walked =
                walk(api, formEncode(folder.path, true, true), folder.path, shareType, lists, stop);
            !walked)
            return walked;
    }
    return {};
}

} // namespace

Status walkFolder(NetdiskApi& api, std::string_view dir, ShareType shareType, WalkLists& lists,
                  std::stop_token stop) {
    std::string shown = percentDecode(dir, true);
    if (shown.empty())
        shown = "/";
    return walk(api, dir, shown, shareType, lists, stop);
}

} // namespace vantorel
