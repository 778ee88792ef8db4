#include "settings/settings_window.h"

#include "ui/window_util.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>

namespace vantorel::gui {

namespace {

constexpr QSize kOuterSize(460, 719);

const char16_t* const kSuffixItems[] = {
    u"*.txt",  u"*.doc", u"*.exe", u"*.gif", u"*.html", u"*.jpeg",         u"*.jpg",
    u"*.png",  u"*.bmp", u"*.e",   u"*.mp3", u"*.wma",  u"*.avi",          u"*.rm",
    u"*.rmvb", u"*.flv", u"*.mpg", u"*.mov", u"*.mkv",  u"自定义多个后缀",
};
constexpr char16_t kCustomSuffixItem[] = u"自定义多个后缀";

QString qs(std::string_view utf8) {
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

std::string utf8(const QString& text) {
    return text.toStdString();
}

template <class Widget> Widget* place(Widget* widget, const char16_t* name, QRect geometry) {
    widget->setObjectName(QString::fromUtf16(name));
    widget->setGeometry(geometry);
    return widget;
}

QLabel* label(QWidget* parent, const char16_t* name, const QString& text, QRect geometry,
              bool transparent = true) {
    auto* widget = place(new QLabel(text, parent), name, geometry);
    widget->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    if (transparent) {
        // Draws only its text: the group box shows through.
        widget->setAttribute(Qt::WA_TranslucentBackground);
        widget->setStyleSheet(QStringLiteral("background: transparent;"));
    } else {
        widget->setAutoFillBackground(true);
    }
    return widget;
}

// A note of several lines, wrapped within its label and read from the top.
// The CJK faces space their lines widely; at their natural spacing the last
// line of a note would fall below its label.
QLabel* note(QWidget* parent, const char16_t* name, const QString& text, QRect geometry) {
    QLabel* widget = label(parent, name, QString(), geometry);
    widget->setWordWrap(true);
    widget->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    widget->setTextFormat(Qt::RichText);
    widget->setText(
        QStringLiteral("<p style=\"margin:0; line-height:75%; white-space:pre-wrap\">%1</p>")
            .arg(text.toHtmlEscaped()));
    return widget;
}

QLineEdit* edit(QWidget* parent, const char16_t* name, QRect geometry) {
    return place(new QLineEdit(parent), name, geometry);
}

QCheckBox* checkBox(QWidget* parent, const char16_t* name, const char16_t* caption,
                    QRect geometry) {
    return place(new QCheckBox(QString::fromUtf16(caption), parent), name, geometry);
}

QComboBox* dropDown(QWidget* parent, const char16_t* name, const QStringList& items,
                    QRect geometry) {
    auto* list = place(new QComboBox(parent), name, geometry);
    list->addItems(items);
    list->setCurrentIndex(0);
    return list;
}

template <std::size_t N> QStringList itemTexts(const std::array<std::string_view, N>& items) {
    QStringList texts;
    for (std::string_view item : items) {
        texts.append(qs(item));
    }
    return texts;
}

void showBox(QWidget* owner, QMessageBox::Icon icon, const QString& caption, const QString& text) {
    QMessageBox box(icon, caption, text, QMessageBox::Ok, owner);
    box.exec();
}

} // namespace

SettingsWindow::SettingsWindow(const QString& dataDir, QWidget* parent)
    : QDialog(parent, fixedDialogFlags()),
      file_(settingsFilePath(std::filesystem::path(dataDir.toStdU16String()))) {
    setObjectName(QStringLiteral("SettingsWindow"));
    setWindowTitle(QStringLiteral("参数设置"));
    setModal(true);

    buildShareGroup();
    buildRenameGroup();
    buildLimitGroup();

    save_ = place(new QPushButton(QStringLiteral("保存"), this), u"按钮1", QRect(172, 640, 96, 32));
    // Enter in an edit box must not save and close behind the user's back.
    save_->setAutoDefault(false);
    connect(save_, &QPushButton::clicked, this, [this] { save(); });

    setFontThroughout(*this, uiFont(12));
    placeCentred(*this, kOuterSize, true);

    // The load step: the controls start from their design state above.
    Expected<SettingsForm> loaded = loadSettingsForm(file_);
    if (loaded) {
        setForm(*loaded);
    } else {
        loadError_ = QString::fromStdString(loaded.error().message);
        setForm(SettingsForm{});
    }
}

void SettingsWindow::buildShareGroup() {
    shareGroup_ = place(new QGroupBox(QStringLiteral("分享设置"), this), u"分组框_分享参数设置",
                        QRect(5, 5, 443, 299));
    QGroupBox* g = shareGroup_;

    depthAndType_ = place(new QRadioButton(QStringLiteral("深度及类型:"), g), u"单选框_深度及类型",
                          QRect(8, 23, 92, 20));
    shareType_ =
        dropDown(g, u"组合框_分享类型", itemTexts(kShareTypeItems), QRect(96, 20, 336, 20));

    byType_ = place(new QRadioButton(QStringLiteral("类型分享:"), g), u"单选框_类型分享",
                    QRect(8, 78, 80, 20));
    QStringList suffixes;
    for (const char16_t* item : kSuffixItems) {
        suffixes.append(QString::fromUtf16(item));
    }
    suffixList_ = dropDown(g, u"组合框_分享后缀", suffixes, QRect(96, 62, 124, 25));
    customSuffix_ = edit(g, u"编辑框_分享后缀内容", QRect(95, 99, 211, 20));

    label(g, u"透明标签2", QStringLiteral("私密分享密码:"), QRect(7, 134, 80, 16));
    password_ = edit(g, u"编辑框_私密分享密码", QRect(94, 132, 91, 20));
    note(g, u"透明标签1",
         QStringLiteral("注:\n为空时为随机密码,设置后私密分享都将变为固定密码,"
                        "格式只支持四位数字和字母组合"),
         QRect(8, 168, 427, 59));
    label(g, u"透明标签7", QStringLiteral("分享有效时间:"), QRect(10, 230, 81, 19));
    period_ =
        dropDown(g, u"组合框_分享时间有效期", itemTexts(kPeriodItems), QRect(96, 230, 91, 20));
    label(g, u"透明标签8", QStringLiteral("分享间隔时间:"), QRect(10, 265, 78, 21));
    interval_ = edit(g, u"编辑框_分享间隔时间", QRect(94, 265, 44, 20));
    label(g, u"标签3", QStringLiteral("秒"), QRect(149, 263, 16, 24), false);
    label(g, u"透明标签3", QStringLiteral("注:时间太快容易分享失败"), QRect(183, 263, 177, 22));

    byTypeMode_ = dropDown(this, u"组合框_类型分享模式",
                           {QStringLiteral("不包含 子文件夹"), QStringLiteral("包含 子文件夹")},
                           QRect(320, 80, 120, 20));

    // Share by type is not offered: its controls exist, hidden, so that the
    // file's "type" and "AfterContents" keys survive a save.
    depthAndType_->setChecked(true);
    byType_->hide();
    suffixList_->hide();
    suffixList_->setEnabled(false);
    customSuffix_->hide();
    byTypeMode_->hide();

    // The two radio buttons behave as a pair only when clicked: the load
    // step may check both (a file with "type" 1), as setting one from code
    // leaves the other alone.
    depthAndType_->setAutoExclusive(false);
    byType_->setAutoExclusive(false);
    connect(depthAndType_, &QRadioButton::clicked, this, [this] { onDepthAndTypeClicked(); });
    connect(byType_, &QRadioButton::clicked, this, [this] { onByTypeClicked(); });
    connect(suffixList_, &QComboBox::activated, this, [this] { onSuffixChosen(); });
}

void SettingsWindow::buildRenameGroup() {
    renameGroup_ = place(new QGroupBox(QStringLiteral("分享之前文件名设置"), this), u"分组框2",
                         QRect(8, 311, 440, 210));
    QGroupBox* g = renameGroup_;

    encryptName_ = checkBox(g, u"选择框_加密文件名", u"加密文件名", QRect(9, 33, 103, 24));
    note(g, u"透明标签4",
         QStringLiteral("注:加密文件名是 除了扩展名 都替换成字母和数字随机生成16位的文件名"),
         QRect(143, 31, 263, 31));
    keyword_ = checkBox(g, u"选择框_关键词替换", u"关键字替换", QRect(9, 99, 111, 24));
    label(g, u"透明标签9", QStringLiteral("把"), QRect(145, 108, 19, 18));
    keywordBefore_ = edit(g, u"编辑框_替换前关键字", QRect(168, 105, 96, 24));
    label(g, u"透明标签10", QStringLiteral("换成"), QRect(288, 106, 27, 20));
    keywordAfter_ = edit(g, u"编辑框_替换后关键字", QRect(320, 104, 96, 24));
    prefix_ = checkBox(g, u"选择框_前缀", u"前缀", QRect(9, 160, 87, 23));
    prefixText_ = edit(g, u"编辑框_前缀", QRect(99, 160, 75, 24));
    suffix_ = checkBox(g, u"选择框_后缀", u"后缀", QRect(253, 162, 69, 23));
    suffixText_ = edit(g, u"编辑框_后缀", QRect(328, 160, 83, 24));

    for (QCheckBox* box : {encryptName_, keyword_, prefix_, suffix_}) {
        box->installEventFilter(this);
    }
}

void SettingsWindow::buildLimitGroup() {
    limitGroup_ = place(new QGroupBox(QStringLiteral("账号每日分享限制(具体看帮助详细说明)"), this),
                        u"分组框1", QRect(8, 532, 440, 103));
    QGroupBox* g = limitGroup_;
    label(g, u"透明标签6", QStringLiteral("分享数量:"), QRect(66, 25, 58, 21));
    dailyLimit_ = edit(g, u"编辑框_每日分享数量", QRect(133, 24, 91, 20));
    note(g, u"透明标签5",
         QStringLiteral("注:\n次设置解决每天分享超过限制后被24小时限制分享的问题. "
                        "小鱼账号每天分享数量生效,为0或者不填写则不限制(达到百度上线停止)"),
         QRect(13, 55, 413, 42));
}

bool SettingsWindow::eventFilter(QObject* watched, QEvent* event) {
    // The rename groups are kept apart on the mouse only, as designed: a box
    // toggled with the keyboard leaves the others as they are.
    if (event->type() == QEvent::MouseButtonRelease) {
        auto* box = qobject_cast<QCheckBox*>(watched);
        const auto* mouse = static_cast<QMouseEvent*>(event);
        if (box != nullptr && mouse->button() == Qt::LeftButton &&
            box->rect().contains(mouse->position().toPoint())) {
            onRenameBoxReleased(box);
        }
    }
    return QDialog::eventFilter(watched, event);
}

void SettingsWindow::onRenameBoxReleased(QCheckBox* box) {
    if (box == encryptName_) {
        prefix_->setChecked(false);
        suffix_->setChecked(false);
        keyword_->setChecked(false);
    } else if (box == keyword_) {
        prefix_->setChecked(false);
        suffix_->setChecked(false);
        encryptName_->setChecked(false);
    } else if (box == prefix_ || box == suffix_) {
        encryptName_->setChecked(false);
        keyword_->setChecked(false);
    }
}

void SettingsWindow::onDepthAndTypeClicked() {
    depthAndType_->setChecked(true);
    byType_->setChecked(false);
    shareType_->setEnabled(true);
    suffixList_->setEnabled(false);
    customSuffix_->setEnabled(false);
    byTypeMode_->setEnabled(false);
}

void SettingsWindow::onByTypeClicked() {
    byType_->setChecked(true);
    depthAndType_->setChecked(false);
    shareType_->setEnabled(false);
    suffixList_->setEnabled(true);
    byTypeMode_->setEnabled(true);
}

void SettingsWindow::onSuffixChosen() {
    customSuffix_->setVisible(suffixList_->currentText() == QString::fromUtf16(kCustomSuffixItem));
}

SettingsForm SettingsWindow::form() const {
    SettingsForm form;
    form.intervalText = utf8(interval_->text());
    form.password = utf8(password_->text());
    form.keywordBefore = utf8(keywordBefore_->text());
    form.keywordAfter = utf8(keywordAfter_->text());
    form.namePrefix = utf8(prefixText_->text());
    form.nameSuffix = utf8(suffixText_->text());
    form.dailyLimitText = utf8(dailyLimit_->text());
    form.customSuffixText = utf8(customSuffix_->text());
    form.shareTypeIndex = shareType_->currentIndex();
    form.periodIndex = period_->currentIndex();
    form.encryptName = encryptName_->isChecked();
    form.replaceKeyword = keyword_->isChecked();
    form.addPrefix = prefix_->isChecked();
    form.addSuffix = suffix_->isChecked();
    form.shareByType = byType_->isChecked();
    return form;
}

void SettingsWindow::setForm(const SettingsForm& form) {
    interval_->setText(qs(form.intervalText));
    password_->setText(qs(form.password));
    keywordBefore_->setText(qs(form.keywordBefore));
    keywordAfter_->setText(qs(form.keywordAfter));
    prefixText_->setText(qs(form.namePrefix));
    suffixText_->setText(qs(form.nameSuffix));
    dailyLimit_->setText(qs(form.dailyLimitText));
    customSuffix_->setText(qs(form.customSuffixText));
    const auto chosen = [](int index, int count) {
        return index >= 0 && index < count ? index : 0;
    };
    shareType_->setCurrentIndex(chosen(form.shareTypeIndex, shareType_->count()));
    period_->setCurrentIndex(chosen(form.periodIndex, period_->count()));
    encryptName_->setChecked(form.encryptName);
    keyword_->setChecked(form.replaceKeyword);
    prefix_->setChecked(form.addPrefix);
    suffix_->setChecked(form.addSuffix);
    // "type" 1 checks the hidden radio as well; the visible one keeps its
    // state and nothing is enabled or disabled.
    byType_->setChecked(form.shareByType);
    if (!form.shareByType) {
        depthAndType_->setChecked(true);
    }
}

std::optional<ShareOptions> SettingsWindow::save() {
    const SettingsForm current = form();
    if (const Status written = saveSettingsForm(file_, current); !written) {
        showBox(this, QMessageBox::Warning, QStringLiteral("提示"),
                QStringLiteral("保存失败：") + QString::fromStdString(written.error().message));
        return std::nullopt;
    }
    Expected<ShareOptions> options = collectShareOptions(current);
    if (!options) {
        // The file is written all the same; the code is refused for a run.
        showBox(this, QMessageBox::NoIcon, QStringLiteral("信息："),
                QString::fromStdString(options.error().message));
        return std::nullopt;
    }
    emit saved(*options);
    showBox(this, QMessageBox::Information, QStringLiteral("提示"), QStringLiteral("保存成功"));
    accept();
    return *options;
}

} // namespace vantorel::gui
