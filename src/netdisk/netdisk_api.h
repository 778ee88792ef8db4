#pragma once

// The three web API requests a share run makes, behind an interface so that
// the run can be driven by the real client or by a stand-in in tests.

#include "base/expected.h"
#include "netdisk/list_entry.h"
#include "netdisk/share_list.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vantorel {

struct Listing {
    std::vector<ListEntry> folders; // in reply order (newest first)
    std::vector<ListEntry> files;
};

// What the service made of one share request.
enum class ShareOutcome {
    Shared,      // errno 0 and a link
    ItemRefused, // the service will not share this item
    RunRefused,  // the account or the session refuses: no further share now
    NoVerdict,   // nothing is known: no answer, no JSON, no errno, or no link
};

struct ShareReply {
    ShareOutcome outcome = ShareOutcome::NoVerdict;
    std::string link;
    // The share's creation time as the ledger keeps it ("2021-05-27
    // 15:17:58", the service's clock); empty when the reply gave none.
    std::string shareTime;
    std::optional<int> errnoValue; // the service's errno, when the reply had one
    // Why, in the user's words, when it is not Shared: the refusal's reason
    // or why no verdict could be read.
    std::string reason;
    // For RunRefused: what the user should do.
    std::string advice;
};

struct RenameReply {
    // Whether the item now has its new name. A rename the service only
    // accepted is asked after until it ends; one whose end is still unknown
    // when the asking stops counts as not renamed.
    bool renamed = false;
    std::optional<int> errnoValue; // of the reply, or of the task that ended it
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

    // One link for one item. An errno is read by its class (the table of
    // share_refusals.h); errno 2 counts against the run once this client
    // has made a share, for a client serves one run.
    virtual ShareReply createShareLink(std::string_view period, std::string_view code,
                                       std::string_view fsId) = 0;

    // `path` and `newName` are plain texts; the request encodes them.
    virtual RenameReply renameItem(std::string_view path, std::string_view newName) = 0;

    // The shares of the account made at `since` or later (Unix seconds of
    // the service's clock), newest first, read from the share list page by
    // page until a page reaches older ones. An error when a page cannot be
    // read: then nothing is known of any share. A client without the share
    // list says so as an error.
    virtual Expected<std::vector<ServiceShare>> findSharesSince(std::int64_t /*since*/) {
        return Error{"无法读取分享列表"};
    }

    // How long after a request went out its effect may still appear on the
    // service: a share request given up on may yet be carried out.
    virtual std::chrono::milliseconds inFlightLimit() const { return {}; }
};

} // namespace vantorel
