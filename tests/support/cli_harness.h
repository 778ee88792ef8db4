#pragma once

// Drives the real vantorel-cli binary as a script would: a child process with
// its own data directory, talking to a simulated service started on
// 127.0.0.1 by the test, judged by exit status, standard output, standard
// error and the ledger it leaves behind.

#include "ledger_file.h"
#include "records/share_record.h"
#include "run_process.h"
#include "sim_process.h"

#include <chrono>
#include <filesystem>
#include <gtest/gtest.h>
#include <memory>
#include <optional>
#include <rapidjson/document.h>
#include <string>
#include <string_view>
#include <vector>

namespace vantorel::test {

// The share time of every share made by a simulator started with
// kSimFixedTime, as the ledger holds it (UTC+8).
inline constexpr const char* kSimFixedTime = "1700000000";
inline constexpr const char* kSimShareTime = "2023-11-15 06:13:20";

inline constexpr std::string_view kConfirmWord = "删除所有分享记录";

// The vantorel-cli executable: $VANTOREL_CLI, or the one this build made.
std::string cliBinary();

// The options with every VANTOREL_ variable of the test's environment
// removed, so that the test's own environment never decides what a case
// sees; set them through `setEnv`.
ProcessOptions cleanEnvironment(ProcessOptions options = {});

// Runs vantorel-cli with exactly these arguments in a clean environment.
ProcessResult runCli(const std::vector<std::string>& args, ProcessOptions options = {},
                     std::chrono::milliseconds timeout = std::chrono::seconds(120));

// vantorel-cli running in a clean environment while the test watches it,
// signals it or kills it at a chosen moment.
class CliProcess : public ChildProcess {
public:
    explicit CliProcess(const std::vector<std::string>& args, ProcessOptions options = {})
        : ChildProcess(cliBinary(), args, cleanEnvironment(std::move(options))) {}
};

// What vantorel-cli showed on a terminal of its own (standard input, output
// and error), and how it ended.
struct TerminalRun {
    std::string shown; // everything the terminal showed, line ends as written
    int exitCode = -1;
    bool answered = false; // the prompt came and the answer was typed
};

// Runs vantorel-cli with a terminal as its standard streams, as someone
// typing the command sees it. When `prompt` is given, `answer` and a line
// end are typed once the terminal shows it.
TerminalRun runCliOnTerminal(const std::vector<std::string>& args, std::string_view prompt = {},
                             std::string_view answer = {});

// Text split into lines at "\n"; a last empty piece is dropped.
std::vector<std::string> lines(std::string_view text);
std::vector<std::string> splitTabs(std::string_view line);

// One line of `vantorel-cli share`'s standard output.
struct OutputLine {
    std::string kind; // shared, failed, skipped or pending
    std::string path;
    std::string link;      // shared
    std::string code;      // shared
    std::string errnoText; // failed
    std::string reason;    // pending
};
std::vector<OutputLine> parseShareOutput(std::string_view out);

// A strict RFC 4180 reader: CR LF between records (the last one optional),
// fields with a comma, quote or line break quoted, quotes doubled. Anything
// else (a bare quote, text after a closing quote, a lone CR or LF outside
// quotes) is an error, so that a sloppy writer cannot pass.
std::optional<std::vector<std::vector<std::string>>> parseCsv(std::string_view text,
                                                              std::string* error = nullptr);

// A fresh data directory per test.
class CliTest : public ::testing::Test {
protected:
    std::filesystem::path dataDir() const { return std::filesystem::path(temp_.path()) / "data"; }
    std::filesystem::path ledgerFile() const { return dataDir() / kLedgerFileName; }
    std::string tempFile(const std::string& name) const { return temp_.file(name); }

    // vantorel-cli --data-dir DIR ARGS...
    ProcessResult cli(const std::vector<std::string>& args, ProcessOptions options = {}) const;

    // Adds one row straight into the ledger of the data directory.
    void insertRow(const ShareRecord& row) const;

private:
    TempDir temp_;
};

// Adds a simulator, started by each test with the options it needs.
class CliSimTest : public CliTest {
protected:
    // Starts netdisk-sim with a fixed share time, a request log and `args`.
    bool startSim(std::vector<std::string> args = {});
    const SimProcess& sim() const { return *sim_; }
    std::string origin() const { return sim_->origin(); }
    std::string requestLog() const { return tempFile("requests.jsonl"); }

    // vantorel-cli --data-dir DIR --origin ORIGIN ARGS...
    ProcessResult cliAtSim(const std::vector<std::string>& args, ProcessOptions options = {}) const;
    std::vector<std::string> cliArgsAtSim(const std::vector<std::string>& args) const;

    // vantorel-cli ... share --cookies LOGIN ARGS... --set time=-1 (no pause,
    // so a run takes no longer than its requests; later --set win).
    ProcessResult share(const std::vector<std::string>& args, ProcessOptions options = {}) const;
    std::vector<std::string> shareArgs(const std::vector<std::string>& args) const;

    // The simulator's /__sim/state.
    rapidjson::Document simState() const;
    // How many requests reached an endpoint of the simulator ("share", "list").
    int simRequests(const char* endpoint) const;

    // Checks that every line of a share's standard output is an entry line:
    // shared<TAB>path<TAB>link<TAB>code, failed<TAB>path<TAB>errno,
    // skipped<TAB>path or pending<TAB>path<TAB>reason, with links on the
    // simulator and four-character codes.
    void expectOnlyEntryLines(const std::string& out) const;

private:
    std::unique_ptr<SimProcess> sim_;
};

} // namespace vantorel::test
