#pragma once

// An origin: a scheme and a host with its port, no path. The service is
// reached at one; every request URL and the Host, Origin and Referer header
// lines derive from it.

#include "base/expected.h"

#include <optional>
#include <string>
#include <string_view>

namespace vantorel {

class ServiceOrigin {
public:
    // Accepts "http://" or "https://" followed by a host name, an IPv4
    // address or a bracketed IPv6 address, and an optional port; a single
    // trailing "/" is tolerated. Scheme and host are folded to lower case and
    // a default port is dropped, so equal origins read as equal texts.
    static Expected<ServiceOrigin> parse(std::string_view text);

    // "https://pan.baidu.com"
    const std::string& text() const noexcept { return text_; }
    // "https" or "http"
    const std::string& scheme() const noexcept { return scheme_; }
    // The host as the Host header names it: with ":port" when the origin
    // has a port other than the scheme's default.
    std::string host() const;
    // The host alone, without a port (brackets kept for IPv6).
    const std::string& hostName() const noexcept { return hostName_; }
    // The port, or nothing when the scheme's default applies.
    std::optional<int> port() const noexcept { return port_; }

    // The origin followed by a path (and query) that starts with "/".
    std::string url(std::string_view pathAndQuery) const;

    friend bool operator==(const ServiceOrigin& a, const ServiceOrigin& b) {
        return a.text_ == b.text_;
    }

private:
    ServiceOrigin() = default;

    std::string text_;
    std::string scheme_;
    std::string hostName_;
    std::optional<int> port_;
};

} // namespace vantorel
