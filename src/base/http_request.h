#pragma once

// One blocking HTTP(S) exchange with the program's header conventions, on
// libcurl. The caller's cookie text is the only state that outlives a call:
// it is sent in the Cookie header and rewritten from the response's
// Set-Cookie lines. libcurl's own cookie engine is never switched on.
//
// Server certificates are always verified (against the system's CA store,
// plus an optional extra CA file); there is deliberately no way to turn that
// off, since the cookie text is the user's login.

#include "base/expected.h"
#include "base/service_origin.h"

#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>

namespace vantorel {

// Method codes as callers pass them; any other code means GET.
enum class HttpMethod : int {
    Get = 0,
    Post = 1,
    Head = 2,
    Put = 3,
    Options = 4,
    Delete = 5,
    Trace = 6,
    Connect = 7,
};

// "GET", "POST", ...; codes below 0 or above 7 give "GET".
std::string_view httpMethodWord(int code);

// A reusable connection handle. Handing the same client to consecutive
// requests lets them share a kept-alive connection (and TLS session) with
// the server. A client is used by one thread at a time; it may be moved
// between threads between requests.
class HttpClient {
public:
    HttpClient();
    ~HttpClient();
    HttpClient(HttpClient&& other) noexcept;
    HttpClient& operator=(HttpClient&& other) noexcept;
    HttpClient(const HttpClient&) = delete;
    HttpClient& operator=(const HttpClient&) = delete;

    // False when libcurl could not create its handles; a request given such
    // a client fails at once, like one whose client cannot be created.
    bool isValid() const noexcept;

private:
    friend class HttpRequest;
    struct Handles;
    std::unique_ptr<Handles> handles_;
};

// The optional arguments of one exchange. Out fields are pointers: the call
// writes only those that are given (not null).
struct HttpRequestOptions {
    // HttpMethod code.
    int method = 0;
    // Request body, sent when bodyBytes is empty.
    std::string bodyText;
    // In/out: the caller's cookie text ("name=value" items joined by "; ").
    // Null: no Cookie header and no merge. Rewritten by the call, also when
    // the exchange fails.
    std::string* cookies = nullptr;
    // Out: the cookies the response set (after the merge, when one happens).
    std::string* returnedCookies = nullptr;
    // The caller's header block: "Name: value" lines separated by CR LF.
    std::string extraHeaders;
    // Out: the raw header lines of the final response, without the status
    // line, separated by CR LF.
    std::string* responseHeaders = nullptr;
    // Out: the final response's status code, 0 when the exchange failed.
    int* status = nullptr;
    // True: a redirect is returned as it is instead of being followed.
    bool noRedirect = false;
    // Binary request body; when not empty it is sent instead of bodyText.
    std::string bodyBytes;
    // Proxy address ("host:port" or a URL such as "http://host:port").
    // Empty: direct, whatever proxy the environment names.
    std::string proxy;
    // -1: libcurl's own time-outs; below 1: 15 s; otherwise this many
    // seconds, for connecting and for the whole exchange alike.
    int timeoutSeconds = 0;
    // Proxy credentials; used only when proxy and proxyUser are both set.
    std::string proxyUser;
    std::string proxyPassword;
    // 0: the credentials are for the server; 1: for the proxy.
    int credentialTarget = 1;
    // Null: a fresh client for this exchange alone.
    HttpClient* client = nullptr;
    // Merge the response's cookies into *cookies.
    bool mergeCookies = true;
    // Add the default lines the header block lacks.
    bool completeHeaders = true;
    // Capitalise the words of each header name.
    bool normaliseHeaderNames = true;
    // A PEM file of extra certificate authorities to trust besides the
    // system's (for a service behind a private CA, or a local test server).
    // Empty: the system's store alone.
    std::string caFile;
    // A stop request aborts the exchange in flight; it then returns like a
    // failed one. A default token never stops.
    std::stop_token stopToken;
};

struct HttpResponse {
    // The body bytes as received, without any charset conversion; empty when
    // the exchange failed.
    std::string body;
    // As *responseHeaders and *status would be written.
    std::string headers;
    int status = 0;
    // As *returnedCookies would be written.
    std::string returnedCookies;
    // Why the exchange failed (connection, TLS, time-out, cancellation);
    // an HTTP error status is not a failure here.
    Status outcome;
};

class HttpRequest {
public:
    // Performs one exchange. The url is the full request URL; blanks around
    // it are dropped and blanks or bytes that cannot stand in a URL inside it
    // are percent-escaped.
    static HttpResponse perform(std::string_view url, const HttpRequestOptions& options = {});
};

inline constexpr std::string_view caFileEnvironmentVariable = "VANTOREL_CA_FILE";

// The CA file a front end starts with: the command-line value when given,
// else VANTOREL_CA_FILE when set and not empty, else none (an empty text). A
// file that cannot be read is an error naming where it came from.
Expected<std::string> resolveCaFile(std::optional<std::string_view> commandLineValue);

// Standard Base64 (RFC 4648 alphabet, "=" padding, no line breaks).
std::string base64Encode(std::string_view bytes);

// Capitalises the first letter of every "-"-separated word of each line's
// header name and drops lines without a ":". Lines are joined by CR LF with
// no line end after the last.
std::string normaliseHeaderBlock(std::string_view block);

// The time-out in milliseconds for a timeoutSeconds option; nothing for -1,
// which leaves libcurl's own.
std::optional<long> effectiveTimeoutMs(int timeoutSeconds);

} // namespace vantorel
