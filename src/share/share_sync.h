#pragma once

// The ledger's shares against the service's share list: a sync stores what
// became of every successful share of the account (active, expired, blocked,
// gone), and chosen records' shares can be cancelled. Both front ends call
// these from a thread of their own; progress comes through an observer and a
// stop token ends the work between requests (or abandons the one in flight).

#include "base/expected.h"
#include "records/share_states.h"
#include "share/share_run.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

namespace vantorel {

class RecordStore;
class ShareListApi;
struct ServiceShare;

// How the work is going. Calls come from the thread doing the work.
class ShareSyncObserver {
public:
    virtual ~ShareSyncObserver() = default;
    // After each page of the share list has been stored.
    virtual void syncPageStored(int /*page*/, std::size_t /*sharesListed*/,
                                std::size_t /*rowsMatched*/) {}
    // After each cancel request the service accepted.
    virtual void cancelBatchDone(std::size_t /*cancelled*/, std::size_t /*total*/) {}
};

struct SyncSummary {
    int pages = 0;                // pages of the share list read and stored
    std::size_t sharesListed = 0; // shares on those pages
    std::size_t rowsMatched = 0;  // ledger rows that were found on them
    std::size_t rowsGone = 0;     // rows marked gone at the end
    // The whole list was read: only then are the rows not on it marked gone.
    bool complete = false;
    bool stopped = false;
    // Why the sync ended early (a page that failed, a ledger write that
    // failed); empty when it did not. Pages stored before stay stored.
    std::string error;
    int errorCode = 0;

    bool ok() const { return error.empty(); }
};

// The state a listed share is in: expired (expiredType -1) before blocked
// (a status other than 0), else active.
ShareState stateOfListedShare(const ServiceShare& share);

// The part of a share link that names the share (what follows "/s/", up to
// any query), so that one share matches whatever scheme or host wrote it.
std::string_view shareLinkKey(std::string_view link);

// Matches every successful row of `username` (every account when empty) to
// the service's shares: by link, else by an fs_id of the share (the rows
// whose own link was not matched). Stores one transaction per page. When
// the list was read to its end without an unreadable member, rows not on it
// are marked gone; with `username` empty they are not, for the rows of
// other accounts are not on this account's list.
SyncSummary syncShares(ShareListApi& api, RecordStore& ledger, std::string_view username,
                       std::int64_t now, ShareSyncObserver* observer = nullptr,
                       std::stop_token stop = {});

struct CancelSummary {
    std::size_t asked = 0;     // records chosen
    std::size_t cancelled = 0; // records whose share the service accepted to cancel
    // Chosen records that could not be cancelled: not in the ledger, a
    // failure row, another account's, never synced (no shareid known) or
    // gone already.
    std::vector<std::int64_t> notCancellable;
    bool stopped = false;
    std::string error; // why it ended early; batches accepted before stay marked
    int errorCode = 0;

    bool ok() const { return error.empty(); }
};

// Cancels the shares of these records in requests of at most 100 shareids,
// marking each accepted batch's records gone before the next request. The
// ledger rows themselves stay: they are the history, and they keep the items
// from being shared twice.
// Only the shares of `username` (the login's account) are asked for: the
// service passes over another account's shareids without a word, and
// marking those gone would be wrong. An empty `username` takes every row.
CancelSummary cancelRecordShares(ShareListApi& api, RecordStore& ledger,
                                 std::span<const std::int64_t> recordIds, std::string_view username,
                                 std::int64_t now, ShareSyncObserver* observer = nullptr,
                                 std::stop_token stop = {});

// The record ids in one state, for "every expired share" and the like.
Expected<std::vector<std::int64_t>> recordIdsInState(RecordStore& ledger, ShareState state,
                                                     std::string_view username = {});

// The chosen records whose share died (expired, blocked or gone), as items
// to share afresh, in the order chosen; the others (active, never synced,
// failure rows, ids not in the ledger) are left out and named.
struct ReshareChoice {
    std::vector<ReshareItem> items;
    std::vector<std::int64_t> notEligible;
};
Expected<ReshareChoice> chooseReshareItems(RecordStore& ledger,
                                           std::span<const std::int64_t> recordIds);

} // namespace vantorel
