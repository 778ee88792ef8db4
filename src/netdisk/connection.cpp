#include "netdisk/connection.h"

#include <cstdlib>

namespace vantorel {

ServiceOrigin defaultServiceOrigin() {
    return *ServiceOrigin::parse(defaultServiceOriginText);
}

Expected<ServiceOrigin> resolveServiceOrigin(std::optional<std::string_view> commandLineValue) {
    if (commandLineValue) {
        auto origin = ServiceOrigin::parse(*commandLineValue);
        if (!origin)
            return Error{"--origin: " + origin.error().message, 0};
        return origin;
    }
    const char* fromEnvironment = std::getenv(serviceOriginEnvironmentVariable.data());
    if (fromEnvironment != nullptr && *fromEnvironment != '\0') {
        auto origin = ServiceOrigin::parse(fromEnvironment);
        if (!origin)
            return Error{
                std::string(serviceOriginEnvironmentVariable) + ": " + origin.error().message, 0};
        return origin;
    }
    return defaultServiceOrigin();
}

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
