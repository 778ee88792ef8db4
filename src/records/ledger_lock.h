#pragma once

// One share run per ledger: an exclusive lock on a file beside the ledger
// (linkledger.db.lock), held for as long as the run lasts. The operating
// system lets go of it when the process ends, however it ends, so a killed
// run never leaves the ledger locked.
//
// It is not SQLite's lock: the records window and the records commands read
// and delete while a run holds it. It only keeps two runs (the desktop app
// and the command line, or two command lines) from sharing the same items
// side by side.

#include "base/expected.h"

#include <filesystem>
#include <string_view>

namespace vantorel {

// What the user is told when another run holds the lock.
inline constexpr std::string_view kLedgerInUseMessage = "另一个分享任务正在使用此分享记录库";

enum class LockFailure : int {
    InUse = 1,      // another run holds it
    Unwritable = 2, // the lock file cannot be made or opened; the message says why
};

class LedgerLock {
public:
    LedgerLock() = default; // holds nothing
    ~LedgerLock();
    LedgerLock(LedgerLock&& other) noexcept;
    LedgerLock& operator=(LedgerLock&& other) noexcept;
    LedgerLock(const LedgerLock&) = delete;
    LedgerLock& operator=(const LedgerLock&) = delete;

    // Takes the lock of the ledger at `ledgerFile` without waiting. The
    // error's code is a LockFailure.
    static Expected<LedgerLock> acquire(const std::filesystem::path& ledgerFile);

    // The file the lock lives in: the ledger's name with ".lock" added.
    static std::filesystem::path lockFileOf(const std::filesystem::path& ledgerFile);

    bool held() const { return fd_ >= 0; }

private:
    explicit LedgerLock(int fd) : fd_(fd) {}
    int fd_ = -1;
};

} // namespace vantorel
