#include "app/skin.h"

#include <QApplication>
#include <QFile>
#include <QPalette>
#include <QPointer>
#include <QString>
#include <QStyle>
#include <QStyleFactory>
#include <algorithm>
#include <array>

// The resources are built into a static library: nothing would pull them into
// the program unless asked for by name.
static void initAppResources() {
    Q_INIT_RESOURCE(app);
}

namespace vantorel::gui {

namespace {

struct NamedColour {
    const char* name;
    QColor colour;
};

// The skin's base colours: a light, calm scheme with one blue accent. The
// style sheet refers to them by name; the palette is made from them too.
std::array<NamedColour, 12> baseScheme() {
    return {{
        {"accent", QColor(0x2f, 0x6f, 0xdf)},
        {"accent-hover", QColor(0x24, 0x5c, 0xc2)},
        {"accent-soft", QColor(0xdd, 0xe8, 0xfb)},
        {"accent-text", QColor(0xff, 0xff, 0xff)},
        {"window", QColor(0xf4, 0xf6, 0xf9)},
        {"base", QColor(0xff, 0xff, 0xff)},
        {"text", QColor(0x1f, 0x25, 0x2e)},
        {"muted-text", QColor(0x6b, 0x74, 0x82)},
        {"border", QColor(0xd3, 0xd9, 0xe2)},
        {"toolbar-top", QColor(0xfc, 0xfd, 0xff)},
        {"toolbar-bottom", QColor(0xec, 0xf0, 0xf6)},
        {"button", QColor(0xfa, 0xfb, 0xfd)},
    }};
}

struct SkinEngine {
    QPointer<QStyle> style;
    std::array<NamedColour, 12> scheme;
};

SkinEngine* g_engine = nullptr;
int g_engineLoads = 0;

SkinEngine& skinEngine() {
    if (g_engine == nullptr) {
        // Program-wide and never released, like the style it hands to the
        // application.
        g_engine = new SkinEngine{QStyleFactory::create(QStringLiteral("Fusion")), baseScheme()};
        ++g_engineLoads;
    }
    return *g_engine;
}

QColor schemeColour(const std::array<NamedColour, 12>& scheme, const char* name) {
    for (const NamedColour& entry : scheme) {
        if (qstrcmp(entry.name, name) == 0) {
            return entry.colour;
        }
    }
    return {};
}

QPalette paletteFor(const std::array<NamedColour, 12>& scheme) {
    const auto c = [&](const char* name) {
        return schemeColour(scheme, name);
    };
    QPalette palette(c("button"), c("window"));
    palette.setColor(QPalette::Window, c("window"));
    palette.setColor(QPalette::WindowText, c("text"));
    palette.setColor(QPalette::Base, c("base"));
    palette.setColor(QPalette::AlternateBase, c("window"));
    palette.setColor(QPalette::Text, c("text"));
    palette.setColor(QPalette::Button, c("button"));
    palette.setColor(QPalette::ButtonText, c("text"));
    palette.setColor(QPalette::Highlight, c("accent"));
    palette.setColor(QPalette::HighlightedText, c("accent-text"));
    palette.setColor(QPalette::Link, c("accent"));
    palette.setColor(QPalette::LinkVisited, c("accent-hover"));
    palette.setColor(QPalette::ToolTipBase, c("base"));
    palette.setColor(QPalette::ToolTipText, c("text"));
    palette.setColor(QPalette::PlaceholderText, c("muted-text"));
    for (const QPalette::ColorRole role :
         {QPalette::WindowText, QPalette::Text, QPalette::ButtonText}) {
        palette.setColor(QPalette::Disabled, role, c("muted-text"));
    }
    return palette;
}

int clampHue(int hue) {
    return std::clamp(hue, -180, 180);
}
int clampAdjustment(int adjustment) {
    return std::clamp(adjustment, -100, 100);
}

} // namespace

QByteArray storedSkinData() {
    initAppResources();
    QFile file(QStringLiteral(":/skin/vantorel.qss"));
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    return file.readAll();
}

QColor shiftSkinColour(const QColor& colour, int hue, int adjustment) {
    hue = clampHue(hue);
    adjustment = clampAdjustment(adjustment);
    if (hue == 0 && adjustment == 0) {
        return colour; // exactly as designed, without a round trip through HSL
    }
    int h = 0;
    int s = 0;
    int l = 0;
    int a = 0;
    colour.getHsl(&h, &s, &l, &a);
    if (h < 0) {
        return colour; // greys have no hue to turn and no saturation to change
    }
    h = ((h + hue) % 360 + 360) % 360;
    s = adjustment >= 0 ? s + (255 - s) * adjustment / 100 : s * (100 + adjustment) / 100;
    return QColor::fromHsl(h, s, l, a).toRgb();
}

void applySkin(const QByteArray& skinData, int hue, int adjustment) {
    auto* app = qobject_cast<QApplication*>(QCoreApplication::instance());
    if (app == nullptr) {
        return;
    }
    SkinEngine& engine = skinEngine();
    hue = clampHue(hue);
    adjustment = clampAdjustment(adjustment);

    std::array<NamedColour, 12> scheme = engine.scheme;
    for (NamedColour& entry : scheme) {
        entry.colour = shiftSkinColour(entry.colour, hue, adjustment);
    }

    QString sheet = QString::fromUtf8(skinData);
    for (const NamedColour& entry : scheme) {
        sheet.replace(QLatin1Char('@') + QLatin1String(entry.name) + QLatin1Char('@'),
                      entry.colour.name(QColor::HexRgb));
    }

    if (engine.style != nullptr && QApplication::style() != engine.style) {
        QApplication::setStyle(engine.style); // the application takes it over
    }
    QApplication::setPalette(paletteFor(scheme));
    app->setStyleSheet(sheet);
}

int skinEngineLoads() {
    return g_engineLoads;
}

} // namespace vantorel::gui
