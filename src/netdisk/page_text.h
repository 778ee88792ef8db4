#pragma once

// What the login context reads out of the service's pages: the inline settings
// object of the home page and the folder path of the browser address.

#include <string>
#include <string_view>

namespace vantorel {

// The object literal passed to "locals.mset(" on the home page, read to its
// matching brace with quoted strings stepped over, so that a ")" or "}" inside
// a value does not cut it short. Empty when the page holds none.
std::string_view inlineSettingsObject(std::string_view page);

// Fallback for pages that moved the settings object: the first
// "key":"value" pair for `key` anywhere in the page, JSON string escapes
// decoded. Empty when absent.
std::string findQuotedValue(std::string_view page, std::string_view key);

// Whether a text is a plausible bdstoken (32 hexadecimal digits).
bool looksLikeBdstoken(std::string_view text);

// The folder path as the browser address holds it: everything after the first
// "path=", with every "&vmode=list" removed and nothing decoded; empty when
// the address has no "path=".
std::string currentPathFromUrl(std::string_view url);

// Whether the page script's text is a JSON array (of the selected items).
// Anything else means the page could not say what is selected: it is not
// the file page, or a web client the script does not know.
bool isSelectionArray(std::string_view selectionJson);

// The script run in the page to read the selected items: four lines joined by
// CR LF, the last one ending in a blank. It runs as the body of a function.
extern const std::string_view selectionPageScript;

} // namespace vantorel
