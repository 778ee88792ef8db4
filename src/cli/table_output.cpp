#include "cli/table_output.h"

#include "base/gbk.h"
#include "base/text.h"

#include <algorithm>
#include <cstdio>

namespace vantorel::cli {
namespace {

std::string oneLine(std::string_view value) {
    std::string out(value);
    std::replace_if(
        out.begin(), out.end(), [](char c) { return c == '\t' || c == '\r' || c == '\n'; }, ' ');
    return out;
}

std::string csvField(std::string_view value) {
    if (value.find_first_of(",\"\r\n") == std::string_view::npos)
        return std::string(value);
    std::string out = "\"";
    for (char c : value) {
        if (c == '"')
            out += "\"\"";
        else
            out.push_back(c);
    }
    out += "\"";
    return out;
}

bool looksNumeric(std::string_view value) {
    if (value.empty() || value.size() > 15)
        return false;
    std::size_t i = value[0] == '-' ? 1 : 0;
    if (i == value.size() || (value[i] == '0' && value.size() > i + 1))
        return false;
    return std::all_of(value.begin() + static_cast<std::ptrdiff_t>(i), value.end(),
                       [](char c) { return c >= '0' && c <= '9'; });
}

} // namespace

std::string jsonQuoted(std::string_view raw) {
    // JSON is UTF-8 or nothing: one stray byte from a ledger written by
    // another program would make a reader reject the whole listing.
    return "\"" + jsonStringContent(sanitiseUtf8(raw)) + "\"";
}

void writeTsv(std::ostream& out, const Table& table, bool header) {
    auto line = [&out](const std::vector<std::string>& values) {
        for (std::size_t i = 0; i < values.size(); ++i) {
            if (i)
                out << '\t';
            out << oneLine(values[i]);
        }
        out << '\n';
    };
    if (header)
        line(table.columns);
    for (const auto& row : table.rows)
        line(row);
}

void writeCsv(std::ostream& out, const Table& table, bool byteOrderMark) {
    if (byteOrderMark)
        out << "\xEF\xBB\xBF";
    auto line = [&out](const std::vector<std::string>& values) {
        for (std::size_t i = 0; i < values.size(); ++i) {
            if (i)
                out << ',';
            out << csvField(values[i]);
        }
        out << "\r\n";
    };
    line(table.columns);
    for (const auto& row : table.rows)
        line(row);
}

void writeJson(std::ostream& out, const Table& table) {
    auto numeric = [&table](std::size_t column) {
        return std::find(table.numericColumns.begin(), table.numericColumns.end(),
                         table.columns[column]) != table.numericColumns.end();
    };
    out << '[';
    for (std::size_t r = 0; r < table.rows.size(); ++r) {
        out << (r ? ",\n" : "\n") << '{';
        const auto& row = table.rows[r];
        for (std::size_t c = 0; c < table.columns.size() && c < row.size(); ++c) {
            if (c)
                out << ',';
            out << jsonQuoted(table.columns[c]) << ':';
            if (numeric(c) && looksNumeric(row[c]))
                out << row[c];
            else
                out << jsonQuoted(row[c]);
        }
        out << '}';
    }
    out << (table.rows.empty() ? "]\n" : "\n]\n");
}

void writeTable(std::ostream& out, const Table& table, TableFormat format) {
    switch (format) {
    case TableFormat::Tsv:
        writeTsv(out, table);
        break;
    case TableFormat::Csv:
        writeCsv(out, table);
        break;
    case TableFormat::Json:
        writeJson(out, table);
        break;
    }
}

} // namespace vantorel::cli
