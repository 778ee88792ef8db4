#include "netdisk/page_text.h"

#include "base/json_document.h"
#include "base/text.h"

namespace vantorel {

const std::string_view selectionPageScript =
    "var ccc = require(\"system-core:context/SystemContext.js\");\r\n"
    "var obj = new ccc(!1);\r\n"
    "var result = obj.list.getSelected();\r\n"
    "return JSON.stringify(result); ";

std::string_view inlineSettingsObject(std::string_view page) {
    constexpr std::string_view marker = "locals.mset(";
    const std::size_t at = page.find(marker);
    if (at == std::string_view::npos)
        return {};
    std::size_t i = at + marker.size();
    while (i < page.size() &&
           (page[i] == ' ' || page[i] == '\t' || page[i] == '\r' || page[i] == '\n'))
        ++i;
    if (i >= page.size() || page[i] != '{')
        return {};
    const std::size_t start = i;
    int depth = 0;
    char quote = 0;
    for (; i < page.size(); ++i) {
        const char c = page[i];
        if (quote) {
            if (c == '\\')
                ++i;
            else if (c == quote)
                quote = 0;
            continue;
        }
        if (c == '"' || c == '\'') {
            quote = c;
        } else if (c == '{' || c == '[') {
            ++depth;
        } else if (c == '}' || c == ']') {
            if (--depth == 0)
                return page.substr(start, i - start + 1);
        }
    }
    return {};
}

std::string findQuotedValue(std::string_view page, std::string_view key) {
    const std::string needle = "\"" + std::string(key) + "\"";
    for (std::size_t at = page.find(needle); at != std::string_view::npos;
         at = page.find(needle, at + 1)) {
        std::size_t i = at + needle.size();
        while (i < page.size() && page[i] == ' ')
            ++i;
        if (i >= page.size() || page[i] != ':')
            continue;
        ++i;
        while (i < page.size() && page[i] == ' ')
            ++i;
        if (i >= page.size() || page[i] != '"')
            continue;
        // The value is a JSON string literal: find its closing quote and let
        // the JSON reader decode the escapes.
        const std::size_t open = i;
        for (++i; i < page.size() && page[i] != '"'; ++i)
            if (page[i] == '\\')
                ++i;
        if (i >= page.size())
            continue;
        JsonDocument literal;
        if (!literal.parse(page.substr(open, i - open + 1)))
            continue;
        return literal.getText("");
    }
    return {};
}

bool isSelectionArray(std::string_view selectionJson) {
    JsonDocument selection;
    return selection.parse(selectionJson) && selection.typeOf("") == JsonDocument::kTypeArray;
}

bool looksLikeBdstoken(std::string_view text) {
    if (text.size() != 32)
        return false;
    for (char c : text)
        if (hexDigitValue(c) < 0)
            return false;
    return true;
}

std::string currentPathFromUrl(std::string_view url) {
    const std::size_t at = url.find("path=");
    if (at == std::string_view::npos)
        return {};
    return replaceAll(url.substr(at + 5), "&vmode=list", "");
}

} // namespace vantorel
