#include "netdisk/request_text.h"

#include "base/codecs.h"
#include "base/text.h"

#include <cstdio>

namespace vantorel {

std::string listingUrl(std::string_view origin, std::string_view dir, std::string_view bdstoken,
                       int page) {
    std::string url(origin);
    url += "/api/list?order=time&desc=1&showempty=0&web=1&page=";
    url += std::to_string(page);
    url += "&num=";
    url += std::to_string(kListingPageSize);
    url += "&dir=";
    url += dir;
    url += "&t=0.657891815'9504346&channel=chunlei&web=1&app_id=250528&bdstoken=";
    url += bdstoken;
    url += "&logid=Q0Y3RDE5QTA0QjhFMkM2NTlEMEExRjNCNzU4RTlDMjQ6Rkc9MQ==&clienttype=0 ";
    return url;
}

std::string templateVariableUrl(std::string_view origin) {
    std::string url(origin);
    url += "/api/gettemplatevariable?clienttype=0&app_id=250528&web=1&fields="
           "%5B%22bdstoken%22%2C%22token%22%2C%22uk%22%2C%22isdocuser%22%2C%22servertime%22%5D";
    return url;
}

std::string loginStatusUrl(std::string_view origin) {
    std::string url(origin);
    url += "/api/loginStatus?clienttype=0&app_id=250528&web=1&channel=chunlei&version=0";
    return url;
}

std::string shareUrl(std::string_view origin, std::string_view bdstoken) {
    std::string url(origin);
    url += "/share/set?channel=chunlei&bdstoken=";
    url += bdstoken;
    url += "&clienttype=0&app_id=250528&web=1";
    return url;
}

std::string shareBody(std::string_view period, std::string_view code, std::string_view fsId) {
    std::string body = "period=";
    body += period;
    body += "&channel_list=%5B%5D&pwd=";
    body += code;
    body += "&schannel=4&fid_list=%5B";
    body += fsId;
    body += "%5D";
    return body;
}

std::string renameUrl(std::string_view origin, std::string_view bdstoken) {
    std::string url(origin);
    url += "/api/filemanager?async=2&onnest=fail&opera=rename&bdstoken=";
    url += bdstoken;
    url += "&clienttype=0&app_id=250528&web=1";
    return url;
}

std::string taskQueryUrl(std::string_view origin, std::string_view taskId) {
    std::string url(origin);
    url += "/share/taskquery?taskid=";
    url += taskId;
    url += "&clienttype=0&app_id=250528&web=1";
    return url;
}

namespace {

std::string encodeName(std::string_view text) {
    return replaceAll(formEncode(jsonStringContent(text), true, true), "%5F", "_");
}

} // namespace

std::string renameBody(std::string_view path, std::string_view newName) {
    std::string body = "filelist=%5B%7B%22path%22%3A%22";
    body += encodeName(path);
    body += "%22%2C%22newname%22%3A%22";
    body += encodeName(newName);
    body += "%22%7D%5D";
    return body;
}

} // namespace vantorel
