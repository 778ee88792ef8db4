#include "netdisk/cookie_file.h"

#include "base/json_document.h"
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

// A name or value that would break the Cookie header (a control
// character ends the header line, a ";" starts another cookie) is not one a
// browser would have stored; such a cookie is left out. A name is an HTTP
// token: no separators, no blanks.
bool sendable(std::string_view text, bool isName) {
    constexpr std::string_view separators = "()<>@,;:\\\"/[]?={} \t";
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F || c == ';' ||
            (isName && (byte >= 0x80 || separators.find(c) != std::string_view::npos)))
            return false;
    }
    return true;
}

constexpr std::string_view kUnknownFormat =
    "the cookie file is in no known format (a cookie text name=value; name=value, a Netscape "
    "cookies.txt export or a JSON cookie export)";
constexpr std::string_view kNoJsonCookies =
    "the cookie file is a JSON array without cookies (objects with domain, name and value)";

bool isJsonExport(std::string_view content) {
    while (!content.empty() &&
           std::string_view(" \t\r\n").find(content.front()) != std::string_view::npos)
        content.remove_prefix(1);
    return startsWith(content, "[") || startsWith(content, "{");
}

// The cookies of a JSON export: every member an object with domain, name
// and value; path, secure, hostOnly, expirationDate (seconds, a fraction
// allowed) and session as the extensions write them.
Expected<std::vector<StoredCookie>> jsonCookies(std::string_view content, std::int64_t nowSeconds) {
    JsonDocument file;
    if (!file.parse(content) || file.typeOf("") != JsonDocument::kTypeArray)
        return Error{std::string(kUnknownFormat)};
    std::vector<StoredCookie> cookies;
    bool anyCookie = false;
    const int count = file.count("");
    for (int i = 0; i < count; ++i) {
        const std::string at = "[" + std::to_string(i) + "].";
        const auto text = [&](const char* key) {
            return file.typeOf(at + key) == JsonDocument::kTypeString ? file.getText(at + key)
                                                                      : std::string();
        };
        const auto flag = [&](const char* key) {
            return file.typeOf(at + key) == JsonDocument::kTypeBoolean &&
                   file.getText(at + key) == "true";
        };
        StoredCookie cookie{.name = text("name"), .value = text("value"), .domain = text("domain")};
        if (cookie.name.empty() || cookie.domain.empty() ||
            file.typeOf(at + "value") != JsonDocument::kTypeString)
            continue;
        anyCookie = true;
        if (const std::string path = text("path"); !path.empty())
            cookie.path = path;
        cookie.secure = flag("secure");
        cookie.hostOnly = flag("hostOnly");
        if (!flag("session") && file.typeOf(at + "expirationDate") == JsonDocument::kTypeNumber &&
            file.getNumber(at + "expirationDate") < static_cast<double>(nowSeconds))
            continue;
        if (!sendable(cookie.name, true) || !sendable(cookie.value, false))
            continue;
        cookie.created = cookie.lastSet = cookies.size();
        cookies.push_back(std::move(cookie));
    }
    if (!anyCookie)
        return Error{std::string(kNoJsonCookies)};
    return cookies;
}

// Whether a plain text reads as cookie items: each one name=value, with a
// name and nothing a header could not carry.
bool isCookieText(std::string_view text) {
    for (const std::string& piece : splitText(text, ";")) {
        const std::string_view item = trimAscii(piece);
        if (item.empty())
            continue;
        const std::size_t eq = item.find('=');
        if (eq == std::string_view::npos || eq == 0 || !sendable(item.substr(0, eq), true) ||
            !sendable(item.substr(eq + 1), false))
            return false;
    }
    return true;
}

std::string noCookieFor(std::string_view host) {
    return "the cookie file holds no unexpired cookie for " + std::string(host);
}

} // namespace

Status checkCookieTextSize(std::string_view text) {
    if (text.size() <= kMaxCookieTextBytes)
        return {};
    return Error{"the cookie text is " + std::to_string(text.size()) + " bytes long, more than " +
                 std::to_string(kMaxCookieTextBytes) +
                 " a login can be; give the cookies of the service only (a cookies.txt or JSON "
                 "export of a logged-in browser is cut down to them)"};
}

Expected<std::string> cookieTextFromFile(std::string_view content, std::string_view host,
                                         std::int64_t nowSeconds, bool secureChannel) {
    if (startsWith(content, "\xEF\xBB\xBF"))
        content.remove_prefix(3);
    if (isJsonExport(content)) {
        auto cookies = jsonCookies(content, nowSeconds);
        if (!cookies)
            return cookies.error();
        std::string text = cookieTextForHost(*cookies, host, secureChannel);
        if (text.empty())
            return Error{noCookieFor(host)};
        return text;
    }
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
            if (!sendable(trimAscii(f[5]), true) || !sendable(f[6], false))
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
            return Error{noCookieFor(host)};
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
    if (!isCookieText(text))
        return Error{std::string(kUnknownFormat)};
    return text;
}

} // namespace vantorel
