#pragma once

// cpp-httplib's server with its own connection loop. The loop reads through a
// stream that keeps the raw request head, so that the request log can show
// the target and the header lines exactly as they arrived (httplib's own
// header map sorts them), and it lets a handler drop the connection or cut
// the reply short. TLS, when configured, is done here with OpenSSL.

#include <atomic>
#include <cstddef>
#include <httplib.h>
#include <memory>
#include <openssl/ssl.h>
#include <string>
#include <utility>
#include <vector>

namespace netdisk_sim {

struct RawHead {
    std::string method;
    std::string target; // as received: path and query, undecoded
    std::vector<std::pair<std::string, std::string>> headers; // in received order
};

class SimHttpServer : public httplib::Server {
public:
    // With a certificate and key the server speaks HTTPS only.
    SimHttpServer();
    ~SimHttpServer() override;

    // Empty on success, otherwise what went wrong.
    std::string enableTls(const std::string& certFile, const std::string& keyFile);
    bool tls() const { return tls_ != nullptr; }

    // The head of the request being handled on the calling thread.
    static RawHead currentHead();
    // The reply to the request in hand is never sent and the connection is
    // closed.
    static void dropConnection();
    // The reply's header block is sent whole, its body only up to `bodyBytes`
    // (half the body when negative); then the connection is closed.
    static void truncateBody(long long bodyBytes);

    // Ends waits for further requests on kept-alive connections quickly.
    void beginShutdown() { shuttingDown_ = true; }

private:
    bool process_and_close_socket(socket_t sock) override;

    SSL_CTX* tls_ = nullptr;
    std::atomic<bool> shuttingDown_{false};
};

} // namespace netdisk_sim
