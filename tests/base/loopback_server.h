#pragma once

// A tiny HTTP/1.1 server on 127.0.0.1 for client tests. It records every
// request byte for byte (so tests can check the exact header lines a client
// puts on the wire) and answers with whatever raw bytes the test's handler
// returns, after an optional delay, or not at all.

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace vantorel::fixture {

struct RecordedRequest {
    std::string raw;         // request line, header lines and body, as received
    std::string requestLine; // "GET /x HTTP/1.1"
    std::vector<std::string> headerLines;
    std::string body;
    int connection = 0; // which accepted connection carried it, from 1
};

struct CannedReply {
    std::string raw;                    // the full response bytes
    std::chrono::milliseconds delay{0}; // wait before answering
    bool silent = false;                // never answer; keep the connection open
    bool closeAfter = false;            // close the connection after answering
};

// "HTTP/1.1 <status> <reason>", the given header lines, a Content-Length
// matching the body, then the body.
std::string rawResponse(int status, const std::vector<std::string>& headerLines,
                        const std::string& body);

class LoopbackServer {
public:
    using Handler = std::function<CannedReply(const RecordedRequest&)>;

    explicit LoopbackServer(Handler handler);
    ~LoopbackServer();
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    int port() const { return port_; }
    // "http://127.0.0.1:<port>"
    std::string origin() const;

    std::vector<RecordedRequest> requests() const;
    int connectionCount() const;
    // Waits until at least n requests have arrived or the guard runs out.
    bool waitForRequests(std::size_t n, std::chrono::milliseconds guard) const;

private:
    void acceptLoop();
    void serve(int fd, int connection);
    bool stopping() const;

    Handler handler_;
    int listenFd_ = -1;
    int port_ = 0;
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    bool stopping_ = false;
    std::vector<RecordedRequest> requests_;
    int connections_ = 0;
    std::vector<std::thread> workers_;
    std::thread acceptor_;
};

// A port on 127.0.0.1 that nothing listens on (bound, then released).
int unusedLoopbackPort();

} // namespace vantorel::fixture
