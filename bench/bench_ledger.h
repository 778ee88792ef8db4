#pragma once

// A ledger of a heavy user's size for the benchmarks: a million rows written
// as an existing linkledger.db holds them, built once in the temporary
// directory and kept there for later runs.

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

namespace vantorel {
class RecordStore;
}

namespace vantorel::bench {

inline constexpr std::int64_t kLedgerRows = 1'000'000;

// Keys shaped like the service's: fs_id a long decimal number, md5 32 hex
// digits. Row n (0 <= n < kLedgerRows) holds fidOf(n), and md5Of(n) unless
// it is a failure row; numbers from kLedgerRows on are never in the ledger.
std::uint64_t mix(std::uint64_t x);
std::string fidOf(std::int64_t n);
std::string md5Of(std::int64_t n);

// The thirteen texts of one row, isdir to other, as the insert takes them.
using LedgerRow = std::array<std::string, 13>;

// Makes sure `file` is a ledger of exactly `rows` rows, row n made by
// rowOf(n), written as an existing linkledger.db holds them (table only; the
// store adds its indexes when it opens the file). A file left by an earlier
// run is reused when it is complete. Returns the reason when it cannot be
// built, empty otherwise.
std::string ensureLedgerFile(const std::filesystem::path& file, std::int64_t rows,
                             const std::function<LedgerRow(std::int64_t)>& rowOf);

// The ledger file, built when it is missing or not as built. Empty, with the
// reason in `error`, when it cannot be built. Benchmarks that add rows work on
// a copy of it: the file is shared with every later run.
std::filesystem::path millionRowLedgerFile(std::string& error);

// The ledger file, opened, for benchmarks that only read. Null, with the
// reason in `error`, when it cannot be built or opened.
RecordStore* millionRowLedger(std::string& error);

} // namespace vantorel::bench
