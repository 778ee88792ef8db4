#pragma once

// The rows of the records window's grid, held compactly: a large ledger
// lists 100,000 rows and more, so the cells of all rows share one text buffer
// and become QStrings only when the view draws them.

#include "base/expected.h"
#include "records/record_filter.h"
#include "records/share_states.h"

#include <QAbstractTableModel>
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vantorel {
class RecordStore;
}

namespace vantorel::gui {

// The grid's columns: the twelve listed fields, the state of the share on
// the service, then the tick box.
enum RecordColumn : int {
    kIdColumn = 0,
    kPathColumn,
    kBeforeNameColumn,
    kAfterNameColumn,
    kLinkColumn,
    kCodeColumn,
    kTimeColumn,
    kSizeColumn,
    kMd5Column,
    kPictureColumn,
    kFidColumn,
    kUserColumn,
    kStateColumn,
    kDaysLeftColumn,
    kSelectColumn,
    kRecordColumnCount,
};
inline constexpr int kRecordFieldCount = kStateColumn; // columns holding a ledger field

// What a row's share was last seen as; nothing when it was never checked.
struct RowShare {
    static constexpr std::int32_t kNoDays = -1;    // expired, gone, or never checked
    static constexpr std::int32_t kPermanent = -2; // active and never expires
    std::optional<ShareState> state;
    std::int32_t daysLeft = kNoDays;
};

// Which rows the state condition keeps.
enum class StateChoice { Any, Active, Expired, Blocked, Gone, Unchecked };

// Listed rows: ids, field texts (UTF-8) and nothing else.
class RecordRows {
public:
    void reserve(std::size_t rows, std::size_t textBytes);
    // One row's twelve fields in grid order; the id is read from field 0.
    void append(const std::array<std::string_view, kRecordFieldCount>& fields, RowShare share = {});

    std::size_t size() const { return ids_.size(); }
    bool empty() const { return ids_.empty(); }
    std::int64_t id(std::size_t row) const { return ids_[row]; }
    std::string_view field(std::size_t row, int column) const;
    const RowShare& share(std::size_t row) const { return shares_[row]; }
    // Replaces the rows' share states with `statuses` (any order; those of
    // records not listed are ignored) as seen at `now` (Unix seconds).
    void setShares(const std::vector<ShareStatus>& statuses, std::int64_t now);
    // Only the rows `choice` keeps.
    RecordRows keeping(StateChoice choice) const;
    std::size_t textBytes() const { return text_.size(); }

private:
    std::string text_;
    // Where each cell ends in text_, kRecordFieldCount per row.
    std::vector<std::size_t> ends_;
    std::vector<std::int64_t> ids_;
    std::vector<RowShare> shares_;
};

// The whole ledger (no filter) or the rows matching `filter`, in id order,
// with their shares' states, and of those the rows `choice` keeps. Every
// call goes through the store's lock; a filtered listing is read in pages,
// so a share run inserting meanwhile waits only for one page at a time.
Expected<RecordRows> fetchRecordRows(RecordStore& store, const RecordFilter* filter,
                                     StateChoice choice = StateChoice::Any);

class RecordsModel final : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit RecordsModel(QObject* parent = nullptr);

    // Header texts, in column order.
    static QStringList headers();
    // Column widths of the grid, in pixels.
    static int columnWidth(int column);
    // Background of the id column.
    static QColor idColumnShade();

    // Replaces every row (one model reset); all ticks are cleared.
    void setRows(RecordRows rows);
    void clear();

    const RecordRows& rows() const { return rows_; }
    // The text of any column but the tick box's: a field, or the share's
    // state and days left.
    QString fieldText(int row, int column) const;
    // New share states for the rows listed (a sync going on): the state
    // columns change, the rows and their ticks stay.
    void setShares(const std::vector<ShareStatus>& statuses, std::int64_t now);
    std::int64_t rowId(int row) const;

    bool isTicked(int row) const;
    void setTicked(int row, bool ticked);
    // Ids of the ticked rows, in row order.
    std::vector<std::int64_t> tickedIds() const;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

private:
    RecordRows rows_;
    std::vector<unsigned char> ticked_;
};

} // namespace vantorel::gui
