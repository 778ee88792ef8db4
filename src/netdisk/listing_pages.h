#pragma once

// A folder comes from the service in pages. These rules put the pages back
// together into one listing, whatever the service does at the end of it.

#include "base/expected.h"
#include "netdisk/netdisk_api.h"

#include <cstddef>
#include <functional>

namespace vantorel {

// One page of a listing reply.
struct ListingPage {
    Listing entries;
    // Members the reply's list held, those dropped for a strange isdir
    // included: the service's own count, which tells whether more may come.
    std::size_t members = 0;
};

// No folder is listed past this many pages, so a service that never ends
// a listing cannot keep a run from starting.
inline constexpr int kListingPageLimit = 10000;

using ListingPageSource = std::function<Expected<ListingPage>(int page)>;

// Asks for pages 1, 2, ... of `pageSize` members until a page holds fewer,
// brings no fs_id not seen before, or the page limit is reached. Entries
// keep the reply order across pages and each fs_id appears once. The first
// page that fails fails the whole listing.
Expected<Listing> collectListingPages(const ListingPageSource& fetchPage, std::size_t pageSize);

} // namespace vantorel
