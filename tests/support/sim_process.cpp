#include "sim_process.h"

#include <arpa/inet.h>
#include <csignal>
#include <cstdlib>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace vantorel::test {

std::string SimProcess::binaryPath() {
    if (const char* env = std::getenv("VANTOREL_NETDISK_SIM"); env != nullptr && *env != '\0') {
        return env;
    }
    return VANTOREL_NETDISK_SIM_PATH;
}

std::string SimProcess::loginCookieHeader() {
    return std::string("BDUSS=") + kLoginCookie;
}

SimProcess::SimProcess(std::vector<std::string> args) {
    args.insert(args.begin(), "--quiet");
    child_ =
        std::make_unique<ChildProcess>(binaryPath(), args, ProcessOptions{.captureStderr = false});
    if (!child_->started()) {
        error_ = child_->finish().startError;
        return;
    }
    // The first line is the origin; read it whole, however it is split.
    if (!child_->waitForStdout("\n", std::chrono::seconds(60))) {
        // Its output closed (it is ending) or the time ran out (it is killed).
        const ProcessResult ended = child_->finish(std::chrono::seconds(10));
        error_ = ended.timedOut ? "netdisk-sim printed no origin within 60 s"
                                : "netdisk-sim ended before printing its origin (status " +
                                      std::to_string(ended.exitCode) + ")";
        return;
    }
    const std::string& out = child_->out();
    const std::string line = out.substr(0, out.find('\n'));
    const std::size_t colon = line.rfind(':');
    if (line.rfind("http", 0) == 0 && colon != std::string::npos) {
        origin_ = line;
        port_ = std::atoi(line.c_str() + colon + 1);
    } else {
        error_ = "unexpected first line from netdisk-sim: " + line;
        stop(std::chrono::seconds(2));
    }
}

SimProcess::~SimProcess() {
    stop();
}

int SimProcess::stop(std::chrono::milliseconds grace) {
    if (pid() <= 0)
        return -1;
    child_->sendSignal(SIGTERM);
    const ProcessResult ended = child_->finish(grace);
    return ended.timedOut ? -1 : ended.exitCode;
}

std::string rawExchange(int port, const std::string& request, std::chrono::milliseconds timeout) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return {};
    }
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<std::uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::string reply;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0) {
        std::size_t sent = 0;
        while (sent < request.size()) {
            const ssize_t n =
                ::send(fd, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
            if (n <= 0) {
                break;
            }
            sent += static_cast<std::size_t>(n);
        }
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        char buffer[8192];
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            pollfd p{fd, POLLIN, 0};
            if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0) {
                break;
            }
            const ssize_t n = ::recv(fd, buffer, sizeof(buffer), 0);
            if (n <= 0) {
                break;
            }
            reply.append(buffer, static_cast<std::size_t>(n));
        }
    }
    ::close(fd);
    return reply;
}

} // namespace vantorel::test
