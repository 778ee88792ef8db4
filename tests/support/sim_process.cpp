#include "sim_process.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sstream>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace vantorel::test {

namespace {

using Clock = std::chrono::steady_clock;

int remainingMs(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

// Waits for the child; true when it ended before the deadline.
bool waitExit(pid_t pid, Clock::time_point deadline, int& status) {
    for (;;) {
        const pid_t r = ::waitpid(pid, &status, WNOHANG);
        if (r == pid) {
            return true;
        }
        if (r < 0 && errno != EINTR) {
            status = -1;
            return true;
        }
        if (Clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

} // namespace

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
    const std::string binary = binaryPath();
    args.insert(args.begin(), "--quiet");
    args.insert(args.begin(), binary);
    std::vector<char*> argv;
    for (std::string& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);

    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        error_ = std::string("pipe: ") + std::strerror(errno);
        return;
    }
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid < 0) {
        error_ = std::string("fork: ") + std::strerror(errno);
        ::close(fds[0]);
        ::close(fds[1]);
        return;
    }
    if (pid == 0) {
        // Only async-signal-safe calls until exec.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent) {
            ::_exit(126);
        }
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        ::dup2(fds[1], STDOUT_FILENO);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(fds[1]);
    pid_ = pid;
    stdoutFd_ = fds[0];

    // The first line is the origin; read it whole, however it is split.
    std::string line;
    const auto deadline = Clock::now() + std::chrono::seconds(60);
    for (;;) {
        pollfd p{stdoutFd_, POLLIN, 0};
        const int r = ::poll(&p, 1, remainingMs(deadline));
        if (r < 0 && errno == EINTR) {
            continue;
        }
        if (r <= 0) {
            error_ = "netdisk-sim printed no origin within 60 s";
            break;
        }
        char c = 0;
        const ssize_t n = ::read(stdoutFd_, &c, 1);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            int status = 0;
            waitExit(pid_, Clock::now() + std::chrono::seconds(10), status);
            pid_ = -1;
            error_ = "netdisk-sim ended before printing its origin (status " +
                     std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : -1) + ")";
            break;
        }
        if (c == '\n') {
            const std::size_t colon = line.rfind(':');
            if (line.rfind("http", 0) == 0 && colon != std::string::npos) {
                origin_ = line;
                port_ = std::atoi(line.c_str() + colon + 1);
            } else {
                error_ = "unexpected first line from netdisk-sim: " + line;
            }
            break;
        }
        line.push_back(c);
    }
    if (!started() && pid_ > 0) {
        stop(std::chrono::seconds(2));
    }
}

SimProcess::~SimProcess() {
    if (pid_ > 0) {
        stop();
    }
    if (stdoutFd_ >= 0) {
        ::close(stdoutFd_);
    }
}

int SimProcess::stop(std::chrono::milliseconds grace) {
    if (pid_ <= 0) {
        return -1;
    }
    ::kill(pid_, SIGTERM);
    int status = 0;
    int result = -1;
    if (waitExit(pid_, Clock::now() + grace, status)) {
        result = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    } else {
        ::kill(pid_, SIGKILL);
        waitExit(pid_, Clock::now() + std::chrono::seconds(10), status);
    }
    pid_ = -1;
    return result;
}

TempDir::TempDir() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern =
        std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/vantorel-test-XXXXXX";
    if (::mkdtemp(pattern.data()) != nullptr) {
        path_ = pattern;
    }
}

TempDir::~TempDir() {
    if (!path_.empty()) {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
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
        const auto deadline = Clock::now() + timeout;
        char buffer[8192];
        for (;;) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, remainingMs(deadline)) <= 0) {
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

std::vector<std::string> readLines(const std::string& path) {
    std::vector<std::string> lines;
    std::ifstream in(path, std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
        lines.push_back(line);
    }
    return lines;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void writeFile(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

} // namespace vantorel::test
