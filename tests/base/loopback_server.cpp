#include "loopback_server.h"

#include "base/text.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace vantorel::fixture {

namespace {

constexpr int pollSliceMs = 20;

int openListener(int& port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        throw std::runtime_error("socket() failed");
    const int yes = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(fd, 16) != 0) {
        ::close(fd);
        throw std::runtime_error("cannot listen on 127.0.0.1");
    }
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    port = ntohs(address.sin_port);
    return fd;
}

bool sendAll(int fd, const std::string& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

const char* reasonPhrase(int status) {
    switch (status) {
    case 200:
        return "OK";
    case 301:
        return "Moved Permanently";
    case 302:
        return "Found";
    case 303:
        return "See Other";
    case 404:
        return "Not Found";
    case 500:
        return "Internal Server Error";
    default:
        return "Status";
    }
}

} // namespace

std::string rawResponse(int status, const std::vector<std::string>& headerLines,
                        const std::string& body) {
    std::string out = "HTTP/1.1 " + std::to_string(status) + " " + reasonPhrase(status) + "\r\n";
    for (const std::string& line : headerLines)
        out += line + "\r\n";
    out += "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n";
    out += body;
    return out;
}

LoopbackServer::LoopbackServer(Handler handler) : handler_(std::move(handler)) {
    listenFd_ = openListener(port_);
    acceptor_ = std::thread([this] { acceptLoop(); });
}

LoopbackServer::~LoopbackServer() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    acceptor_.join();
    for (std::thread& worker : workers_)
        worker.join();
    ::close(listenFd_);
}

std::string LoopbackServer::origin() const {
    return "http://127.0.0.1:" + std::to_string(port_);
}

std::vector<RecordedRequest> LoopbackServer::requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

int LoopbackServer::connectionCount() const {
    std::lock_guard lock(mutex_);
    return connections_;
}

bool LoopbackServer::waitForRequests(std::size_t n, std::chrono::milliseconds guard) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, guard, [&] { return requests_.size() >= n; });
}

bool LoopbackServer::stopping() const {
    std::lock_guard lock(mutex_);
    return stopping_;
}

void LoopbackServer::acceptLoop() {
    while (!stopping()) {
        pollfd entry{listenFd_, POLLIN, 0};
        if (::poll(&entry, 1, pollSliceMs) <= 0)
            continue;
        const int fd = ::accept(listenFd_, nullptr, nullptr);
        if (fd < 0)
            continue;
        int connection = 0;
        {
            std::lock_guard lock(mutex_);
            connection = ++connections_;
        }
        workers_.emplace_back([this, fd, connection] { serve(fd, connection); });
    }
}

void LoopbackServer::serve(int fd, int connection) {
    std::string buffer;
    bool open = true;
    while (open && !stopping()) {
        // Read until one whole request (head and Content-Length body) is in.
        std::size_t headEnd = buffer.find("\r\n\r\n");
        std::size_t bodyLength = 0;
        bool complete = false;
        if (headEnd != std::string::npos) {
            const std::string head = buffer.substr(0, headEnd);
            for (const std::string& line : splitText(head, "\r\n")) {
                const std::size_t colon = line.find(':');
                if (colon != std::string::npos &&
                    equalsIgnoreCase(line.substr(0, colon), "Content-Length"))
                    bodyLength = static_cast<std::size_t>(textToInt64(line.substr(colon + 1)));
            }
            complete = buffer.size() >= headEnd + 4 + bodyLength;
        }
        if (!complete) {
            pollfd entry{fd, POLLIN, 0};
            if (::poll(&entry, 1, pollSliceMs) <= 0)
                continue;
            char chunk[8192];
            const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
            if (n <= 0)
                break;
            buffer.append(chunk, static_cast<std::size_t>(n));
            continue;
        }

        RecordedRequest request;
        request.raw = buffer.substr(0, headEnd + 4 + bodyLength);
        request.body = buffer.substr(headEnd + 4, bodyLength);
        std::vector<std::string> lines = splitText(buffer.substr(0, headEnd), "\r\n");
        if (!lines.empty()) {
            request.requestLine = lines.front();
            request.headerLines.assign(lines.begin() + 1, lines.end());
        }
        request.connection = connection;
        buffer.erase(0, request.raw.size());

        const CannedReply reply = handler_(request);
        {
            std::lock_guard lock(mutex_);
            requests_.push_back(request);
        }
        changed_.notify_all();

        if (reply.silent) {
            // Hold the connection open without a word until the client gives
            // up or the server stops.
            while (!stopping()) {
                pollfd entry{fd, POLLIN, 0};
                if (::poll(&entry, 1, pollSliceMs) > 0) {
                    char chunk[512];
                    if (::recv(fd, chunk, sizeof chunk, 0) <= 0)
                        break;
                }
            }
            break;
        }
        if (reply.delay.count() > 0) {
            std::unique_lock lock(mutex_);
            changed_.wait_for(lock, reply.delay, [this] { return stopping_; });
            if (stopping_)
                break;
        }
        if (!sendAll(fd, reply.raw) || reply.closeAfter)
            open = false;
    }
    ::shutdown(fd, SHUT_RDWR);
    ::close(fd);
}

int unusedLoopbackPort() {
    int port = 0;
    const int fd = openListener(port);
    ::close(fd);
    return port;
}

} // namespace vantorel::fixture
