#pragma once

// Reads the simulator's request log (netdisk-sim --log FILE): what a client
// under test really sent, byte for byte.

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace vantorel::test {

struct LoggedRequest {
    std::uint64_t seq = 0;
    std::string method;
    std::string target; // as received: path and query, undecoded
    std::vector<std::pair<std::string, std::string>> headers; // in received order
    std::string body;                                         // decoded when logged as base64

    std::string path() const { return target.substr(0, target.find('?')); }
    // The first header of that name, ignoring ASCII case.
    std::optional<std::string> header(const std::string& name) const;
    std::vector<std::string> headerNames() const;
};

// Every logged request; lines that do not parse are skipped.
std::vector<LoggedRequest> readRequestLog(const std::string& file);

// The logged requests whose path is `path` (for example "/share/set").
std::vector<LoggedRequest> requestsTo(const std::vector<LoggedRequest>& all,
                                      const std::string& path);

// Waits until the log holds at least `count` requests (or `timeout` passes)
// and returns them.
std::vector<LoggedRequest>
waitForRequests(const std::string& file, std::size_t count,
                std::chrono::milliseconds timeout = std::chrono::seconds(30));

} // namespace vantorel::test
