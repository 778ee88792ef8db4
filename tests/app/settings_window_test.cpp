#include "arrangement.h"
#include "dialog_answers.h"
#include "named_case.h"
#include "settings/settings_form.h"
#include "settings/settings_window.h"
#include "test_support.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QFontInfo>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTextDocument>
#include <gtest/gtest.h>

using namespace vantorel;
using namespace vantorel::gui;
using namespace vantorel::gui::test;

namespace {

using vantorel::test::CaseName;
using vantorel::test::PrintTo;

QString fileText(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    return QString::fromUtf8(file.readAll());
}

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

class SettingsWindowTest : public ::testing::Test {
protected:
    QString dir_ = scratchDirectory();
    QString ini_ = dir_ + QStringLiteral("/set.ini");

    std::unique_ptr<SettingsWindow> open() {
        auto window = std::make_unique<SettingsWindow>(dir_);
        window->show();
        return window;
    }
};

// The window's arrangement: three groups one above the other, then 保存;
// in each group its rows from the top and their controls from the left.
const std::vector<Arranged> kDesign = {
    {"分组框_分享参数设置", "QGroupBox", "", 0, 0},
    {"组合框_类型分享模式", "QComboBox", "", -1, 0},
    {"分组框2", "QGroupBox", "", 1, 0},
    {"分组框1", "QGroupBox", "", 2, 0},
    {"按钮1", "QPushButton", "", 3, 0},

    {"单选框_深度及类型", "QRadioButton", "分组框_分享参数设置", 0, 0},
    {"组合框_分享类型", "QComboBox", "分组框_分享参数设置", 0, 1},
    {"单选框_类型分享", "QRadioButton", "分组框_分享参数设置", -1, 0},
    {"组合框_分享后缀", "QComboBox", "分组框_分享参数设置", -1, 1},
    {"编辑框_分享后缀内容", "QLineEdit", "分组框_分享参数设置", -1, 2},
    {"透明标签2", "QLabel", "分组框_分享参数设置", 1, 0},
    {"编辑框_私密分享密码", "QLineEdit", "分组框_分享参数设置", 1, 1},
    {"透明标签1", "QLabel", "分组框_分享参数设置", 2, 0},
    {"透明标签7", "QLabel", "分组框_分享参数设置", 3, 0},
    {"组合框_分享时间有效期", "QComboBox", "分组框_分享参数设置", 3, 1},
    {"透明标签8", "QLabel", "分组框_分享参数设置", 4, 0},
    {"编辑框_分享间隔时间", "QLineEdit", "分组框_分享参数设置", 4, 1},
    {"标签3", "QLabel", "分组框_分享参数设置", 4, 2},
    {"透明标签3", "QLabel", "分组框_分享参数设置", 4, 3},

    {"选择框_加密文件名", "QCheckBox", "分组框2", 0, 0},
    {"透明标签4", "QLabel", "分组框2", 0, 1},
    {"选择框_关键词替换", "QCheckBox", "分组框2", 1, 0},
    {"透明标签9", "QLabel", "分组框2", 1, 1},
    {"编辑框_替换前关键字", "QLineEdit", "分组框2", 1, 2},
    {"透明标签10", "QLabel", "分组框2", 1, 3},
    {"编辑框_替换后关键字", "QLineEdit", "分组框2", 1, 4},
    {"选择框_前缀", "QCheckBox", "分组框2", 2, 0},
    {"编辑框_前缀", "QLineEdit", "分组框2", 2, 1},
    {"选择框_后缀", "QCheckBox", "分组框2", 2, 2},
    {"编辑框_后缀", "QLineEdit", "分组框2", 2, 3},

    {"透明标签6", "QLabel", "分组框1", 0, 0},
    {"编辑框_每日分享数量", "QLineEdit", "分组框1", 0, 1},
    {"透明标签5", "QLabel", "分组框1", 1, 0},
};

TEST(SettingsWindowLayout, EveryControlInItsGroupInTheDesignedOrder) {
    SettingsWindow window(scratchDirectory());
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    expectArrangedAtEverySize(window, kDesign);
    for (const Arranged& a : kDesign) {
        expectDesignFont(*window.findChild<QWidget*>(QString::fromUtf8(a.name)));
    }
}

TEST(SettingsWindowLayout, NoEmptyBandUnderTheShareType) {
    SettingsWindow window(scratchDirectory());
    window.show();
    QCoreApplication::processEvents();
    // The hidden share-by-type row takes no room: the code's row follows the
    // share type as closely as any two rows of the group.
    const int gap =
        window.passwordEdit()->geometry().top() - window.shareTypeList()->geometry().bottom();
    const int next = window.periodList()->geometry().top() -
                     window.findChild<QLabel*>(QStringLiteral("透明标签1"))->geometry().bottom();
    EXPECT_LE(gap, next + 4) << gap << " against " << next;
}

TEST_F(SettingsWindowTest, StartsFromTheDesignStateWithoutAFile) {
    auto window = open();
    EXPECT_EQ(window->windowTitle(), QStringLiteral("参数设置"));
    EXPECT_EQ(window->frameGeometry().size(), QSize(460, 719)) << "the designed size";
    EXPECT_NE(window->minimumSize(), window->maximumSize()) << "resizable";

    const auto group = [&](const char* name) {
        return window->findChild<QGroupBox*>(QString::fromUtf8(name))->title();
    };
    EXPECT_EQ(group("分组框_分享参数设置"), QStringLiteral("分享设置"));
    EXPECT_EQ(group("分组框2"), QStringLiteral("分享之前文件名设置"));
    EXPECT_EQ(group("分组框1"), QStringLiteral("账号每日分享限制(具体看帮助详细说明)"));

    EXPECT_TRUE(window->depthAndTypeRadio()->isChecked());
    EXPECT_EQ(window->depthAndTypeRadio()->text(), QStringLiteral("深度及类型:"));
    QStringList shareTypes;
    for (int i = 0; i < window->shareTypeList()->count(); ++i) {
        shareTypes << window->shareTypeList()->itemText(i);
    }
    EXPECT_EQ(shareTypes,
              QStringList({QStringLiteral("当前 目录下 所有文件和文件夹 (不分享 文件夹内的文件)"),
                           QStringLiteral("当前 目录下 所有文件 (不分享 文件夹)"),
                           QStringLiteral("当前 目录下 所有文件夹 (不分享 文件)"),
                           QStringLiteral("当前 目录下 所有文件 (包含 子文件夹内的文件)"),
                           QStringLiteral("当前 目录下 所有文件夹 (包含 子文件夹内的文件夹)")}));
    EXPECT_EQ(window->shareTypeList()->currentIndex(), 0);
    EXPECT_TRUE(window->shareTypeList()->isEnabled());

    // Share by type: present, hidden, as designed.
    EXPECT_TRUE(window->byTypeRadio()->isHidden());
    EXPECT_FALSE(window->byTypeRadio()->isChecked());
    EXPECT_EQ(window->byTypeRadio()->text(), QStringLiteral("类型分享:"));
    EXPECT_TRUE(window->suffixList()->isHidden());
    EXPECT_FALSE(window->suffixList()->isEnabled());
    EXPECT_EQ(window->suffixList()->count(), 20);
    EXPECT_EQ(window->suffixList()->itemText(0), QStringLiteral("*.txt"));
    EXPECT_EQ(window->suffixList()->itemText(9), QStringLiteral("*.e"));
    EXPECT_EQ(window->suffixList()->itemText(19), QStringLiteral("自定义多个后缀"));
    EXPECT_TRUE(window->customSuffixEdit()->isHidden());
    EXPECT_TRUE(window->byTypeModeList()->isHidden());
    EXPECT_EQ(window->byTypeModeList()->itemText(0), QStringLiteral("不包含 子文件夹"));
    EXPECT_EQ(window->byTypeModeList()->itemText(1), QStringLiteral("包含 子文件夹"));

    QStringList periods;
    for (int i = 0; i < window->periodList()->count(); ++i) {
        periods << window->periodList()->itemText(i);
    }
    EXPECT_EQ(periods, QStringList({QStringLiteral("永久 有效"), QStringLiteral("三十天 有效"),
                                    QStringLiteral("七天 有效"), QStringLiteral("一天 有效")}));

    // Notes are rich text; what they show is their plain text.
    const auto text = [&](const char* name) {
        const QLabel* label = window->findChild<QLabel*>(QString::fromUtf8(name));
        if (label->textFormat() != Qt::RichText) {
            return label->text();
        }
        EXPECT_LE(label->heightForWidth(label->width()), label->height()) << name << " fits";
        QTextDocument shown;
        shown.setHtml(label->text());
        return shown.toPlainText();
    };
    EXPECT_EQ(text("透明标签1"),
              QStringLiteral("注:\n为空时为随机密码,设置后私密分享都将变为固定密码,"
                             "格式只支持四位数字和字母组合"));
    EXPECT_EQ(text("透明标签3"), QStringLiteral("注:时间太快容易分享失败"));
    EXPECT_EQ(text("透明标签4"),
              QStringLiteral("注:加密文件名是 除了扩展名 都替换成字母和数字随机生成16位的文件名"));
    EXPECT_EQ(text("标签3"), QStringLiteral("秒"));
    EXPECT_EQ(text("透明标签5"),
              QStringLiteral("注:\n次设置解决每天分享超过限制后被24小时限制分享的问题. "
                             "小鱼账号每天分享数量生效,为0或者不填写则不限制(达到百度上线停止)"));
    EXPECT_EQ(window->encryptNameBox()->text(), QStringLiteral("加密文件名"));
    EXPECT_EQ(window->keywordBox()->text(), QStringLiteral("关键字替换"));
    EXPECT_EQ(window->saveButton()->text(), QStringLiteral("保存"));
    // Every key at its default; the pause shows the 3 seconds a run waits.
    SettingsForm defaults;
    defaults.intervalText = "3";
    EXPECT_EQ(window->form(), defaults);
    EXPECT_EQ(window->intervalEdit()->text(), QStringLiteral("3"));
}

TEST_F(SettingsWindowTest, KeysMissingFromTheFileShowTheirDefaults) {
    writeFile(ini_, "[set]\npassword=ab12\n");
    auto window = open();
    EXPECT_EQ(window->passwordEdit()->text(), QStringLiteral("ab12"));
    EXPECT_EQ(window->intervalEdit()->text(), QStringLiteral("3"));
    EXPECT_EQ(window->shareTypeList()->currentIndex(), 0);
    EXPECT_EQ(window->periodList()->currentIndex(), 0);
    EXPECT_TRUE(window->dailyLimitEdit()->text().isEmpty()) << "no limit";
}

TEST_F(SettingsWindowTest, LoadsTheFileAndSavesEveryKeyBack) {
    writeFile(ini_, "; kept\n[set]\ntime=7\npassword=ab1\nShareType=3\nShareTimeLong=2\n"
                    "BeforWord=old\nAfterWord=new\nBeforZhui=pre-\nAfterZhui=-suf\n"
                    "ShareNumber=\xef\xbc\x91\xef\xbc\x90\nKeyWord=1\nisPassWord=true\n");
    auto window = open();
    EXPECT_EQ(window->intervalEdit()->text(), QStringLiteral("7"));
    EXPECT_EQ(window->passwordEdit()->text(), QStringLiteral("ab1"));
    EXPECT_EQ(window->shareTypeList()->currentIndex(), 3);
    EXPECT_EQ(window->periodList()->currentIndex(), 2);
    EXPECT_EQ(window->keywordBeforeEdit()->text(), QStringLiteral("old"));
    EXPECT_EQ(window->keywordAfterEdit()->text(), QStringLiteral("new"));
    EXPECT_EQ(window->prefixEdit()->text(), QStringLiteral("pre-"));
    EXPECT_EQ(window->suffixEdit()->text(), QStringLiteral("-suf"));
    EXPECT_EQ(window->dailyLimitEdit()->text(), QStringLiteral("１０"));
    EXPECT_TRUE(window->keywordBox()->isChecked());
    EXPECT_FALSE(window->encryptNameBox()->isChecked()) << "only \"1\" checks a box";

    window->passwordEdit()->setText(QStringLiteral("Zx90"));
    window->periodList()->setCurrentIndex(1);
    std::optional<ShareOptions> options;
    QObject::connect(window.get(), &SettingsWindow::saved,
                     [&](const ShareOptions& saved) { options = saved; });
    DialogAnswers answers({DialogAnswers::press(QMessageBox::Ok)});
    QTest::mouseClick(window->saveButton(), Qt::LeftButton);

    ASSERT_EQ(answers.seen().size(), 1u);
    EXPECT_EQ(answers.seen()[0].text, QStringLiteral("保存成功"));
    EXPECT_EQ(answers.seen()[0].caption, QStringLiteral("提示"));
    EXPECT_EQ(answers.seen()[0].icon, QMessageBox::Information);
    EXPECT_FALSE(window->isVisible()) << "closed after the message";
    EXPECT_EQ(window->result(), QDialog::Accepted);

    ASSERT_TRUE(options.has_value());
    EXPECT_EQ(options->intervalSeconds, 7);
    EXPECT_EQ(options->dailyLimit, 10);
    EXPECT_EQ(options->shareType, ShareType::FilesWithSubfolders);
    EXPECT_EQ(options->period, "30");
    EXPECT_EQ(options->password, "Zx90");
    EXPECT_EQ(options->renameMode, RenameMode::ReplaceKeyword);

    const Expected<SettingsForm> reloaded = loadSettingsForm(window->settingsFile());
    ASSERT_TRUE(reloaded);
    EXPECT_EQ(*reloaded, window->form());
    // Every key is in the file now, and the comment survived.
    const QString text = fileText(ini_);
    EXPECT_TRUE(text.startsWith(QStringLiteral("; kept\n[set]\n")));
    for (std::string_view key : kSettingsKeys) {
        EXPECT_TRUE(text.contains(QLatin1Char('\n') + QString::fromUtf8(key.data(), key.size()) +
                                  QLatin1Char('=')))
            << key;
    }
    EXPECT_TRUE(text.contains(QStringLiteral("isPassWord=0\n")));
}

TEST_F(SettingsWindowTest, SaveWithoutAFileWritesAllFifteenKeysInOrder) {
    auto window = open();
    DialogAnswers answers({DialogAnswers::press(QMessageBox::Ok)});
    window->save();
    const QStringList lines = fileText(ini_).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 16);
    EXPECT_EQ(lines[0], QStringLiteral("[set]"));
    for (std::size_t i = 0; i < kSettingsKeys.size(); ++i) {
        EXPECT_TRUE(lines[static_cast<int>(i) + 1].startsWith(
            QString::fromUtf8(kSettingsKeys[i].data(), kSettingsKeys[i].size()) + QLatin1Char('=')))
            << lines[static_cast<int>(i) + 1].toStdString();
    }
    EXPECT_TRUE(lines.contains(QStringLiteral("type=0")));
    EXPECT_TRUE(lines.contains(QStringLiteral("ShareType=0")));
}

QByteArray fileBytes(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

TEST_F(SettingsWindowTest, RejectedSaveLeavesTheFileByteForByteUnchanged) {
    const QByteArray before = "; mine\r\n[set]\r\ntime=7\r\npassword=ab12\r\n";
    writeFile(ini_, before);
    auto window = open();
    window->passwordEdit()->setText(QStringLiteral("abcde"));
    window->intervalEdit()->setText(QStringLiteral("30"));
    bool saved = false;
    QObject::connect(window.get(), &SettingsWindow::saved, [&] { saved = true; });
    {
        DialogAnswers answers({DialogAnswers::press(QMessageBox::Ok)});
        QTest::mouseClick(window->saveButton(), Qt::LeftButton);
        ASSERT_EQ(answers.seen().size(), 1u) << "no success message after it";
        EXPECT_EQ(answers.seen()[0].text, QStringLiteral("提取密码,不能大于4位"));
        EXPECT_EQ(answers.seen()[0].buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    }
    EXPECT_TRUE(window->isVisible()) << "the window stays open";
    EXPECT_FALSE(saved);
    EXPECT_EQ(fileBytes(ini_), before);

    // Three Chinese characters are six bytes: refused as well.
    window->passwordEdit()->setText(QStringLiteral("三个字"));
    DialogAnswers again({DialogAnswers::press(QMessageBox::Ok)});
    window->save();
    ASSERT_EQ(again.seen().size(), 1u);
    EXPECT_EQ(again.seen()[0].text, QStringLiteral("提取密码,不能大于4位"));
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(fileBytes(ini_), before);

    // Mended, the same window saves.
    window->passwordEdit()->setText(QStringLiteral("xy12"));
    DialogAnswers ok({DialogAnswers::press(QMessageBox::Ok)});
    window->save();
    EXPECT_TRUE(fileText(ini_).contains(QStringLiteral("password=xy12")));
    EXPECT_TRUE(fileText(ini_).contains(QStringLiteral("time=30")));
}

// The service takes four ASCII letters or digits, so the window takes
// nothing else either, whatever the length.
TEST_F(SettingsWindowTest, CodesTheServiceWouldRefuseAreNotSaved) {
    const QByteArray before = "[set]\r\npassword=ab12\r\n";
    writeFile(ini_, before);
    auto window = open();
    for (const char* code : {"ab", "提取", "ab!1", "a 12"}) {
        SCOPED_TRACE(code);
        window->passwordEdit()->setText(QString::fromUtf8(code));
        DialogAnswers answers({DialogAnswers::press(QMessageBox::Ok)});
        window->save();
        ASSERT_EQ(answers.seen().size(), 1u);
        EXPECT_EQ(answers.seen()[0].text, QStringLiteral("提取密码必须是4位数字和字母组合"));
        EXPECT_TRUE(window->isVisible());
        EXPECT_EQ(fileBytes(ini_), before);
    }
    window->passwordEdit()->setText(QStringLiteral("Zz09"));
    DialogAnswers answers({DialogAnswers::press(QMessageBox::Ok)});
    window->save();
    EXPECT_TRUE(fileText(ini_).contains(QStringLiteral("password=Zz09")))
        << fileText(ini_).toStdString();
}

TEST_F(SettingsWindowTest, RejectedSaveWithoutAFileCreatesNone) {
    auto window = open();
    window->passwordEdit()->setText(QStringLiteral("abcde"));
    DialogAnswers answers({DialogAnswers::press(QMessageBox::Ok)});
    window->save();
    ASSERT_EQ(answers.seen().size(), 1u);
    EXPECT_FALSE(QFile::exists(ini_));
}

TEST_F(SettingsWindowTest, ClosingByTheFrameWritesNothing) {
    auto window = open();
    window->intervalEdit()->setText(QStringLiteral("9"));
    window->close();
    EXPECT_FALSE(QFile::exists(ini_));
}

TEST_F(SettingsWindowTest, TypeOneChecksTheHiddenRadioAndKeepsTheVisibleOne) {
    writeFile(ini_, "[set]\ntype=1\nAfterContents=*.iso|*.img\n");
    auto window = open();
    EXPECT_TRUE(window->byTypeRadio()->isChecked());
    EXPECT_TRUE(window->depthAndTypeRadio()->isChecked());
    EXPECT_TRUE(window->shareTypeList()->isEnabled());
    EXPECT_EQ(window->customSuffixEdit()->text(), QStringLiteral("*.iso|*.img"));
    DialogAnswers answers({DialogAnswers::press(QMessageBox::Ok)});
    window->save();
    const QString text = fileText(ini_);
    EXPECT_TRUE(text.contains(QStringLiteral("type=1\n")));
    EXPECT_TRUE(text.contains(QStringLiteral("AfterContents=*.iso|*.img\n")));
}

TEST_F(SettingsWindowTest, RadioClicksSwitchTheListsAndTheCustomItemShowsItsBox) {
    auto window = open();
    window->byTypeRadio()->click();
    EXPECT_TRUE(window->byTypeRadio()->isChecked());
    EXPECT_FALSE(window->depthAndTypeRadio()->isChecked());
    EXPECT_FALSE(window->shareTypeList()->isEnabled());
    EXPECT_TRUE(window->suffixList()->isEnabled());
    EXPECT_TRUE(window->byTypeModeList()->isEnabled());

    QTest::mouseClick(window->depthAndTypeRadio(), Qt::LeftButton);
    EXPECT_TRUE(window->depthAndTypeRadio()->isChecked());
    EXPECT_FALSE(window->byTypeRadio()->isChecked());
    EXPECT_TRUE(window->shareTypeList()->isEnabled());
    EXPECT_FALSE(window->suffixList()->isEnabled());
    EXPECT_FALSE(window->customSuffixEdit()->isEnabled());
    EXPECT_FALSE(window->byTypeModeList()->isEnabled());
    // A second click on the checked radio leaves it checked.
    QTest::mouseClick(window->depthAndTypeRadio(), Qt::LeftButton);
    EXPECT_TRUE(window->depthAndTypeRadio()->isChecked());

    QComboBox* suffixes = window->suffixList();
    suffixes->setCurrentIndex(19);
    emit suffixes->activated(19);
    EXPECT_FALSE(window->customSuffixEdit()->isHidden());
    suffixes->setCurrentIndex(2);
    emit suffixes->activated(2);
    EXPECT_TRUE(window->customSuffixEdit()->isHidden());
    // Chosen from code, the item runs no handler.
    suffixes->setCurrentIndex(19);
    EXPECT_TRUE(window->customSuffixEdit()->isHidden());
}

// The rename boxes, as E(ncrypt), K(eyword), P(refix), S(uffix).
struct RenameCase {
    const char* name;
    const char* before; // boxes checked before the click
    char clicked;
    const char* after; // boxes checked afterwards
};

class RenameGroups : public SettingsWindowTest, public ::testing::WithParamInterface<RenameCase> {
protected:
    QCheckBox* box(SettingsWindow& window, char letter) {
        switch (letter) {
        case 'E':
            return window.encryptNameBox();
        case 'K':
            return window.keywordBox();
        case 'P':
            return window.prefixBox();
        default:
            return window.suffixBox();
        }
    }
    void check(SettingsWindow& window, const char* letters) {
        for (char letter : std::string("EKPS")) {
            box(window, letter)->setChecked(std::string(letters).find(letter) != std::string::npos);
        }
    }
    std::string checked(SettingsWindow& window) {
        std::string letters;
        for (char letter : std::string("EKPS")) {
            if (box(window, letter)->isChecked()) {
                letters += letter;
            }
        }
        return letters;
    }
};

TEST_P(RenameGroups, MouseReleaseKeepsTheGroupsApart) {
    const RenameCase& c = GetParam();
    auto window = open();
    check(*window, c.before);
    QTest::mouseClick(box(*window, c.clicked), Qt::LeftButton);
    EXPECT_EQ(checked(*window), c.after);
}

TEST_P(RenameGroups, KeyboardToggleRunsNoHandler) {
    const RenameCase& c = GetParam();
    auto window = open();
    check(*window, c.before);
    QCheckBox* target = box(*window, c.clicked);
    target->setFocus();
    QTest::keyClick(target, Qt::Key_Space);
    // Only the toggled box changed.
    std::string expected;
    for (char letter : std::string("EKPS")) {
        const bool was = std::string(c.before).find(letter) != std::string::npos;
        if (letter == c.clicked ? !was : was) {
            expected += letter;
        }
    }
    EXPECT_EQ(checked(*window), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RenameGroups,
    ::testing::Values(RenameCase{"EncryptOverPrefixAndSuffix", "PS", 'E', "E"},
                      RenameCase{"EncryptOverKeyword", "K", 'E', "E"},
                      RenameCase{"KeywordOverEncryptAndAffixes", "EPS", 'K', "K"},
                      RenameCase{"PrefixThenSuffixCombine", "P", 'S', "PS"},
                      RenameCase{"PrefixOverEncrypt", "E", 'P', "P"},
                      RenameCase{"UncheckingPrefixStillClears", "EKP", 'P', ""},
                      RenameCase{"UncheckingEncrypt", "E", 'E', ""}),
    CaseName{});

TEST_F(SettingsWindowTest, ReleaseOutsideTheBoxChangesNothing) {
    auto window = open();
    window->prefixBox()->setChecked(true);
    QCheckBox* encrypt = window->encryptNameBox();
    QTest::mousePress(encrypt, Qt::LeftButton);
    QTest::mouseRelease(encrypt, Qt::LeftButton, {}, QPoint(encrypt->width() + 20, 5));
    EXPECT_FALSE(encrypt->isChecked());
    EXPECT_TRUE(window->prefixBox()->isChecked());
}

} // namespace
