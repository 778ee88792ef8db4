#include "sim_request_log.h"

#include "sim_process.h"

#include <rapidjson/document.h>
#include <thread>

namespace vantorel::test {

namespace {

bool equalsNoCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        const auto lower = [](char c) {
            return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
        };
        if (lower(a[i]) != lower(b[i])) {
            return false;
        }
    }
    return true;
}

std::string decodeBase64(const std::string& text) {
    static const std::string kAlphabet =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    unsigned value = 0;
    int bits = 0;
    for (const char c : text) {
        const std::size_t at = kAlphabet.find(c);
        if (at == std::string::npos) {
            continue;
        }
        value = (value << 6) | static_cast<unsigned>(at);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out.push_back(static_cast<char>((value >> bits) & 0xFF));
        }
    }
    return out;
}

} // namespace

std::optional<std::string> LoggedRequest::header(const std::string& name) const {
    for (const auto& [n, v] : headers) {
        if (equalsNoCase(n, name)) {
            return v;
        }
    }
    return std::nullopt;
}

std::vector<std::string> LoggedRequest::headerNames() const {
    std::vector<std::string> names;
    for (const auto& [n, v] : headers) {
        names.push_back(n);
    }
    return names;
}

std::vector<LoggedRequest> readRequestLog(const std::string& file) {
    std::vector<LoggedRequest> out;
    for (const std::string& line : readLines(file)) {
        rapidjson::Document doc;
        doc.Parse(line.c_str(), line.size());
        if (doc.HasParseError() || !doc.IsObject() || !doc.HasMember("target")) {
            continue;
        }
        LoggedRequest r;
        r.seq = doc["seq"].GetUint64();
        r.method = doc["method"].GetString();
        r.target = doc["target"].GetString();
        for (const auto& h : doc["headers"].GetArray()) {
            r.headers.emplace_back(h[0].GetString(), h[1].GetString());
        }
        if (doc["body"].IsString()) {
            r.body.assign(doc["body"].GetString(), doc["body"].GetStringLength());
        } else if (doc.HasMember("body_base64")) {
            r.body = decodeBase64(doc["body_base64"].GetString());
        }
        out.push_back(std::move(r));
    }
    return out;
}

std::vector<LoggedRequest> requestsTo(const std::vector<LoggedRequest>& all,
                                      const std::string& path) {
    std::vector<LoggedRequest> out;
    for (const LoggedRequest& r : all) {
        if (r.path() == path) {
            out.push_back(r);
        }
    }
    return out;
}

std::vector<LoggedRequest> waitForRequests(const std::string& file, std::size_t count,
                                           std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        auto all = readRequestLog(file);
        if (all.size() >= count || std::chrono::steady_clock::now() >= deadline) {
            return all;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

} // namespace vantorel::test
