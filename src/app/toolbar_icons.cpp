#include "app/toolbar_icons.h"

#include <QFont>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QPolygonF>
#include <QtMath>
#include <functional>

namespace vantorel::gui {

namespace {

using Drawing = std::function<void(QPainter&)>;

// Draws a picture designed on a 32 x 32 grid at 1x and 2x.
QIcon drawnIcon(const Drawing& draw) {
    QIcon icon;
    for (const int side : {32, 64}) {
        QPixmap pixmap(side, side);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.scale(side / 32.0, side / 32.0);
        draw(painter);
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

QPen strokePen(const QColor& colour, qreal width = 2.6) {
    return QPen(colour, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
}

const QColor kBlue(0x2f, 0x6f, 0xdf);
const QColor kGreen(0x2e, 0x9d, 0x6a);
const QColor kRed(0xd9, 0x3f, 0x3f);
const QColor kSlate(0x4a, 0x5a, 0x70);
const QColor kAmber(0xe0, 0x8a, 0x1e);
const QColor kTeal(0x1f, 0x9a, 0xa8);

void drawHome(QPainter& p) {
    p.setPen(strokePen(kBlue));
    p.setBrush(QColor(0xdd, 0xe8, 0xfb));
    QPolygonF house;
    house << QPointF(7, 15) << QPointF(7, 27) << QPointF(25, 27) << QPointF(25, 15);
    p.drawPolygon(house);
    p.setBrush(Qt::NoBrush);
    QPolygonF roof;
    roof << QPointF(3.5, 16.5) << QPointF(16, 5) << QPointF(28.5, 16.5);
    p.drawPolyline(roof);
    p.setBrush(kBlue);
    p.setPen(Qt::NoPen);
    p.drawRoundedRect(QRectF(13.5, 19, 5, 8), 1, 1);
}

void drawRefresh(QPainter& p) {
    p.setPen(strokePen(kGreen, 3));
    p.setBrush(Qt::NoBrush);
    const QRectF ring(6, 6, 20, 20);
    p.drawArc(ring, 60 * 16, 280 * 16);
    // Arrow head at the arc's open end, pointing along the turn.
    const qreal angle = qDegreesToRadians(60.0);
    const QPointF tip(16 + 10 * qCos(angle), 16 - 10 * qSin(angle));
    p.setPen(Qt::NoPen);
    p.setBrush(kGreen);
    QPolygonF head;
    head << tip + QPointF(-6.5, -1.5) << tip + QPointF(2.5, -6) << tip + QPointF(2, 4);
    p.drawPolygon(head);
}

void drawShare(QPainter& p) {
    const QPointF a(9, 16);
    const QPointF b(23, 8);
    const QPointF c(23, 24);
    p.setPen(strokePen(kBlue, 2.4));
    p.drawLine(a, b);
    p.drawLine(a, c);
    p.setPen(Qt::NoPen);
    p.setBrush(kBlue);
    p.drawEllipse(a, 4.5, 4.5);
    p.setBrush(kGreen);
    p.drawEllipse(b, 4.5, 4.5);
    p.drawEllipse(c, 4.5, 4.5);
}

void drawStop(QPainter& p) {
    QPolygonF octagon;
    for (int i = 0; i < 8; ++i) {
        const qreal angle = qDegreesToRadians(22.5 + 45.0 * i);
        octagon << QPointF(16 + 13 * qCos(angle), 16 + 13 * qSin(angle));
    }
    p.setPen(Qt::NoPen);
    p.setBrush(kRed);
    p.drawPolygon(octagon);
    p.setBrush(Qt::white);
    p.drawRoundedRect(QRectF(11, 11, 10, 10), 1.5, 1.5);
}

void drawManage(QPainter& p) {
    p.setPen(strokePen(kSlate, 2));
    p.setBrush(Qt::white);
    p.drawRoundedRect(QRectF(5, 4, 22, 25), 3, 3);
    p.setPen(Qt::NoPen);
    for (int row = 0; row < 4; ++row) {
        const qreal y = 9.5 + row * 5;
        p.setBrush(kBlue);
        p.drawEllipse(QPointF(10, y), 1.6, 1.6);
        p.setBrush(kSlate);
        p.drawRoundedRect(QRectF(13.5, y - 1.1, 9.5, 2.2), 1, 1);
    }
}

void drawSettings(QPainter& p) {
    QPainterPath gear;
    constexpr int kTeeth = 8;
    for (int i = 0; i < kTeeth * 2; ++i) {
        const qreal angle = qDegreesToRadians(360.0 * i / (kTeeth * 2));
        const qreal next = qDegreesToRadians(360.0 * (i + 1) / (kTeeth * 2));
        const qreal radius = (i % 2 == 0) ? 13.0 : 10.0;
        const QPointF from(16 + radius * qCos(angle), 16 + radius * qSin(angle));
        const QPointF to(16 + radius * qCos(next), 16 + radius * qSin(next));
        if (i == 0) {
            gear.moveTo(from);
        } else {
            gear.lineTo(from);
        }
        gear.lineTo(to);
    }
    gear.closeSubpath();
    QPainterPath hole;
    hole.addEllipse(QPointF(16, 16), 4.5, 4.5);
    p.setPen(Qt::NoPen);
    p.setBrush(kSlate);
    p.drawPath(gear.subtracted(hole));
}

void drawLetterInCircle(QPainter& p, const QColor& colour, const QString& letter) {
    p.setPen(Qt::NoPen);
    p.setBrush(colour);
    p.drawEllipse(QPointF(16, 16), 13, 13);
    QFont font;
    font.setFamilies({QStringLiteral("DejaVu Sans"), QStringLiteral("Noto Sans")});
    font.setPixelSize(19);
    font.setBold(true);
    p.setFont(font);
    p.setPen(Qt::white);
    p.drawText(QRectF(3, 3, 26, 26), Qt::AlignCenter, letter);
}

void drawHelp(QPainter& p) {
    drawLetterInCircle(p, kAmber, QStringLiteral("?"));
}
void drawAbout(QPainter& p) {
    drawLetterInCircle(p, kTeal, QStringLiteral("i"));
}

void drawProgram(QPainter& p) {
    p.setPen(Qt::NoPen);
    p.setBrush(kBlue);
    p.drawRoundedRect(QRectF(1, 1, 30, 30), 7, 7);
    p.setPen(strokePen(Qt::white, 3.2));
    p.setBrush(Qt::NoBrush);
    p.save();
    p.translate(16, 16);
    p.rotate(-35);
    p.drawRoundedRect(QRectF(-11, -4.5, 12, 9), 4.5, 4.5);
    p.drawRoundedRect(QRectF(-1, -4.5, 12, 9), 4.5, 4.5);
    p.restore();
}

} // namespace

QIcon toolbarIcon(int index) {
    switch (index) {
    case 0:
        return drawnIcon(drawHome);
    case 1:
        return drawnIcon(drawRefresh);
    case 2:
        return drawnIcon(drawShare);
    case 3:
        return drawnIcon(drawStop);
    case 4:
        return drawnIcon(drawManage);
    case 5:
        return drawnIcon(drawSettings);
    case 6:
        return drawnIcon(drawHelp);
    case 7:
        return drawnIcon(drawAbout);
    default:
        return {};
    }
}

QIcon programIcon() {
    return drawnIcon(drawProgram);
}

} // namespace vantorel::gui
