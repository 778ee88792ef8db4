#pragma once

// The embedded browser: the view that shows the service, the page behind it,
// and the separate windows that pages open.

#include "base/expected.h"

#include <QList>
#include <QSslCertificate>
#include <QUrl>
#include <QWebEnginePage>
#include <QWebEngineView>
#include <QWidget>
#include <functional>

class QWebEngineLoadingInfo;
class QWebEngineProfile;

namespace vantorel::gui {

// Makes the page of a window that a page asked to open, or returns null to
// refuse it.
using PopupFactory = std::function<QWebEnginePage*(QWebEnginePage::WebWindowType type)>;

class BrowserPage final : public QWebEnginePage {
    Q_OBJECT
public:
    BrowserPage(QWebEngineProfile* profile, QObject* parent);

    void setPopupFactory(PopupFactory factory) { popupFactory_ = std::move(factory); }

protected:
    QWebEnginePage* createWindow(WebWindowType type) override;

private:
    PopupFactory popupFactory_;
};

// A web view on the program's profile that says so in the view when a page
// cannot be loaded, instead of staying blank.
class BrowserView final : public QWebEngineView {
    Q_OBJECT
public:
    // The page is the view's child: it goes with the view, which must go
    // before the profile.
    BrowserView(QWebEngineProfile* profile, QWidget* parent);

    BrowserPage* browserPage() const { return page_; }

    // Reloads the page; after a failed load, tries its address again.
    void reloadPage();

    // The address the view stands for: the page shown, or the one that
    // failed while the failure notice is up.
    QUrl shownAddress() const;
    bool showsLoadFailure() const { return failedUrl_.isValid(); }

signals:
    void shownAddressChanged(const QUrl& address);

private:
    void onLoadingChanged(const QWebEngineLoadingInfo& info);
    void onUrlChanged(const QUrl& url);

    BrowserPage* page_;
    QUrl failedUrl_;
    bool showingNotice_ = false;
};

// A separate window holding a page that another page opened.
class PopupWindow final : public QWidget {
    Q_OBJECT
public:
    PopupWindow(QWebEngineProfile* profile, const PopupFactory& factory, QWidget* parent);

    BrowserView* view() const { return view_; }
    BrowserPage* page() const { return view_->browserPage(); }

    // True once the page asked for a size of its own (window.open features).
    bool sizedByPage() const { return sizedByPage_; }

private:
    BrowserView* view_;
    bool sizedByPage_ = false;
};

// The notice shown in place of a page that could not be loaded.
QString loadFailureHtml(const QUrl& url, const QString& reason);

// Extra certificate authorities for every page (--ca-file). The engine trusts
// only the system's store and has no way to add to it, so a server
// certificate it refuses is checked once more: when its chain leads to one of
// these authorities and names the page's host, the page loads. Nothing else is
// ever let through. An empty `file` trusts no extra authority. Fails when the
// file holds no PEM certificate.
Status trustExtraCaFile(const QString& file);

// Whether `chain` (server certificate first) verifies against the extra
// authorities alone, for `host`.
bool verifiesWithExtraCas(const QList<QSslCertificate>& chain, const QString& host);

} // namespace vantorel::gui
