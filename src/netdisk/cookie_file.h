#pragma once

// Reading the login from a file, for the command line: a plain cookie text
// (name=value joined by "; "), a Netscape cookies.txt export, or a JSON
// cookie export (an array of objects with domain, name and value) as
// browser extensions write them.

#include "base/expected.h"
#include "netdisk/stored_cookies.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace vantorel {

// The cookie text for requests to `host`. From an export (Netscape or JSON)
// only cookies whose domain is the host or one of its parent domains are
// taken, none that expired before `nowSeconds`, no secure one unless
// `secureChannel` (the service's origin is https), and each name once
// (cookieTextForHost: the most specific domain, then the one further down);
// a plain text is taken as it stands (line breaks joined, a leading
// "Cookie:" dropped) once every item of it reads as name=value. Fails when
// nothing usable is in the file or the file is in none of these formats;
// the message is a fixed text that never repeats a piece of the file.
Expected<std::string> cookieTextFromFile(std::string_view content, std::string_view host,
                                         std::int64_t nowSeconds, bool secureChannel = true);

// The most a cookie text may hold. Browsers keep far less for one site; a
// longer text is not a login but a whole cookie store pasted, and the
// request could not carry it.
inline constexpr std::size_t kMaxCookieTextBytes = 64 * 1024;

// Refuses a cookie text longer than kMaxCookieTextBytes, saying how long it
// is (never what it holds).
Status checkCookieTextSize(std::string_view text);

} // namespace vantorel
