#pragma once

// Writing listed records to a file: CSV for spreadsheet programs or
// tab-separated text, for the records window and `records export` alike.
//
// The file is written beside its target under a temporary name and renamed
// into place once it is whole, so a full disk or a crash leaves the old file
// as it was, never half of a new one. The ledger's own files and the
// settings file are never a target: an export onto them would destroy what
// the user keeps.

#include "base/expected.h"

#include <cstddef>
#include <filesystem>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vantorel {

enum class ExportFormat {
    // RFC 4180 with CR LF line ends and a UTF-8 byte-order mark (so that
    // spreadsheet programs read Chinese text correctly); a cell a spreadsheet
    // would take for a formula is led by "'".
    Csv,
    // One line per row, cells joined by tabs; tabs and line breaks inside a
    // cell become blanks, everything else is kept exactly.
    Tsv,
};

// A cell as CSV writes it: quoted when it holds a comma, a quote or a line
// break (quotes doubled), and led by "'" when it begins with "=", "+", "-",
// "@", a tab or a carriage return, which spreadsheet programs would run as
// a formula (`=HYPERLINK(...)` in a file name).
std::string csvCell(std::string_view value);

// A cell as tab-separated text writes it: tabs and line breaks become blanks.
std::string tsvCell(std::string_view value);

// Appends one line of cells in `format`, its line end included.
void appendExportLine(std::string& out, std::span<const std::string_view> cells,
                      ExportFormat format);

// What an export writes: the header cells, then `rowCount` rows of
// `cell(row, column)` for each of the header's columns. The cells are UTF-8.
struct ExportTable {
    std::vector<std::string> headers;
    std::size_t rowCount = 0;
    std::function<std::string_view(std::size_t row, std::size_t column)> cell;
    // Tab-separated text may leave the header line out.
    bool header = true;
};

// The files of a data directory that an export must never replace: the
// ledger, its write-ahead log, shared-memory and rollback journal files, and
// the settings file.
std::vector<std::filesystem::path> exportProtectedFiles(const std::filesystem::path& ledger,
                                                        const std::filesystem::path& settingsFile);

// Why an export was refused or failed (Error::code).
enum class ExportFailure : int {
    Write = 1,         // the file could not be written; the reason says why
    ProtectedFile = 2, // the target is one of the protected files
};

// Refuses `target` when it names one of `protectedFiles`, however it is
// spelt: a relative path, "..", a symbolic or a hard link to it.
Status checkExportTarget(const std::filesystem::path& target,
                         std::span<const std::filesystem::path> protectedFiles);

// Writes `table` to `target` in `format` after checkExportTarget. A regular
// file (or a new one) is written through a temporary file in the same
// directory that replaces it only once complete; it keeps the mode of the
// file it replaces, and a symbolic link keeps pointing where it did. A
// device or a pipe (/dev/stdout, /dev/null) is written directly. Returns the
// number of rows written; on failure the target is unchanged and no
// temporary file is left.
Expected<std::size_t> writeExportFile(const std::filesystem::path& target, const ExportTable& table,
                                      ExportFormat format,
                                      std::span<const std::filesystem::path> protectedFiles);

} // namespace vantorel
