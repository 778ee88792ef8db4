#pragma once

// What a share run needs from the logged-in browser page: the service's
// cookies, the user name and bdstoken of the home page, the folder open in
// the page and the items selected there.

#include <string>
#include <string_view>

namespace vantorel {

struct LoginContext {
    // Items name=value joined by "; "; every request sends and rewrites it.
    std::string cookieText;
    std::string userName;
    // The token the web API expects with every request; empty when the
    // browser is not logged in.
    std::string bdstoken;
    // The folder as the browser address holds it, still percent-encoded.
    std::string currentPath;
    // JSON array of the selected items; exactly "[]" when nothing is
    // selected, which makes the run share the whole folder.
    std::string selectionJson;
};

// The browser side of a gather: the desktop app answers from its web view,
// the command line from a cookie text, a folder path and a selection file.
class BrowserSource {
public:
    virtual ~BrowserSource() = default;
    // The cookies the service's pages see, HttpOnly ones included.
    virtual std::string cookieText() = 0;
    // The full address of the page shown, fragment included.
    virtual std::string currentUrl() = 0;
    // Runs `script` as the body of a function in the page and returns its
    // value as text; empty when it fails or gives nothing.
    virtual std::string runPageScript(std::string_view script) = 0;
};

} // namespace vantorel
