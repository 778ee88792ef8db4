#include "netdisk/service_headers.h"

#include "base/text.h"

namespace vantorel {

std::string homePageUrl(const ServiceOrigin& origin) {
    return origin.url("/disk/home?");
}

namespace {

constexpr std::string_view chrome89Ua =
    "User-Agent: Mozilla/5.0 (Windows NT 10.0; Win64; x64) AppleWebKit/537.36 (KHTML, like "
    "Gecko) Chrome/89.0.4389.82 Safari/537.36";
constexpr std::string_view chrome89SecChUa =
    "sec-ch-ua: \"Google Chrome\";v=\"89\", \"Chromium\";v=\"89\", \";Not A Brand\";v=\"99\"";

} // namespace

std::string homePageHeaders(const ServiceOrigin& origin) {
    return joinText(
        {
            "Host: " + origin.host(),
            "Connection: keep-alive",
            "Cache-Control: max-age=0",
            std::string(chrome89SecChUa),
            "sec-ch-ua-mobile: ?0",
            "Upgrade-Insecure-Requests: 1",
            std::string(chrome89Ua),
            "Accept: text/html,application/xhtml+xml,application/xml;q=0.9,image/avif,image/webp,"
            "image/apng,*/*;q=0.8,application/signed-exchange;v=b3;q=0.9",
            "Sec-Fetch-Site: same-origin",
            "Sec-Fetch-Mode: navigate",
            "Sec-Fetch-User: ?1",
            "Sec-Fetch-Dest: document",
            "Referer: " + homePageUrl(origin),
        },
        "\r\n");
}

std::string webApiHeaders(const ServiceOrigin& origin) {
    return joinText(
        {
            "Host: " + origin.host(),
            "Connection: keep-alive",
            "Content-Length: 87",
            std::string(chrome89SecChUa),
            "Accept: application/json, text/javascript, */*; q=0.01",
            "X-Requested-With: XMLHttpRequest",
            "sec-ch-ua-mobile: ?0",
            std::string(chrome89Ua),
            "Content-Type: application/x-www-form-urlencoded; charset=UTF-8",
            "Origin: " + origin.text(),
            "Sec-Fetch-Site: same-origin",
            "Sec-Fetch-Mode: cors",
            "Sec-Fetch-Dest: empty",
            "Referer: " + homePageUrl(origin),
        },
        "\r\n");
}

std::string listingHeaders() {
    return "User-Agent: Mozilla/5.0 (Windows NT 6.1; WOW64) AppleWebKit/537.36 (KHTML, like Gecko) "
           "Chrome/50.0.2661.87 Safari/537.36";
}

} // namespace vantorel
