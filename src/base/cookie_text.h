#pragma once

// The login state with the service is one cookie text: items name=value
// joined by "; ". Every request sends it and rewrites it with what the
// response set, so new values replace old ones and deleted cookies vanish.
// Nothing here looks at attributes (path, domain, expiry): the service only
// ever sees the text we send back, and the rules below are all it needs.

#include <string>
#include <string_view>

namespace vantorel {

// The part of an item before its first "=", trimmed of blanks; the whole
// item, trimmed, when it has no "=". Names compare exactly.
std::string cookieName(std::string_view item);

// The cookies a response sets, from its raw header text (lines separated by
// CR LF): the name=value of every line whose header name is exactly
// "Set-Cookie", in header order, joined by "; ". Lower-case "set-cookie"
// lines are not collected.
std::string collectSetCookies(std::string_view responseHeaders);

// The received items first, in their order, then every sent item whose name
// none of those carries; items ending in "=deleted" are dropped and exact
// repeats removed.
std::string mergeCookieText(std::string_view sent, std::string_view received);

// Splits at the separator, keeps the first of each run of exactly equal
// items, and joins what is kept with the separator.
std::string removeDuplicateItems(std::string_view text, std::string_view separator);

} // namespace vantorel
