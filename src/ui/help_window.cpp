#include "ui/help_window.h"

#include "ui/window_util.h"

#include <QLabel>
#include <QScrollArea>
#include <QVBoxLayout>

namespace vantorel::gui {

namespace {

struct HelpItem {
    const char16_t* question;
    const char16_t* answer;
};

// The "．" after each number is the full-width full stop; answers 4 to 6 end
// with a blank.
constexpr HelpItem kHelpItems[] = {
    {u"1．软件可以支持多个百度帐号吗？", u"支持不同百度账号登录。"},
    {u"2．为什么有时分享了某个目录，但是里面偶尔有两个文件没有被分享？",
     u"碰到此情况只需要再分享此文件夹即可，如果你没有对分享清单做任何操作，程序会自动根据记录分享没"
     u"有分享的文件。"},
    {u"3．怎么删除分享失败的记录？",
     u"在分享清单列表中，点击“查询分享失败”按钮，则会查询出所有失败的记录，然后点击“删除当前列表”按"
     u"钮即可，也可以单击某条鼠标右键也可以删除。"},
    {u"4．分享的列表排序不太对？",
     u"可以在参数设置中指定分享的顺序，也可以在导出的电子表格里面按你想要的顺序排。 "},
    {u"5．如何得到帐号每天分享数量及合理设置？",
     u"保持参数设置中分享数量限制值为0，并对文件进行分享，当分享到达百度分享数量限制时程序会自动停"
     u"止，这时到分享清单查看已分享文件的数量，这个数量就是此帐号每天分享的上限。 "
     u"然后将这个数值适当缩小一点并在参数设置中即可。 "},
    {u"6．为什么分享全是失败？", u"请确认手工分享能否正常分享，如果手工也不能分享就会显示具体的错误"
                                 u"代码，此种不能分享的情况已与工具无关了。 "},
    {u"7．我有意见或建议可以提出来吗？", u"当然! 有好的想法,都可以提出来,以便更好的改进软件。"},
};

} // namespace

QString helpText() {
    const QString crlf = QStringLiteral("\r\n");
    QString text;
    bool first = true;
    for (const HelpItem& item : kHelpItems) {
        if (!text.isEmpty()) {
            // Every item but the last is closed by an empty line; the first
            // one stands apart by one more.
            text += crlf + crlf;
            if (first) {
                text += crlf;
            }
            first = false;
        }
        text += QString::fromUtf16(item.question) + crlf + crlf + QString::fromUtf16(item.answer);
    }
    return text;
}

HelpWindow::HelpWindow(QWidget* parent) : QDialog(parent, dialogFlags()) {
    setObjectName(QStringLiteral("HelpWindow"));
    setWindowTitle(QString());
    setModal(true);

    // The text wraps at the width of the window and scrolls when the window
    // is too low for it.
    scroll_ = new QScrollArea(this);
    scroll_->setObjectName(QStringLiteral("滚动区_帮助"));
    scroll_->setWidgetResizable(true);
    scroll_->setFrameShape(QFrame::NoFrame);
    scroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);

    label_ = new QLabel;
    label_->setObjectName(QStringLiteral("标签1"));
    label_->setFont(uiFont(12, true));
    label_->setWordWrap(true);
    label_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label_->setTextFormat(Qt::PlainText);
    label_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    label_->setContentsMargins(0, 0, 4, 0);
    // A label breaks lines at LF; the CR of each line end has no glyph.
    label_->setText(helpText().remove(QLatin1Char('\r')));
    scroll_->setWidget(label_);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 8, 8, 8);
    layout->addWidget(scroll_);
    setMinimumSize(320, 200);

    placeCentred(*this, QSize(800, 600));
}

} // namespace vantorel::gui
