#pragma once

// Settling the intents an earlier run left in the ledger (records/share_intent.h):
// for each, whether the service made its share after all. Found, the item
// gets the success row the run would have written, with the name it really
// has now; not found, the intent goes and the item is shared as usual. A
// share run does this before anything else, and so must anything else that
// compares the ledger with the service's share list.

#include "base/expected.h"
#include "records/share_intent.h"
#include "records/share_record.h"
#include "share/share_run.h"

#include <cstdint>
#include <functional>
#include <stop_token>
#include <string>
#include <string_view>

namespace vantorel {

class NetdiskApi;
class RecordStore;

// How much earlier than an intent its share may carry as its time: the two
// clocks (this computer's, the service's) need not agree to the second.
inline constexpr std::int64_t kServiceClockAllowanceSeconds = 300;

inline constexpr std::string_view kSettleFailedMessage =
    "无法核对上次未完成的分享,为免重复分享已停止:";

enum class SettleFailure : int {
    Ledger = 1,      // the journal or a row could not be read or written
    Service = 2,     // the share list or a folder could not be read
    NotLoggedIn = 3, // the service took the login for expired (errno -6)
};

struct SettleOptions {
    ClockFunction clock; // this computer's clock, as the intents were written by
    PauseFunction pause; // without it, waitFor
    std::stop_token stop;
    // Each item that got its success row, as the run reports a share.
    std::function<void(const EntryOutcome&)> recorded;
};

struct SettleReport {
    int recorded = 0; // intents whose share was found: success rows written
    int dropped = 0;  // intents whose share was not made: removed
};

// Settles every intent in `ledger`. An intent younger than the client's
// in-flight limit whose share is not in the list yet is waited for (its
// request may still be carried out) and looked for once more. The error's
// code is a SettleFailure; intents not settled stay for the next try. A
// stop ends it early with what was settled so far.
Expected<SettleReport> settleShareIntents(RecordStore& ledger, NetdiskApi& api,
                                          const SettleOptions& options);

// The success row of an intent's item once its share is known.
ShareRecord successRowOf(const ShareIntent& intent, std::string_view link,
                         std::string_view shareTime, std::string sharedPath, std::string newName);

} // namespace vantorel
