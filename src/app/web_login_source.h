#pragma once

// The browser side of the login context, on Qt WebEngine.

#include "netdisk/login_context.h"

#include <QPointer>
#include <QString>
#include <QUrl>
#include <string>
#include <string_view>

class QWebEngineView;

namespace vantorel::gui {

class CookieMirror;

// All calls come from the UI thread. Each gives UTF-8 text, and empty text for
// anything it cannot have (no page, no cookies, a failing script).
class WebLoginSource final : public BrowserSource {
public:
    // `origin` names the service: its host picks the cookies, its scheme
    // whether secure cookies count. The view and mirror must outlive this.
    WebLoginSource(QWebEngineView& view, const CookieMirror& cookies, QUrl origin);

    // The cookies a request to the service's host carries, HttpOnly ones
    // included, as name=value items joined by "; ".
    std::string cookieText() override;
    // The full address of the page shown, percent-encoded as the browser
    // sent it, fragment included.
    std::string currentUrl() override;
    // Runs `script` in the page's own script context as the body of a
    // function and gives its value as text (a string as it is, other values
    // converted, null/undefined or an exception as empty text). Waits in a
    // nested event loop for the page's answer, at most the script time-out,
    // so the window keeps answering meanwhile.
    std::string runPageScript(std::string_view script) override;

    void setScriptTimeout(int milliseconds) { scriptTimeoutMs_ = milliseconds; }

private:
    QPointer<QWebEngineView> view_;
    const CookieMirror& cookies_;
    QUrl origin_;
    int scriptTimeoutMs_ = 15000;
};

// `functionBody` wrapped so that it runs as the body of a function and its
// top-level `return` gives the script's value.
QString wrapAsFunctionBody(std::string_view functionBody);

} // namespace vantorel::gui
