#include "ui/records_model.h"

#include "base/text.h"
#include "records/record_store.h"

#include <QColor>
#include <utility>

namespace vantorel::gui {

namespace {

// Rows of a filtered listing read per lock: short enough that a share run
// waiting to record an item is never held up noticeably.
constexpr std::size_t kPageRows = 5000;

const char16_t* const kHeaders[kRecordColumnCount] = {
    u"ID",   u"路径", u"原名称", u"新名称", u"链接", u"密码", u"时间",
    u"大小", u"MD5",  u"缩略图", u"FID",    u"用户", u"选择",
};
constexpr int kWidths[kRecordColumnCount] = {50, 170, 170, 170, 80,  40, 130,
                                             60, 50,  50,  50,  100, 100};

} // namespace

void RecordRows::reserve(std::size_t rows, std::size_t textBytes) {
    ids_.reserve(rows);
    ends_.reserve(rows * kRecordFieldCount);
    text_.reserve(textBytes);
}

void RecordRows::append(const std::array<std::string_view, kRecordFieldCount>& fields) {
    for (std::string_view field : fields) {
        text_.append(field);
        ends_.push_back(text_.size());
    }
    ids_.push_back(textToInt64(fields[kIdColumn]));
}

std::string_view RecordRows::field(std::size_t row, int column) const {
    if (row >= ids_.size() || column < 0 || column >= kRecordFieldCount) {
        return {};
    }
    const std::size_t cell = row * kRecordFieldCount + static_cast<std::size_t>(column);
    const std::size_t begin = cell == 0 ? 0 : ends_[cell - 1];
    return std::string_view(text_).substr(begin, ends_[cell] - begin);
}

Expected<RecordRows> fetchRecordRows(RecordStore& store, const RecordFilter* filter) {
    RecordRows rows;
    std::array<std::string_view, kRecordFieldCount> fields;
    if (filter == nullptr) {
        // The listing query's columns are the grid's, in the grid's order.
        Expected<RecordSet> set = store.selectAll();
        if (!set) {
            return set.error();
        }
        set->first();
        rows.reserve(set->rowCount(), 0);
        while (set->next()) {
            for (int column = 0; column < kRecordFieldCount; ++column) {
                fields[static_cast<std::size_t>(column)] =
                    set->fieldView(static_cast<std::size_t>(column) + 1);
            }
            rows.append(fields);
        }
        return rows;
    }

    RecordFilter page = *filter;
    page.limit = kPageRows;
    for (;;) {
        Expected<std::vector<ShareRecord>> records = store.selectRecords(page);
        if (!records) {
            return records.error();
        }
        for (const ShareRecord& r : *records) {
            const std::string id = std::to_string(r.id);
            fields = {id,          r.path, r.beforename, r.aftername, r.sharelink, r.password,
                      r.sharetime, r.size, r.md5,        r.pic,       r.fid,       r.username};
            rows.append(fields);
        }
        if (records->size() < kPageRows) {
            return rows;
        }
        page.afterId = records->back().id;
    }
}

RecordsModel::RecordsModel(QObject* parent) : QAbstractTableModel(parent) {}

QStringList RecordsModel::headers() {
    QStringList texts;
    for (const char16_t* header : kHeaders) {
        texts.append(QString::fromUtf16(header));
    }
    return texts;
}

int RecordsModel::columnWidth(int column) {
    return column >= 0 && column < kRecordColumnCount ? kWidths[column] : 0;
}

QColor RecordsModel::idColumnShade() {
    return QColor(236, 236, 236);
}

void RecordsModel::setRows(RecordRows rows) {
    beginResetModel();
    rows_ = std::move(rows);
    ticked_.assign(rows_.size(), 0);
    endResetModel();
}

void RecordsModel::clear() {
    setRows(RecordRows{});
}

QString RecordsModel::fieldText(int row, int column) const {
    const std::string_view text = rows_.field(static_cast<std::size_t>(row), column);
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

std::int64_t RecordsModel::rowId(int row) const {
    return row >= 0 && static_cast<std::size_t>(row) < rows_.size()
               ? rows_.id(static_cast<std::size_t>(row))
               : 0;
}

bool RecordsModel::isTicked(int row) const {
    return row >= 0 && static_cast<std::size_t>(row) < ticked_.size() &&
           ticked_[static_cast<std::size_t>(row)] != 0;
}

void RecordsModel::setTicked(int row, bool ticked) {
    if (row < 0 || static_cast<std::size_t>(row) >= ticked_.size()) {
        return;
    }
    ticked_[static_cast<std::size_t>(row)] = ticked ? 1 : 0;
    const QModelIndex cell = index(row, kSelectColumn);
    emit dataChanged(cell, cell, {Qt::CheckStateRole});
}

std::vector<std::int64_t> RecordsModel::tickedIds() const {
    std::vector<std::int64_t> ids;
    for (std::size_t row = 0; row < ticked_.size(); ++row) {
        if (ticked_[row] != 0) {
            ids.push_back(rows_.id(row));
        }
    }
    return ids;
}

int RecordsModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int RecordsModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kRecordColumnCount;
}

QVariant RecordsModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid()) {
        return {};
    }
    const int column = index.column();
    switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole:
        if (column < kRecordFieldCount) {
            return fieldText(index.row(), column);
        }
        return {};
    case Qt::CheckStateRole:
        if (column == kSelectColumn) {
            return isTicked(index.row()) ? Qt::Checked : Qt::Unchecked;
        }
        return {};
    case Qt::BackgroundRole:
        if (column == kIdColumn) {
            return idColumnShade();
        }
        return {};
    default:
        return {};
    }
}

bool RecordsModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (!index.isValid() || index.column() != kSelectColumn || role != Qt::CheckStateRole) {
        return false;
    }
    setTicked(index.row(), value.toInt() == Qt::Checked);
    return true;
}

Qt::ItemFlags RecordsModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) {
        return Qt::NoItemFlags;
    }
    Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (index.column() == kSelectColumn) {
        flags |= Qt::ItemIsUserCheckable;
    }
    return flags;
}

QVariant RecordsModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= kRecordColumnCount) {
        return QAbstractTableModel::headerData(section, orientation, role);
    }
    switch (role) {
    case Qt::DisplayRole:
        return QString::fromUtf16(kHeaders[section]);
    case Qt::TextAlignmentRole:
        return QVariant::fromValue(Qt::Alignment(Qt::AlignCenter));
    default:
        return {};
    }
}

} // namespace vantorel::gui
