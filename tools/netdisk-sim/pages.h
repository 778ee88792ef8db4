#pragma once

// The service's web pages: plain HTML and script, no outside resources.

#include <string>
#include <string_view>

namespace netdisk_sim {

std::string loginPage(std::string_view user);
// `tokenScript` is the inline script that carries user name and bdstoken
// (the locals.mset block, or another form of it). Without `oldModules` the
// page lacks the module loader that the old client's outside scripts use.
std::string homePage(std::string_view user, std::string_view tokenScript, bool oldModules);
// The new client's token script: it asks the token requests.
std::string mainPageTokenScript();
std::string popupPage();
std::string sharePage(std::string_view title, std::string_view bodyHtml);
std::string statusPage(int status);
std::string busyPage();

} // namespace netdisk_sim
