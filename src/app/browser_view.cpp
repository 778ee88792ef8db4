#include "app/browser_view.h"

#include <QSslConfiguration>
#include <QSslError>
#include <QVBoxLayout>
#include <QWebEngineCertificateError>
#include <QWebEngineLoadingInfo>
#include <QWebEngineProfile>
#include <QWebEngineSettings>

namespace vantorel::gui {

namespace {

// Chromium's code for a navigation that was cancelled, for instance by a new
// one: not a failure worth a notice.
constexpr int kAbortedError = -3;

bool g_extraCasSet = false; // UI thread only, like every page

} // namespace

Status trustExtraCaFile(const QString& file) {
    QList<QSslCertificate> authorities;
    if (!file.isEmpty()) {
        authorities = QSslCertificate::fromPath(file, QSsl::Pem);
        if (authorities.isEmpty()) {
            return Error{"no PEM certificate in " + file.toStdString()};
        }
    }
    // Certificate checks of Qt's own network layer read the default
    // configuration; the program makes no other use of it.
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.setCaCertificates(authorities);
    QSslConfiguration::setDefaultConfiguration(configuration);
    g_extraCasSet = !authorities.isEmpty();
    return {};
}

bool verifiesWithExtraCas(const QList<QSslCertificate>& chain, const QString& host) {
    if (!g_extraCasSet || chain.isEmpty() || host.isEmpty()) {
        return false;
    }
    return QSslCertificate::verify(chain, host).isEmpty();
}

BrowserPage::BrowserPage(QWebEngineProfile* profile, QObject* parent)
    : QWebEnginePage(profile, parent) {
    connect(this, &QWebEnginePage::certificateError, this,
            [](const QWebEngineCertificateError& error) {
                if (error.isOverridable() &&
                    verifiesWithExtraCas(error.certificateChain(), error.url().host())) {
                    QWebEngineCertificateError accepted = error;
                    accepted.acceptCertificate();
                }
            });
}

QWebEnginePage* BrowserPage::createWindow(WebWindowType type) {
    return popupFactory_ ? popupFactory_(type) : nullptr;
}

QString loadFailureHtml(const QUrl& url, const QString& reason) {
    const QString address = url.toDisplayString().toHtmlEscaped();
    const QString why = reason.toHtmlEscaped();
    return QStringLiteral(
               "<!DOCTYPE html><html lang=\"zh-CN\"><head><meta charset=\"utf-8\">"
               "<title>页面载入失败</title><style>"
               "body{font-family:'微软雅黑','Microsoft YaHei','Noto Sans CJK SC',sans-serif;"
               "background:#f4f6f9;color:#1f252e;margin:0;}"
               ".box{max-width:560px;margin:12vh auto;background:#fff;border:1px solid #d3d9e2;"
               "border-radius:8px;padding:28px 32px;}"
               "h1{font-size:20px;margin:0 0 12px;}p{font-size:14px;line-height:1.6;margin:6px 0;}"
               ".addr{color:#2f6fdf;word-break:break-all;}.why{color:#6b7482;}"
               "</style></head><body><div class=\"box\"><h1>页面载入失败</h1>"
               "<p>无法打开 <span class=\"addr\">%1</span></p>"
               "<p class=\"why\">%2</p>"
               "<p>请检查网络连接，然后点击“刷新”重试。</p></div></body></html>")
        .arg(address, why);
}

BrowserView::BrowserView(QWebEngineProfile* profile, QWidget* parent)
    : QWebEngineView(parent), page_(new BrowserPage(profile, this)) {
    // Our own notice replaces the engine's built-in error page.
    page_->settings()->setAttribute(QWebEngineSettings::ErrorPageEnabled, false);
    setPage(page_);
    connect(page_, &QWebEnginePage::loadingChanged, this, &BrowserView::onLoadingChanged);
    connect(page_, &QWebEnginePage::urlChanged, this, &BrowserView::onUrlChanged);
}

void BrowserView::reloadPage() {
    if (failedUrl_.isValid()) {
        load(failedUrl_);
    } else {
        reload();
    }
}

QUrl BrowserView::shownAddress() const {
    return failedUrl_.isValid() ? failedUrl_ : url();
}

void BrowserView::onLoadingChanged(const QWebEngineLoadingInfo& info) {
    switch (info.status()) {
    case QWebEngineLoadingInfo::LoadStartedStatus:
        if (!showingNotice_) {
            failedUrl_.clear();
        }
        return;
    case QWebEngineLoadingInfo::LoadSucceededStatus:
        showingNotice_ = false;
        return;
    case QWebEngineLoadingInfo::LoadStoppedStatus:
        showingNotice_ = false;
        return;
    case QWebEngineLoadingInfo::LoadFailedStatus:
        break;
    }
    if (showingNotice_) {
        showingNotice_ = false;
        return;
    }
    // An HTTP error status comes with the server's own page, which shows as
    // it is; a cancelled load is no failure.
    if (info.errorDomain() == QWebEngineLoadingInfo::HttpStatusCodeDomain ||
        info.errorCode() == kAbortedError) {
        return;
    }
    failedUrl_ = info.url();
    showingNotice_ = true;
    page_->setHtml(loadFailureHtml(info.url(), info.errorString()), info.url());
    emit shownAddressChanged(shownAddress());
}

void BrowserView::onUrlChanged(const QUrl& /*url*/) {
    emit shownAddressChanged(shownAddress());
}

PopupWindow::PopupWindow(QWebEngineProfile* profile, const PopupFactory& factory, QWidget* parent)
    : QWidget(parent, Qt::Window), view_(new BrowserView(profile, this)) {
    setAttribute(Qt::WA_DeleteOnClose);
    setAttribute(Qt::WA_QuitOnClose, false);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(view_);
    view_->browserPage()->setPopupFactory(factory);

    BrowserPage* page = view_->browserPage();
    connect(page, &QWebEnginePage::windowCloseRequested, this, &QWidget::close);
    connect(page, &QWebEnginePage::titleChanged, this, &QWidget::setWindowTitle);
    connect(page, &QWebEnginePage::geometryChangeRequested, this, [this](const QRect& geometry) {
        // The page chooses the size; the position stays where the main
        // window placed it.
        if (geometry.width() > 0 && geometry.height() > 0) {
            sizedByPage_ = true;
            resize(geometry.size());
        }
    });
}

} // namespace vantorel::gui
