#pragma once

// The request log: one JSON object per line for every request the service
// answers (control requests under /__sim/ excepted), written and flushed as
// the request arrives, before any delay or fault, so that a test can read
// exactly what its client sent.

#include "server.h"

#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>

namespace netdisk_sim {

class RequestLog {
public:
    RequestLog() = default;
    RequestLog(const RequestLog&) = delete;
    RequestLog& operator=(const RequestLog&) = delete;
    ~RequestLog();

    // "-" writes to standard error. Empty on success, otherwise the reason.
    std::string open(const std::string& path);
    bool enabled() const { return file_ != nullptr; }

    // {"seq":N,"method":"POST","target":"/share/set?...","headers":[["Host","..."],...],
    //  "body":"..."}; a body that is not UTF-8 goes as "body":null and "body_base64".
    // Returns the request's sequence number (counted also without a file).
    std::uint64_t write(const RawHead& head, const std::string& body);

private:
    std::mutex mutex_;
    std::FILE* file_ = nullptr;
    bool owned_ = false;
    std::uint64_t seq_ = 0;
};

} // namespace netdisk_sim
