#pragma once

// Which of the cookies a browser's store or an export holds go to the
// service, and in which order. A store can hold one name twice, for the
// service's host and for a parent domain (STOKEN for pan.baidu.com and for
// .baidu.com); the service takes a name sent twice as no login at all, so
// each name goes once.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vantorel {

struct StoredCookie {
    std::string name;
    std::string value;
    std::string domain; // with a leading "." for a domain cookie
    std::string path = "/";
    bool hostOnly = false; // sent to its own host only, not below it
    bool secure = false;   // sent over https only
    // When the cookie was first set (it keeps its place in the header) and
    // when it was set last; larger is later.
    std::uint64_t created = 0;
    std::uint64_t lastSet = 0;
};

// Whether a cookie set for `domain` goes to `host`: the host itself, or,
// unless `hostOnly`, a host below it. Case-insensitive; a leading "." of
// the domain is ignored.
bool cookieDomainMatches(std::string_view domain, std::string_view host, bool hostOnly = false);

// The cookie text a request to `host` carries, name=value items joined by
// "; ": the cookies whose domain matches, no secure one unless
// `secureChannel`; of each name only the one with the most specific domain,
// and of equally specific ones the one set last; longer paths first, then
// in the order they were created.
std::string cookieTextForHost(const std::vector<StoredCookie>& cookies, std::string_view host,
                              bool secureChannel);

} // namespace vantorel
