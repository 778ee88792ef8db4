#pragma once

// A running copy of the browser profile's cookie jar. The cookie store only
// reports changes, so this keeps what it reported, HttpOnly cookies included,
// to answer "which cookies would the service's host get".
//
// The store does not report the cookies it restores from disk at start (its
// loadAllCookies() delivers nothing on this engine version), so the mirror
// keeps a journal of its own beside the profile and reads it back at start;
// without it the login would show in the page after a restart but be missing
// from every request the program makes.

#include <QNetworkCookie>
#include <QObject>
#include <QString>
#include <string>
#include <vector>

class QWebEngineCookieStore;

namespace vantorel::gui {

class CookieMirror final : public QObject {
    Q_OBJECT
public:
    // Reads `journalFile` (when given), then follows `store`. Every change is
    // written back to the journal (owner-only permissions).
    explicit CookieMirror(QWebEngineCookieStore* store, QString journalFile = {},
                          QObject* parent = nullptr);
    ~CookieMirror() override;

    // The cookies that a request to `host` would carry, as name=value items
    // joined by "; ": longer paths first, then in the order they were set;
    // each name once (the most specific domain's, then the one set last).
    // Secure cookies only count on a secure channel; expired ones never.
    std::string cookieTextFor(const QString& host, bool secureChannel) const;

    // Every cookie the store has reported and not removed.
    std::vector<QNetworkCookie> cookies() const;

signals:
    void changed();

private:
    struct Entry {
        QNetworkCookie cookie;
        unsigned long long order;   // when first set: its place in the header
        unsigned long long lastSet; // when set last: which of two of a name wins
    };

    void add(const QNetworkCookie& cookie);
    void remove(const QNetworkCookie& cookie);
    void readJournal();
    void scheduleSave();
    void saveJournal();

    std::vector<Entry> entries_;
    unsigned long long nextOrder_ = 0;
    QString journalFile_;
    bool savePending_ = false;
};

// RFC 6265 domain match: a host-only cookie (no leading dot) goes to its own
// host alone, a domain cookie (".example.com") to that host and every one
// below it. Case-insensitive.
bool cookieDomainMatches(const QString& cookieDomain, const QString& host);

} // namespace vantorel::gui
