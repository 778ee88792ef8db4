#pragma once

// What the service's own web client sends: its home page's address and the
// fixed header blocks of its requests, lines separated by CR LF without a
// line end after the last. The HTTP layer completes and normalises them.

#include "base/service_origin.h"

#include <string>

namespace vantorel {

// The service's home page: the origin followed by "/disk/home?".
std::string homePageUrl(const ServiceOrigin& origin);

std::string homePageHeaders(const ServiceOrigin& origin);
std::string webApiHeaders(const ServiceOrigin& origin);
std::string listingHeaders();

} // namespace vantorel
