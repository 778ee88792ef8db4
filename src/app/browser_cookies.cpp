#include "app/browser_cookies.h"

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
    if (cookieDomain.isEmpty() || host.isEmpty()) {
        return false;
    }
    if (cookieDomain.startsWith(QLatin1Char('.'))) {
        const QStringView bare = QStringView(cookieDomain).mid(1);
        return host.compare(bare, Qt::CaseInsensitive) == 0 ||
               host.endsWith(cookieDomain, Qt::CaseInsensitive);
    }
    return host.compare(cookieDomain, Qt::CaseInsensitive) == 0;
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
                entries_.push_back({cookie, nextOrder_++});
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
    } else {
        entries_.push_back({cookie, nextOrder_++});
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
    std::vector<const Entry*> chosen;
    for (const Entry& entry : entries_) {
        const QNetworkCookie& cookie = entry.cookie;
        if (!cookieDomainMatches(cookie.domain(), host)) {
            continue;
        }
        if (cookie.isSecure() && !secureChannel) {
            continue;
        }
        if (expired(cookie, now)) {
            continue;
        }
        chosen.push_back(&entry);
    }
    std::stable_sort(chosen.begin(), chosen.end(), [](const Entry* a, const Entry* b) {
        if (a->cookie.path().size() != b->cookie.path().size()) {
            return a->cookie.path().size() > b->cookie.path().size();
        }
        return a->order < b->order;
    });
    std::string text;
    for (const Entry* entry : chosen) {
        if (!text.empty()) {
            text += "; ";
        }
        text += entry->cookie.name().toStdString();
        text += '=';
        text += entry->cookie.value().toStdString();
    }
    return text;
}

} // namespace vantorel::gui
