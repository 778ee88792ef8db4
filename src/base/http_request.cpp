#include "base/http_request.h"

#include "base/cookie_text.h"
#include "base/text.h"

#include <array>
#include <cstdlib>
#include <curl/curl.h>
#include <fstream>
#include <sstream>
#include <utility>
#include <vector>

namespace vantorel {

namespace {

// Like most browsers; enough for any sane login or load-balancer chain.
constexpr long maxRedirects = 10;
// The longest the transfer loop sleeps between looks at the stop token when
// nothing else wakes it; a stop request wakes it at once.
constexpr int pollCeilingMs = 1000;

void ensureCurlGlobal() {
    // curl_global_init must run once before any handle exists; a
    // function-local static makes that thread-safe.
    static const CURLcode initialised = curl_global_init(CURL_GLOBAL_DEFAULT);
    (void)initialised;
}

constexpr std::array<std::string_view, 8> methodWords = {
    "GET", "POST", "HEAD", "PUT", "OPTIONS", "DELETE", "TRACE", "CONNECT",
};

std::string removeAllIgnoreCase(std::string_view text, std::string_view word) {
    std::string out;
    std::size_t start = 0;
    for (std::size_t hit; (hit = findIgnoreCase(text, word, start)) != std::string_view::npos;) {
        out.append(text.substr(start, hit - start));
        start = hit + word.size();
    }
    out.append(text.substr(start));
    return out;
}

bool isTokenChar(char c) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))
        return true;
    return std::string_view("!#$%&'*+-.^_`|~").find(c) != std::string_view::npos;
}

bool isValidHeaderName(std::string_view name) {
    if (name.empty())
        return false;
    for (char c : name)
        if (!isTokenChar(c))
            return false;
    return true;
}

// A stray CR or LF inside a value would let it smuggle further header lines
// onto the wire.
bool isValidHeaderValue(std::string_view value) {
    return value.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos;
}

struct HeaderLine {
    std::string name;
    std::string value;
};

HeaderLine splitHeaderLine(std::string_view line) {
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos)
        return {};
    return {std::string(trimBlanks(line.substr(0, colon))),
            std::string(trimBlanks(line.substr(colon + 1)))};
}

// Blanks around the URL are dropped (the listing URL is built with one at
// its end); blanks, control bytes and non-ASCII bytes inside it are escaped,
// since libcurl refuses a URL that holds them.
std::string prepareUrl(std::string_view url) {
    constexpr char hex[] = "0123456789ABCDEF";
    std::string out;
    for (char c : trimBlanks(url)) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte >= 0x7F) {
            out.push_back('%');
            out.push_back(hex[byte >> 4]);
            out.push_back(hex[byte & 0x0F]);
        } else {
            out.push_back(c);
        }
    }
    return out;
}

// The default lines a block lacks, appended in a fixed order.
// The Referer names the URL as it goes on the wire, so that a URL carrying
// a line break cannot add header lines of its own.
std::string completeHeaderBlock(std::string_view block, std::string_view url, int method) {
    std::string text(block);
    const auto addIfAbsent = [&](std::string_view name, std::string_view line) {
        if (findIgnoreCase(text, name) == std::string::npos) {
            text.append("\r\n");
            text.append(line);
        }
    };
    addIfAbsent("Accept:", "Accept: */*");
    addIfAbsent("Referer:", "Referer: " + prepareUrl(url));
    addIfAbsent("Accept-Language:", "Accept-Language: zh-cn");
    addIfAbsent("User-Agent:", "User-Agent: Mozilla/4.0 (compatible; MSIE 9.0; Windows NT 6.1)");
    if (method == static_cast<int>(HttpMethod::Post))
        addIfAbsent("Content-Type:", "Content-Type: application/x-www-form-urlencoded");
    return text;
}

class HeaderList {
public:
    HeaderList() = default;
    HeaderList(const HeaderList&) = delete;
    HeaderList& operator=(const HeaderList&) = delete;
    ~HeaderList() { curl_slist_free_all(list_); }

    // libcurl reads "Name:" as "drop your own header of this name" and
    // "Name;" as "send this name with an empty value".
    void add(std::string_view name, std::string_view value) {
        std::string line(name);
        if (value.empty()) {
            line.push_back(';');
        } else {
            line.append(": ");
            line.append(value);
        }
        append(line);
    }
    void suppress(std::string_view name) { append(std::string(name) + ":"); }
    curl_slist* get() const noexcept { return list_; }
    bool ok() const noexcept { return ok_; }

private:
    void append(const std::string& line) {
        curl_slist* grown = curl_slist_append(list_, line.c_str());
        if (grown == nullptr)
            ok_ = false;
        else
            list_ = grown;
    }
    curl_slist* list_ = nullptr;
    bool ok_ = true;
};

// The Cookie header first, then the block's lines in their order.
void buildHeaderList(HeaderList& list, const std::string* cookies, std::string_view headerText) {
    if (cookies != nullptr) {
        const std::string_view value = trimBlanks(*cookies);
        if (!value.empty() && isValidHeaderValue(value))
            list.add("Cookie", value);
    }

    std::vector<std::string> lines;
    if (headerText.find("\r\n") == std::string_view::npos)
        lines.emplace_back(headerText);
    else
        lines = splitText(headerText, "\r\n");

    bool hasAccept = false;
    bool hasContentType = false;
    bool hasExpect = false;
    for (const std::string& line : lines) {
        if (line.empty())
            continue;
        const HeaderLine header = splitHeaderLine(line);
        if (!isValidHeaderName(header.name) || !isValidHeaderValue(header.value))
            continue;
        if (header.name == "Connection" && header.value == "keep-alive")
            continue;
        // The block's stated length is not the body's; libcurl sends the
        // true one.
        if (equalsIgnoreCase(header.name, "Content-Length"))
            continue;
        hasAccept = hasAccept || equalsIgnoreCase(header.name, "Accept");
        hasContentType = hasContentType || equalsIgnoreCase(header.name, "Content-Type");
        hasExpect = hasExpect || equalsIgnoreCase(header.name, "Expect");
        list.add(header.name, header.value);
    }
    // Only the caller's headers go out: libcurl would otherwise add an
    // Accept, a form Content-Type to a POST, and an "Expect: 100-continue"
    // that costs a round trip on larger bodies.
    if (!hasAccept)
        list.suppress("Accept");
    if (!hasContentType)
        list.suppress("Content-Type");
    if (!hasExpect)
        list.suppress("Expect");
}

struct TransferState {
    std::string body;
    std::vector<std::string> headerLines;
};

size_t onBody(char* data, size_t size, size_t count, void* user) {
    auto* state = static_cast<TransferState*>(user);
    state->body.append(data, size * count);
    return size * count;
}

// Called once per header line, for every response of the exchange (interim
// ones, redirects, a proxy's CONNECT answer); a status line starts the
// headers of the next response, so only the final one's remain.
size_t onHeader(char* data, size_t size, size_t count, void* user) {
    auto* state = static_cast<TransferState*>(user);
    std::string_view line(data, size * count);
    if (startsWith(line, "HTTP/")) {
        state->headerLines.clear();
        return size * count;
    }
    while (endsWith(line, "\n") || endsWith(line, "\r"))
        line.remove_suffix(1);
    if (!line.empty())
        state->headerLines.emplace_back(line);
    return size * count;
}

Expected<std::string> readWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return Error{"cannot read the CA file \"" + path + "\"", 0};
    std::ostringstream buffer;
    buffer << in.rdbuf();
    if (in.bad())
        return Error{"cannot read the CA file \"" + path + "\"", 0};
    return buffer.str();
}

} // namespace

struct HttpClient::Handles {
    CURL* easy = nullptr;
    CURLM* multi = nullptr;
    // The system bundle with the extra CA file appended, kept so that a
    // client making many requests reads the files once.
    std::string caFile;
    std::string caBundle;

    ~Handles() {
        if (easy != nullptr)
            curl_easy_cleanup(easy);
        if (multi != nullptr)
            curl_multi_cleanup(multi);
    }
};

HttpClient::HttpClient() : handles_(std::make_unique<Handles>()) {
    ensureCurlGlobal();
    handles_->easy = curl_easy_init();
    handles_->multi = curl_multi_init();
}

HttpClient::~HttpClient() = default;
HttpClient::HttpClient(HttpClient&& other) noexcept = default;
HttpClient& HttpClient::operator=(HttpClient&& other) noexcept = default;

bool HttpClient::isValid() const noexcept {
    return handles_ && handles_->easy != nullptr && handles_->multi != nullptr;
}

namespace {

// libcurl trusts either its built-in bundle or a given one, not both; to add
// a CA, hand it the built-in bundle with the extra file appended. As a blob
// it is also part of what libcurl compares before reusing a connection, so a
// connection verified with the extra CA never serves a request without it.
Status useExtraCaFile(CURL* easy, std::string& cachedPath, std::string& cachedBundle,
                      const std::string& caFile) {
    if (caFile != cachedPath || cachedBundle.empty()) {
        auto extra = readWholeFile(caFile);
        if (!extra)
            return extra.error();
        std::string bundle;
#if LIBCURL_VERSION_NUM >= 0x075400
        char* builtIn = nullptr;
        if (curl_easy_getinfo(easy, CURLINFO_CAINFO, &builtIn) == CURLE_OK && builtIn != nullptr) {
            if (auto system = readWholeFile(builtIn))
                bundle = std::move(*system);
        }
#endif
        bundle.append("\n");
        bundle.append(*extra);
        cachedPath = caFile;
        cachedBundle = std::move(bundle);
    }
    curl_blob blob{cachedBundle.data(), cachedBundle.size(), CURL_BLOB_COPY};
    if (curl_easy_setopt(easy, CURLOPT_CAINFO_BLOB, &blob) != CURLE_OK)
        return Error{"this libcurl cannot take an extra CA file", 0};
    return {};
}

// The method word, and the body when there is one. Methods other than GET,
// POST and HEAD go out as a custom request carrying the body as given.
void setMethodAndBody(CURL* easy, int method, const std::string& body) {
    const std::string_view methodWord = methodWords[static_cast<std::size_t>(method)];
    switch (static_cast<HttpMethod>(method)) {
    case HttpMethod::Get:
        if (body.empty())
            curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
        break;
    case HttpMethod::Post:
        // A plain POST (not a custom one) so that a 301/302/303 answer turns
        // it into a GET, as browsers do.
        curl_easy_setopt(easy, CURLOPT_POST, 1L);
        curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
        curl_easy_setopt(easy, CURLOPT_POSTFIELDS, body.c_str());
        break;
    case HttpMethod::Head:
        curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
        break;
    default:
        break;
    }
    if (method != static_cast<int>(HttpMethod::Post) &&
        method != static_cast<int>(HttpMethod::Head) &&
        (method != static_cast<int>(HttpMethod::Get) || !body.empty())) {
        curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, methodWord.data());
        if (!body.empty()) {
            curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE,
                             static_cast<curl_off_t>(body.size()));
            curl_easy_setopt(easy, CURLOPT_POSTFIELDS, body.c_str());
        }
    }
}

// Drives the transfer on the client's multi handle rather than with
// curl_easy_perform, whose internal wait only looks at progress about once a
// second: a stop request wakes the poll at once, so an exchange is abandoned
// within moments however long the server stays silent.
Status runTransfer(CURL* easy, CURLM* multi, const std::stop_token& stopToken,
                   const char* errorText) {
    CURLMcode multiResult = curl_multi_add_handle(multi, easy);
    if (multiResult != CURLM_OK)
        return Error{curl_multi_strerror(multiResult), static_cast<int>(multiResult)};

    CURLcode result = CURLE_OK;
    bool cancelled = false;
    bool finished = false;
    {
        std::stop_callback wake(stopToken, [multi] { curl_multi_wakeup(multi); });
        int running = 1;
        while (true) {
            if (stopToken.stop_requested()) {
                cancelled = true;
                break;
            }
            multiResult = curl_multi_perform(multi, &running);
            if (multiResult != CURLM_OK || running == 0)
                break;
            multiResult = curl_multi_poll(multi, nullptr, 0, pollCeilingMs, nullptr);
            if (multiResult != CURLM_OK)
                break;
        }
    }
    int queued = 0;
    while (CURLMsg* message = curl_multi_info_read(multi, &queued)) {
        if (message->msg == CURLMSG_DONE && message->easy_handle == easy) {
            result = message->data.result;
            finished = true;
        }
    }
    // Removing a transfer that is still running closes its connection; a
    // finished one leaves the connection in the cache for the next request.
    curl_multi_remove_handle(multi, easy);

    if (cancelled)
        return Error{"the exchange was cancelled", static_cast<int>(CURLE_ABORTED_BY_CALLBACK)};
    if (multiResult != CURLM_OK)
        return Error{curl_multi_strerror(multiResult), static_cast<int>(multiResult)};
    if (!finished)
        return Error{"the exchange ended without a result", 0};
    if (result != CURLE_OK)
        return Error{errorText[0] != '\0' ? std::string(errorText)
                                          : std::string(curl_easy_strerror(result)),
                     static_cast<int>(result)};
    return {};
}

} // namespace

HttpResponse HttpRequest::perform(std::string_view url, const HttpRequestOptions& options) {
    HttpResponse response;

    std::optional<HttpClient> ownClient;
    HttpClient* client = options.client;
    if (client == nullptr)
        client = &ownClient.emplace();
    if (!client->isValid()) {
        response.outcome = Error{"cannot create an HTTP client", 0};
        return response;
    }
    HttpClient::Handles& handles = *client->handles_;
    CURL* easy = handles.easy;
    CURLM* multi = handles.multi;
    curl_easy_reset(easy);

    const int method = (options.method < 0 || options.method > 7) ? 0 : options.method;

    // A "Cookie:" pasted into the text is removed from the caller's own text,
    // before anything is sent.
    if (options.cookies != nullptr && !options.cookies->empty() &&
        findIgnoreCase(*options.cookies, "Cookie:") != std::string::npos)
        *options.cookies = removeAllIgnoreCase(*options.cookies, "Cookie:");

    std::string headerText = options.extraHeaders;
    if (options.completeHeaders)
        headerText = completeHeaderBlock(headerText, url, method);
    if (options.normaliseHeaderNames)
        headerText = normaliseHeaderBlock(headerText);

    HeaderList headers;
    buildHeaderList(headers, options.cookies, headerText);

    TransferState state;
    char errorText[CURL_ERROR_SIZE] = {};
    Status outcome;
    const std::string preparedUrl = prepareUrl(url);
    const std::string& body = options.bodyBytes.empty() ? options.bodyText : options.bodyBytes;

    curl_easy_setopt(easy, CURLOPT_URL, preparedUrl.c_str());
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, errorText);
#if LIBCURL_VERSION_NUM >= 0x075500
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
#endif
    // HTTP/2 would hand back header names in lower case, and the cookie
    // rules only read "Set-Cookie" as the service writes it.
    curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &onBody);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &state);
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &onHeader);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, &state);
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers.get());
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L);
    if (!options.noRedirect) {
        curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
        curl_easy_setopt(easy, CURLOPT_MAXREDIRS, maxRedirects);
    }
    if (const auto timeout = effectiveTimeoutMs(options.timeoutSeconds)) {
        curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, *timeout);
        curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, *timeout);
    }

    // An empty proxy also keeps libcurl from taking one from the environment.
    curl_easy_setopt(easy, CURLOPT_PROXY, options.proxy.c_str());
    if (!options.proxy.empty() && !options.proxyUser.empty()) {
        if (options.credentialTarget == 1) {
            // Basic alone makes libcurl send "Proxy-Authorization: Basic
            // base64(user:password)" with the first request, to the proxy
            // only (also inside a CONNECT tunnel, where a plain header would
            // reach the server instead).
            curl_easy_setopt(easy, CURLOPT_PROXYUSERNAME, options.proxyUser.c_str());
            curl_easy_setopt(easy, CURLOPT_PROXYPASSWORD, options.proxyPassword.c_str());
            curl_easy_setopt(easy, CURLOPT_PROXYAUTH, static_cast<unsigned long>(CURLAUTH_BASIC));
        } else {
            curl_easy_setopt(easy, CURLOPT_USERNAME, options.proxyUser.c_str());
            curl_easy_setopt(easy, CURLOPT_PASSWORD, options.proxyPassword.c_str());
            curl_easy_setopt(easy, CURLOPT_HTTPAUTH, static_cast<unsigned long>(CURLAUTH_ANY));
        }
    }

    if (!options.caFile.empty())
        outcome = useExtraCaFile(easy, handles.caFile, handles.caBundle, options.caFile);

    setMethodAndBody(easy, method, body);

    if (!headers.ok())
        outcome = Error{"out of memory while building the request headers", 0};
    if (options.stopToken.stop_requested())
        outcome = Error{"the exchange was cancelled", static_cast<int>(CURLE_ABORTED_BY_CALLBACK)};

    if (outcome)
        outcome = runTransfer(easy, multi, options.stopToken, errorText);

    if (outcome) {
        long code = 0;
        curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &code);
        response.status = static_cast<int>(code);
        response.body = std::move(state.body);
        response.headers = joinText(state.headerLines, "\r\n");
    } else {
        response.outcome = std::move(outcome);
    }

    // The merge runs whatever happened, so a failed exchange still hands the
    // caller back a re-normalised cookie text.
    const std::string collected = collectSetCookies(response.headers);
    if (options.mergeCookies && options.cookies != nullptr) {
        *options.cookies = mergeCookieText(*options.cookies, collected);
        response.returnedCookies = *options.cookies;
    } else {
        response.returnedCookies = collected;
    }
    if (options.returnedCookies != nullptr)
        *options.returnedCookies = response.returnedCookies;
    if (options.responseHeaders != nullptr)
        *options.responseHeaders = response.headers;
    if (options.status != nullptr)
        *options.status = response.status;
    return response;
}

Expected<std::string> resolveCaFile(std::optional<std::string_view> commandLineValue) {
    std::string path;
    std::string source;
    if (commandLineValue) {
        path = std::string(*commandLineValue);
        source = "--ca-file";
    } else if (const char* value = std::getenv(caFileEnvironmentVariable.data());
               value != nullptr && *value != '\0') {
        path = value;
        source = std::string(caFileEnvironmentVariable);
    } else {
        return std::string();
    }
    if (auto contents = readWholeFile(path); !contents)
        return Error{source + ": " + contents.error().message, 0};
    return path;
}

std::string_view httpMethodWord(int code) {
    if (code < 0 || code >= static_cast<int>(methodWords.size()))
        code = 0;
    return methodWords[static_cast<std::size_t>(code)];
}

std::string base64Encode(std::string_view bytes) {
    constexpr char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        const unsigned v = (static_cast<unsigned char>(bytes[i]) << 16) |
                           (static_cast<unsigned char>(bytes[i + 1]) << 8) |
                           static_cast<unsigned char>(bytes[i + 2]);
        out.push_back(alphabet[(v >> 18) & 0x3F]);
        out.push_back(alphabet[(v >> 12) & 0x3F]);
        out.push_back(alphabet[(v >> 6) & 0x3F]);
        out.push_back(alphabet[v & 0x3F]);
    }
    const std::size_t rest = bytes.size() - i;
    if (rest > 0) {
        unsigned v = static_cast<unsigned char>(bytes[i]) << 16;
        if (rest == 2)
            v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
        out.push_back(alphabet[(v >> 18) & 0x3F]);
        out.push_back(alphabet[(v >> 12) & 0x3F]);
        out.push_back(rest == 2 ? alphabet[(v >> 6) & 0x3F] : '=');
        out.push_back('=');
    }
    return out;
}

std::string normaliseHeaderBlock(std::string_view block) {
    std::vector<std::string> kept;
    for (std::string& line : splitText(block, "\r\n")) {
        const std::size_t colon = line.find(':');
        if (colon == std::string::npos)
            continue;
        bool wordStart = true;
        for (std::size_t i = 0; i < colon; ++i) {
            char& c = line[i];
            if (wordStart && c >= 'a' && c <= 'z')
                c = static_cast<char>(c - 'a' + 'A');
            wordStart = c == '-';
        }
        kept.push_back(std::move(line));
    }
    return joinText(kept, "\r\n");
}

std::optional<long> effectiveTimeoutMs(int timeoutSeconds) {
    if (timeoutSeconds == -1)
        return std::nullopt;
    if (timeoutSeconds < 1)
        return 15000L;
    return static_cast<long>(timeoutSeconds) * 1000L;
}

} // namespace vantorel
