#pragma once

// How the program reaches the service: its origin, the extra certificate
// authorities and the time-out, and the request options every exchange with
// it starts from.

#include "base/expected.h"
#include "base/http_request.h"
#include "base/service_origin.h"

#include <optional>
#include <stop_token>
#include <string>
#include <string_view>

namespace vantorel {

inline constexpr std::string_view defaultServiceOriginText = "https://pan.baidu.com";
inline constexpr std::string_view serviceOriginEnvironmentVariable = "VANTOREL_ORIGIN";

// The real service.
ServiceOrigin defaultServiceOrigin();

// The origin a front end starts with: the command-line value when given,
// else the environment variable VANTOREL_ORIGIN when set and not empty, else
// the real service. An invalid value is an error naming where it came from.
Expected<ServiceOrigin> resolveServiceOrigin(std::optional<std::string_view> commandLineValue);

struct ConnectionSettings {
    ServiceOrigin origin = defaultServiceOrigin();
    std::string caFile; // extra certificate authorities, PEM
    // How long one request may take, connecting included; 0 leaves the HTTP
    // layer's default of 15 seconds.
    int timeoutSeconds = 0;
};

// A GET to the service that sends and rewrites `cookieText`. Redirects are
// not followed: the login cookies must never reach another host, so a
// caller that expects one follows it itself.
HttpRequestOptions serviceRequestOptions(const ConnectionSettings& connection,
                                         std::string& cookieText, std::string headerBlock,
                                         std::stop_token stop, HttpClient* client = nullptr);

// Why an exchange with the service gave no usable answer, in the user's
// words: it could not be made, or the service answered with an error
// status. Empty when the exchange worked and the status is below 400.
std::string exchangeFailure(const HttpResponse& response);

} // namespace vantorel
