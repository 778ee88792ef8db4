#include "records/write_probe.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/statvfs.h>
#include <system_error>
#include <unistd.h>

namespace vantorel {
namespace fs = std::filesystem;

namespace {

std::string systemText(int error) {
    return std::generic_category().message(error);
}

// Asked with the ids the process works with, as its writes will be.
bool mayWrite(const fs::path& path) {
    return ::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) == 0;
}

} // namespace

std::string whyNotWritable(const fs::path& file, int systemError) {
    fs::path folder = file.parent_path();
    if (folder.empty())
        folder = ".";
    // Writing the ledger makes files beside it (its journal, its lock), so
    // the folder comes first, even when the file itself could be written.
    if (!mayWrite(folder))
        return "the folder '" + folder.string() + "' cannot be written (" + systemText(errno) + ")";
    if (::access(file.c_str(), F_OK) == 0 && !mayWrite(file))
        return "the file '" + file.string() + "' cannot be written (" + systemText(errno) + ")";
    struct statvfs space {};
    if (::statvfs(folder.c_str(), &space) == 0 && space.f_bavail == 0)
        return "the disk of '" + folder.string() + "' is full (" + systemText(ENOSPC) + ")";
    if (systemError != 0)
        return systemText(systemError);
    return {};
}

} // namespace vantorel
