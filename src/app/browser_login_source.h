#pragma once

// What the login context needs from the embedded browser. Plain C++, so the
// core's gathering code can take it without knowing the browser behind it.

#include <string>
#include <string_view>

namespace vantorel::gui {

// The page script that returns the items selected in the service's file list
// as JSON text. Four lines joined by CR LF, the last ending in a blank; it is
// run as the body of a function, so its `return` delivers the value.
inline constexpr std::string_view kSelectionScript =
    "var ccc = require(\"system-core:context/SystemContext.js\");\r\n"
    "var obj = new ccc(!1);\r\n"
    "var result = obj.list.getSelected();\r\n"
    "return JSON.stringify(result); ";

// All calls come from the UI thread. Each returns UTF-8 text, and empty text
// for anything it cannot have (no page, no cookies, a failing script).
class BrowserLoginSource {
public:
    virtual ~BrowserLoginSource() = default;

    // Cookies the browser holds for the service's host, HttpOnly ones
    // included: items name=value joined by "; ".
    virtual std::string cookieText() = 0;

    // Full address of the page shown, fragment included.
    virtual std::string currentAddress() = 0;

    // Runs `functionBody` in the page's own script context as the body of a
    // function and returns its value as text (a string as it is, other values
    // converted, null/undefined or an exception as empty text).
    virtual std::string runPageScript(std::string_view functionBody) = 0;
};

} // namespace vantorel::gui
