#include "run_process.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace vantorel::test {

namespace {

using Clock = std::chrono::steady_clock;

int remainingMs(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() > 0 ? static_cast<int>(std::min<long long>(left.count(), 1000)) : 0;
}

// The test's environment with the options applied, as "NAME=value" texts.
std::vector<std::string> childEnvironment(const ProcessOptions& options) {
    std::vector<std::string> env;
    const auto overridden = [&options](std::string_view entry) {
        const std::string_view name = entry.substr(0, entry.find('='));
        for (const auto& [key, value] : options.setEnv)
            if (key == name)
                return true;
        return std::find(options.unsetEnv.begin(), options.unsetEnv.end(), name) !=
               options.unsetEnv.end();
    };
    for (char** e = environ; e != nullptr && *e != nullptr; ++e)
        if (!overridden(*e))
            env.emplace_back(*e);
    for (const auto& [key, value] : options.setEnv)
        env.push_back(key + "=" + value);
    return env;
}

std::vector<char*> pointers(std::vector<std::string>& texts) {
    std::vector<char*> list;
    for (std::string& t : texts)
        list.push_back(t.data());
    list.push_back(nullptr);
    return list;
}

} // namespace

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& args,
                           const ProcessOptions& options)
    : input_(options.stdinText) {
    // A child that has already ended must not take the test down with
    // SIGPIPE when its standard input is written.
    static const bool pipeIgnored = [] {
        std::signal(SIGPIPE, SIG_IGN);
        return true;
    }();
    (void)pipeIgnored;

    std::vector<std::string> argvTexts;
    argvTexts.push_back(program);
    argvTexts.insert(argvTexts.end(), args.begin(), args.end());
    std::vector<std::string> envTexts = childEnvironment(options);
    std::vector<char*> argv = pointers(argvTexts);
    std::vector<char*> envp = pointers(envTexts);
    const std::string workDir = options.workDir;
    const bool captureStderr = options.captureStderr;
    const long long fileSizeLimit = options.fileSizeLimit;

    int in[2] = {-1, -1};
    int out[2] = {-1, -1};
    int err[2] = {-1, -1};
    int exec[2] = {-1, -1}; // reports a failed exec: closed unread on success
    if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0 ||
        ::pipe2(err, O_CLOEXEC) != 0 || ::pipe2(exec, O_CLOEXEC) != 0) {
        result_.startError = std::string("pipe: ") + std::strerror(errno);
        for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1], exec[0], exec[1]})
            if (fd >= 0)
                ::close(fd);
        return;
    }

    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid == 0) {
        // Only async-signal-safe calls until exec.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent)
            ::_exit(126);
        // As a program started from a terminal finds them, whatever the test
        // runner left ignored or blocked.
        for (int s : {SIGINT, SIGTERM, SIGPIPE, SIGQUIT, SIGHUP})
            std::signal(s, SIG_DFL);
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        if (fileSizeLimit >= 0) {
            std::signal(SIGXFSZ, SIG_IGN);
            rlimit limit{};
            ::getrlimit(RLIMIT_FSIZE, &limit);
            limit.rlim_cur = static_cast<rlim_t>(fileSizeLimit);
            ::setrlimit(RLIMIT_FSIZE, &limit);
        }
        ::dup2(in[0], STDIN_FILENO);
        ::dup2(out[1], STDOUT_FILENO);
        if (captureStderr)
            ::dup2(err[1], STDERR_FILENO);
        int code = 0;
        if (!workDir.empty() && ::chdir(workDir.c_str()) != 0) {
            code = errno;
        } else {
            ::execve(argv[0], argv.data(), envp.data());
            code = errno;
        }
        [[maybe_unused]] const ssize_t n = ::write(exec[1], &code, sizeof code);
        ::_exit(127);
    }
    for (int fd : {in[0], out[1], err[1], exec[1]})
        ::close(fd);
    if (pid < 0) {
        result_.startError = std::string("fork: ") + std::strerror(errno);
        for (int fd : {in[1], out[0], err[0], exec[0]})
            ::close(fd);
        return;
    }
    pid_ = pid;
    inFd_ = in[1];
    outFd_ = out[0];
    errFd_ = err[0];
    if (!captureStderr)
        closeFd(errFd_);

    int code = 0;
    ssize_t n;
    do {
        n = ::read(exec[0], &code, sizeof code);
    } while (n < 0 && errno == EINTR);
    ::close(exec[0]);
    if (n == static_cast<ssize_t>(sizeof code)) {
        result_.startError = "cannot start " + program + ": " + std::strerror(code);
        int status = 0;
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
        closeFd(inFd_);
        closeFd(outFd_);
        closeFd(errFd_);
        return;
    }

    for (int fd : {inFd_, outFd_, errFd_})
        if (fd >= 0)
            ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    if (input_.empty())
        closeFd(inFd_);
}

ChildProcess::~ChildProcess() {
    if (pid_ > 0 && !reaped_) {
        ::kill(pid_, SIGKILL);
        int status = 0;
        ::waitpid(pid_, &status, 0);
    }
    closeFd(inFd_);
    closeFd(outFd_);
    closeFd(errFd_);
}

void ChildProcess::closeFd(int& fd) {
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

bool ChildProcess::pump(Clock::time_point deadline) {
    if (outFd_ < 0 && errFd_ < 0)
        return false;
    pollfd fds[3];
    nfds_t count = 0;
    for (int fd : {outFd_, errFd_})
        if (fd >= 0)
            fds[count++] = {fd, POLLIN, 0};
    if (inFd_ >= 0)
        fds[count++] = {inFd_, POLLOUT, 0};
    const int r = ::poll(fds, count, remainingMs(deadline));
    if (r < 0 && errno != EINTR)
        return false;
    for (nfds_t i = 0; i < count && r > 0; ++i) {
        if (fds[i].revents == 0)
            continue;
        if (fds[i].fd == inFd_) {
            const ssize_t n =
                ::write(inFd_, input_.data() + inputSent_, input_.size() - inputSent_);
            if (n > 0)
                inputSent_ += static_cast<std::size_t>(n);
            if ((n < 0 && errno != EAGAIN && errno != EINTR) || inputSent_ == input_.size())
                closeFd(inFd_);
            continue;
        }
        int& fd = fds[i].fd == outFd_ ? outFd_ : errFd_;
        std::string& sink = fds[i].fd == outFd_ ? result_.out : result_.err;
        char buffer[8192];
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0)
            sink.append(buffer, static_cast<std::size_t>(n));
        else if (n == 0 || (errno != EAGAIN && errno != EINTR))
            closeFd(fd);
    }
    return (outFd_ >= 0 || errFd_ >= 0) && Clock::now() < deadline;
}

bool ChildProcess::waitForStdout(std::string_view text, std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (result_.out.find(text) == std::string::npos) {
        if (!pump(deadline))
            return result_.out.find(text) != std::string::npos;
    }
    return true;
}

bool ChildProcess::running() {
    if (pid_ <= 0 || reaped_)
        return false;
    pump(Clock::now());
    const pid_t r = ::waitpid(pid_, &status_, WNOHANG);
    if (r == pid_ || (r < 0 && errno != EINTR && errno != EAGAIN)) {
        if (r < 0)
            status_ = -1;
        reaped_ = true;
        return false;
    }
    return true;
}

void ChildProcess::sendSignal(int signal) {
    if (pid_ > 0 && !reaped_)
        ::kill(pid_, signal);
}

ProcessResult ChildProcess::finish(std::chrono::milliseconds timeout) {
    if (pid_ <= 0)
        return result_;
    const auto deadline = Clock::now() + timeout;
    while (pump(deadline)) {
    }
    int status = status_;
    while (!reaped_) {
        const pid_t r = ::waitpid(pid_, &status, WNOHANG);
        if (r == pid_)
            break;
        if (r < 0 && errno != EINTR) {
            status = -1;
            break;
        }
        if (Clock::now() >= deadline) {
            result_.timedOut = true;
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, &status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    pid_ = -1;
    closeFd(inFd_);
    closeFd(outFd_);
    closeFd(errFd_);
    if (status != -1 && WIFEXITED(status))
        result_.exitCode = WEXITSTATUS(status);
    else if (status != -1 && WIFSIGNALED(status))
        result_.termSignal = WTERMSIG(status);
    return result_;
}

ProcessResult runProcess(const std::string& program, const std::vector<std::string>& args,
                         const ProcessOptions& options, std::chrono::milliseconds timeout) {
    ChildProcess child(program, args, options);
    return child.finish(timeout);
}

std::string describe(const ProcessResult& result) {
    std::string text;
    if (!result.startError.empty())
        text = "not started: " + result.startError;
    else if (result.timedOut)
        text = "timed out and killed";
    else if (result.termSignal != 0)
        text = "ended by signal " + std::to_string(result.termSignal);
    else
        text = "exit status " + std::to_string(result.exitCode);
    return text + "\n--- stdout ---\n" + result.out + "--- stderr ---\n" + result.err;
}

} // namespace vantorel::test
