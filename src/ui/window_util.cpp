#include "ui/window_util.h"

#include <QEvent>
#include <QGuiApplication>
#include <QLayout>
#include <QMargins>
#include <QScreen>
#include <QWidget>
#include <QWindow>
#include <algorithm>

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

Qt::WindowFlags dialogFlags() {
    return Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
           Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint;
}

namespace {

// The frame as far as the platform knows it; only a window that already has
// its platform window (a shown one) is asked.
QMargins frameMargins(const QWidget& window) {
    const QWindow* handle = window.windowHandle();
    return handle != nullptr ? handle->frameMargins() : QMargins();
}

void applyPlacement(QWidget& window, QSize outer) {
    const QMargins margins = frameMargins(window);
    const QScreen* screen = window.screen();
    if (screen == nullptr) {
        screen = QGuiApplication::primaryScreen();
    }
    const QRect area = screen != nullptr ? screen->availableGeometry() : QRect();
    if (area.isValid()) {
        outer = outer.boundedTo(area.size());
    }
    QSize client = outer.shrunkBy(margins);
    if (const QLayout* layout = window.layout()) {
        client = client.expandedTo(layout->totalMinimumSize());
    }
    client = client.expandedTo(window.minimumSize());
    window.resize(client);
    if (area.isValid()) {
        const QSize shown = client.grownBy(margins);
        window.move(area.x() + std::max(0, (area.width() - shown.width()) / 2),
                    area.y() + std::max(0, (area.height() - shown.height()) / 2));
    }
}

// Places the window once more when it first shows, then goes.
class PlacementOnShow final : public QObject {
public:
    PlacementOnShow(QWidget& window, QSize outer) : QObject(&window), outer_(outer) {}

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Show) {
            auto* window = static_cast<QWidget*>(watched);
            window->removeEventFilter(this);
            applyPlacement(*window, outer_);
            deleteLater();
        }
        return false;
    }

private:
    QSize outer_;
};

} // namespace

void fitMinimumToLayout(QWidget& window, int minimumWidth) {
    QLayout* layout = window.layout();
    if (layout == nullptr) {
        return;
    }
    layout->activate();
    const QSize least = layout->totalMinimumSize();
    const int width = std::max(least.width(), minimumWidth);
    const int height = layout->hasHeightForWidth()
                           ? std::max(least.height(), layout->totalHeightForWidth(width))
                           : least.height();
    window.setMinimumSize(width, height);
}

void placeCentred(QWidget& window, QSize outer) {
    if (QLayout* layout = window.layout()) {
        layout->activate(); // the minimum it asks for, before the first show
    }
    applyPlacement(window, outer);
    window.installEventFilter(new PlacementOnShow(window, outer));
}

} // namespace vantorel::gui
