#pragma once

// The result of one ledger query, read row by row.
//
// The rows are copied out of the database while the store's lock is held, so
// a set never keeps a statement (or a read lock on the file) open: the caller
// may read it at leisure on any thread while the share run goes on inserting,
// another process can still write, and the set may outlive the store.
//
// Reading: first() rewinds and counts, rowCount() reports that count, next()
// moves to the next row, and fieldText() reads the current row.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace vantorel {

class RecordSet {
public:
    // A set without a result, the same as one whose query failed: first()
    // gives false and there are no rows.
    RecordSet() = default;

    // Rewinds to before the first row and takes the row count. False only
    // for a set without a result.
    bool first();

    // The count taken by first(); 0 before first() has run, so that a caller
    // who skipped it never acts on rows it has not counted.
    std::size_t rowCount() const { return counted_ ? rowTotal() : 0; }

    // Moves to the next row; false (and no current row) past the last one.
    bool next();

    // A column of the current row, 1-based. A column beyond the result, a
    // NULL value or no current row give an empty text.
    std::string fieldText(std::size_t column) const;

    // The same by column name, ASCII case ignored; an unknown name gives "".
    std::string fieldText(std::string_view name) const;

    // fieldText without the copy, for readers of many rows; the view lasts
    // as long as the set's rows.
    std::string_view fieldView(std::size_t column) const;

    // Drops the rows; the set then behaves like one without a result.
    void close();

    bool hasResult() const { return hasResult_; }
    const std::vector<std::string>& columnNames() const { return columns_; }

private:
    friend class RecordSetBuilder;

    std::size_t rowTotal() const { return columns_.empty() ? 0 : ends_.size() / columns_.size(); }

    std::vector<std::string> columns_;
    // All cells, row by row, in one buffer: a listing of a large ledger would
    // otherwise cost one allocation per cell. ends_[i] is where cell i ends.
    std::string cells_;
    std::vector<std::size_t> ends_;
    std::size_t cursor_ = 0; // 1-based current row; 0 before the first row
    bool hasResult_ = false;
    bool counted_ = false;
};

} // namespace vantorel
