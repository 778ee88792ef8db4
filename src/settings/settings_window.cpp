#include "settings/settings_window.h"

#include "ui/window_util.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

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

template <class Widget> Widget* named(Widget* widget, const char16_t* name) {
    widget->setObjectName(QString::fromUtf16(name));
    return widget;
}

QLabel* label(QWidget* parent, const char16_t* name, const QString& text, bool transparent = true) {
    auto* widget = named(new QLabel(text, parent), name);
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

// A note of several lines, wrapped within the width its row gives it.
QLabel* note(QWidget* parent, const char16_t* name, const QString& text) {
    QLabel* widget = label(parent, name, text);
    widget->setWordWrap(true);
    widget->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    widget->setTextFormat(Qt::PlainText);
    widget->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Minimum);
    return widget;
}

// An edit box about `chars` characters wide, wider when the window is.
QLineEdit* edit(QWidget* parent, const char16_t* name, int chars) {
    auto* box = named(new QLineEdit(parent), name);
    box->setMinimumWidth(box->fontMetrics().horizontalAdvance(QLatin1Char('0')) * chars + 16);
    return box;
}

QCheckBox* checkBox(QWidget* parent, const char16_t* name, const char16_t* caption) {
    return named(new QCheckBox(QString::fromUtf16(caption), parent), name);
}

QComboBox* dropDown(QWidget* parent, const char16_t* name, const QStringList& items) {
    auto* list = named(new QComboBox(parent), name);
    list->addItems(items);
    list->setCurrentIndex(0);
    return list;
}

// A row of controls, left to right, with the rest of the width left empty.
QHBoxLayout* row(std::initializer_list<QWidget*> widgets, bool stretch = true) {
    auto* layout = new QHBoxLayout;
    layout->setSpacing(6);
    for (QWidget* widget : widgets) {
        layout->addWidget(widget);
    }
    if (stretch) {
        layout->addStretch(1);
    }
    return layout;
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
    : QDialog(parent, dialogFlags()),
      file_(settingsFilePath(std::filesystem::path(dataDir.toStdU16String()))) {
    setObjectName(QStringLiteral("SettingsWindow"));
    setWindowTitle(QStringLiteral("参数设置"));
    setModal(true);

    // The font first: the edit boxes take their widths from it.
    setFont(uiFont(12));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 6, 8, 8);
    layout->setSpacing(6);
    buildShareGroup();
    buildRenameGroup();
    buildLimitGroup();
    layout->addWidget(shareGroup_);
    layout->addWidget(byTypeMode_); // hidden, as designed: it takes no room
    layout->addWidget(renameGroup_);
    layout->addWidget(limitGroup_);
    layout->addStretch(1);

    save_ = named(new QPushButton(QStringLiteral("保存"), this), u"按钮1");
    save_->setMinimumSize(96, 32);
    // Enter in an edit box must not save and close behind the user's back.
    save_->setAutoDefault(false);
    connect(save_, &QPushButton::clicked, this, [this] { save(); });
    auto* saveRow = new QHBoxLayout;
    saveRow->addStretch(1);
    saveRow->addWidget(save_);
    saveRow->addStretch(1);
    layout->addLayout(saveRow);

    setFontThroughout(*this, uiFont(12));
    // At this width the notes wrap into few lines: the window stays low
    // enough for a screen of 600 lines.
    fitMinimumToLayout(*this, 456);
    placeCentred(*this, kOuterSize);

    // The load step: the controls start from their design state above.
    Expected<SettingsForm> loaded = loadSettingsForm(file_);
    if (loaded) {
        setForm(*loaded);
    } else {
        loadError_ = QString::fromStdString(loaded.error().message);
        setForm(settingsFormFromIni(IniDocument{}));
    }
}

void SettingsWindow::buildShareGroup() {
    shareGroup_ = named(new QGroupBox(QStringLiteral("分享设置"), this), u"分组框_分享参数设置");
    QGroupBox* g = shareGroup_;

    depthAndType_ = named(new QRadioButton(QStringLiteral("深度及类型:"), g), u"单选框_深度及类型");
    shareType_ = dropDown(g, u"组合框_分享类型", itemTexts(kShareTypeItems));
    shareType_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    shareType_->setMinimumContentsLength(16);
    shareType_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);

    byType_ = named(new QRadioButton(QStringLiteral("类型分享:"), g), u"单选框_类型分享");
    QStringList suffixes;
    for (const char16_t* item : kSuffixItems) {
        suffixes.append(QString::fromUtf16(item));
    }
    suffixList_ = dropDown(g, u"组合框_分享后缀", suffixes);
    customSuffix_ = edit(g, u"编辑框_分享后缀内容", 24);

    QLabel* passwordLabel = label(g, u"透明标签2", QStringLiteral("私密分享密码:"));
    password_ = edit(g, u"编辑框_私密分享密码", 8);
    QLabel* passwordNote =
        note(g, u"透明标签1",
             QStringLiteral("注:\n为空时为随机密码,设置后私密分享都将变为固定密码,"
                            "格式只支持四位数字和字母组合"));
    QLabel* periodLabel = label(g, u"透明标签7", QStringLiteral("分享有效时间:"));
    period_ = dropDown(g, u"组合框_分享时间有效期", itemTexts(kPeriodItems));
    QLabel* intervalLabel = label(g, u"透明标签8", QStringLiteral("分享间隔时间:"));
    interval_ = edit(g, u"编辑框_分享间隔时间", 4);
    QLabel* seconds = label(g, u"标签3", QStringLiteral("秒"), false);
    QLabel* intervalNote = label(g, u"透明标签3", QStringLiteral("注:时间太快容易分享失败"));

    byTypeMode_ = dropDown(this, u"组合框_类型分享模式",
                           {QStringLiteral("不包含 子文件夹"), QStringLiteral("包含 子文件夹")});

    // Labels in the first column, their controls in the second; the hidden
    // share-by-type row takes no room.
    auto* grid = new QGridLayout(g);
    grid->setHorizontalSpacing(8);
    grid->setVerticalSpacing(6);
    grid->addWidget(depthAndType_, 0, 0);
    grid->addWidget(shareType_, 0, 1);
    grid->addWidget(byType_, 1, 0);
    grid->addLayout(row({suffixList_, customSuffix_}), 1, 1);
    grid->addWidget(passwordLabel, 2, 0);
    grid->addLayout(row({password_}), 2, 1);
    grid->addWidget(passwordNote, 3, 0, 1, 2);
    grid->addWidget(periodLabel, 4, 0);
    grid->addLayout(row({period_}), 4, 1);
    grid->addWidget(intervalLabel, 5, 0);
    grid->addLayout(row({interval_, seconds, intervalNote}), 5, 1);
    grid->setColumnStretch(1, 1);

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
    renameGroup_ = named(new QGroupBox(QStringLiteral("分享之前文件名设置"), this), u"分组框2");
    QGroupBox* g = renameGroup_;

    encryptName_ = checkBox(g, u"选择框_加密文件名", u"加密文件名");
    QLabel* encryptNote =
        note(g, u"透明标签4",
             QStringLiteral("注:加密文件名是 除了扩展名 都替换成字母和数字随机生成16位的文件名"));
    keyword_ = checkBox(g, u"选择框_关键词替换", u"关键字替换");
    QLabel* replace = label(g, u"透明标签9", QStringLiteral("把"));
    keywordBefore_ = edit(g, u"编辑框_替换前关键字", 8);
    QLabel* with = label(g, u"透明标签10", QStringLiteral("换成"));
    keywordAfter_ = edit(g, u"编辑框_替换后关键字", 8);
    prefix_ = checkBox(g, u"选择框_前缀", u"前缀");
    prefixText_ = edit(g, u"编辑框_前缀", 6);
    suffix_ = checkBox(g, u"选择框_后缀", u"后缀");
    suffixText_ = edit(g, u"编辑框_后缀", 6);

    // The check boxes in the first column, what each one takes beside it.
    auto* grid = new QGridLayout(g);
    grid->setHorizontalSpacing(12);
    grid->setVerticalSpacing(6);
    grid->addWidget(encryptName_, 0, 0, Qt::AlignTop);
    grid->addWidget(encryptNote, 0, 1);
    grid->addWidget(keyword_, 1, 0);
    grid->addLayout(row({replace, keywordBefore_, with, keywordAfter_}), 1, 1);
    grid->addWidget(prefix_, 2, 0);
    auto* affixes = row({prefixText_}, false);
    affixes->addSpacing(16);
    affixes->addStretch(1);
    affixes->addWidget(suffix_);
    affixes->addWidget(suffixText_);
    grid->addLayout(affixes, 2, 1);
    grid->setColumnStretch(1, 1);

    for (QCheckBox* box : {encryptName_, keyword_, prefix_, suffix_}) {
        box->installEventFilter(this);
    }
}

void SettingsWindow::buildLimitGroup() {
    limitGroup_ = named(new QGroupBox(QStringLiteral("账号每日分享限制(具体看帮助详细说明)"), this),
                        u"分组框1");
    QGroupBox* g = limitGroup_;
    QLabel* countLabel = label(g, u"透明标签6", QStringLiteral("分享数量:"));
    dailyLimit_ = edit(g, u"编辑框_每日分享数量", 8);
    QLabel* limitNote =
        note(g, u"透明标签5",
             QStringLiteral("注:\n次设置解决每天分享超过限制后被24小时限制分享的问题. "
                            "小鱼账号每天分享数量生效,为0或者不填写则不限制(达到百度上线停止)"));
    auto* layout = new QVBoxLayout(g);
    layout->setSpacing(6);
    layout->addLayout(row({countLabel, dailyLimit_}));
    layout->addWidget(limitNote);
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
    // Checked before anything is written: a refused save leaves the file as
    // it was, so that the next share does not meet settings it must refuse.
    Expected<ShareOptions> options = collectShareOptions(current);
    if (!options) {
        showBox(this, QMessageBox::NoIcon, QStringLiteral("信息："),
                QString::fromStdString(options.error().message));
        return std::nullopt;
    }
    if (const Status written = saveSettingsForm(file_, current); !written) {
        showBox(this, QMessageBox::Warning, QStringLiteral("提示"),
                QStringLiteral("保存失败：") + QString::fromStdString(written.error().message));
        return std::nullopt;
    }
    emit saved(*options);
    showBox(this, QMessageBox::Information, QStringLiteral("提示"), QStringLiteral("保存成功"));
    accept();
    return *options;
}

} // namespace vantorel::gui
