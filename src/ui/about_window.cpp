#include "ui/about_window.h"

#include "ui/window_util.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QVBoxLayout>
#include <algorithm>

#ifndef VANTOREL_VERSION
#define VANTOREL_VERSION "0"
#endif

namespace vantorel::gui {

QString aboutText() {
    // It begins with four blanks: the paragraph's indent.
    return QString::fromUtf16(
        u"    "
        u"本软件是一款自动批量分享百度云盘文件的软件，可用于批量创建“私密链接”。软件旨在为分享操作"
        u"提供方便，请在法律法规允许的范围内使用本软件，若因用户违法违规、违反道德或不遵守百度规则"
        u"，造成一切后果须由用户自行承担，软件作者概不承担任何责任。");
}

namespace {

// One link of a chain: a rounded bar outlined thickly, drawn around `centre`
// at `angle` degrees.
void drawChainLink(QPainter& painter, QPointF centre, qreal angle, const QColor& colour) {
    painter.save();
    painter.translate(centre);
    painter.rotate(angle);
    QPen pen(colour, 26, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(QRectF(-78, -34, 156, 68), 34, 34);
    painter.restore();
}

} // namespace

QPixmap aboutPicture() {
    constexpr int kSide = 430;
    QPixmap picture(kSide, kSide);
    picture.fill(Qt::transparent);

    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);

    // Backdrop: a soft blue tile.
    QLinearGradient sky(0, 0, 0, kSide);
    sky.setColorAt(0.0, QColor(0x4f, 0x8c, 0xf5));
    sky.setColorAt(1.0, QColor(0x1f, 0x4f, 0xb8));
    painter.setPen(Qt::NoPen);
    painter.setBrush(sky);
    painter.drawRoundedRect(QRectF(10, 10, kSide - 20, kSide - 20), 64, 64);

    QRadialGradient glow(QPointF(kSide * 0.3, kSide * 0.2), kSide * 0.7);
    glow.setColorAt(0.0, QColor(255, 255, 255, 70));
    glow.setColorAt(1.0, QColor(255, 255, 255, 0));
    painter.setBrush(glow);
    painter.drawRoundedRect(QRectF(10, 10, kSide - 20, kSide - 20), 64, 64);

    // A cloud of four overlapping discs on a flat base.
    QPainterPath cloud;
    cloud.addEllipse(QPointF(150, 205), 62, 62);
    cloud.addEllipse(QPointF(220, 165), 80, 80);
    cloud.addEllipse(QPointF(292, 205), 60, 60);
    cloud.addRoundedRect(QRectF(88, 200, 266, 70), 35, 35);
    painter.setBrush(QColor(255, 255, 255, 245));
    painter.drawPath(cloud.simplified());

    // Two interlocked links: a share link leaving the cloud.
    drawChainLink(painter, QPointF(180, 228), -30, QColor(0x2a, 0x62, 0xd9));
    drawChainLink(painter, QPointF(262, 186), -30, QColor(0x3f, 0xb3, 0x7f));

    // The name underneath.
    QFont font = uiFont(44, true);
    painter.setFont(font);
    painter.setPen(Qt::white);
    painter.drawText(QRectF(10, 300, kSide - 20, 90), Qt::AlignCenter, QStringLiteral("Vantorel"));
    return picture;
}

QString programVersionText() {
    return QStringLiteral("版本 ") + QStringLiteral(VANTOREL_VERSION);
}

AboutWindow::AboutWindow(QWidget* parent) : QDialog(parent, dialogFlags()) {
    setObjectName(QStringLiteral("AboutWindow"));
    setWindowTitle(QStringLiteral("关于: Vantorel"));
    setModal(true);

    // The two text labels draw only their text: the window shows through.
    const QString transparent = QStringLiteral("background: transparent;");

    text_ = new QLabel(this);
    text_->setObjectName(QStringLiteral("透明标签1"));
    text_->setFont(uiFont(20));
    text_->setWordWrap(true);
    text_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    text_->setAttribute(Qt::WA_TranslucentBackground);
    text_->setStyleSheet(transparent);
    // The blanks that indent the paragraph are kept as they are.
    text_->setTextFormat(Qt::RichText);
    // The CJK faces space their lines widely: a little closer, the text
    // fits beside the picture at the window's designed size.
    text_->setText(
        QStringLiteral("<p style=\"margin:0; line-height:90%; white-space:pre-wrap\">%1</p>")
            .arg(aboutText().toHtmlEscaped()));
    text_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Minimum);

    info_ = new QLabel(this);
    info_->setObjectName(QStringLiteral("透明标签_信息"));
    info_->setAttribute(Qt::WA_TranslucentBackground);
    info_->setStyleSheet(transparent);
    info_->setText(programVersionText());
    info_->setTextInteractionFlags(Qt::TextSelectableByMouse);

    picture_ = new QLabel(this);
    picture_->setObjectName(QStringLiteral("图片框1"));
    picture_->setFixedSize(172, 169);
    picture_->setScaledContents(true);
    picture_->setPixmap(aboutPicture());

    // The text and the version on the left, the picture on the right.
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(12, 6, 8, 6);
    layout->setSpacing(8);
    auto* texts = new QVBoxLayout;
    texts->setSpacing(4);
    texts->addWidget(text_);
    texts->addStretch(1);
    texts->addWidget(info_, 0, Qt::AlignHCenter);
    layout->addLayout(texts, 1);
    layout->addWidget(picture_, 0, Qt::AlignTop);

    // Narrower than this, the text would wrap into a tall thin column; the
    // height is what the text needs at this width.
    constexpr int kMinimumWidth = 680;
    const QMargins margins = layout->contentsMargins();
    const int textWidth =
        kMinimumWidth - margins.left() - margins.right() - layout->spacing() - picture_->width();
    const int textHeight =
        text_->heightForWidth(textWidth) + texts->spacing() + info_->sizeHint().height();
    setMinimumSize(kMinimumWidth,
                   std::max(textHeight, picture_->height()) + margins.top() + margins.bottom());
    placeCentred(*this, QSize(709, 208));
}

} // namespace vantorel::gui
