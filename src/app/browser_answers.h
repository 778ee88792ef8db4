#pragma once

// The browser's answers, taken on the UI thread, for work that runs on a
// helper thread (the web engine may only be asked from the UI thread).

#include "netdisk/login_context.h"
#include "netdisk/page_text.h"

#include <string>
#include <string_view>

namespace vantorel::gui {

class BrowserAnswers final : public BrowserSource {
public:
    // The page's selection is asked for only when the work shares what the
    // page shows; other work reads as "nothing selected".
    enum class Selection { Asked, NotNeeded };

    explicit BrowserAnswers(BrowserSource& browser, Selection selection = Selection::Asked)
        : cookieText_(browser.cookieText()), url_(browser.currentUrl()),
          selection_(selection == Selection::Asked ? browser.runPageScript(selectionPageScript)
                                                   : std::string("[]")) {}

    std::string cookieText() override { return cookieText_; }
    std::string currentUrl() override { return url_; }
    // Only the selection script was run in the page.
    std::string runPageScript(std::string_view script) override {
        return script == selectionPageScript ? selection_ : std::string();
    }

private:
    std::string cookieText_;
    std::string url_;
    std::string selection_;
};

} // namespace vantorel::gui
