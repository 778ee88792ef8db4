#pragma once

// Shared pieces of the app's tests: a web server of the test's own on
// 127.0.0.1, a data directory that vanishes afterwards, and waits on
// conditions.

#include "app/program_state.h"
#include "base/service_origin.h"

#include <QColor>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>
#include <QTest>
#include <QUrl>
#include <functional>
#include <httplib.h>
#include <ostream>
#include <string>
#include <thread>

// Readable failure messages for Qt's values.
inline void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}
inline void PrintTo(const QUrl& url, std::ostream* os) {
    *os << url.toString().toStdString();
}
inline void PrintTo(const QSize& size, std::ostream* os) {
    *os << size.width() << " x " << size.height();
}
inline void PrintTo(const QPoint& point, std::ostream* os) {
    *os << "(" << point.x() << ", " << point.y() << ")";
}
inline void PrintTo(const QRect& rect, std::ostream* os) {
    *os << "(" << rect.x() << ", " << rect.y() << ") " << rect.width() << " x " << rect.height();
}
inline void PrintTo(const QColor& colour, std::ostream* os) {
    *os << colour.name(QColor::HexArgb).toStdString();
}

namespace vantorel::gui::test {

// Generous: only a guard against a hang, never a speed expectation.
inline constexpr int kPatienceMs = 30'000;

inline bool waitFor(const std::function<bool()>& condition, int timeoutMs = kPatienceMs) {
    return QTest::qWaitFor(condition, timeoutMs);
}

class LocalServer {
public:
    explicit LocalServer(const std::function<void(httplib::Server&)>& routes) {
        routes(server_);
        port_ = server_.bind_to_any_port("127.0.0.1");
        thread_ = std::thread([this] { server_.listen_after_bind(); });
        // A stop() before the accept loop runs would be lost.
        while (!server_.is_running()) {
            std::this_thread::yield();
        }
    }
    ~LocalServer() { stop(); }
    LocalServer(const LocalServer&) = delete;
    LocalServer& operator=(const LocalServer&) = delete;

    void stop() {
        if (thread_.joinable()) {
            server_.stop();
            thread_.join();
        }
    }

    int port() const { return port_; }
    QUrl origin() const { return QUrl(QStringLiteral("http://127.0.0.1:%1").arg(port_)); }
    QUrl url(const QString& pathAndQuery) const { return QUrl(origin().toString() + pathAndQuery); }

private:
    httplib::Server server_;
    int port_ = -1;
    std::thread thread_;
};

// An origin nothing listens on: a closed server's port.
inline QUrl deadOrigin() {
    LocalServer server([](httplib::Server&) {});
    const QUrl origin = server.origin();
    server.stop();
    return origin;
}

inline void servePage(httplib::Server& server, const std::string& path, std::string html) {
    server.Get(path, [html = std::move(html)](const httplib::Request&, httplib::Response& res) {
        res.set_content(html, "text/html; charset=utf-8");
    });
}

// The browser engine still writes into a profile's directory after the
// profile is gone, up to its own shutdown: scratch directories are therefore
// removed by the test program's main() once the application has ended.
QString scratchDirectory();
void removeScratchDirectories();

// The value of QT_QPA_PLATFORM for the offscreen platform with one screen of
// `size` (device pixels); its configuration file lies in a scratch directory.
QString offscreenPlatform(QSize size);

struct TestState {
    ProgramState state;

    explicit TestState(const QUrl& origin) {
        state.dataDir = scratchDirectory();
        state.connection.origin = *vantorel::ServiceOrigin::parse(origin.toString().toStdString());
    }
    QString filePath(const QString& name) const { return state.dataDir + QLatin1Char('/') + name; }
};

} // namespace vantorel::gui::test
