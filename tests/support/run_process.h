#pragma once

// Runs a program as a child process for a test, the way a shell or a script
// would: arguments, environment, text on standard input, and everything it
// writes to standard output and standard error kept apart. The child dies
// with the test process (PR_SET_PDEATHSIG), so a crashed test never leaves
// one behind.

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <utility>
#include <vector>

namespace vantorel::test {

struct ProcessOptions {
    // Variables set (or replaced) in the child's environment, over the
    // test's own.
    std::vector<std::pair<std::string, std::string>> setEnv;
    // Variables removed from the child's environment.
    std::vector<std::string> unsetEnv;
    // Written to standard input, which is then closed (so a read after it
    // sees end of file).
    std::string stdinText;
    // The child's working directory; empty: the test's.
    std::string workDir;
    // False: the child writes its standard error straight to the test's, as
    // a long-running server should, whose output nobody drains.
    bool captureStderr = true;
    // The largest file the child may write, in bytes (RLIMIT_FSIZE), or -1
    // for no limit. A write past it fails with EFBIG, as one on a full disk
    // fails with ENOSPC, and the program goes on (SIGXFSZ is ignored).
    long long fileSizeLimit = -1;
};

struct ProcessResult {
    // The exit status when the program ended by itself, else -1.
    int exitCode = -1;
    // The signal that ended it, else 0.
    int termSignal = 0;
    // It did not end within the time allowed and was killed.
    bool timedOut = false;
    std::string out;
    std::string err;
    // Why it could not be started (fork, pipe or exec), else empty.
    std::string startError;
};

// A child that runs while the test looks at its output and signals it.
class ChildProcess {
public:
    ChildProcess(const std::string& program, const std::vector<std::string>& args,
                 const ProcessOptions& options = {});
    ~ChildProcess(); // kills a child still running
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool started() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }

    // Whether the child has not ended yet. Reads what output is ready
    // without waiting, so a child that writes much never blocks on a full
    // pipe while the test polls.
    bool running();

    // Reads output until standard output holds `text` (true), the child
    // closes its output, or `timeout` passes (false).
    bool waitForStdout(std::string_view text,
                       std::chrono::milliseconds timeout = std::chrono::seconds(60));

    // What has been read so far.
    const std::string& out() const { return result_.out; }
    const std::string& err() const { return result_.err; }

    void sendSignal(int signal);

    // Reads the rest of the output and waits for the end. After `timeout`
    // the child is killed and the result says so.
    ProcessResult finish(std::chrono::milliseconds timeout = std::chrono::seconds(120));

private:
    // One round of reading and feeding standard input; false once both
    // output pipes are closed or the deadline passed.
    bool pump(std::chrono::steady_clock::time_point deadline);
    void closeFd(int& fd);

    pid_t pid_ = -1;
    // The child has been waited for; `status_` holds how it ended.
    bool reaped_ = false;
    int status_ = 0;
    int inFd_ = -1;
    int outFd_ = -1;
    int errFd_ = -1;
    std::string input_;
    std::size_t inputSent_ = 0;
    ProcessResult result_;
};

// Runs `program` with `args` to its end.
ProcessResult runProcess(const std::string& program, const std::vector<std::string>& args,
                         const ProcessOptions& options = {},
                         std::chrono::milliseconds timeout = std::chrono::seconds(120));

// A result as one line for failure messages: status, then both outputs.
std::string describe(const ProcessResult& result);

} // namespace vantorel::test
