#pragma once

// Working the main window against the simulated service as a user would: its
// pages driven by script (log in, open a folder, tick items), message boxes
// answered when they come up. Shared by the GUI tests and the app driver.

#include "app/main_window.h"

#include <QAbstractButton>
#include <QApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QList>
#include <QMessageBox>
#include <QPointer>
#include <QStringList>
#include <QTest>
#include <QTimer>
#include <functional>
#include <string>
#include <vector>

namespace vantorel::gui::test {

// Runs `script` in the window's page as the body of a function; "" when it
// fails or gives nothing.
inline QString pageScript(MainWindow& window, const QString& script) {
    return QString::fromStdString(window.loginSource().runPageScript(script.toStdString()));
}

// A script literal for `text`.
inline QString jsString(const QString& text) {
    const QByteArray array = QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact);
    return QString::fromUtf8(array.mid(1, array.size() - 2));
}

inline QString jsStrings(const QStringList& texts) {
    return QString::fromUtf8(
        QJsonDocument(QJsonArray::fromStringList(texts)).toJson(QJsonDocument::Compact));
}

// Waits until the script expression `condition` holds in the page.
inline bool waitForPage(MainWindow& window, const QString& condition, int timeoutMs) {
    return QTest::qWaitFor(
        [&] {
            return pageScript(window, QStringLiteral("return (%1) ? 'yes' : '';").arg(condition)) ==
                   QLatin1String("yes");
        },
        timeoutMs);
}

inline QString folderShownCondition(const QString& path) {
    return QStringLiteral("document.body && document.body.getAttribute('data-ready') === '1' && "
                          "document.body.getAttribute('data-path') === %1")
        .arg(jsString(path));
}

// On the simulator's login page: types a name and a password and presses the
// login button, then waits for the file page and for the login cookie.
inline bool logInOnPage(MainWindow& window, int timeoutMs) {
    if (!waitForPage(window, QStringLiteral("document.getElementById('sim-login') !== null"),
                     timeoutMs)) {
        return false;
    }
    pageScript(window, QStringLiteral("document.getElementById('sim-user').value = '小明';"
                                      "document.getElementById('sim-password').value = 'pw';"
                                      "document.getElementById('sim-login').click();"
                                      "return '';"));
    return waitForPage(window, folderShownCondition(QStringLiteral("/")), timeoutMs) &&
           QTest::qWaitFor(
               [&] {
                   return window.loginSource().cookieText().find("BDUSS=") != std::string::npos;
               },
               timeoutMs);
}

// Opens a folder of the file page, as a click on its name does.
inline bool openFolder(MainWindow& window, const QString& path, int timeoutMs) {
    pageScript(window, QStringLiteral("__sim.open(%1); return '';").arg(jsString(path)));
    return waitForPage(window, folderShownCondition(path), timeoutMs);
}

// Ticks the rows with these names; returns how many were found.
inline int tickItems(MainWindow& window, const QStringList& names) {
    return pageScript(window,
                      QStringLiteral("return String(__sim.select(%1));").arg(jsStrings(names)))
        .toInt();
}

struct SeenBox {
    QString text;
    QString title;
    QMessageBox::Icon icon;
};

// Answers every message box that comes up (its OK button), after noting it
// and calling `onShown` while it is still up.
class BoxAnswerer {
public:
    using OnShown = std::function<void(QMessageBox& box)>;

    explicit BoxAnswerer(OnShown onShown = {}) : onShown_(std::move(onShown)) {
        QObject::connect(&timer_, &QTimer::timeout, [this] { poll(); });
        timer_.start(10);
    }

    void setOnShown(OnShown onShown) { onShown_ = std::move(onShown); }
    const std::vector<SeenBox>& seen() const { return seen_; }
    std::vector<QString> texts() const {
        std::vector<QString> result;
        for (const SeenBox& box : seen_) {
            result.push_back(box.text);
        }
        return result;
    }
    bool waitForBoxes(std::size_t count, int timeoutMs) {
        return QTest::qWaitFor([&] { return seen_.size() >= count; }, timeoutMs);
    }

private:
    void poll() {
        answered_.removeAll(nullptr);
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            auto* box = qobject_cast<QMessageBox*>(widget);
            if (box == nullptr || !box->isVisible() || answered_.contains(box)) {
                continue;
            }
            answered_.append(box);
            seen_.push_back({box->text(), box->windowTitle(), box->icon()});
            QPointer<QMessageBox> alive(box);
            if (onShown_) {
                onShown_(*box);
            }
            if (alive != nullptr && alive->isVisible()) {
                if (QAbstractButton* ok = alive->button(QMessageBox::Ok)) {
                    ok->click();
                } else {
                    alive->close();
                }
            }
        }
    }

    QTimer timer_;
    OnShown onShown_;
    std::vector<SeenBox> seen_;
    QList<QPointer<QMessageBox>> answered_;
};

} // namespace vantorel::gui::test
