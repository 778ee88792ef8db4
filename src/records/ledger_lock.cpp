#include "records/ledger_lock.h"

#include "records/write_probe.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#include <utility>

namespace vantorel {
namespace fs = std::filesystem;

LedgerLock::~LedgerLock() {
    if (fd_ >= 0)
        ::close(fd_); // closing the only descriptor releases the lock
}

LedgerLock::LedgerLock(LedgerLock&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

LedgerLock& LedgerLock::operator=(LedgerLock&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
}

fs::path LedgerLock::lockFileOf(const fs::path& ledgerFile) {
    fs::path lock = ledgerFile;
    lock += ".lock";
    return lock;
}

Expected<LedgerLock> LedgerLock::acquire(const fs::path& ledgerFile) {
    const fs::path file = lockFileOf(ledgerFile);
    // The file is never removed: unlinking a lock file lets a third run lock
    // a new file while the second still holds the old one.
    const int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        const int error = errno;
        return Error{"cannot lock the ledger '" + ledgerFile.string() +
                         "': " + whyNotWritable(ledgerFile, error),
                     static_cast<int>(LockFailure::Unwritable)};
    }
    // flock belongs to the open file description: a second open of the same
    // file, in this process or another, is refused too.
    int rc;
    do {
        rc = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        const int error = errno;
        ::close(fd);
        if (error == EWOULDBLOCK)
            return Error{std::string(kLedgerInUseMessage), static_cast<int>(LockFailure::InUse)};
        return Error{"cannot lock the ledger '" + ledgerFile.string() +
                         "': " + std::generic_category().message(error),
                     static_cast<int>(LockFailure::Unwritable)};
    }
    return LedgerLock(fd);
}

} // namespace vantorel
