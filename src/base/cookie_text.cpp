#include "base/cookie_text.h"

#include "base/text.h"

#include <algorithm>
#include <unordered_set>
#include <vector>

namespace vantorel {

namespace {

constexpr std::string_view itemSeparator = "; ";
constexpr std::string_view deletedMark = "=deleted";

std::string joinItems(const std::vector<std::string>& items, std::string_view separator) {
    std::string out;
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (i > 0)
            out.append(separator);
        out.append(items[i]);
    }
    return out;
}

// "Set-Cookie:" removed wherever it occurs, in any ASCII case.
std::string removeSetCookieWord(std::string_view line) {
    constexpr std::string_view word = "Set-Cookie:";
    std::string out;
    std::size_t start = 0;
    for (std::size_t hit; (hit = findIgnoreCase(line, word, start)) != std::string_view::npos;) {
        out.append(line.substr(start, hit - start));
        start = hit + word.size();
    }
    out.append(line.substr(start));
    return out;
}

// A text trimmed of blanks, with one blank added after a final ";" so that
// splitting at "; " drops the empty last piece instead of keeping "x;".
std::vector<std::string> splitCookieText(std::string_view text) {
    std::string trimmed(trimBlanks(text));
    if (endsWith(trimmed, ";"))
        trimmed.push_back(' ');
    return splitText(trimmed, itemSeparator);
}

} // namespace

std::string cookieName(std::string_view item) {
    const std::size_t eq = item.find('=');
    return std::string(trimBlanks(eq == std::string_view::npos ? item : item.substr(0, eq)));
}

std::string collectSetCookies(std::string_view responseHeaders) {
    std::vector<std::string> values;
    for (const std::string& line : splitText(responseHeaders, "\r\n")) {
        const std::size_t colon = line.find(": ");
        if (colon == std::string::npos || std::string_view(line).substr(0, colon) != "Set-Cookie")
            continue;
        std::string value;
        if (line.find(';') != std::string::npos) {
            // The line starts with "Set-Cookie: ", so the name=value is what
            // lies between that word and the first attribute separator.
            const std::size_t start =
                line.find("Set-Cookie:") + std::string_view("Set-Cookie:").size();
            const std::size_t end = line.find(';', start);
            value = line.substr(start, end == std::string::npos ? std::string::npos : end - start);
        } else {
            value = removeSetCookieWord(line);
        }
        values.emplace_back(trimBlanks(value));
    }
    return joinItems(values, itemSeparator);
}

std::string mergeCookieText(std::string_view sent, std::string_view received) {
    std::vector<std::string> merged = splitCookieText(received);
    std::unordered_set<std::string> names;
    for (const std::string& item : merged)
        names.insert(cookieName(item));
    for (std::string& item : splitCookieText(sent)) {
        if (names.insert(cookieName(item)).second)
            merged.push_back(std::move(item));
    }
    std::erase_if(merged, [](const std::string& item) { return endsWith(item, deletedMark); });
    return removeDuplicateItems(joinItems(merged, itemSeparator), itemSeparator);
}

std::string removeDuplicateItems(std::string_view text, std::string_view separator) {
    std::vector<std::string> kept;
    std::unordered_set<std::string> seen;
    for (std::string& item : splitText(text, separator)) {
        if (seen.insert(item).second)
            kept.push_back(std::move(item));
    }
    return joinItems(kept, separator);
}

} // namespace vantorel
