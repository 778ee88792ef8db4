#include "ui/records_window.h"

#include "base/text.h"
#include "records/record_export.h"
#include "records/record_store.h"
#include "settings/settings_form.h"
#include "ui/ui_wait.h"
#include "ui/window_util.h"

#include <QCalendarWidget>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDateEdit>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>
#include <array>

namespace vantorel::gui {

namespace {

constexpr QSize kOuterSize(1264, 765);
const QString kDateFormat = QStringLiteral("yyyy-MM-dd");
constexpr int kRowHeight = 22;
constexpr int kDeleteSelectedPauseMs = 1000;

const QString kTxtFilter = QStringLiteral("文本文件(*.txt)");
const QString kCsvFilter = QStringLiteral("CSV 文件(*.csv)");

struct ExportBox {
    const char16_t* name;
    const char16_t* caption;
    int row; // in the group, as designed: six boxes above, four below
    int field;
};

const ExportBox kExportBoxes[] = {
    {u"选择框_ID_导出", u"ID", 0, kIdColumn},
    {u"选择框_路径_导出", u"路径", 0, kPathColumn},
    {u"选择框_原名称_导出", u"原名称", 0, kBeforeNameColumn},
    {u"选择框_新名称_导出", u"新名称", 0, kAfterNameColumn},
    {u"选择框_链接_导出", u"链接", 0, kLinkColumn},
    {u"选择框_密码_导出", u"密码", 0, kCodeColumn},
    {u"选择框_分享时间_导出", u"分享时间", 1, kTimeColumn},
    {u"选择框_大小_导出", u"大小", 1, kSizeColumn},
    {u"选择框_MD5_导出", u"MD5", 1, kMd5Column},
    {u"选择框_用户名_导出", u"用户名", 1, kUserColumn},
};

template <class Widget> Widget* named(Widget* widget, const char16_t* name) {
    widget->setObjectName(QString::fromUtf16(name));
    return widget;
}

QLabel* transparentLabel(QWidget* parent, const char16_t* name, const QString& text) {
    auto* label = named(new QLabel(text, parent), name);
    label->setAttribute(Qt::WA_TranslucentBackground);
    label->setStyleSheet(QStringLiteral("background: transparent;"));
    return label;
}

// Every date box shows one format; the calendar is made here, so that it
// takes the window's font before its popup measures itself.
QDateEdit* dateBox(QWidget* parent, const char16_t* name) {
    auto* box = named(new QDateEdit(QDate::currentDate(), parent), name);
    box->setDisplayFormat(kDateFormat);
    box->setCalendarPopup(true);
    auto* calendar = new QCalendarWidget(box);
    calendar->setObjectName(QStringLiteral("日历"));
    calendar->setFont(uiFont(12));
    calendar->setGridVisible(false);
    calendar->setVerticalHeaderFormat(QCalendarWidget::NoVerticalHeader);
    box->setCalendarWidget(calendar);
    return box;
}

QLineEdit* lineEdit(QWidget* parent, const char16_t* name) {
    auto* edit = named(new QLineEdit(parent), name);
    edit->setMinimumWidth(60);
    return edit;
}

std::string utf8(const QString& text) {
    return text.toStdString();
}

std::string trimmed(const QString& text) {
    return std::string(trimBlanks(utf8(text)));
}

// The save dialog of the export: text or CSV, "txt" unless CSV is chosen.
ExportTarget askForExportFile(QWidget* parent) {
    QFileDialog dialog(parent, QStringLiteral("导出"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilters({kTxtFilter, kCsvFilter});
    dialog.setDefaultSuffix(QStringLiteral("txt"));
    QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog, [&dialog](const QString& f) {
        dialog.setDefaultSuffix(f == kCsvFilter ? QStringLiteral("csv") : QStringLiteral("txt"));
    });
    dialog.selectFile(QStringLiteral("分享链接.txt"));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return {};
    }
    return {dialog.selectedFiles().first(), dialog.selectedNameFilter()};
}

} // namespace

Expected<std::size_t> writeRecordsFile(const RecordsModel& model, const QList<int>& columns,
                                       const QString& path, bool csv,
                                       std::span<const std::filesystem::path> protectedFiles) {
    const QStringList titles = RecordsModel::headers();
    ExportTable table{.rowCount = static_cast<std::size_t>(model.rowCount()),
                      .cell = [&](std::size_t row, std::size_t column) {
                          return model.rows().field(row, columns[static_cast<qsizetype>(column)]);
                      }};
    for (const int column : columns) {
        table.headers.push_back(titles.value(column).toStdString());
    }
    return writeExportFile(std::filesystem::path(path.toStdString()), table,
                           csv ? ExportFormat::Csv : ExportFormat::Tsv, protectedFiles);
}

RecordsWindow::RecordsWindow(RecordStore& store, QWidget* parent)
    : QDialog(parent, dialogFlags()), store_(store), chooseFile_(askForExportFile) {
    setObjectName(QStringLiteral("RecordsWindow"));
    setWindowTitle(QStringLiteral("管理分享链接"));
    // Not modal: the main window's stop button and progress stay in reach
    // while the records are looked at.
    setModal(false);
    setFont(uiFont(12));

    buildConditionGroup();
    buildExportGroup();
    buildGrid();
    buildShareWork();

    deleteSelected_ = named(new QPushButton(QStringLiteral("删除选择"), this), u"按钮_删除选择");
    count_ = named(new QLabel(this), u"标签_记录数");
    status_ = named(new QLabel(this), u"标签_状态");
    status_->setTextInteractionFlags(Qt::TextSelectableByMouse);

    // Conditions and export side by side above the grid, which takes the
    // room the window has; the counts, the status line and 删除选择 below.
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 6, 6, 6);
    layout->setSpacing(6);
    auto* top = new QHBoxLayout;
    top->addWidget(conditionGroup_, 1);
    top->addWidget(exportGroup_);
    layout->addLayout(top);
    layout->addWidget(grid_, 1);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(count_);
    bottom->addSpacing(12);
    bottom->addWidget(status_, 1);
    bottom->addWidget(workProgress_);
    bottom->addWidget(stopWork_);
    bottom->addWidget(sync_);
    bottom->addWidget(cancel_);
    bottom->addWidget(reshare_);
    bottom->addWidget(deleteSelected_);
    layout->addLayout(bottom);

    for (QPushButton* button :
         {query_, deleteAll_, export_, deleteSelected_, sync_, cancel_, reshare_, stopWork_}) {
        button->setAutoDefault(false);
    }
    connect(query_, &QPushButton::clicked, this, [this] { query(); });
    connect(deleteAll_, &QPushButton::clicked, this, [this] { deleteAll(); });
    connect(deleteSelected_, &QPushButton::clicked, this, [this] { deleteSelected(); });
    connect(export_, &QPushButton::clicked, this, [this] { exportRows(); });
    connect(model_, &QAbstractItemModel::dataChanged, this, [this] { showTickedCount(); });
    connect(model_, &QAbstractItemModel::modelReset, this, [this] { showTickedCount(); });

    setFontThroughout(*this, uiFont(12));
    fitMinimumToLayout(*this);
    placeCentred(*this, kOuterSize);

    // It opens on the ledger, as if 查询 had been pressed.
    query();
}

void RecordsWindow::buildConditionGroup() {
    conditionGroup_ = named(new QGroupBox(QStringLiteral("查询条件"), this), u"分组框1");
    QGroupBox* g = conditionGroup_;

    QLabel* idLabel = transparentLabel(g, u"透明标签1", QStringLiteral("ID:"));
    id_ = lineEdit(g, u"编辑框_id");
    QLabel* beforeLabel = transparentLabel(g, u"透明标签3", QStringLiteral("原名称:"));
    beforeName_ = lineEdit(g, u"编辑框_原名称");
    QLabel* afterLabel = transparentLabel(g, u"透明标签6", QStringLiteral("新名称:"));
    afterName_ = lineEdit(g, u"编辑框_改后名称");
    kind_ = named(new QComboBox(g), u"组合框_名称_类型");
    kind_->addItems({QStringLiteral("所有"), QStringLiteral("文件"), QStringLiteral("文件夹")});
    QLabel* stateLabel = transparentLabel(g, u"透明标签7", QStringLiteral("状态:"));
    state_ = named(new QComboBox(g), u"组合框_状态");
    state_->addItems({QStringLiteral("所有"), QStringLiteral("有效"), QStringLiteral("已过期"),
                      QStringLiteral("已屏蔽"), QStringLiteral("已失效"),
                      QStringLiteral("未同步")});

    QLabel* userLabel = transparentLabel(g, u"透明标签2", QStringLiteral("所属用户:"));
    user_ = lineEdit(g, u"编辑框_所属用户");
    QLabel* timeLabel = transparentLabel(g, u"透明标签4", QStringLiteral("分享时间:"));
    exactDateBox_ = named(new QCheckBox(g), u"选择框_选择日期_精确");
    exactDate_ = dateBox(g, u"日期框_精确");
    rangeDateBox_ = named(new QCheckBox(g), u"选择框_选择日期_范围");
    rangeFrom_ = dateBox(g, u"日期框_范围_前");
    QLabel* to = transparentLabel(g, u"透明标签5", QStringLiteral("到"));
    rangeTo_ = dateBox(g, u"日期框_范围_后");

    query_ = named(new QPushButton(QStringLiteral("查询"), g), u"按钮_查询");
    deleteAll_ = named(new QPushButton(QStringLiteral("删除所有"), g), u"按钮_清空");

    // Two rows as designed: the names and the type above, the user and the
    // share dates below; 查询 and 删除所有 at the right end of each.
    const auto line = [](std::initializer_list<QWidget*> widgets) {
        auto* layout = new QHBoxLayout;
        layout->setSpacing(4);
        for (QWidget* widget : widgets) {
            layout->addWidget(widget, widget->inherits("QLineEdit") ? 1 : 0);
        }
        return layout;
    };
    auto* grid = new QGridLayout(g);
    grid->setHorizontalSpacing(10);
    grid->setVerticalSpacing(8);
    grid->addLayout(line({idLabel, id_, beforeLabel, beforeName_, afterLabel, afterName_, kind_,
                          stateLabel, state_}),
                    0, 0);
    grid->addLayout(line({userLabel, user_, timeLabel, exactDateBox_, exactDate_, rangeDateBox_,
                          rangeFrom_, to, rangeTo_}),
                    1, 0);
    grid->addWidget(query_, 0, 1);
    grid->addWidget(deleteAll_, 1, 1);
    grid->setColumnStretch(0, 1);

    connect(exactDateBox_, &QCheckBox::clicked, this, [this](bool checked) {
        if (checked) {
            rangeDateBox_->setChecked(false);
        }
    });
    connect(rangeDateBox_, &QCheckBox::clicked, this, [this](bool checked) {
        if (checked) {
            exactDateBox_->setChecked(false);
        }
    });
}

void RecordsWindow::buildExportGroup() {
    exportGroup_ = named(new QGroupBox(QStringLiteral("导出条件"), this), u"分组框2");
    // Three rows, each as wide as its own boxes: six boxes, four boxes, 导出.
    auto* rows = new QVBoxLayout(exportGroup_);
    rows->setSpacing(6);
    std::array<QHBoxLayout*, 3> line{};
    for (QHBoxLayout*& l : line) {
        l = new QHBoxLayout;
        l->setSpacing(6);
        rows->addLayout(l);
    }
    for (const ExportBox& box : kExportBoxes) {
        auto* check = named(new QCheckBox(QString::fromUtf16(box.caption), exportGroup_), box.name);
        check->setProperty("column", box.field);
        line[static_cast<std::size_t>(box.row)]->addWidget(check);
        exportBoxes_.append(check);
    }
    export_ = named(new QPushButton(QStringLiteral("导出"), exportGroup_), u"按钮_导出");
    line[2]->addWidget(export_);
    for (QHBoxLayout* l : line) {
        l->addStretch(1);
    }
}

void RecordsWindow::buildGrid() {
    model_ = new RecordsModel(this);
    grid_ = named(new QTableView(this), u"高级表格1");
    grid_->setMinimumHeight(120);
    grid_->setModel(model_);
    grid_->setSelectionBehavior(QAbstractItemView::SelectRows);
    grid_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    grid_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grid_->setWordWrap(false);
    grid_->setTextElideMode(Qt::ElideRight);
    grid_->setContextMenuPolicy(Qt::CustomContextMenu);

    // Every row the same height and no measuring of contents: a listing of a
    // large ledger must not visit each row.
    QHeaderView* rows = grid_->verticalHeader();
    rows->hide();
    rows->setSectionResizeMode(QHeaderView::Fixed);
    rows->setDefaultSectionSize(kRowHeight);

    QHeaderView* header = grid_->horizontalHeader();
    header->setDefaultAlignment(Qt::AlignCenter);
    header->setSectionResizeMode(QHeaderView::Interactive);
    header->setHighlightSections(false);
    for (int column = 0; column < kRecordColumnCount; ++column) {
        grid_->setColumnWidth(column, RecordsModel::columnWidth(column));
    }
    // The share's state beside its link and code, where it is seen without
    // scrolling; the model keeps it after the ledger's fields.
    header->moveSection(kStateColumn, kTimeColumn);
    header->moveSection(kDaysLeftColumn, kTimeColumn + 1);

    connect(grid_, &QTableView::customContextMenuRequested, this,
            [this](const QPoint& pos) { openContextMenu(pos); });
}

std::optional<RecordFilter> RecordsWindow::conditions() const {
    RecordFilter filter;
    bool any = false;
    if (const std::string id = trimmed(id_->text()); !id.empty()) {
        // Read as every number the program reads: full-width digits count,
        // and text without a number matches no record.
        filter.id = textToInt64(id);
        any = true;
    }
    if (std::string name = trimmed(beforeName_->text()); !name.empty()) {
        filter.beforeNameContains = std::move(name);
        any = true;
    }
    if (std::string name = trimmed(afterName_->text()); !name.empty()) {
        filter.afterNameContains = std::move(name);
        any = true;
    }
    if (kind_->currentIndex() == 1) {
        filter.kind = ItemKind::File;
        any = true;
    } else if (kind_->currentIndex() == 2) {
        filter.kind = ItemKind::Folder;
        any = true;
    }
    if (std::string user = trimmed(user_->text()); !user.empty()) {
        filter.username = std::move(user);
        any = true;
    }
    const auto day = [](const QDateEdit* box) {
        return utf8(box->date().toString(kDateFormat));
    };
    if (exactDateBox_->isChecked()) {
        filter.sharedFrom = filter.sharedTo = day(exactDate_);
        any = true;
    } else if (rangeDateBox_->isChecked()) {
        filter.sharedFrom = day(rangeFrom_);
        filter.sharedTo = day(rangeTo_);
        any = true;
    }
    if (!any) {
        return std::nullopt;
    }
    return filter;
}

void RecordsWindow::setSaveFileChooser(SaveFileChooser chooser) {
    chooseFile_ = chooser ? std::move(chooser) : SaveFileChooser(askForExportFile);
}

QString RecordsWindow::deleteAllWord() {
    return QStringLiteral("删除所有分享记录");
}

QString RecordsWindow::deleteAllPrompt() {
    return QStringLiteral("确定,删除所有分享记录吗? 确定删除,请输入 \"") + deleteAllWord() +
           QLatin1Char('"');
}

bool RecordsWindow::rangeInverted() const {
    return rangeDateBox_->isChecked() && !exactDateBox_->isChecked() &&
           rangeTo_->date() < rangeFrom_->date();
}

QString RecordsWindow::protectedFileMessage(const QString& path) {
    return QStringLiteral("导出失败：%1 是分享记录库或设置文件,导出会覆盖它。请另选一个文件。")
        .arg(QDir::toNativeSeparators(path));
}

QString RecordsWindow::invertedRangeMessage() {
    return QStringLiteral("结束日期不能早于开始日期,请重新选择分享时间的范围。");
}

void RecordsWindow::query() {
    if (rangeInverted()) {
        // A range that ends before it starts holds no day: saying so beats
        // an empty grid that looks like an empty ledger.
        report(invertedRangeMessage());
        return;
    }
    lastChoice_ = static_cast<StateChoice>(std::max(0, state_->currentIndex()));
    list(conditions());
}

void RecordsWindow::showTickedCount() {
    const std::size_t ticked = model_->tickedIds().size();
    deleteSelected_->setText(ticked == 0 ? QStringLiteral("删除选择")
                                         : QStringLiteral("删除选择 (%1)").arg(ticked));
}

void RecordsWindow::showStatus(const QString& text) {
    status_->setText(text);
}

QString RecordsWindow::deleteSelectedQuestion(std::size_t count) {
    return QStringLiteral("彻底从记录里面删除,所选 %1 条记录.").arg(count);
}

void RecordsWindow::list(const std::optional<RecordFilter>& filter) {
    lastFilter_ = filter;
    listed_ = true;
    Expected<RecordRows> rows = fetchRecordRows(store_, filter ? &*filter : nullptr, lastChoice_);
    if (!rows) {
        model_->clear();
        count_->clear();
        report(QStringLiteral("查询失败：") + QString::fromStdString(rows.error().message), true);
        return;
    }
    model_->setRows(std::move(rows.value()));
    count_->setText(QStringLiteral("共 %1 条记录").arg(model_->rowCount()));
}

void RecordsWindow::relist() {
    if (listed_) {
        list(lastFilter_);
    }
}

void RecordsWindow::deleteAll() {
    QInputDialog box(this);
    box.setWindowTitle(QString());
    box.setInputMode(QInputDialog::TextInput);
    box.setLabelText(deleteAllPrompt());
    box.setTextValue(QString());
    box.setOkButtonText(QStringLiteral("确定"));
    box.setCancelButtonText(QStringLiteral("取消"));
    if (box.exec() != QDialog::Accepted || box.textValue() != deleteAllWord()) {
        return;
    }
    if (const Status deleted = store_.deleteAll(); deleted) {
        QMessageBox done(QMessageBox::NoIcon, QStringLiteral("信息："), QStringLiteral("删除成功"),
                         QMessageBox::Ok, this);
        done.exec();
    } else {
        report(QStringLiteral("删除失败：") + QString::fromStdString(deleted.error().message),
               true);
    }
    query();
}

void RecordsWindow::deleteSelected() {
    const QPointer<RecordsWindow> self(this);
    deleteSelected_->setEnabled(false);
    const std::vector<std::int64_t> ids = model_->tickedIds();
    if (ids.empty()) {
        report(QStringLiteral("请先在“选择”一栏勾选要删除的记录。"));
    } else if (confirm(deleteSelectedQuestion(ids.size()))) {
        if (deleteRecords(ids)) {
            showStatus(QStringLiteral("已删除 %1 条记录").arg(ids.size()));
        }
    }
    // A second press right after the first finds the button still disabled.
    waitPumping(kDeleteSelectedPauseMs);
    if (self != nullptr) {
        deleteSelected_->setEnabled(true);
    }
}

bool RecordsWindow::deleteRecords(const std::vector<std::int64_t>& ids) {
    const Expected<std::size_t> deleted = store_.deleteByIds(ids);
    if (!deleted) {
        report(QStringLiteral("删除失败：") + QString::fromStdString(deleted.error().message),
               true);
    }
    relist();
    return deleted.hasValue();
}

bool RecordsWindow::confirm(const QString& text) {
    QMessageBox box(QMessageBox::Question, QStringLiteral("确定删除?"), text,
                    QMessageBox::Ok | QMessageBox::Cancel, this);
    box.button(QMessageBox::Ok)->setText(QStringLiteral("确定"));
    box.button(QMessageBox::Cancel)->setText(QStringLiteral("取消"));
    box.setDefaultButton(QMessageBox::Cancel);
    return box.exec() == QMessageBox::Ok;
}

void RecordsWindow::report(const QString& text, bool failure) {
    QMessageBox box(failure ? QMessageBox::Warning : QMessageBox::Information,
                    QStringLiteral("提示"), text, QMessageBox::Ok, this);
    box.exec();
}

void RecordsWindow::exportRows() {
    if (model_->rowCount() == 0) {
        report(QStringLiteral("没有可导出的记录，请先查询。"));
        return;
    }
    ExportTarget target = chooseFile_(this);
    if (target.path.isEmpty()) {
        return;
    }
    const QString suffix = QFileInfo(target.path).suffix().toLower();
    bool csv = target.filter.contains(QStringLiteral("*.csv"), Qt::CaseInsensitive);
    if (suffix == QStringLiteral("csv")) {
        csv = true;
    } else if (suffix == QStringLiteral("txt")) {
        csv = false;
    } else if (suffix.isEmpty()) {
        target.path += csv ? QStringLiteral(".csv") : QStringLiteral(".txt");
    }

    QList<int> columns;
    for (const QCheckBox* box : exportBoxes_) {
        if (box->isChecked()) {
            columns.append(box->property("column").toInt());
        }
    }
    if (columns.isEmpty()) {
        for (const QCheckBox* box : exportBoxes_) {
            columns.append(box->property("column").toInt());
        }
    }

    // The ledger and set.ini of the data directory are never overwritten,
    // whatever the dialog was given.
    const std::filesystem::path ledger = store_.path();
    const auto kept = exportProtectedFiles(
        ledger, ledger.empty() ? std::filesystem::path() : settingsFilePath(ledger.parent_path()));
    const Expected<std::size_t> written =
        writeRecordsFile(*model_, columns, target.path, csv, kept);
    if (!written) {
        if (written.error().code == static_cast<int>(ExportFailure::ProtectedFile)) {
            report(protectedFileMessage(target.path), true);
        } else {
            report(QStringLiteral("导出失败：") + QString::fromStdString(written.error().message),
                   true);
        }
        return;
    }
    report(QStringLiteral("已导出 %1 条记录到 %2")
               .arg(*written)
               .arg(QDir::toNativeSeparators(target.path)));
}

void RecordsWindow::openContextMenu(const QPoint& viewportPos) {
    const QModelIndex at = grid_->indexAt(viewportPos);
    if (!at.isValid()) {
        return;
    }
    const int row = at.row();
    grid_->selectRow(row);
    const QString link = model_->fieldText(row, kLinkColumn);
    const QString code = model_->fieldText(row, kCodeColumn);
    const std::int64_t id = model_->rowId(row);

    QMenu menu(this);
    menu.setObjectName(QStringLiteral("菜单_记录"));
    menu.addAction(QStringLiteral("复制链接"), this, [this, link] {
        QGuiApplication::clipboard()->setText(link);
        showStatus(QStringLiteral("已复制链接: ") + link);
    });
    menu.addAction(QStringLiteral("复制链接和密码"), this, [this, link, code] {
        const QString text = code.isEmpty() ? link : link + QStringLiteral(" 提取码: ") + code;
        QGuiApplication::clipboard()->setText(text);
        showStatus(QStringLiteral("已复制链接和密码: ") + text);
    });
    if (shareWork_ != nullptr) {
        menu.addSeparator();
        QAction* cancel =
            menu.addAction(QStringLiteral("取消分享"), this, [this] { cancelShares(); });
        QAction* again = menu.addAction(QStringLiteral("重新分享"), this, [this] { reshare(); });
        cancel->setEnabled(!shareWorkRunning());
        again->setEnabled(!shareWorkRunning());
    }
    menu.addSeparator();
    menu.addAction(QStringLiteral("删除此记录"), this, [this, id] {
        if (confirm(QStringLiteral("彻底从记录里面删除,此记录.")) && deleteRecords({id})) {
            showStatus(QStringLiteral("已删除 1 条记录"));
        }
    });
    menu.exec(grid_->viewport()->mapToGlobal(viewportPos));
}

} // namespace vantorel::gui
