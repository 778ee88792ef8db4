#include "request_log.h"

#include "json_util.h"
#include "text_util.h"

#include <cerrno>
#include <cstring>

namespace netdisk_sim {

namespace {

// Log lines must stay valid JSON whatever arrived; bytes that are not UTF-8
// become U+FFFD.
std::string sanitise(const std::string& text) {
    if (isValidUtf8(text)) {
        return text;
    }
    std::string out;
    std::size_t i = 0;
    while (i < text.size()) {
        const auto c = static_cast<unsigned char>(text[i]);
        const std::size_t len = c < 0x80             ? 1
                                : (c & 0xE0) == 0xC0 ? 2
                                : (c & 0xF0) == 0xE0 ? 3
                                : (c & 0xF8) == 0xF0 ? 4
                                                     : 0;
        if (len > 0 && i + len <= text.size() &&
            isValidUtf8(std::string_view(text).substr(i, len))) {
            out.append(text, i, len);
            i += len;
        } else {
            out += "\xEF\xBF\xBD";
            ++i;
        }
    }
    return out;
}

} // namespace

RequestLog::~RequestLog() {
    if (file_ != nullptr && owned_) {
        std::fclose(file_);
    }
}

std::string RequestLog::open(const std::string& path) {
    if (path == "-") {
        file_ = stderr;
        owned_ = false;
        return {};
    }
    file_ = std::fopen(path.c_str(), "w");
    if (file_ == nullptr) {
        return "cannot write the request log " + path + ": " + std::strerror(errno);
    }
    owned_ = true;
    return {};
}

std::uint64_t RequestLog::write(const RawHead& head, const std::string& body) {
    const std::lock_guard lock(mutex_);
    const std::uint64_t seq = ++seq_;
    if (file_ == nullptr) {
        return seq;
    }
    rapidjson::StringBuffer buffer;
    JsonWriter w(buffer);
    w.StartObject();
    putKey(w, "seq");
    w.Uint64(seq);
    putKey(w, "method");
    putString(w, sanitise(head.method));
    putKey(w, "target");
    putString(w, sanitise(head.target));
    putKey(w, "headers");
    w.StartArray();
    for (const auto& [name, value] : head.headers) {
        w.StartArray();
        putString(w, sanitise(name));
        putString(w, sanitise(value));
        w.EndArray();
    }
    w.EndArray();
    putKey(w, "body");
    if (isValidUtf8(body)) {
        putString(w, body);
    } else {
        w.Null();
        putKey(w, "body_base64");
        putString(w, base64(body));
    }
    w.EndObject();
    std::fwrite(buffer.GetString(), 1, buffer.GetSize(), file_);
    std::fputc('\n', file_);
    std::fflush(file_);
    return seq;
}

} // namespace netdisk_sim
