#include "netdisk/page_text.h"

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

namespace {

void appendUtf8(std::string& out, unsigned cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

int hexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

unsigned readHex4(std::string_view s, std::size_t at, bool& ok) {
    unsigned v = 0;
    ok = at + 4 <= s.size();
    for (std::size_t k = 0; ok && k < 4; ++k) {
        const int h = hexValue(s[at + k]);
        ok = h >= 0;
        v = v * 16 + static_cast<unsigned>(h < 0 ? 0 : h);
    }
    return v;
}

} // namespace

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
        std::string value;
        for (++i; i < page.size() && page[i] != '"'; ++i) {
            if (page[i] != '\\' || i + 1 >= page.size()) {
                value.push_back(page[i]);
                continue;
            }
            const char e = page[++i];
            switch (e) {
            case 'n':
                value.push_back('\n');
                break;
            case 't':
                value.push_back('\t');
                break;
            case 'r':
                value.push_back('\r');
                break;
            case 'b':
                value.push_back('\b');
                break;
            case 'f':
                value.push_back('\f');
                break;
            case 'u': {
                bool ok = false;
                unsigned cp = readHex4(page, i + 1, ok);
                if (!ok) {
                    value.push_back('u');
                    break;
                }
                i += 4;
                if (cp >= 0xD800 && cp <= 0xDBFF && i + 6 < page.size() && page[i + 1] == '\\' &&
                    page[i + 2] == 'u') {
                    bool lowOk = false;
                    const unsigned low = readHex4(page, i + 3, lowOk);
                    if (lowOk && low >= 0xDC00 && low <= 0xDFFF) {
                        cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                        i += 6;
                    }
                }
                if (cp >= 0xD800 && cp <= 0xDFFF)
                    cp = 0xFFFD;
                appendUtf8(value, cp);
                break;
            }
            default:
                value.push_back(e);
                break;
            }
        }
        return value;
    }
    return {};
}

bool looksLikeBdstoken(std::string_view text) {
    if (text.size() != 32)
        return false;
    for (char c : text)
        if (hexValue(c) < 0)
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
