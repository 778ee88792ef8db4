#pragma once

// Reading the login from a file, for the command line: either a plain cookie
// text (name=value joined by "; ") or a Netscape cookies.txt export as browser
// extensions write it.

#include "base/expected.h"
#include "netdisk/stored_cookies.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace vantorel {

// The cookie text for requests to `host`. From a Netscape export only cookies
// whose domain is the host or one of its parent domains are taken, none
// that expired before `nowSeconds`, no secure one unless `secureChannel`,
// and each name once (cookieTextForHost: the most specific domain, then the
// line further down); a plain text is taken as it stands (line breaks
// joined, a leading "Cookie:" dropped). Fails when nothing usable is in the
// file; the message never repeats a cookie value.
Expected<std::string> cookieTextFromFile(std::string_view content, std::string_view host,
                                         std::int64_t nowSeconds, bool secureChannel = true);

} // namespace vantorel
