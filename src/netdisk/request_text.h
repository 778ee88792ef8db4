#pragma once

// The exact URLs and form bodies of the service's web API requests. They are
// kept apart from the sending so that every byte the service sees can be
// checked on its own.

#include "base/text.h"

#include <string>
#include <string_view>

namespace vantorel {

// Members a listing page asks for. The service hands out no more than this
// in one page, whatever a request asks, so a folder comes in pages of it.
inline constexpr int kListingPageSize = 1000;

// GET /api/list for one page (counted from 1) of one folder; `dir` is
// already percent-encoded and goes in unchanged. The URL ends with one
// blank, as the page's own request does; the HTTP layer escapes it on the
// wire.
std::string listingUrl(std::string_view origin, std::string_view dir, std::string_view bdstoken,
                       int page = 1);

// GET /api/gettemplatevariable and GET /api/loginStatus: the login tokens
// of the service's new web client, whose pages no longer carry them.
std::string templateVariableUrl(std::string_view origin);
std::string loginStatusUrl(std::string_view origin);

// POST /share/set. The three texts are inserted as given.
std::string shareUrl(std::string_view origin, std::string_view bdstoken);
std::string shareBody(std::string_view period, std::string_view code, std::string_view fsId);

// POST /api/filemanager?opera=rename.
std::string renameUrl(std::string_view origin, std::string_view bdstoken);

// GET /share/taskquery: how a rename the service only accepted has ended.
std::string taskQueryUrl(std::string_view origin, std::string_view taskId);

// The names are escaped for a JSON string before the form encoding, so a name
// holding a double quote or a backslash stays inside its own value and can
// never rename another item.
std::string renameBody(std::string_view path, std::string_view newName);

} // namespace vantorel
