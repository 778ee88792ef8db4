#pragma once

// The three web API requests a share run makes, behind an interface so that
// the run can be driven by the real client or by a stand-in in tests.

#include "base/expected.h"
#include "netdisk/list_entry.h"

#include <string>
#include <string_view>
#include <vector>

namespace vantorel {

// The text a refused or failed share gives in place of "link,time".
inline constexpr std::string_view kShareFailedText = "分享失败";

struct Listing {
    std::vector<ListEntry> folders; // in reply order (newest first)
    std::vector<ListEntry> files;
};

struct ShareReply {
    // "link,time" on success, kShareFailedText when the service refused or
    // the exchange failed, empty when the request was abandoned by a stop.
    std::string text;
    // The service's errno when the reply carried one, for display; the
    // ledger records only the text above.
    std::string errnoText;
    // Whether the service answered at all (a reply with an errno). A failed
    // exchange, an error page or a cut-off body is no verdict on the item:
    // it is not recorded, so the next run tries it again.
    bool verdict = false;
};

struct RenameReply {
    bool renamed = false;
    std::string errnoText; // empty when the reply carried none
};

class NetdiskApi {
public:
    virtual ~NetdiskApi() = default;

    // Every entry of one folder, all of its pages; `dir` is already
    // percent-encoded. A failed exchange, an error status, a reply that is
    // not JSON or an errno other than 0 is an error whose message says why
    // (in the user's words) and whose code is the errno or the HTTP status
    // when there is one. An empty folder is no error.
    virtual Expected<Listing> fetchListing(std::string_view dir) = 0;

    virtual ShareReply createShareLink(std::string_view period, std::string_view code,
                                       std::string_view fsId) = 0;

    // `path` and `newName` are plain texts; the request encodes them.
    virtual RenameReply renameItem(std::string_view path, std::string_view newName) = 0;
};

} // namespace vantorel
