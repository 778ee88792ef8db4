#include "run_process.h"
#include "test_support.h"
#include "ui/about_window.h"
#include "ui/help_window.h"

#include <QFontInfo>
#include <QFontMetrics>
#include <QLabel>
#include <QScrollArea>
#include <QScrollBar>
#include <QTextDocument>
#include <gtest/gtest.h>

using namespace vantorel::gui;

namespace {

// Written out whole, independently of how the program assembles it.
const QString kExpectedHelp = QString::fromUtf8(
    "1．软件可以支持多个百度帐号吗？\r\n"
    "\r\n"
    "支持不同百度账号登录。\r\n"
    "\r\n"
    "\r\n"
    "2．为什么有时分享了某个目录，但是里面偶尔有两个文件没有被分享？\r\n"
    "\r\n"
    "碰到此情况只需要再分享此文件夹即可，如果你没有对分享清单做任何操作，程序会自动根据记录分享没有"
    "分享的文件。\r\n"
    "\r\n"
    "3．怎么删除分享失败的记录？\r\n"
    "\r\n"
    "在分享清单列表中，点击“查询分享失败”按钮，则会查询出所有失败的记录，然后点击“删除当前列表”按钮"
    "即可，也可以单击某条鼠标右键也可以删除。\r\n"
    "\r\n"
    "4．分享的列表排序不太对？\r\n"
    "\r\n"
    "可以在参数设置中指定分享的顺序，也可以在导出的电子表格里面按你想要的顺序排。 \r\n"
    "\r\n"
    "5．如何得到帐号每天分享数量及合理设置？\r\n"
    "\r\n"
    "保持参数设置中分享数量限制值为0，并对文件进行分享，当分享到达百度分享数量限制时程序会自动停止"
    "，这时到分享清单查看已分享文件的数量，这个数量就是此帐号每天分享的上限。 "
    "然后将这个数值适当缩小一点并在参数设置中即可。 \r\n"
    "\r\n"
    "6．为什么分享全是失败？\r\n"
    "\r\n"
    "请确认手工分享能否正常分享，如果手工也不能分享就会显示具体的错误代码，此种不能分享的情况已与工"
    "具无关了。 \r\n"
    "\r\n"
    "7．我有意见或建议可以提出来吗？\r\n"
    "\r\n"
    "当然! 有好的想法,都可以提出来,以便更好的改进软件。");

const QString kExpectedAbout =
    QString::fromUtf8("    "
                      "本软件是一款自动批量分享百度云盘文件的软件，可用于批量创建“私密链接”。软件旨"
                      "在为分享操作提供方便，"
                      "请在法律法规允许的范围内使用本软件，若因用户违法违规、违反道德或不遵守百度规"
                      "则，造成一切后果须由用户自行承担，"
                      "软件作者概不承担任何责任。");

// Opens at its designed size, or higher when its text needs it (the about
// text in the CJK faces at hand).
void expectDialogFrame(const QWidget& window, QSize outer) {
    const QSize frame = window.frameGeometry().size();
    EXPECT_EQ(frame.width(), outer.width());
    EXPECT_GE(frame.height(), outer.height());
    EXPECT_LE(frame.height(), std::max(outer.height(), 240));
    EXPECT_NE(window.minimumSize(), window.maximumSize()) << "resizable";
    const Qt::WindowFlags flags = window.windowFlags();
    EXPECT_TRUE(flags.testFlag(Qt::WindowSystemMenuHint));
    EXPECT_TRUE(flags.testFlag(Qt::WindowMinimizeButtonHint));
    EXPECT_TRUE(window.isModal());
}

void expectCjkFont(const QFont& font, int pixelSize, bool bold) {
    EXPECT_EQ(font.families().value(0), QStringLiteral("微软雅黑"));
    EXPECT_EQ(font.pixelSize(), pixelSize);
    EXPECT_EQ(font.bold(), bold);
    // Whatever face stands in, it draws Chinese.
    EXPECT_TRUE(QFontMetrics(font).inFont(QChar(0x8F6F))) << QFontInfo(font).family().toStdString();
}

} // namespace

TEST(HelpWindow, HoldsTheSevenAnswersExactly) {
    EXPECT_EQ(helpText(), kExpectedHelp);
    EXPECT_TRUE(helpText().endsWith(QString::fromUtf8("改进软件。")));
    EXPECT_EQ(helpText().count(QStringLiteral("\r\n")), 27);
}

TEST(HelpWindow, ShowsTheTextWrappedToTheWindowAndScrolled) {
    HelpWindow window;
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    EXPECT_TRUE(window.windowTitle().isEmpty());
    expectDialogFrame(window, QSize(800, 600));

    const QLabel* label = window.textLabel();
    EXPECT_EQ(label->objectName(), QStringLiteral("标签1"));
    EXPECT_TRUE(label->wordWrap());
    expectCjkFont(label->font(), 12, true);
    QString shown = kExpectedHelp;
    shown.remove(QLatin1Char('\r'));
    EXPECT_EQ(label->text(), shown);

    // Whatever the window's size, the text is as wide as its view (it wraps
    // there) and as high as its lines need (the rest scrolls).
    const QScrollArea* scroll = window.scrollArea();
    for (const QSize size : {window.size(), window.minimumSize(), QSize(1100, 700)}) {
        window.resize(size);
        QCoreApplication::processEvents();
        SCOPED_TRACE(testing::PrintToString(window.size()));
        EXPECT_EQ(label->width(), scroll->viewport()->width());
        EXPECT_GE(label->height(), label->heightForWidth(label->width()));
        EXPECT_EQ(scroll->verticalScrollBar()->maximum(),
                  std::max(0, label->height() - scroll->viewport()->height()));
    }
    window.resize(window.minimumSize());
    QCoreApplication::processEvents();
    EXPECT_GT(scroll->verticalScrollBar()->maximum(), 0) << "small, it scrolls";
}

TEST(AboutWindow, ShowsItsTextVersionAndPictureSideBySide) {
    AboutWindow window;
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    EXPECT_EQ(window.windowTitle(), QStringLiteral("关于: Vantorel"));
    expectDialogFrame(window, QSize(709, 208));

    EXPECT_EQ(aboutText(), kExpectedAbout);
    EXPECT_TRUE(aboutText().startsWith(QStringLiteral("    本")));

    const QLabel* text = window.textLabel();
    EXPECT_EQ(text->objectName(), QStringLiteral("透明标签1"));
    QTextDocument shown;
    shown.setHtml(text->text());
    EXPECT_EQ(shown.toPlainText(), kExpectedAbout);
    EXPECT_LE(text->heightForWidth(text->width()), text->height()) << "the text fits";
    EXPECT_TRUE(text->wordWrap());
    expectCjkFont(text->font(), 20, false);
    EXPECT_FALSE(text->autoFillBackground());

    const QLabel* info = window.infoLabel();
    EXPECT_EQ(info->objectName(), QStringLiteral("透明标签_信息"));
    EXPECT_GE(info->geometry().top(), text->geometry().bottom()) << "below the text";

    const QLabel* picture = window.pictureBox();
    EXPECT_EQ(picture->objectName(), QStringLiteral("图片框1"));
    EXPECT_EQ(picture->size(), QSize(172, 169));
    EXPECT_GT(picture->geometry().left(), text->geometry().right()) << "right of the text";
    EXPECT_TRUE(picture->hasScaledContents());
    EXPECT_EQ(picture->pixmap().size(), QSize(430, 430));
}

TEST(AboutWindow, ShowsTheVersionTheCommandLinePrints) {
    const vantorel::test::ProcessResult cli =
        vantorel::test::runProcess(VANTOREL_CLI_PATH, {"--version"});
    ASSERT_EQ(cli.exitCode, 0) << vantorel::test::describe(cli);
    std::string version = cli.out.substr(cli.out.find(' ') + 1);
    while (!version.empty() && (version.back() == '\n' || version.back() == '\r')) {
        version.pop_back();
    }
    ASSERT_FALSE(version.empty()) << cli.out;
    AboutWindow window;
    EXPECT_EQ(window.infoLabel()->text(),
              QStringLiteral("版本 ") + QString::fromStdString(version));
    EXPECT_EQ(programVersionText(), window.infoLabel()->text());
}

TEST(AboutWindow, PictureIsDrawnNotBlank) {
    const QImage image = aboutPicture().toImage();
    ASSERT_FALSE(image.isNull());
    // Transparent corners, an opaque middle.
    EXPECT_EQ(qAlpha(image.pixel(0, 0)), 0);
    EXPECT_EQ(qAlpha(image.pixel(215, 215)), 255);
}
