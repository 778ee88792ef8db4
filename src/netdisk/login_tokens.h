#pragma once

// The user name and bdstoken of a login: from the home page where it still
// carries them, else from the token requests of the service's new web
// client; and the whole login context a share run starts from.

#include "base/expected.h"
#include "netdisk/connection.h"
#include "netdisk/login_context.h"

#include <stop_token>
#include <string>
#include <string_view>

namespace vantorel {

struct HomePageTokens {
    std::string userName;
    std::string bdstoken;
    // Why the service could not be asked: no exchange, or an error status
    // for the home page. A login without tokens is no error here; that is a
    // login the service no longer accepts.
    Status fetched;
};

// The user name and bdstoken of a home page: from the settings object passed
// to "locals.mset(", or, when the page holds none, from the first quoted
// "bdstoken" and "username" values in it.
HomePageTokens readHomePageTokens(std::string_view page);

// Requests the home page with the login's cookie text (which every request
// rewrites), following redirects only while they stay on the service's
// origin: one that leaves it (to the passport login) means not logged in,
// and nothing is sent to the other host. When the page gave no bdstoken the
// template-variable request is asked, and when the user name is still
// missing the login-status request; errno -6 from either means not logged
// in, which leaves both tokens empty.
HomePageTokens fetchHomePageTokens(const ConnectionSettings& connection, std::string& cookieText,
                                   std::stop_token stop = {});

// Fills a login context from the browser side and the token requests. The
// selection text is taken exactly as the page script returns it. A stop
// request cuts the requests short; `homePage`, when given, receives
// HomePageTokens::fetched, so that a caller can tell an unreachable service
// from a login that is not accepted.
LoginContext gatherLoginContext(BrowserSource& browser, const ConnectionSettings& connection,
                                std::stop_token stop = {}, Status* homePage = nullptr);

} // namespace vantorel
