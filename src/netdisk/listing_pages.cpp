#include "netdisk/listing_pages.h"

#include <string>
#include <unordered_set>

namespace vantorel {
namespace {

// Appends the entries whose fs_id is new; says how many were.
std::size_t appendNew(std::vector<ListEntry>& to, std::vector<ListEntry>& from,
                      std::unordered_set<std::string>& seen) {
    std::size_t added = 0;
    for (ListEntry& entry : from) {
        // An entry without an id cannot repeat one; it is kept as listed,
        // and the share request will say what the service makes of it.
        if (!entry.fs_id.empty() && !seen.insert(entry.fs_id).second)
            continue;
        if (!entry.fs_id.empty())
            ++added;
        to.push_back(std::move(entry));
    }
    return added;
}

} // namespace

Expected<Listing> collectListingPages(const ListingPageSource& fetchPage, std::size_t pageSize) {
    Listing listing;
    std::unordered_set<std::string> seen;
    for (int page = 1; page <= kListingPageLimit; ++page) {
        Expected<ListingPage> got = fetchPage(page);
        if (!got)
            return got.error();
        const std::size_t added = appendNew(listing.folders, got->entries.folders, seen) +
                                  appendNew(listing.files, got->entries.files, seen);
        // A service that hands out the same page again would otherwise be
        // asked for ever.
        if (got->members < pageSize || added == 0)
            break;
    }
    return listing;
}

} // namespace vantorel
