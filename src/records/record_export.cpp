#include "records/record_export.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace vantorel {
namespace {

namespace fs = std::filesystem;

// Written in pieces of this size, so that a large ledger never sits in
// memory as a whole file.
constexpr std::size_t kChunkBytes = std::size_t{1} << 20;

bool needsFormulaGuard(std::string_view value) {
    return !value.empty() &&
           std::string_view("=+-@\t\r").find(value.front()) != std::string_view::npos;
}

void appendCsvCell(std::string& out, std::string_view value) {
    const bool guard = needsFormulaGuard(value);
    if (value.find_first_of(",\"\r\n") == std::string_view::npos) {
        if (guard)
            out += '\'';
        out.append(value);
        return;
    }
    out += '"';
    if (guard)
        out += '\'';
    for (char c : value) {
        if (c == '"')
            out += '"';
        out += c;
    }
    out += '"';
}

void appendTsvCell(std::string& out, std::string_view value) {
    for (char c : value)
        out += c == '\t' || c == '\r' || c == '\n' ? ' ' : c;
}

// The path a link at `path` leads to, followed to its end even where the
// end does not exist yet, in canonical form: a dangling link to the
// ledger's journal is that journal too.
fs::path resolvedPath(const fs::path& path) {
    std::error_code ec;
    fs::path at = fs::absolute(path, ec);
    if (ec)
        at = path;
    for (int hops = 0; hops < 40; ++hops) {
        const fs::path canonical = fs::weakly_canonical(at, ec);
        if (!ec)
            at = canonical;
        if (!fs::is_symlink(fs::symlink_status(at, ec)))
            break;
        const fs::path next = fs::read_symlink(at, ec);
        if (ec)
            break;
        at = next.is_absolute() ? next : at.parent_path() / next;
    }
    return at.lexically_normal();
}

bool sameFile(const fs::path& a, const fs::path& b) {
    std::error_code ec;
    // Both exist: the file system says (a hard link is the same file).
    if (fs::exists(a, ec) && fs::exists(b, ec)) {
        const bool same = fs::equivalent(a, b, ec);
        if (!ec)
            return same;
    }
    return resolvedPath(a) == resolvedPath(b);
}

Error writeFailure(const fs::path& target, int error) {
    return Error{"cannot write " + target.string() + ": " + std::strerror(error),
                 static_cast<int>(ExportFailure::Write)};
}

Status writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return Error{{}, errno};
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return {};
}

// Writes the whole table to `fd`; the error's code is the errno.
Status writeTable(int fd, const ExportTable& table, ExportFormat format) {
    std::string buffer;
    if (format == ExportFormat::Csv)
        buffer = "\xEF\xBB\xBF";
    std::vector<std::string_view> cells(table.headers.begin(), table.headers.end());
    if (table.header || format == ExportFormat::Csv)
        appendExportLine(buffer, cells, format);
    for (std::size_t row = 0; row < table.rowCount; ++row) {
        for (std::size_t column = 0; column < cells.size(); ++column)
            cells[column] = table.cell(row, column);
        appendExportLine(buffer, cells, format);
        if (buffer.size() >= kChunkBytes) {
            if (Status written = writeAll(fd, buffer); !written)
                return written;
            buffer.clear();
        }
    }
    return writeAll(fd, buffer);
}

// A new file beside `final` that no one else has made: ".NAME.XXXXXXXX.tmp".
// Created with the usual mode (less the umask), as the file itself would be.
Expected<std::pair<int, fs::path>> createTemporary(const fs::path& final) {
    static thread_local std::mt19937_64 random{std::random_device{}()};
    for (int attempt = 0; attempt < 100; ++attempt) {
        char suffix[17];
        std::snprintf(suffix, sizeof suffix, "%016llx", static_cast<unsigned long long>(random()));
        const fs::path temporary =
            final.parent_path() / ("." + final.filename().string() + "." + suffix + ".tmp");
        const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0)
            return std::pair{fd, temporary};
        if (errno != EEXIST)
            return Error{{}, errno};
    }
    return Error{{}, EEXIST};
}

void syncDirectory(const fs::path& directory) {
    const int fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        (void)::fsync(fd);
        ::close(fd);
    }
}

// Not a regular file: a device or a pipe has nothing to keep, and renaming
// a file over /dev/null would replace the device.
Expected<std::size_t> writeDirectly(const fs::path& target, const fs::path& final,
                                    const ExportTable& table, ExportFormat format) {
    const int fd = ::open(final.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        return writeFailure(target, errno);
    Status written = writeTable(fd, table, format);
    if (::close(fd) != 0 && written)
        written = Error{{}, errno};
    if (!written)
        return writeFailure(target, written.error().code);
    return table.rowCount;
}

} // namespace

std::string csvCell(std::string_view value) {
    std::string out;
    appendCsvCell(out, value);
    return out;
}

std::string tsvCell(std::string_view value) {
    std::string out;
    appendTsvCell(out, value);
    return out;
}

void appendExportLine(std::string& out, std::span<const std::string_view> cells,
                      ExportFormat format) {
    const bool csv = format == ExportFormat::Csv;
    for (std::size_t i = 0; i < cells.size(); ++i) {
        if (i)
            out += csv ? ',' : '\t';
        if (csv)
            appendCsvCell(out, cells[i]);
        else
            appendTsvCell(out, cells[i]);
    }
    out += csv ? "\r\n" : "\n";
}

std::vector<fs::path> exportProtectedFiles(const fs::path& ledger, const fs::path& settingsFile) {
    std::vector<fs::path> files;
    if (!ledger.empty()) {
        files.push_back(ledger);
        for (const char* suffix : {"-wal", "-shm", "-journal"})
            files.push_back(fs::path(ledger.string() + suffix));
    }
    if (!settingsFile.empty())
        files.push_back(settingsFile);
    return files;
}

Status checkExportTarget(const fs::path& target, std::span<const fs::path> protectedFiles) {
    for (const fs::path& kept : protectedFiles) {
        if (sameFile(target, kept))
            return Error{"refusing to write " + target.string() + ": it is " +
                             kept.filename().string() +
                             " of the data directory, which an export would destroy",
                         static_cast<int>(ExportFailure::ProtectedFile)};
    }
    return {};
}

Expected<std::size_t> writeExportFile(const fs::path& target, const ExportTable& table,
                                      ExportFormat format,
                                      std::span<const fs::path> protectedFiles) {
    if (Status allowed = checkExportTarget(target, protectedFiles); !allowed)
        return allowed.error();
    const fs::path final = resolvedPath(target);

    struct stat existing {};
    const bool exists = ::stat(final.c_str(), &existing) == 0;
    if (exists && S_ISDIR(existing.st_mode))
        return writeFailure(target, EISDIR);
    if (exists && !S_ISREG(existing.st_mode))
        return writeDirectly(target, final, table, format);

    auto created = createTemporary(final);
    if (!created)
        return writeFailure(target, created.error().code);
    const auto [fd, temporary] = *created;
    // The replacement keeps the mode of the file it replaces.
    if (exists)
        (void)::fchmod(fd, existing.st_mode & 07777);
    Status written = writeTable(fd, table, format);
    if (written && ::fsync(fd) != 0)
        written = Error{{}, errno};
    if (::close(fd) != 0 && written)
        written = Error{{}, errno};
    if (written && ::rename(temporary.c_str(), final.c_str()) != 0)
        written = Error{{}, errno};
    if (!written) {
        ::unlink(temporary.c_str());
        return writeFailure(target, written.error().code);
    }
    syncDirectory(final.parent_path());
    return table.rowCount;
}

} // namespace vantorel
