#pragma once

// What became of the ledger's shares on the service, kept beside the ledger
// in linkledger.db: one row per record in share_state_table, keyed by the
// record's id. linkledger_table itself is never changed by any of this
// (other programs read it); the side table is created when first written.
//
// A state row belongs to the record whose id and link it names: a record
// deleted and its id given out again (after "delete all") does not inherit
// the old record's state, for its link differs.

#include "base/expected.h"
#include "records/record_store.h"
#include "records/share_record.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vantorel {

enum class ShareState {
    Active,  // listed by the service, neither expired nor blocked
    Expired, // listed, its validity period over
    Blocked, // listed with a status the service set: blocked or cancelled by it
    Gone,    // not on the service's list any more (cancelled, by us or in the browser)
};

// "active", "expired", "blocked", "gone": the names the command line takes
// and writes.
std::string_view shareStateName(ShareState state);
std::optional<ShareState> parseShareState(std::string_view name);
// The records window's words: 有效, 已过期, 已屏蔽, 已失效.
std::string_view shareStateLabel(ShareState state);

// One record's share as last seen.
struct ShareStatus {
    std::int64_t recordId = 0;
    std::string sharelink;    // the record's link when it was checked
    std::int64_t shareId = 0; // 0 when the service never listed it
    ShareState state = ShareState::Active;
    int expiredType = 0;          // as the service listed it: -1 expired, else days (0: never)
    std::int64_t secondsLeft = 0; // when checked; 0 for expired and never-expiring shares
    std::int64_t views = 0;
    std::int64_t saves = 0;
    std::int64_t downloads = 0;
    std::int64_t checkedAt = 0; // Unix seconds

    bool operator==(const ShareStatus&) const = default;
};

// Whole days left at `now` (Unix seconds), counted up; nothing for a share
// that never expires or is no longer active.
std::optional<std::int64_t> daysLeft(const ShareStatus& status, std::int64_t now);

// A ledger row with its share's state; no state when it was never checked.
struct RecordWithState {
    ShareRecord record;
    std::optional<ShareStatus> status;
};

// The few columns a sync matches the service's shares by.
struct SharedRow {
    std::int64_t id = 0;
    std::string sharelink;
    std::string fid;
};

struct ShareStateFilter {
    std::string username;                // exact; empty: every account
    std::optional<ShareState> state;     // only rows in this state
    std::vector<std::int64_t> recordIds; // only these rows; empty: all
    bool sharedOnly = true;              // leave out failure rows (they have no share)
};

class ShareStates {
public:
    // Works on the store's connection, under its lock; the store must
    // outlive this.
    explicit ShareStates(RecordStore& store);

    // The successful shares of `username` (every account when empty), in
    // id order: what a sync matches the service's list against.
    Expected<std::vector<SharedRow>> sharedRows(std::string_view username);

    // Stores or replaces the states of these records, all in one
    // transaction: all of them are written or none.
    Status store(std::span<const ShareStatus> statuses);

    // Marks these records gone, checked at `checkedAt`, in one transaction;
    // their other figures stay as last seen, their seconds left become 0.
    // Records without a state row get one.
    Status markGone(std::span<const std::int64_t> recordIds, std::int64_t checkedAt);

    // Rows with their states, in id order. Reading never creates the side
    // table: a ledger never synced reads as rows without states.
    Expected<std::vector<RecordWithState>> select(const ShareStateFilter& filter);

private:
    RecordStore& store_;
};

} // namespace vantorel
