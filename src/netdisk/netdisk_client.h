#pragma once

// The service's web API over HTTP: the home page read for the login tokens,
// the folder listing, share creation and rename.

#include "base/expected.h"
#include "base/http_request.h"
#include "base/service_origin.h"
#include "netdisk/login_context.h"
#include "netdisk/netdisk_api.h"

#include <stop_token>
#include <string>
#include <string_view>

namespace vantorel {

struct HomePageTokens {
    std::string userName;
    std::string bdstoken;
    // Why the page itself could not be had: no exchange, or an error status
    // from the service. A page without tokens is no error here; that is a
    // login the service no longer accepts.
    Status fetched;
};

// The user name and bdstoken of a home page: from the settings object passed
// to "locals.mset(", or, when the page holds none, from the first quoted
// "bdstoken" and "username" values in it.
HomePageTokens readHomePageTokens(std::string_view page);

// Where requests go and how they are checked.
struct ConnectionSettings {
    ServiceOrigin origin;
    std::string caFile; // extra certificate authorities, PEM
    // How long one request may take, connecting included; 0 leaves the HTTP
    // layer's default of 15 seconds.
    int timeoutSeconds = 0;
};

// The entries of a listing reply body (UTF-8 JSON), folders and files apart,
// in reply order. A body that is not JSON, or holds no "list", gives two
// empty lists; a member whose isdir reads neither "1" nor "0" is dropped.
Listing decodeListingReply(std::string_view body);

// Requests the home page with the login's cookie text (which the request
// rewrites) and reads the tokens from it.
HomePageTokens fetchHomePageTokens(const ConnectionSettings& connection, std::string& cookieText,
                                   std::stop_token stop = {});

// Fills a login context from the browser side and one home-page request.
// The selection text is taken exactly as the page script returns it. A stop
// request cuts the home-page request short; `homePage`, when given, receives
// its HomePageTokens::fetched, so that a caller can tell an unreachable
// service from a login that is not accepted.
LoginContext gatherLoginContext(BrowserSource& browser, const ConnectionSettings& connection,
                                std::stop_token stop = {}, Status* homePage = nullptr);

// The client a share run talks through. It keeps one connection alive for
// all of its requests, sends and rewrites `login.cookieText`, and gives up a
// request in flight when `stop` is requested.
class NetdiskClient final : public NetdiskApi {
public:
    NetdiskClient(ConnectionSettings connection, LoginContext& login, std::stop_token stop = {});

    Listing fetchListing(std::string_view dir) override;
    ShareReply createShareLink(std::string_view period, std::string_view code,
                               std::string_view fsId) override;
    RenameReply renameItem(std::string_view path, std::string_view newName) override;

private:
    HttpResponse post(const std::string& url, std::string body);

    ConnectionSettings connection_;
    LoginContext& login_;
    std::stop_token stop_;
    HttpClient client_;
};

} // namespace vantorel
