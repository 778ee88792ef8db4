#include "app/browser_cookies.h"

#include "netdisk/stored_cookies.h"

#include <QDateTime>
#include <QFile>
#include <QSaveFile>
#include <QTimer>
#include <QWebEngineCookieStore>
#include <algorithm>

namespace vantorel::gui {

namespace {

bool expired(const QNetworkCookie& cookie, const QDateTime& now) {
    return !cookie.isSessionCookie() && cookie.expirationDate().toUTC() <= now;
}

bool sameCookie(const QNetworkCookie& a, const QNetworkCookie& b) {
    return a.name() == b.name() && a.domain().compare(b.domain(), Qt::CaseInsensitive) == 0 &&
           a.path() == b.path();
}

} // namespace

bool cookieDomainMatches(const QString& cookieDomain, const QString& host) {
    // The store writes a host-only cookie's domain without the leading dot.
    return vantorel::cookieDomainMatches(cookieDomain.toStdString(), host.toStdString(),
                                         !cookieDomain.startsWith(QLatin1Char('.')));
}

CookieMirror::CookieMirror(QWebEngineCookieStore* store, QString journalFile, QObject* parent)
    : QObject(parent), journalFile_(std::move(journalFile)) {
    readJournal();
    if (store == nullptr) {
        return;
    }
    connect(store, &QWebEngineCookieStore::cookieAdded, this, &CookieMirror::add);
    connect(store, &QWebEngineCookieStore::cookieRemoved, this, &CookieMirror::remove);
    // Delivers the stored cookies on engine versions where it works.
    store->loadAllCookies();
}

CookieMirror::~CookieMirror() {
    if (savePending_) {
        saveJournal();
    }
}

void CookieMirror::readJournal() {
    if (journalFile_.isEmpty()) {
        return;
    }
    QFile file(journalFile_);
    if (!file.open(QIODevice::ReadOnly)) {
        return;
    }
    const QDateTime now = QDateTime::currentDateTimeUtc();
    while (!file.atEnd()) {
        const QByteArray line = file.readLine().trimmed();
        if (line.isEmpty()) {
            continue;
        }
        for (const QNetworkCookie& cookie : QNetworkCookie::parseCookies(line)) {
            if (!expired(cookie, now)) {
                const unsigned long long order = nextOrder_++;
                entries_.push_back({cookie, order, order});
            }
        }
    }
}

void CookieMirror::scheduleSave() {
    if (journalFile_.isEmpty() || savePending_) {
        return;
    }
    // A response sets its cookies in a burst: write them out once.
    savePending_ = true;
    QTimer::singleShot(0, this, [this] {
        if (savePending_) {
            saveJournal();
        }
    });
}

void CookieMirror::saveJournal() {
    savePending_ = false;
    QSaveFile file(journalFile_);
    if (!file.open(QIODevice::WriteOnly)) {
        return;
    }
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    const QDateTime now = QDateTime::currentDateTimeUtc();
    for (const Entry& entry : entries_) {
        if (!expired(entry.cookie, now)) {
            file.write(entry.cookie.toRawForm(QNetworkCookie::Full));
            file.write("\n");
        }
    }
    file.commit();
}

void CookieMirror::add(const QNetworkCookie& cookie) {
    // A cookie set again keeps its place, as browsers keep its creation time.
    const auto found = std::find_if(entries_.begin(), entries_.end(),
                                    [&](const Entry& e) { return sameCookie(e.cookie, cookie); });
    if (found != entries_.end()) {
        found->cookie = cookie;
        found->lastSet = nextOrder_++;
    } else {
        const unsigned long long order = nextOrder_++;
        entries_.push_back({cookie, order, order});
    }
    scheduleSave();
    emit changed();
}

void CookieMirror::remove(const QNetworkCookie& cookie) {
    const auto before = entries_.size();
    entries_.erase(std::remove_if(entries_.begin(), entries_.end(),
                                  [&](const Entry& e) { return sameCookie(e.cookie, cookie); }),
                   entries_.end());
    if (entries_.size() != before) {
        scheduleSave();
        emit changed();
    }
}

std::vector<QNetworkCookie> CookieMirror::cookies() const {
    std::vector<QNetworkCookie> all;
    all.reserve(entries_.size());
    for (const Entry& entry : entries_) {
        all.push_back(entry.cookie);
    }
    return all;
}

std::string CookieMirror::cookieTextFor(const QString& host, bool secureChannel) const {
    const QDateTime now = QDateTime::currentDateTimeUtc();
    std::vector<StoredCookie> live;
    live.reserve(entries_.size());
    for (const Entry& entry : entries_) {
        const QNetworkCookie& cookie = entry.cookie;
        if (expired(cookie, now)) {
            continue;
        }
        live.push_back(
            {.name = cookie.name().toStdString(),
             .value = cookie.value().toStdString(),
             .domain = cookie.domain().toStdString(),
             .path = cookie.path().isEmpty() ? std::string("/") : cookie.path().toStdString(),
             .hostOnly = !cookie.domain().startsWith(QLatin1Char('.')),
             .secure = cookie.isSecure(),
             .created = entry.order,
             .lastSet = entry.lastSet});
    }
    return cookieTextForHost(live, host.toStdString(), secureChannel);
}

} // namespace vantorel::gui
