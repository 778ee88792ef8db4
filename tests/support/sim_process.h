#pragma once

// Starts the simulated netdisk service (tools/netdisk-sim) as a child process
// for a test (a ChildProcess, so it dies with the test process and a crashed
// or killed test never leaves a simulator behind).

#include "run_process.h"
#include "temp_dir.h"

#include <chrono>
#include <memory>
#include <string>
#include <sys/types.h>
#include <vector>

namespace vantorel::test {

class SimProcess {
public:
    // The simulator's fixed account values when no option changes them.
    static constexpr const char* kLoginCookie = "SIM-BDUSS-3f9c2a7e1b6d4085a2c9e7f1";
    static constexpr const char* kBdstoken = "5f3a9c1e7b2d48604a9e1c3b7d2f6e80";
    static constexpr const char* kUser = "测试账号_小明";

    // Starts netdisk-sim with these arguments (--quiet is added) and waits
    // for its first line of output, the origin. Check started().
    explicit SimProcess(std::vector<std::string> args = {});
    ~SimProcess();
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    bool started() const { return pid() > 0 && !origin_.empty(); }
    // Why the start failed: the simulator's exit status and its first words.
    const std::string& error() const { return error_; }

    const std::string& origin() const { return origin_; } // http://127.0.0.1:PORT
    int port() const { return port_; }
    pid_t pid() const { return child_ ? child_->pid() : -1; }
    // "BDUSS=<login cookie>": a Cookie header value that is logged in.
    static std::string loginCookieHeader();

    // Sends SIGTERM and waits (SIGKILL after `grace`). Returns the exit
    // status, or -1 when the process had to be killed or was not running.
    int stop(std::chrono::milliseconds grace = std::chrono::seconds(10));

    // The executable: $VANTOREL_NETDISK_SIM, or the one this build made.
    static std::string binaryPath();

private:
    std::unique_ptr<ChildProcess> child_;
    std::string origin_;
    int port_ = 0;
    std::string error_;
};

// Sends `request` as it stands on a fresh connection to 127.0.0.1:port and
// returns every byte received until the server closes the connection or
// `timeout` passes. For checks that a library client would hide: the exact
// bytes sent, header order, truncated or missing replies.
std::string rawExchange(int port, const std::string& request,
                        std::chrono::milliseconds timeout = std::chrono::seconds(20));

} // namespace vantorel::test
