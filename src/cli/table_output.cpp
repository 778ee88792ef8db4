#include "cli/table_output.h"

#include "base/gbk.h"
#include "base/text.h"
#include "records/record_export.h"

#include <algorithm>
#include <cstdio>

namespace vantorel::cli {
namespace {

// The length of the UTF-8 sequence `text` starts with; 0 when it starts
// with a byte that begins none.
std::size_t utf8SequenceLength(std::string_view text) {
    const auto lead = static_cast<unsigned char>(text[0]);
    const std::size_t length = lead >= 0xC2 && lead <= 0xDF   ? 2
                               : lead >= 0xE0 && lead <= 0xEF ? 3
                               : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                              : 0;
    return length != 0 && length <= text.size() && isValidUtf8(text.substr(0, length)) ? length : 0;
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

void writeTsv(std::ostream& out, const Table& table, bool header, bool terminal) {
    std::string line;
    std::vector<std::string> shown;
    std::vector<std::string_view> cells;
    auto write = [&](const std::vector<std::string>& values) {
        cells.assign(values.begin(), values.end());
        if (terminal) {
            shown.clear();
            for (const std::string& value : values)
                shown.push_back(terminalSafe(value));
            cells.assign(shown.begin(), shown.end());
        }
        line.clear();
        appendExportLine(line, cells, ExportFormat::Tsv);
        out << line;
    };
    if (header)
        write(table.columns);
    for (const auto& row : table.rows)
        write(row);
}

void writeCsv(std::ostream& out, const Table& table, bool byteOrderMark) {
    if (byteOrderMark)
        out << "\xEF\xBB\xBF";
    std::string line;
    std::vector<std::string_view> cells;
    auto write = [&](const std::vector<std::string>& values) {
        cells.assign(values.begin(), values.end());
        line.clear();
        appendExportLine(line, cells, ExportFormat::Csv);
        out << line;
    };
    write(table.columns);
    for (const auto& row : table.rows)
        write(row);
}

std::string terminalSafe(std::string_view value) {
    std::string out;
    out.reserve(value.size());
    const auto escape = [&out](const char* format, unsigned code) {
        char text[8];
        std::snprintf(text, sizeof text, format, code);
        out += text;
    };
    for (std::size_t i = 0; i < value.size();) {
        const auto byte = static_cast<unsigned char>(value[i]);
        if (byte < 0x80) {
            if (byte == '\n')
                out += "\\n";
            else if (byte == '\r')
                out += "\\r";
            else if ((byte < 0x20 && byte != '\t') || byte == 0x7F)
                escape("\\x%02x", byte);
            else
                out += static_cast<char>(byte);
            ++i;
            continue;
        }
        const std::size_t length = utf8SequenceLength(value.substr(i));
        if (length == 0) {
            escape("\\x%02x", byte);
            ++i;
            continue;
        }
        // U+0080..U+009F, the C1 controls: C2 80..C2 9F.
        const auto second = static_cast<unsigned char>(value[i + 1]);
        if (byte == 0xC2 && second < 0xA0)
            escape("\\u%04x", second);
        else
            out.append(value.substr(i, length));
        i += length;
    }
    return out;
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

void writeTable(std::ostream& out, const Table& table, TableFormat format, bool terminal) {
    switch (format) {
    case TableFormat::Tsv:
        writeTsv(out, table, true, terminal);
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
