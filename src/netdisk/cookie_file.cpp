#include "netdisk/cookie_file.h"

#include "base/text.h"

#include <vector>

namespace vantorel {
namespace {

std::vector<std::string_view> lines(std::string_view text) {
    std::vector<std::string_view> out;
    while (!text.empty()) {
        const std::size_t nl = text.find('\n');
        std::string_view line = text.substr(0, nl);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        out.push_back(line);
        if (nl == std::string_view::npos)
            break;
        text.remove_prefix(nl + 1);
    }
    return out;
}

std::vector<std::string_view> fields(std::string_view line) {
    std::vector<std::string_view> out;
    std::size_t start = 0;
    while (true) {
        const std::size_t tab = line.find('\t', start);
        out.push_back(line.substr(start, tab - start));
        if (tab == std::string_view::npos)
            break;
        start = tab + 1;
    }
    return out;
}

std::string_view trimAscii(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

constexpr std::string_view httpOnlyPrefix = "#HttpOnly_";

bool isNetscapeLine(std::string_view line) {
    if (startsWith(line, httpOnlyPrefix))
        line.remove_prefix(httpOnlyPrefix.size());
    else if (startsWith(line, "#"))
        return false;
    return fields(line).size() >= 7;
}

} // namespace

Expected<std::string> cookieTextFromFile(std::string_view content, std::string_view host,
                                         std::int64_t nowSeconds, bool secureChannel) {
    if (startsWith(content, "\xEF\xBB\xBF"))
        content.remove_prefix(3);
    const auto all = lines(content);

    bool netscape = false;
    for (auto line : all)
        if (startsWith(line, "# Netscape HTTP Cookie File") || isNetscapeLine(line))
            netscape = true;

    std::string text;
    if (netscape) {
        std::vector<StoredCookie> cookies;
        for (auto line : all) {
            if (!isNetscapeLine(line))
                continue;
            if (startsWith(line, httpOnlyPrefix))
                line.remove_prefix(httpOnlyPrefix.size());
            const auto f = fields(line);
            const std::int64_t expires = textToInt64(f[4]);
            if (expires != 0 && expires < nowSeconds)
                continue;
            const auto order = static_cast<std::uint64_t>(cookies.size());
            cookies.push_back({.name = std::string(trimAscii(f[5])),
                               .value = std::string(f[6]),
                               .domain = std::string(f[0]),
                               .path = std::string(f[2]),
                               .secure = equalsIgnoreCase(f[3], "TRUE"),
                               .created = order,
                               .lastSet = order});
        }
        text = cookieTextForHost(cookies, host, secureChannel);
        if (text.empty())
            return Error{"the cookie file holds no unexpired cookie for " + std::string(host)};
        return text;
    }

    for (auto line : all) {
        line = trimAscii(line);
        if (line.empty() || startsWith(line, "#"))
            continue;
        if (const std::size_t at = findIgnoreCase(line, "cookie:"); at == 0)
            line = trimAscii(line.substr(7));
        while (!line.empty() && line.back() == ';')
            line.remove_suffix(1);
        if (line.empty())
            continue;
        if (!text.empty())
            text += "; ";
        text.append(line);
    }
    if (text.empty())
        return Error{"the cookie file is empty"};
    if (text.find('=') == std::string::npos)
        return Error{"the cookie file holds no name=value item"};
    return text;
}

} // namespace vantorel
