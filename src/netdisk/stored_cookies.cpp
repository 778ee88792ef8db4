#include "netdisk/stored_cookies.h"

#include "base/text.h"

#include <algorithm>
#include <map>

namespace vantorel {
namespace {

std::string_view bareDomain(std::string_view domain) {
    if (startsWith(domain, "."))
        domain.remove_prefix(1);
    return domain;
}

} // namespace

bool cookieDomainMatches(std::string_view domain, std::string_view host, bool hostOnly) {
    domain = bareDomain(domain);
    if (domain.empty() || host.empty())
        return false;
    if (equalsIgnoreCase(domain, host))
        return true;
    return !hostOnly && host.size() > domain.size() + 1 &&
           host[host.size() - domain.size() - 1] == '.' &&
           equalsIgnoreCase(host.substr(host.size() - domain.size()), domain);
}

std::string cookieTextForHost(const std::vector<StoredCookie>& cookies, std::string_view host,
                              bool secureChannel) {
    // Every domain that matches is the host or a suffix of it, so the
    // longer one is the more specific.
    std::map<std::string, const StoredCookie*> chosen;
    for (const StoredCookie& cookie : cookies) {
        if (cookie.name.empty() || (cookie.secure && !secureChannel) ||
            !cookieDomainMatches(cookie.domain, host, cookie.hostOnly))
            continue;
        const StoredCookie*& held = chosen[cookie.name];
        const auto specificity = [](const StoredCookie& c) {
            return bareDomain(c.domain).size();
        };
        if (held == nullptr || specificity(cookie) > specificity(*held) ||
            (specificity(cookie) == specificity(*held) && cookie.lastSet >= held->lastSet))
            held = &cookie;
    }
    std::vector<const StoredCookie*> sent;
    sent.reserve(chosen.size());
    for (const auto& [name, cookie] : chosen)
        sent.push_back(cookie);
    std::sort(sent.begin(), sent.end(), [](const StoredCookie* a, const StoredCookie* b) {
        if (a->path.size() != b->path.size())
            return a->path.size() > b->path.size();
        return a->created < b->created;
    });
    std::string text;
    for (const StoredCookie* cookie : sent) {
        if (!text.empty())
            text += "; ";
        text.append(cookie->name).append("=").append(cookie->value);
    }
    return text;
}

} // namespace vantorel
