#include "server.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/err.h>
#include <poll.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

namespace netdisk_sim {

namespace {

constexpr int kIoTimeoutMs = 5000;
constexpr int kKeepAliveMs = 5000;

bool waitFor(int fd, short events, int timeoutMs) {
    pollfd p{fd, events, 0};
    for (;;) {
        const int r = ::poll(&p, 1, timeoutMs);
        if (r > 0) {
            return (p.revents & (events | POLLHUP | POLLERR)) != 0;
        }
        if (r == 0 || errno != EINTR) {
            return false;
        }
    }
}

void addressOf(int fd, bool peer, std::string& ip, int& port) {
    sockaddr_storage addr{};
    socklen_t len = sizeof(addr);
    const int r = peer ? ::getpeername(fd, reinterpret_cast<sockaddr*>(&addr), &len)
                       : ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    if (r != 0 || addr.ss_family != AF_INET) {
        return;
    }
    const auto* in = reinterpret_cast<const sockaddr_in*>(&addr);
    char buf[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &in->sin_addr, buf, sizeof(buf));
    ip = buf;
    port = ntohs(in->sin_port);
}

class ConnectionStream final : public httplib::Stream {
public:
    ConnectionStream(int fd, SSL* ssl) : fd_(fd), ssl_(ssl) {}

    bool is_readable() const override {
        return pos_ < len_ || (ssl_ != nullptr && SSL_pending(ssl_) > 0) ||
               waitFor(fd_, POLLIN, kIoTimeoutMs);
    }

    bool is_writable() const override {
        return mode_ != Mode::Drop && !failed_ && waitFor(fd_, POLLOUT, kIoTimeoutMs);
    }

    ssize_t read(char* ptr, std::size_t size) override {
        if (pos_ == len_ && !fill()) {
            return -1;
        }
        const std::size_t n = std::min(size, len_ - pos_);
        std::memcpy(ptr, buffer_ + pos_, n);
        pos_ += n;
        capture(ptr, n);
        return static_cast<ssize_t>(n);
    }

    ssize_t write(const char* ptr, std::size_t size) override {
        if (failed_ || mode_ == Mode::Drop) {
            failed_ = true;
            return -1;
        }
        if (mode_ == Mode::Truncate) {
            return writeTruncated(ptr, size);
        }
        return sendAll(ptr, size) ? static_cast<ssize_t>(size) : -1;
    }

    void get_remote_ip_and_port(std::string& ip, int& port) const override {
        addressOf(fd_, true, ip, port);
    }
    void get_local_ip_and_port(std::string& ip, int& port) const override {
        addressOf(fd_, false, ip, port);
    }
    socket_t socket() const override { return fd_; }

    // A new request starts: its head is captured afresh.
    void beginRequest() {
        head_.clear();
        headComplete_ = false;
        mode_ = Mode::Normal;
    }

    bool hasBufferedInput() const {
        return pos_ < len_ || (ssl_ != nullptr && SSL_pending(ssl_) > 0);
    }

    const std::string& head() const { return head_; }
    bool broken() const { return failed_ || mode_ != Mode::Normal; }

    void drop() { mode_ = Mode::Drop; }
    void truncate(long long bodyBytes) {
        mode_ = Mode::Truncate;
        bodyLimit_ = bodyBytes;
        outHead_.clear();
        outHeadDone_ = false;
    }

private:
    enum class Mode { Normal, Drop, Truncate };

    bool fill() {
        const bool decrypted = ssl_ != nullptr && SSL_pending(ssl_) > 0;
        if (!decrypted && !waitFor(fd_, POLLIN, kIoTimeoutMs)) {
            return false;
        }
        const int n = ssl_ != nullptr ? SSL_read(ssl_, buffer_, sizeof(buffer_))
                                      : static_cast<int>(::recv(fd_, buffer_, sizeof(buffer_), 0));
        if (n <= 0) {
            return false;
        }
        quickAck();
        pos_ = 0;
        len_ = static_cast<std::size_t>(n);
        return true;
    }

    // A client that writes a request head and its body separately waits for
    // the ACK of the head before sending the body (Nagle); a delayed ACK
    // would then cost it some 40 ms per request. Linux re-arms delayed ACKs
    // after a while, so this is repeated on every read.
    void quickAck() const {
#ifdef TCP_QUICKACK
        const int one = 1;
        ::setsockopt(fd_, IPPROTO_TCP, TCP_QUICKACK, &one, sizeof(one));
#endif
    }

    void capture(const char* ptr, std::size_t n) {
        if (headComplete_) {
            return;
        }
        const std::size_t from = head_.size() >= 3 ? head_.size() - 3 : 0;
        head_.append(ptr, n);
        const std::size_t end = head_.find("\r\n\r\n", from);
        if (end != std::string::npos) {
            head_.resize(end + 4);
            headComplete_ = true;
        } else if (head_.size() > 64 * 1024) {
            headComplete_ = true; // not a head worth keeping
        }
    }

    bool sendAll(const char* ptr, std::size_t size) {
        while (size > 0) {
            if (!waitFor(fd_, POLLOUT, kIoTimeoutMs)) {
                failed_ = true;
                return false;
            }
            const long n = ssl_ != nullptr
                               ? SSL_write(ssl_, ptr, static_cast<int>(size))
                               : static_cast<long>(::send(fd_, ptr, size, MSG_NOSIGNAL));
            if (n <= 0) {
                if (ssl_ == nullptr && n < 0 && (errno == EINTR || errno == EAGAIN)) {
                    continue;
                }
                failed_ = true;
                return false;
            }
            ptr += n;
            size -= static_cast<std::size_t>(n);
        }
        return true;
    }

    // Sends the header block whole and then only part of the body; the write
    // that crosses the limit fails, which ends the exchange.
    ssize_t writeTruncated(const char* ptr, std::size_t size) {
        std::size_t offset = 0;
        if (!outHeadDone_) {
            const std::size_t from = outHead_.size() >= 3 ? outHead_.size() - 3 : 0;
            outHead_.append(ptr, size);
            const std::size_t end = outHead_.find("\r\n\r\n", from);
            if (end == std::string::npos) {
                return sendAll(ptr, size) ? static_cast<ssize_t>(size) : -1;
            }
            offset = size - (outHead_.size() - (end + 4));
            outHeadDone_ = true;
            if (bodyLimit_ < 0) {
                bodyLimit_ = contentLength(outHead_) / 2;
            }
            if (!sendAll(ptr, offset)) {
                return -1;
            }
        }
        const std::size_t body = size - offset;
        const long long remaining = bodyLimit_ - bodySent_;
        if (static_cast<long long>(body) < remaining) {
            bodySent_ += static_cast<long long>(body);
            return sendAll(ptr + offset, body) ? static_cast<ssize_t>(size) : -1;
        }
        if (remaining > 0) {
            sendAll(ptr + offset, static_cast<std::size_t>(remaining));
        }
        failed_ = true;
        return -1;
    }

    static long long contentLength(const std::string& head) {
        std::size_t at = 0;
        while ((at = head.find("\r\n", at)) != std::string::npos) {
            at += 2;
            static constexpr char kName[] = "content-length:";
            if (head.size() - at >= sizeof(kName) - 1 &&
                strncasecmp(head.c_str() + at, kName, sizeof(kName) - 1) == 0) {
                return std::atoll(head.c_str() + at + sizeof(kName) - 1);
            }
        }
        return 0;
    }

    int fd_;
    SSL* ssl_;
    char buffer_[16384];
    std::size_t pos_ = 0;
    std::size_t len_ = 0;
    std::string head_;
    bool headComplete_ = false;
    Mode mode_ = Mode::Normal;
    bool failed_ = false;
    long long bodyLimit_ = -1;
    long long bodySent_ = 0;
    std::string outHead_;
    bool outHeadDone_ = false;
};

thread_local ConnectionStream* tCurrent = nullptr;

RawHead parseHead(const std::string& head) {
    RawHead out;
    std::size_t lineEnd = head.find("\r\n");
    const std::string requestLine = head.substr(0, lineEnd);
    const std::size_t sp1 = requestLine.find(' ');
    const std::size_t sp2 = requestLine.rfind(' ');
    if (sp1 != std::string::npos) {
        out.method = requestLine.substr(0, sp1);
        out.target =
            sp2 > sp1 ? requestLine.substr(sp1 + 1, sp2 - sp1 - 1) : requestLine.substr(sp1 + 1);
    }
    while (lineEnd != std::string::npos) {
        const std::size_t start = lineEnd + 2;
        lineEnd = head.find("\r\n", start);
        if (lineEnd == std::string::npos || lineEnd == start) {
            break;
        }
        const std::string line = head.substr(start, lineEnd - start);
        const std::size_t colon = line.find(':');
        std::string name = line.substr(0, colon);
        std::string value = colon == std::string::npos ? std::string() : line.substr(colon + 1);
        const auto notBlank = [](char c) {
            return c != ' ' && c != '\t';
        };
        value.erase(value.begin(), std::find_if(value.begin(), value.end(), notBlank));
        value.erase(std::find_if(value.rbegin(), value.rend(), notBlank).base(), value.end());
        out.headers.emplace_back(std::move(name), std::move(value));
    }
    return out;
}

} // namespace

SimHttpServer::SimHttpServer() {
    new_task_queue = [] {
        return new httplib::ThreadPool(32);
    };
    set_keep_alive_max_count(100000);
}

SimHttpServer::~SimHttpServer() {
    if (tls_ != nullptr) {
        SSL_CTX_free(tls_);
    }
}

std::string SimHttpServer::enableTls(const std::string& certFile, const std::string& keyFile) {
    SSL_CTX* ctx = SSL_CTX_new(TLS_server_method());
    if (ctx == nullptr) {
        return "cannot create a TLS context";
    }
    SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
    if (SSL_CTX_use_certificate_chain_file(ctx, certFile.c_str()) != 1) {
        SSL_CTX_free(ctx);
        return "cannot read the certificate " + certFile;
    }
    if (SSL_CTX_use_PrivateKey_file(ctx, keyFile.c_str(), SSL_FILETYPE_PEM) != 1 ||
        SSL_CTX_check_private_key(ctx) != 1) {
        SSL_CTX_free(ctx);
        return "cannot read the key " + keyFile + " or it does not match the certificate";
    }
    tls_ = ctx;
    return {};
}

RawHead SimHttpServer::currentHead() {
    return tCurrent != nullptr ? parseHead(tCurrent->head()) : RawHead{};
}

void SimHttpServer::dropConnection() {
    if (tCurrent != nullptr) {
        tCurrent->drop();
    }
}

void SimHttpServer::truncateBody(long long bodyBytes) {
    if (tCurrent != nullptr) {
        tCurrent->truncate(bodyBytes);
    }
}

bool SimHttpServer::process_and_close_socket(socket_t sock) {
    const int one = 1;
    ::setsockopt(sock, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
    timeval tv{kIoTimeoutMs / 1000, 0};
    ::setsockopt(sock, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof(tv));
    ::setsockopt(sock, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof(tv));

    SSL* ssl = nullptr;
    bool ok = true;
    if (tls_ != nullptr) {
        ssl = SSL_new(tls_);
        ok = ssl != nullptr && SSL_set_fd(ssl, sock) == 1 && SSL_accept(ssl) == 1;
        ERR_clear_error();
    }

    bool cleanEnd = ok;
    if (ok) {
        ConnectionStream stream(sock, ssl);
        for (;;) {
            // Wait for the next request in short steps, so that a shutdown
            // does not wait for idle kept-alive connections.
            bool ready = stream.hasBufferedInput();
            for (int waited = 0; !ready && waited < kKeepAliveMs; waited += 100) {
                if (shuttingDown_ || svr_sock_ == INVALID_SOCKET) {
                    break;
                }
                ready = waitFor(sock, POLLIN, 100);
            }
            if (!ready || shuttingDown_) {
                break;
            }
            stream.beginRequest();
            tCurrent = &stream;
            bool connectionClosed = false;
            const bool done = process_request(stream, false, connectionClosed, nullptr);
            tCurrent = nullptr;
            if (stream.broken()) {
                cleanEnd = false;
                break;
            }
            if (!done || connectionClosed) {
                break;
            }
        }
    }
    if (ssl != nullptr) {
        if (cleanEnd) {
            SSL_shutdown(ssl);
        }
        SSL_free(ssl);
        ERR_clear_error();
    }
    ::shutdown(sock, SHUT_RDWR);
    ::close(sock);
    return true;
}

} // namespace netdisk_sim
