#include "ui/records_model.h"

#include "base/text.h"
#include "base/time_text.h"
#include "records/record_store.h"

#include <QColor>
#include <algorithm>
#include <utility>

namespace vantorel::gui {

namespace {

// Rows of a filtered listing read per lock: short enough that a share run
// waiting to record an item is never held up noticeably.
constexpr std::size_t kPageRows = 5000;

const char16_t* const kHeaders[kRecordColumnCount] = {
    u"ID",  u"路径",   u"原名称", u"新名称", u"链接", u"密码",     u"时间", u"大小",
    u"MD5", u"缩略图", u"FID",    u"用户",   u"状态", u"剩余天数", u"选择",
};
constexpr int kWidths[kRecordColumnCount] = {50, 170, 170, 170, 80, 40, 130, 60,
                                             50, 50,  50,  100, 60, 70, 100};

bool keeps(StateChoice choice, const RowShare& share) {
    switch (choice) {
    case StateChoice::Any:
        return true;
    case StateChoice::Unchecked:
        return !share.state;
    case StateChoice::Active:
        return share.state == ShareState::Active;
    case StateChoice::Expired:
        return share.state == ShareState::Expired;
    case StateChoice::Blocked:
        return share.state == ShareState::Blocked;
    case StateChoice::Gone:
        return share.state == ShareState::Gone;
    }
    return true;
}

RowShare rowShare(const ShareStatus& status, std::int64_t now) {
    RowShare share{.state = status.state};
    if (status.state == ShareState::Active && status.expiredType == 0) {
        share.daysLeft = RowShare::kPermanent;
    } else if (const std::optional<std::int64_t> days = daysLeft(status, now)) {
        share.daysLeft = static_cast<std::int32_t>(*days);
    }
    return share;
}

QString utf8Text(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

} // namespace

void RecordRows::reserve(std::size_t rows, std::size_t textBytes) {
    ids_.reserve(rows);
    ends_.reserve(rows * kRecordFieldCount);
    text_.reserve(textBytes);
}

void RecordRows::append(const std::array<std::string_view, kRecordFieldCount>& fields,
                        RowShare share) {
    for (std::string_view field : fields) {
        text_.append(field);
        ends_.push_back(text_.size());
    }
    ids_.push_back(textToInt64(fields[kIdColumn]));
    shares_.push_back(share);
}

void RecordRows::setShares(const std::vector<ShareStatus>& statuses, std::int64_t now) {
    shares_.assign(ids_.size(), RowShare{});
    // The rows come in id order, whatever the listing.
    for (const ShareStatus& status : statuses) {
        const auto row = std::lower_bound(ids_.begin(), ids_.end(), status.recordId);
        if (row != ids_.end() && *row == status.recordId) {
            shares_[static_cast<std::size_t>(row - ids_.begin())] = rowShare(status, now);
        }
    }
}

RecordRows RecordRows::keeping(StateChoice choice) const {
    RecordRows kept;
    std::array<std::string_view, kRecordFieldCount> fields;
    for (std::size_t row = 0; row < size(); ++row) {
        if (!keeps(choice, shares_[row])) {
            continue;
        }
        for (int column = 0; column < kRecordFieldCount; ++column) {
            fields[static_cast<std::size_t>(column)] = field(row, column);
        }
        kept.append(fields, shares_[row]);
    }
    return kept;
}

std::string_view RecordRows::field(std::size_t row, int column) const {
    if (row >= ids_.size() || column < 0 || column >= kRecordFieldCount) {
        return {};
    }
    const std::size_t cell = row * kRecordFieldCount + static_cast<std::size_t>(column);
    const std::size_t begin = cell == 0 ? 0 : ends_[cell - 1];
    return std::string_view(text_).substr(begin, ends_[cell] - begin);
}

namespace {

Expected<RecordRows> fetchLedgerRows(RecordStore& store, const RecordFilter* filter) {
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

} // namespace

Expected<RecordRows> fetchRecordRows(RecordStore& store, const RecordFilter* filter,
                                     StateChoice choice) {
    Expected<RecordRows> rows = fetchLedgerRows(store, filter);
    if (!rows) {
        return rows;
    }
    Expected<std::vector<ShareStatus>> statuses = ShareStates(store).statuses();
    if (!statuses) {
        return statuses.error();
    }
    rows->setShares(*statuses, unixSecondsNow());
    if (choice == StateChoice::Any) {
        return rows;
    }
    return rows->keeping(choice);
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
    if (row < 0 || static_cast<std::size_t>(row) >= rows_.size()) {
        return {};
    }
    const auto at = static_cast<std::size_t>(row);
    if (column == kStateColumn) {
        const RowShare& share = rows_.share(at);
        return share.state ? utf8Text(shareStateLabel(*share.state)) : QString();
    }
    if (column == kDaysLeftColumn) {
        const std::int32_t days = rows_.share(at).daysLeft;
        if (days == RowShare::kPermanent) {
            return QStringLiteral("永久");
        }
        return days >= 0 ? QString::number(days) : QString();
    }
    return utf8Text(rows_.field(at, column));
}

void RecordsModel::setShares(const std::vector<ShareStatus>& statuses, std::int64_t now) {
    rows_.setShares(statuses, now);
    if (!rows_.empty()) {
        emit dataChanged(index(0, kStateColumn), index(rowCount() - 1, kDaysLeftColumn),
                         {Qt::DisplayRole, Qt::ToolTipRole});
    }
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
        if (column != kSelectColumn) {
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
