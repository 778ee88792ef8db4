#include "app/web_login_source.h"

#include "app/browser_cookies.h"

#include <QEventLoop>
#include <QTimer>
#include <QVariant>
#include <QWebEnginePage>
#include <QWebEngineScript>
#include <QWebEngineView>
#include <memory>

namespace vantorel::gui {

WebLoginSource::WebLoginSource(QWebEngineView& view, const CookieMirror& cookies, QUrl origin)
    : view_(&view), cookies_(cookies), origin_(std::move(origin)) {}

std::string WebLoginSource::cookieText() {
    return cookies_.cookieTextFor(
        origin_.host(), origin_.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) == 0);
}

std::string WebLoginSource::currentUrl() {
    if (view_ == nullptr) {
        return {};
    }
    // Encoded as the browser sent it: a folder "/a" stays "%2Fa".
    return view_->url().toEncoded().toStdString();
}

QString wrapAsFunctionBody(std::string_view functionBody) {
    return QStringLiteral("(function(){\r\n") +
           QString::fromUtf8(functionBody.data(), static_cast<qsizetype>(functionBody.size())) +
           QStringLiteral("\r\n})()");
}

std::string WebLoginSource::runPageScript(std::string_view script) {
    if (view_ == nullptr || view_->page() == nullptr) {
        return {};
    }
    struct Answer {
        bool done = false;
        QVariant value;
    };
    auto answer = std::make_shared<Answer>();
    QEventLoop loop;
    QPointer<QEventLoop> waiting(&loop);
    QWebEnginePage* page = view_->page();
    QObject::connect(page, &QObject::destroyed, &loop, &QEventLoop::quit);
    page->runJavaScript(wrapAsFunctionBody(script), QWebEngineScript::MainWorld,
                        [answer, waiting](const QVariant& value) {
                            answer->done = true;
                            answer->value = value;
                            if (waiting != nullptr) {
                                waiting->quit();
                            }
                        });
    if (!answer->done) {
        QTimer::singleShot(scriptTimeoutMs_, &loop, &QEventLoop::quit);
        loop.exec();
    }
    if (!answer->done) {
        return {};
    }
    const QVariant& value = answer->value;
    if (value.isNull() || !value.isValid() || !value.canConvert<QString>()) {
        return {};
    }
    return value.toString().toStdString();
}

} // namespace vantorel::gui
