#pragma once

// The service's web pages: plain HTML and script, no outside resources.

#include <string>
#include <string_view>

namespace netdisk_sim {

std::string loginPage(std::string_view user);
// `tokenScript` is the inline script that carries user name and bdstoken
// (the locals.mset block, or another form of it).
std::string homePage(std::string_view user, std::string_view tokenScript);
std::string popupPage();
std::string sharePage(std::string_view title, std::string_view bodyHtml);
std::string statusPage(int status);
std::string busyPage();

} // namespace netdisk_sim
