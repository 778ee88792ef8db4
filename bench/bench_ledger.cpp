#include "bench_ledger.h"

#include "records/ledger_sql.h"
#include "records/record_store.h"
#include "records/share_record.h"

#include <cinttypes>
#include <cstdio>
#include <filesystem>
#include <sqlite3.h>

namespace vantorel::bench {

namespace {
namespace fs = std::filesystem;

// Every tenth attempt failed: a failed file carries no MD5.
bool failedRow(std::int64_t n) {
    return n % 10 == 9;
}

fs::path ledgerFile() {
    return fs::temp_directory_path() / "vantorel-bench-ledger-1m.db";
}

LedgerRow millionRow(std::int64_t n) {
    const bool failed = failedRow(n);
    const std::string name = "video-" + std::to_string(n) + ".mp4";
    return {"0",
            "/share/videos/" + name,
            name,
            "",
            failed ? std::string(kFailedLinkText)
                   : "https://pan.example/s/1" + md5Of(n).substr(0, 22),
            failed ? "" : "ab12",
            failed ? "" : "2021-05-27 15:17:58",
            failed ? "" : "1.5G",
            failed ? "" : md5Of(n),
            "https://thumbs.example/" + fidOf(n),
            fidOf(n),
            "bench-user",
            "other"};
}

bool complete(const fs::path& file, std::int64_t rows) {
    sqlite3* db = nullptr;
    bool ok = false;
    if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_stmt* count = nullptr;
        if (sqlite3_prepare_v2(db, "SELECT count(*), max(id) FROM linkledger_table", -1, &count,
                               nullptr) == SQLITE_OK &&
            sqlite3_step(count) == SQLITE_ROW)
            ok = sqlite3_column_int64(count, 0) == rows && sqlite3_column_int64(count, 1) == rows;
        sqlite3_finalize(count);
    }
    sqlite3_close(db);
    return ok;
}

std::string build(const fs::path& file, std::int64_t rows,
                  const std::function<LedgerRow(std::int64_t)>& rowOf) {
    fs::remove(file);
    sqlite3* db = nullptr;
    if (sqlite3_open(file.c_str(), &db) != SQLITE_OK) {
        sqlite3_close(db);
        return "cannot create " + file.string();
    }
    auto exec = [db](const char* sql) {
        return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
    };
    sqlite3_stmt* insert = nullptr;
    bool ok = exec("PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF;") &&
              exec(ledger_sql::kCreateTable) && exec("BEGIN;") &&
              sqlite3_prepare_v2(db, ledger_sql::kInsert, -1, &insert, nullptr) == SQLITE_OK;
    for (std::int64_t n = 0; ok && n < rows; ++n) {
        const LedgerRow values = rowOf(n);
        for (int i = 0; i < 13; ++i)
            sqlite3_bind_text(insert, i + 1, values[i].c_str(), static_cast<int>(values[i].size()),
                              SQLITE_TRANSIENT);
        ok = sqlite3_step(insert) == SQLITE_DONE;
        sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    ok = ok && exec("COMMIT;");
    std::string error = ok ? "" : std::string("cannot build the ledger: ") + sqlite3_errmsg(db);
    sqlite3_close(db);
    return error;
}

} // namespace

std::uint64_t mix(std::uint64_t x) {
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

std::string fidOf(std::int64_t n) {
    return std::to_string(500'000'000'000'000 + n * 7919);
}

std::string md5Of(std::int64_t n) {
    char text[33];
    std::snprintf(text, sizeof text, "%016" PRIx64 "%016" PRIx64,
                  mix(static_cast<std::uint64_t>(n)), mix(static_cast<std::uint64_t>(~n)));
    return text;
}

std::string ensureLedgerFile(const fs::path& file, std::int64_t rows,
                             const std::function<LedgerRow(std::int64_t)>& rowOf) {
    return complete(file, rows) ? std::string() : build(file, rows, rowOf);
}

fs::path millionRowLedgerFile(std::string& error) {
    const fs::path file = ledgerFile();
    error = ensureLedgerFile(file, kLedgerRows, millionRow);
    return error.empty() ? file : fs::path();
}

RecordStore* millionRowLedger(std::string& error) {
    static RecordStore store;
    static const std::string problem = [] {
        std::string reason;
        const fs::path file = millionRowLedgerFile(reason);
        if (file.empty())
            return reason;
        const vantorel::Status opened = store.openOrCreate(file);
        return opened ? std::string() : opened.error().message;
    }();
    error = problem;
    return problem.empty() ? &store : nullptr;
}

} // namespace vantorel::bench
