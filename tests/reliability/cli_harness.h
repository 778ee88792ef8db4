#pragma once

// What the reliability tests need around the real vantorel-cli binary: the
// process itself (run to its end, or killed at a chosen moment), the ledger
// it leaves behind read with SQLite directly, the simulator's own account of
// what it shared, and the rows the share run must have written for it.

#include "sim_process.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <sys/types.h>
#include <utility>
#include <vector>

namespace vantorel::test {

using EnvList = std::vector<std::pair<std::string, std::string>>;

struct CliResult {
    int exitCode = -1; // when the process exited
    int signal = 0;    // when a signal ended it
    bool timedOut = false;
    std::string out;
    std::string err;
};

// vantorel-cli as a child process. Standard output and error go to files of
// the process's own temporary directory, standard input comes from `input`.
// The child inherits the test's environment minus every VANTOREL_ variable,
// plus `env`, and SIGINT and SIGTERM at their default; it dies with the test
// process.
class CliProcess {
public:
    explicit CliProcess(std::vector<std::string> args, EnvList env = {}, std::string input = {});
    ~CliProcess();
    CliProcess(const CliProcess&) = delete;
    CliProcess& operator=(const CliProcess&) = delete;

    bool started() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }
    // Whether the child has not ended yet (reaps it when it has).
    bool running();
    void sendSignal(int signal);
    // Waits for the end; after `timeout` the child is killed and the result
    // says timedOut.
    CliResult wait(std::chrono::milliseconds timeout = std::chrono::seconds(120));
    // What the child has written to standard output so far.
    std::string outSoFar() const;

    // $VANTOREL_CLI, or the binary this build made.
    static std::string binaryPath();

private:
    TempDir dir_;
    pid_t pid_ = -1;
    bool reaped_ = false;
    int status_ = 0;
};

CliResult runCli(std::vector<std::string> args, EnvList env = {}, std::string input = {},
                 std::chrono::milliseconds timeout = std::chrono::seconds(120));

// "exit 3" or "signal 9" plus both outputs, for failure messages.
std::string describe(const CliResult& result);

// One line of `vantorel-cli share`'s standard output.
struct OutputLine {
    std::string kind; // shared, failed, skipped or pending
    std::string path;
    std::string link;      // shared
    std::string code;      // shared
    std::string errnoText; // failed
    std::string reason;    // pending
};
std::vector<OutputLine> parseShareOutput(const std::string& out);

// One ledger row, all fourteen columns as text.
struct LedgerRow {
    std::int64_t id = 0;
    std::string isdir, path, beforename, aftername, sharelink, password, sharetime, size, md5, pic,
        fid, username, other;
    // Columns 2 to 14 that hold NULL: a whole row has none.
    int nullColumns = 0;

    // Compares everything but the id.
    bool operator==(const LedgerRow& other) const;
};
void PrintTo(const LedgerRow& row, std::ostream* os);

// The rows in id order; an error text instead when the file cannot be read.
struct LedgerRead {
    std::vector<LedgerRow> rows;
    std::string error;
    // The file is a database without any table yet: the process that created
    // it ended before it made the table, which the next open does.
    bool empty = false;
};
LedgerRead readLedger(const std::string& file);
// The answer of PRAGMA integrity_check, lines joined by "; ".
std::string integrityCheck(const std::string& file);

// A member of a listing reply, its values read the way the client reads
// them: strings as they are, numbers in decimal, anything missing empty.
struct ListedMember {
    std::string isdir, path, name, fsId, md5, size, thumbsUrl3;
};
// GET /api/list of that folder (plain path), as the logged-in client asks.
// Rules on the listing endpoint apply to this request too.
std::vector<ListedMember> fetchListing(const SimProcess& sim, const std::string& folder);

struct SimShare {
    std::vector<std::string> fsIds;
    std::string link;
    std::string pwd;
    std::int64_t ctime = 0;
};
struct SimRename {
    std::string path;
    std::string newname;
    int errnoValue = 0;
};
struct SimState {
    std::string user;
    std::vector<SimShare> shares;
    std::vector<SimRename> renames;
    // How often each fault rule acted, in the order the rules were added.
    std::vector<std::int64_t> faultsApplied;
    std::string raw; // the whole answer
};
SimState fetchSimState(const SimProcess& sim);
// POST /__sim/fault with a JSON object or array; true when accepted.
bool addSimFault(const SimProcess& sim, const std::string& json);
bool resetSim(const SimProcess& sim);

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

// Percent-encoding as the HTTP query of a listing wants it.
std::string queryEncode(const std::string& text);

// A JSON string literal for `text`.
std::string jsonQuote(const std::string& text);

} // namespace vantorel::test
