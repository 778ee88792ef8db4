#include "netdisk/connection.h"

namespace vantorel {

HttpRequestOptions serviceRequestOptions(const ConnectionSettings& connection,
                                         std::string& cookieText, std::string headerBlock,
                                         std::stop_token stop, HttpClient* client) {
    HttpRequestOptions options;
    options.cookies = &cookieText;
    options.extraHeaders = std::move(headerBlock);
    options.noRedirect = true;
    options.client = client;
    options.caFile = connection.caFile;
    options.timeoutSeconds = connection.timeoutSeconds;
    options.stopToken = std::move(stop);
    return options;
}

std::string exchangeFailure(const HttpResponse& response) {
    if (!response.outcome)
        return "网络错误: " + response.outcome.error().message;
    if (response.status >= 400)
        return "HTTP 状态 " + std::to_string(response.status);
    return {};
}

} // namespace vantorel
