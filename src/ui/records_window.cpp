#include "ui/records_window.h"

#include "app/ui_wait.h"
#include "base/text.h"
#include "records/record_store.h"
#include "ui/window_util.h"

#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDateEdit>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHeaderView>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QSaveFile>
#include <QTableView>

namespace vantorel::gui {

namespace {

constexpr QSize kOuterSize(1264, 765);
constexpr int kRowHeight = 22;
constexpr int kDeleteSelectedPauseMs = 1000;

const QString kTxtFilter = QStringLiteral("文本文件(*.txt)");
const QString kCsvFilter = QStringLiteral("CSV 文件(*.csv)");

struct ExportBox {
    const char16_t* name;
    const char16_t* caption;
    QRect geometry;
    int column;
};

const ExportBox kExportBoxes[] = {
    {u"选择框_ID_导出", u"ID", QRect(8, 22, 40, 20), kIdColumn},
    {u"选择框_路径_导出", u"路径", QRect(48, 22, 54, 20), kPathColumn},
    {u"选择框_原名称_导出", u"原名称", QRect(102, 22, 68, 20), kBeforeNameColumn},
    {u"选择框_新名称_导出", u"新名称", QRect(170, 22, 60, 20), kAfterNameColumn},
    {u"选择框_链接_导出", u"链接", QRect(230, 22, 48, 20), kLinkColumn},
    {u"选择框_密码_导出", u"密码", QRect(278, 22, 48, 20), kCodeColumn},
    {u"选择框_分享时间_导出", u"分享时间", QRect(9, 47, 90, 20), kTimeColumn},
    {u"选择框_大小_导出", u"大小", QRect(102, 47, 60, 20), kSizeColumn},
    {u"选择框_MD5_导出", u"MD5", QRect(170, 47, 56, 20), kMd5Column},
    {u"选择框_用户名_导出", u"用户名", QRect(230, 47, 70, 20), kUserColumn},
};

template <class Widget> Widget* place(Widget* widget, const char16_t* name, QRect geometry) {
    widget->setObjectName(QString::fromUtf16(name));
    widget->setGeometry(geometry);
    return widget;
}

QLabel* transparentLabel(QWidget* parent, const char16_t* name, const QString& text,
                         QRect geometry) {
    auto* label = place(new QLabel(text, parent), name, geometry);
    label->setAttribute(Qt::WA_TranslucentBackground);
    label->setStyleSheet(QStringLiteral("background: transparent;"));
    return label;
}

QDateEdit* dateBox(QWidget* parent, const char16_t* name, QRect geometry) {
    auto* box = place(new QDateEdit(QDate::currentDate(), parent), name, geometry);
    box->setCalendarPopup(true);
    return box;
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

QString oneLine(QString value) {
    for (QChar& c : value) {
        if (c == QLatin1Char('\t') || c == QLatin1Char('\r') || c == QLatin1Char('\n')) {
            c = QLatin1Char(' ');
        }
    }
    return value;
}

QString csvField(const QString& value) {
    static const QString special = QStringLiteral(",\"\r\n");
    bool quote = false;
    for (const QChar c : value) {
        quote = quote || special.contains(c);
    }
    if (!quote) {
        return value;
    }
    QString escaped = value;
    escaped.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + escaped + QLatin1Char('"');
}

} // namespace

Expected<std::size_t> writeRecordsFile(const RecordsModel& model, const QList<int>& columns,
                                       const QString& path, bool csv) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        return Error{file.errorString().toStdString()};
    }
    const QString separator = csv ? QStringLiteral(",") : QStringLiteral("\t");
    const QString lineEnd = csv ? QStringLiteral("\r\n") : QStringLiteral("\n");
    const QStringList headers = RecordsModel::headers();
    const auto line = [&](const auto& valueOf) {
        QString text;
        for (qsizetype i = 0; i < columns.size(); ++i) {
            if (i != 0) {
                text += separator;
            }
            const QString value = valueOf(columns[i]);
            text += csv ? csvField(value) : oneLine(value);
        }
        text += lineEnd;
        return text.toUtf8();
    };

    QByteArray bytes;
    if (csv) {
        bytes = QByteArrayLiteral("\xEF\xBB\xBF"); // spreadsheets then read UTF-8
    }
    bytes += line([&](int column) { return headers.value(column); });
    const int rows = model.rowCount();
    for (int row = 0; row < rows; ++row) {
        bytes += line([&](int column) { return model.fieldText(row, column); });
        if (bytes.size() > (1 << 20)) {
            if (file.write(bytes) != bytes.size()) {
                return Error{file.errorString().toStdString()};
            }
            bytes.clear();
        }
    }
    if (file.write(bytes) != bytes.size() || !file.commit()) {
        return Error{file.errorString().toStdString()};
    }
    return static_cast<std::size_t>(rows);
}

RecordsWindow::RecordsWindow(RecordStore& store, QWidget* parent)
    : QDialog(parent, fixedDialogFlags()), store_(store), chooseFile_(askForExportFile) {
    setObjectName(QStringLiteral("RecordsWindow"));
    setWindowTitle(QStringLiteral("管理分享链接"));
    setModal(true);

    buildConditionGroup();
    buildExportGroup();
    buildGrid();

    deleteSelected_ = place(new QPushButton(QStringLiteral("删除选择"), this), u"按钮_删除选择",
                            QRect(1064, 680, 78, 30));
    count_ = place(new QLabel(this), u"标签_记录数", QRect(8, 684, 400, 22));

    for (QPushButton* button : {query_, deleteAll_, export_, deleteSelected_}) {
        button->setAutoDefault(false);
    }
    connect(query_, &QPushButton::clicked, this, [this] { query(); });
    connect(deleteAll_, &QPushButton::clicked, this, [this] { deleteAll(); });
    connect(deleteSelected_, &QPushButton::clicked, this, [this] { deleteSelected(); });
    connect(export_, &QPushButton::clicked, this, [this] { exportRows(); });

    setFontThroughout(*this, uiFont(12));
    placeCentred(*this, kOuterSize, true);
}

void RecordsWindow::buildConditionGroup() {
    conditionGroup_ =
        place(new QGroupBox(QStringLiteral("查询条件"), this), u"分组框1", QRect(5, 6, 909, 101));
    QGroupBox* g = conditionGroup_;

    transparentLabel(g, u"透明标签1", QStringLiteral("ID:"), QRect(44, 30, 20, 16));
    id_ = place(new QLineEdit(g), u"编辑框_id", QRect(82, 28, 103, 19));
    transparentLabel(g, u"透明标签3", QStringLiteral("原名称:"), QRect(229, 28, 44, 16));
    beforeName_ = place(new QLineEdit(g), u"编辑框_原名称", QRect(291, 25, 103, 19));
    transparentLabel(g, u"透明标签6", QStringLiteral("新名称:"), QRect(426, 28, 43, 16));
    afterName_ = place(new QLineEdit(g), u"编辑框_改后名称", QRect(475, 25, 103, 19));
    kind_ = place(new QComboBox(g), u"组合框_名称_类型", QRect(610, 25, 74, 20));
    kind_->addItems({QStringLiteral("所有"), QStringLiteral("文件"), QStringLiteral("文件夹")});

    transparentLabel(g, u"透明标签4", QStringLiteral("分享时间:"), QRect(219, 61, 55, 16));
    // The exact date is shown after four blanks: its check box sits on the
    // left end of the date box, in front of it.
    exactDate_ = dateBox(g, u"日期框_精确", QRect(289, 58, 121, 23));
    exactDate_->setDisplayFormat(QStringLiteral("    yyyy-MM-dd"));
    exactDateBox_ = place(new QCheckBox(g), u"选择框_选择日期_精确", QRect(283, 60, 15, 18));
    exactDateBox_->raise();
    rangeDateBox_ = place(new QCheckBox(g), u"选择框_选择日期_范围", QRect(421, 60, 17, 20));
    rangeFrom_ = dateBox(g, u"日期框_范围_前", QRect(439, 57, 171, 25));
    transparentLabel(g, u"透明标签5", QStringLiteral("到"), QRect(616, 59, 14, 18));

    query_ =
        place(new QPushButton(QStringLiteral("查询"), g), u"按钮_查询", QRect(812, 17, 78, 26));
    deleteAll_ =
        place(new QPushButton(QStringLiteral("删除所有"), g), u"按钮_清空", QRect(814, 60, 78, 30));

    // These three stand in the window, over the group box.
    rangeTo_ = dateBox(this, u"日期框_范围_后", QRect(642, 63, 167, 23));
    transparentLabel(this, u"透明标签2", QStringLiteral("所属用户:"), QRect(15, 69, 55, 16));
    user_ = place(new QLineEdit(this), u"编辑框_所属用户", QRect(86, 67, 103, 19));

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
    exportGroup_ =
        place(new QGroupBox(QStringLiteral("导出条件"), this), u"分组框2", QRect(924, 5, 327, 101));
    for (const ExportBox& box : kExportBoxes) {
        auto* check = place(new QCheckBox(QString::fromUtf16(box.caption), exportGroup_), box.name,
                            box.geometry);
        check->setProperty("column", box.column);
        exportBoxes_.append(check);
    }
    export_ = place(new QPushButton(QStringLiteral("导出"), exportGroup_), u"按钮_导出",
                    QRect(106, 72, 78, 20));
}

void RecordsWindow::buildGrid() {
    model_ = new RecordsModel(this);
    grid_ = place(new QTableView(this), u"高级表格1", QRect(6, 110, 1247, 543));
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
        return utf8(box->date().toString(QStringLiteral("yyyy-MM-dd")));
    };
    if (exactDateBox_->isChecked()) {
        filter.sharedFrom = filter.sharedTo = day(exactDate_);
        any = true;
    } else if (rangeDateBox_->isChecked()) {
        // Either order of the two dates means the days between them.
        const bool reversed = rangeTo_->date() < rangeFrom_->date();
        filter.sharedFrom = day(reversed ? rangeTo_ : rangeFrom_);
        filter.sharedTo = day(reversed ? rangeFrom_ : rangeTo_);
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

void RecordsWindow::query() {
    list(conditions());
}

void RecordsWindow::list(const std::optional<RecordFilter>& filter) {
    lastFilter_ = filter;
    listed_ = true;
    Expected<RecordRows> rows = fetchRecordRows(store_, filter ? &*filter : nullptr);
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
    } else if (confirm(QStringLiteral("彻底从记录里面删除,所选."))) {
        deleteRecords(ids);
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

    const Expected<std::size_t> written = writeRecordsFile(*model_, columns, target.path, csv);
    if (!written) {
        report(QStringLiteral("导出失败：") + QString::fromStdString(written.error().message),
               true);
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
    menu.addAction(QStringLiteral("复制链接"), this,
                   [link] { QGuiApplication::clipboard()->setText(link); });
    menu.addAction(QStringLiteral("复制链接和密码"), this, [link, code] {
        QGuiApplication::clipboard()->setText(
            code.isEmpty() ? link : link + QStringLiteral(" 提取码: ") + code);
    });
    menu.addSeparator();
    menu.addAction(QStringLiteral("删除此记录"), this, [this, id] {
        if (confirm(QStringLiteral("彻底从记录里面删除,此记录."))) {
            deleteRecords({id});
        }
    });
    menu.exec(grid_->viewport()->mapToGlobal(viewportPos));
}

} // namespace vantorel::gui
