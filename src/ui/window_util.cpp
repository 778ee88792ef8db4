#include "ui/window_util.h"

#include <QEvent>
#include <QGuiApplication>
#include <QMargins>
#include <QScreen>
#include <QWidget>
#include <QWindow>

namespace vantorel::gui {

QFont uiFont(int pixelSize, bool bold) {
    QFont font;
    font.setFamilies({QStringLiteral("微软雅黑"), QStringLiteral("Microsoft YaHei"),
                      QStringLiteral("Noto Sans CJK SC"), QStringLiteral("Source Han Sans SC"),
                      QStringLiteral("WenQuanYi Micro Hei"), QStringLiteral("Noto Sans SC")});
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    return font;
}

void setFontThroughout(QWidget& window, const QFont& font) {
    window.setFont(font);
    for (QWidget* child : window.findChildren<QWidget*>()) {
        child->setFont(font);
    }
}

Qt::WindowFlags fixedDialogFlags() {
    return Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
           Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint;
}

namespace {

QMargins frameMargins(const QWidget& window) {
    const QWindow* handle = window.windowHandle();
    return handle != nullptr ? handle->frameMargins() : QMargins();
}

void applyPlacement(QWidget& window, QSize outer, bool fixed) {
    const QMargins margins = frameMargins(window);
    const QSize client = outer.shrunkBy(margins);
    if (fixed) {
        window.setFixedSize(client);
    } else {
        window.resize(client);
    }
    const QScreen* screen = window.screen();
    if (screen == nullptr) {
        screen = QGuiApplication::primaryScreen();
    }
    if (screen != nullptr) {
        const QRect area = screen->availableGeometry();
        window.move(area.x() + (area.width() - outer.width()) / 2,
                    area.y() + (area.height() - outer.height()) / 2);
    }
}

// Places the window once more when it first shows, then goes.
class PlacementOnShow final : public QObject {
public:
    PlacementOnShow(QWidget& window, QSize outer, bool fixed)
        : QObject(&window), outer_(outer), fixed_(fixed) {}

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Show) {
            auto* window = static_cast<QWidget*>(watched);
            window->removeEventFilter(this);
            applyPlacement(*window, outer_, fixed_);
            deleteLater();
        }
        return false;
    }

private:
    QSize outer_;
    bool fixed_;
};

} // namespace

void placeCentred(QWidget& window, QSize outer, bool fixed) {
    window.winId(); // the platform window, which knows the frame
    applyPlacement(window, outer, fixed);
    window.installEventFilter(new PlacementOnShow(window, outer, fixed));
}

} // namespace vantorel::gui
