#pragma once

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>
#include <string>
#include <string_view>

namespace netdisk_sim {

using JsonWriter = rapidjson::Writer<rapidjson::StringBuffer>;

inline void putString(JsonWriter& w, std::string_view text) {
    w.String(text.data(), static_cast<rapidjson::SizeType>(text.size()));
}

inline void putKey(JsonWriter& w, std::string_view key) {
    w.Key(key.data(), static_cast<rapidjson::SizeType>(key.size()));
}

// The service writes every "/" inside its strings as "\/". Outside strings
// JSON has no "/", so the whole text can be rewritten.
inline std::string escapeSlashes(std::string_view json) {
    std::string out;
    out.reserve(json.size() + json.size() / 8);
    for (const char c : json) {
        if (c == '/') {
            out.push_back('\\');
        }
        out.push_back(c);
    }
    return out;
}

} // namespace netdisk_sim
