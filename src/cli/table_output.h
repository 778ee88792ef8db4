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
// value become blanks so that every row stays on one line. For a terminal,
// the other control characters are shown escaped (terminalSafe).
void writeTsv(std::ostream& out, const Table& table, bool header = true, bool terminal = false);

// CSV as RFC 4180: CR LF line ends, fields with a comma, quote or line break
// quoted, quotes doubled, and a value that a spreadsheet would run as a
// formula led by "'" (see csvCell). With `byteOrderMark`, a UTF-8 BOM leads
// so that spreadsheet programs read Chinese text correctly.
void writeCsv(std::ostream& out, const Table& table, bool byteOrderMark = false);

// One JSON array of objects keyed by the column names.
void writeJson(std::ostream& out, const Table& table);

// `terminal`: standard output is a terminal (TSV is then made safe to show).
void writeTable(std::ostream& out, const Table& table, TableFormat format, bool terminal = false);

// A value as a terminal may show it: control characters other than the tab
// (C0, DEL and C1, which could move the cursor, retitle the window or hide
// text) and bytes that are not UTF-8 are written as escapes ("\n", "\x1b",
// "\u009b"); everything else, Chinese text included, as it is.
std::string terminalSafe(std::string_view value);

// A JSON string literal; bytes that are not UTF-8 become U+FFFD.
std::string jsonQuoted(std::string_view text);

} // namespace vantorel::cli
