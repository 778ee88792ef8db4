#pragma once

// The rows of the records window's grid, held compactly: a large ledger
// lists 100,000 rows and more, so the cells of all rows share one text buffer
// and become QStrings only when the view draws them.

#include "base/expected.h"
#include "records/record_filter.h"

#include <QAbstractTableModel>
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vantorel {
class RecordStore;
}

namespace vantorel::gui {

// The grid's columns: the twelve listed fields, then the tick box.
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
    kSelectColumn,
    kRecordColumnCount,
};
inline constexpr int kRecordFieldCount = kSelectColumn; // columns holding a field

// Listed rows: ids, field texts (UTF-8) and nothing else.
class RecordRows {
public:
    void reserve(std::size_t rows, std::size_t textBytes);
    // One row's twelve fields in grid order; the id is read from field 0.
    void append(const std::array<std::string_view, kRecordFieldCount>& fields);

    std::size_t size() const { return ids_.size(); }
    bool empty() const { return ids_.empty(); }
    std::int64_t id(std::size_t row) const { return ids_[row]; }
    std::string_view field(std::size_t row, int column) const;
    std::size_t textBytes() const { return text_.size(); }

private:
    std::string text_;
    // Where each cell ends in text_, kRecordFieldCount per row.
    std::vector<std::size_t> ends_;
    std::vector<std::int64_t> ids_;
};

// The whole ledger (no filter) or the rows matching `filter`, in id order.
// Every call goes through the store's lock; a filtered listing is read in
// pages, so a share run inserting meanwhile waits only for one page at a time.
Expected<RecordRows> fetchRecordRows(RecordStore& store, const RecordFilter* filter);

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
    QString fieldText(int row, int column) const;
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
