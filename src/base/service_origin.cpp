#include "base/service_origin.h"

#include "base/text.h"

#include <cstdlib>

namespace vantorel {

namespace {

bool isHostNameChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.';
}

bool isIpv6Char(char c) {
    return (c >= 'a' && c <= 'f') || (c >= '0' && c <= '9') || c == ':' || c == '.';
}

std::string lowered(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        c = asciiLower(c);
    return out;
}

Error invalid(std::string_view text, std::string_view why) {
    return Error{"invalid service origin \"" + std::string(text) + "\": " + std::string(why), 0};
}

} // namespace

Expected<ServiceOrigin> ServiceOrigin::parse(std::string_view text) {
    const std::string_view original = text;
    const std::size_t sep = text.find("://");
    if (sep == std::string_view::npos)
        return invalid(original, "expected http:// or https:// followed by a host");
    const std::string scheme = lowered(text.substr(0, sep));
    if (scheme != "http" && scheme != "https")
        return invalid(original, "the scheme must be http or https");
    std::string_view rest = text.substr(sep + 3);
    if (endsWith(rest, "/"))
        rest.remove_suffix(1);
    if (rest.find_first_of("/?#") != std::string_view::npos)
        return invalid(original, "an origin has no path, query or fragment");
    if (rest.find('@') != std::string_view::npos)
        return invalid(original, "an origin carries no user name or password");

    std::string host;
    std::string_view portText;
    if (startsWith(rest, "[")) {
        const std::size_t close = rest.find(']');
        if (close == std::string_view::npos)
            return invalid(original, "unclosed bracket in the IPv6 address");
        host = lowered(rest.substr(0, close + 1));
        const std::string_view inner = std::string_view(host).substr(1, host.size() - 2);
        if (inner.empty() || inner.find(':') == std::string_view::npos)
            return invalid(original, "malformed IPv6 address");
        for (char c : inner)
            if (!isIpv6Char(c))
                return invalid(original, "malformed IPv6 address");
        rest.remove_prefix(close + 1);
        if (!rest.empty()) {
            if (rest.front() != ':')
                return invalid(original, "unexpected text after the IPv6 address");
            portText = rest.substr(1);
            if (portText.empty())
                return invalid(original, "empty port");
        }
    } else {
        const std::size_t colon = rest.find(':');
        host = lowered(rest.substr(0, colon));
        if (colon != std::string_view::npos) {
            portText = rest.substr(colon + 1);
            if (portText.empty())
                return invalid(original, "empty port");
        }
        if (host.empty())
            return invalid(original, "the host is missing");
        for (char c : host)
            if (!isHostNameChar(c))
                return invalid(original, "the host may hold only letters, digits, '-' and '.'");
        if (host.front() == '.' || host.front() == '-' || host.back() == '-' ||
            host.find("..") != std::string::npos)
            return invalid(original, "malformed host name");
    }

    std::optional<int> port;
    if (!portText.empty()) {
        if (portText.size() > 5 ||
            portText.find_first_not_of("0123456789") != std::string_view::npos)
            return invalid(original, "the port must be a number from 1 to 65535");
        const int value = textToInt(portText);
        if (value < 1 || value > 65535)
            return invalid(original, "the port must be a number from 1 to 65535");
        const int defaultPort = scheme == "https" ? 443 : 80;
        if (value != defaultPort)
            port = value;
    }

    ServiceOrigin origin;
    origin.scheme_ = scheme;
    origin.hostName_ = std::move(host);
    origin.port_ = port;
    origin.text_ = origin.scheme_ + "://" + origin.host();
    return origin;
}

std::string ServiceOrigin::host() const {
    return port_ ? hostName_ + ":" + std::to_string(*port_) : hostName_;
}

std::string ServiceOrigin::url(std::string_view pathAndQuery) const {
    return text_ + std::string(pathAndQuery);
}

} // namespace vantorel
