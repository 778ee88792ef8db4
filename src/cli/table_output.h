#pragma once

// Writing ledger rows as text tables: tab-separated, RFC 4180 CSV or JSON.

#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace vantorel::cli {

enum class TableFormat { Tsv, Csv, Json };

struct Table {
    std::vector<std::string> columns;
    std::vector<std::vector<std::string>> rows; // each row holds one text per column
    // Columns whose values are written as JSON numbers when they look like one.
    std::vector<std::string> numericColumns;
};

// TSV: a header line, then one line per row; tabs and line breaks inside a
// value become blanks so that every row stays on one line.
void writeTsv(std::ostream& out, const Table& table, bool header = true);

// CSV as RFC 4180: CR LF line ends, fields with a comma, quote or line break
// quoted, quotes doubled. With `byteOrderMark`, a UTF-8 BOM leads so that
// spreadsheet programs read Chinese text correctly.
void writeCsv(std::ostream& out, const Table& table, bool byteOrderMark = false);

// One JSON array of objects keyed by the column names.
void writeJson(std::ostream& out, const Table& table);

void writeTable(std::ostream& out, const Table& table, TableFormat format);

// A JSON string literal; bytes that are not UTF-8 become U+FFFD.
std::string jsonQuoted(std::string_view text);

} // namespace vantorel::cli
