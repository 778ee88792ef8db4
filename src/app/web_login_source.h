#pragma once

// The login context's view of the embedded browser, on Qt WebEngine.

#include "app/browser_login_source.h"

#include <QPointer>
#include <QUrl>

class QWebEngineView;

namespace vantorel::gui {

class CookieMirror;

class WebLoginSource final : public BrowserLoginSource {
public:
    // `origin` names the service: its host picks the cookies, its scheme
    // whether secure cookies count. The view and mirror must outlive this.
    WebLoginSource(QWebEngineView& view, const CookieMirror& cookies, QUrl origin);

    std::string cookieText() override;
    std::string currentAddress() override;
    // Waits in a nested event loop for the page's answer, at most
    // scriptTimeoutMs (the window keeps answering meanwhile).
    std::string runPageScript(std::string_view functionBody) override;

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
