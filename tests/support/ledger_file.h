#pragma once

// The ledger file read the way any SQLite tool would, independent of the
// RecordStore under test: a plain connection for statements and queries,
// the rows with every column as written, and SQLite's own verdict on the
// file.

#include "records/share_record.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

struct sqlite3;

namespace vantorel::test {

class LedgerDb {
public:
    enum class Open {
        CreateIfMissing, // as `sqlite3 FILE` does
        ExistingOnly,    // a missing file is an error and stays missing
    };
    explicit LedgerDb(const std::filesystem::path& file, Open mode = Open::CreateIfMissing);
    ~LedgerDb();
    LedgerDb(const LedgerDb&) = delete;
    LedgerDb& operator=(const LedgerDb&) = delete;

    // Empty when the file is open, else why not.
    const std::string& openError() const { return openError_; }

    // A cell of a query's answer; nothing for NULL.
    using Cell = std::optional<std::string>;
    struct Answer {
        std::vector<std::vector<Cell>> rows;
        std::string error; // empty when the query ran to its end
    };
    Answer query(const std::string& sql);

    // These two add a test failure when the statement fails; exec() also
    // says whether it ran.
    bool exec(const std::string& sql);
    // Every row of a query, each column as text ("NULL" for NULL).
    std::vector<std::vector<std::string>> rows(const std::string& sql);

private:
    sqlite3* db_ = nullptr;
    std::string openError_;
};

// One ledger row, all fourteen columns as text, as the file holds it.
struct LedgerRow : ShareRecord {
    // Columns 2 to 14 that hold NULL: a whole row has none.
    int nullColumns = 0;

    // Compares everything but the id.
    bool operator==(const LedgerRow& other) const;
};
void PrintTo(const LedgerRow& row, std::ostream* os);

// The rows in id order; an error text instead when the file cannot be read.
struct LedgerRead {
    std::vector<LedgerRow> rows;
    std::string error;
    // The file is a database without any table yet: the process that created
    // it ended before it made the table, which the next open does.
    bool empty = false;
};
LedgerRead readLedger(const std::filesystem::path& file);

// The answer of PRAGMA integrity_check, lines joined by "; " ("ok" when the
// file is sound). The file is opened read-write, as the next run opens it,
// so a journal left by a killed writer is rolled back first.
std::string integrityCheck(const std::filesystem::path& file);

// The rows of the ledger in the data directory, in id order; none when the
// file does not exist (it is not created). A file that cannot be read adds a
// test failure.
std::vector<ShareRecord> ledgerRows(const std::filesystem::path& dataDir);

} // namespace vantorel::test
