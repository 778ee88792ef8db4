#pragma once

// What a share run of vantorel-cli must print and write for a folder on the
// simulator, worked out from the listing, the simulator's own account of
// what it shared and what the service answered to each attempt.

#include "cli_harness.h"
#include "ledger_file.h"
#include "sim_state.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace vantorel::test {

// "yyyy-MM-dd HH:mm:ss" in China Standard Time, as share times are recorded.
std::string chinaTimeText(std::int64_t unixSeconds);

enum class SharePass { File, Folder, Selection };

// The rows the share run writes for a listed entry, by pass and outcome.
LedgerRow expectedSuccessRow(const ListedMember& entry, SharePass pass, const SimShare& share,
                             const std::string& user, const std::string& sharedPath = {},
                             const std::string& newName = {});
LedgerRow expectedFailureRow(const ListedMember& entry, SharePass pass, const std::string& user);

// The share of that fs_id in the simulator's list; null when there is none.
const SimShare* findShare(const SimState& state, const std::string& fsId);
// How many shares name that fs_id.
int shareCount(const SimState& state, const std::string& fsId);

// What the service answered to one share request of a run, counted from 0 in
// the order the run sends them.
struct AttemptOutcome {
    // Refused: the item; RunRefused: the account or session, which ends the
    // run with the item pending.
    enum Kind { Shared, Refused, RunRefused, NoVerdict } kind = Shared;
    std::string errnoText; // Refused, RunRefused: the errno the service gave
    bool renamed = true;   // Shared with a rename mode: whether the rename went through
};
using OutcomeFn = std::function<AttemptOutcome(int attempt)>;

struct ExpectedRun {
    std::vector<OutputLine> lines;
    std::vector<LedgerRow> rows; // the rows this run adds, in order
    int attempts = 0;            // share requests sent
    // The errno that refused the run, which then ended; empty when it ran
    // to its end.
    std::string refusedBy;
};

// What a folder run over `listing` (one level: share types 1, 2 or 3) must
// print and write when the service answers as `outcome` says, starting from
// the ledger rows `prior`. Shared entries take their link, code and time from
// the simulator's share of their fs_id. With `renamePrefix` every shared
// entry is renamed to the prefix plus its name when its rename goes through.
ExpectedRun expectFolderRun(const std::vector<ListedMember>& listing, int shareType,
                            const OutcomeFn& outcome, const SimState& state,
                            const std::vector<LedgerRow>& prior = {},
                            const std::string& renamePrefix = {});

} // namespace vantorel::test
