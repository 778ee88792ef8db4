#include "records/record_store.h"

#include "records/ledger_sql.h"
#include "records/sqlite_helpers.h"
#include "records/write_probe.h"

#include <sqlite3.h>
#include <string>
#include <system_error>
#include <type_traits>
#include <utility>

namespace vantorel {
namespace fs = std::filesystem;
using namespace sqlite_helpers;

// How long an operation waits for another process that holds the file (the
// command line writing while the app is open, or the other way round).
constexpr int kBusyTimeoutMs = 5000;

// Fills a RecordSet from a statement; the set's storage layout stays private
// to the two of them.
class RecordSetBuilder {
public:
    // Steps `statement` to its end. Returns SQLite's last result code:
    // SQLITE_DONE when every row was read.
    static int read(sqlite3_stmt* statement, RecordSet& set) {
        const int width = sqlite3_column_count(statement);
        set.columns_.clear();
        for (int i = 0; i < width; ++i) {
            const char* name = sqlite3_column_name(statement, i);
            set.columns_.emplace_back(name ? name : "");
        }
        int rc;
        while ((rc = sqlite3_step(statement)) == SQLITE_ROW) {
            for (int i = 0; i < width; ++i) {
                const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, i));
                if (text)
                    set.cells_.append(text,
                                      static_cast<std::size_t>(sqlite3_column_bytes(statement, i)));
                set.ends_.push_back(set.cells_.size());
            }
        }
        set.hasResult_ = rc == SQLITE_DONE;
        return rc;
    }
};

namespace {

std::string utf8Of(const fs::path& p) {
    const std::u8string u = p.u8string();
    return std::string(u.begin(), u.end());
}

bool isDate(const std::string& text) {
    if (text.size() != 10 || text[4] != '-' || text[7] != '-')
        return false;
    for (std::size_t i : {0, 1, 2, 3, 5, 6, 8, 9}) {
        if (text[i] < '0' || text[i] > '9')
            return false;
    }
    return true;
}

// A LIKE pattern that finds `needle` anywhere, its own % _ and \ taken
// literally.
std::string containsPattern(std::string_view needle) {
    std::string pattern = "%";
    for (char c : needle) {
        if (c == '%' || c == '_' || c == '\\')
            pattern += '\\';
        pattern += c;
    }
    pattern += '%';
    return pattern;
}

// The journal mode a connection runs in, as SQLite names it ("delete",
// "wal", "memory"), after asking for `mode`.
std::string setJournalMode(sqlite3* db, const char* mode) {
    Statement pragma;
    const std::string sql = std::string("PRAGMA journal_mode=") + mode + ";";
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, pragma.out(), nullptr) != SQLITE_OK ||
        sqlite3_step(pragma.get()) != SQLITE_ROW)
        return {};
    return columnText(pragma.get(), 0);
}

} // namespace

RecordStore::~RecordStore() {
    std::lock_guard lock(mutex_);
    (void)closeLocked();
}

Error RecordStore::notOpen() {
    return Error{"the ledger is not open", SQLITE_MISUSE};
}

Error RecordStore::writeFailure(std::string_view what) const {
    const std::string file = utf8Of(path_);
    const std::string where = std::string(what) + " ('" + file + "')";
    const int primary = sqlite3_errcode(db_) & 0xFF;
    if (primary == SQLITE_BUSY || primary == SQLITE_LOCKED)
        return Error{where + ": another program is writing to the file and holds it locked (" +
                         sqlite3_errmsg(db_) + ")",
                     sqlite3_extended_errcode(db_)};
    if (file != ":memory:") {
        const std::string why = whyNotWritable(path_, sqlite3_system_errno(db_));
        if (!why.empty() &&
            (primary == SQLITE_CANTOPEN || primary == SQLITE_IOERR || primary == SQLITE_FULL ||
             primary == SQLITE_READONLY || primary == SQLITE_PERM))
            return Error{where + ": " + why, sqlite3_extended_errcode(db_)};
    }
    return failure(where);
}

Error RecordStore::failure(std::string_view what) const {
    std::string message(what);
    message += ": ";
    message += sqlite3_errmsg(db_);
    // SQLite's own text for a file it cannot open is vague; the system's
    // reason ("No such file or directory", "Is a directory") is what helps.
    // Only for errors that come from the system: otherwise the last errno
    // may belong to something SQLite tried earlier and shrugged off.
    const int primary = sqlite3_errcode(db_) & 0xFF;
    const int systemError = sqlite3_system_errno(db_);
    if ((primary == SQLITE_CANTOPEN || primary == SQLITE_IOERR) && systemError != 0)
        message += " (" + std::generic_category().message(systemError) + ")";
    return Error{std::move(message), sqlite3_extended_errcode(db_)};
}

Status RecordStore::openOrCreate(const fs::path& path) {
    std::lock_guard lock(mutex_);
    (void)closeLocked();
    Status status = openLocked(path);
    if (!status) {
        (void)closeLocked();
        lastOpenError_ = status.error().message;
    } else {
        lastOpenError_.clear();
    }
    return status;
}

std::string RecordStore::notOpenReason() const {
    std::lock_guard lock(mutex_);
    if (db_)
        return {};
    return lastOpenError_.empty() ? std::string("the ledger is not open") : lastOpenError_;
}

Status RecordStore::openLocked(const fs::path& path) {
    if (path.empty())
        return Error{"no ledger file was given", SQLITE_CANTOPEN};
    const std::string name = utf8Of(path);
    const std::string where = "cannot open the ledger '" + name + "'";
    const bool inMemory = name == ":memory:";

    // An existing file is only opened, never created anew: if it vanished
    // meanwhile, the user should hear about it rather than get an empty one.
    std::error_code ec;
    const bool existed = !inMemory && fs::exists(path, ec);
    int flags = SQLITE_OPEN_READWRITE;
    if (!existed)
        flags |= SQLITE_OPEN_CREATE;
    if (sqlite3_open_v2(name.c_str(), &db_, flags, nullptr) != SQLITE_OK) {
        if (!db_)
            return Error{where + ": out of memory", SQLITE_NOMEM};
        return failure(where);
    }
    sqlite3_extended_result_codes(db_, 1);
    sqlite3_busy_timeout(db_, kBusyTimeoutMs);
    path_ = path;

    // SQLite falls back to reading only when it may not write; a ledger that
    // cannot record would have every item shared again on each run.
    if (sqlite3_db_readonly(db_, "main") == 1) {
        const std::string why = whyNotWritable(path, 0);
        return Error{where + ": " + (why.empty() ? "the file can only be read" : why),
                     SQLITE_READONLY};
    }

    auto schema = [&]() -> Expected<std::pair<bool, int>> {
        Statement check;
        if (sqlite3_prepare_v2(db_, ledger_sql::kSchemaCheck, -1, check.out(), nullptr) !=
            SQLITE_OK)
            return failure(where);
        if (sqlite3_step(check.get()) != SQLITE_ROW)
            return failure(where);
        return std::pair{sqlite3_column_int(check.get(), 0) != 0,
                         sqlite3_column_int(check.get(), 1)};
    };
    auto found = schema();
    if (!found)
        return found.error();
    if (!found->first) {
        // Only an empty database becomes a ledger; some other program's
        // database is left alone.
        if (found->second != 0)
            return Error{where + ": the file holds other data and no share ledger",
                         SQLITE_CANTOPEN};
        if (sqlite3_exec(db_, ledger_sql::kCreateTable, nullptr, nullptr, nullptr) != SQLITE_OK) {
            Error createError = failure(where);
            // Another process may have created it first; that is fine.
            auto again = schema();
            if (!again || !again->first)
                return createError;
        }
    }
    for (const char* sql : {ledger_sql::kCreateFidIndex, ledger_sql::kCreateMd5Index}) {
        if (sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) != SQLITE_OK)
            return failure(where);
    }

    // Every shared item commits its own row. With a rollback journal each
    // commit waits for several flushes to the disk, milliseconds apiece,
    // which would make the ledger rather than the service the slowest part of
    // a run with a short interval. In write-ahead-log mode a commit appends
    // to the log: the program crashing loses nothing, a power cut may lose
    // the last few rows (those items are shared again by the next run), and
    // the file is never left damaged. Where the log cannot be used (some
    // network file systems), the safer default stays.
    if (!inMemory && setJournalMode(db_, "wal") == "wal") {
        sqlite3_exec(db_, "PRAGMA synchronous=NORMAL;", nullptr, nullptr, nullptr);
        // Each shared item commits twice (its intent, then its row with the
        // intent's removal). A checkpoint waits for the disk, so it comes
        // every 4000 pages of log (16 MiB at most) rather than SQLite's 1000,
        // which would cost a run more in flushes than in its own writes.
        sqlite3_exec(db_, "PRAGMA wal_autocheckpoint=4000;", nullptr, nullptr, nullptr);
        writeAheadLog_ = true;
    }

    const std::pair<const char*, sqlite3_stmt**> kept[] = {
        {ledger_sql::kFindByMd5, &findByMd5_},
        {ledger_sql::kFindByFid, &findByFid_},
        {ledger_sql::kFindSharedByFid, &findSharedByFid_},
        {ledger_sql::kInsert, &insert_}};
    for (const auto& [sql, statement] : kept) {
        if (sqlite3_prepare_v3(db_, sql, -1, SQLITE_PREPARE_PERSISTENT, statement, nullptr) !=
            SQLITE_OK)
            return failure(where);
    }
    return {};
}

Status RecordStore::closeLocked() {
    for (sqlite3_stmt** statement : {&findByMd5_, &findByFid_, &findSharedByFid_, &insert_,
                                     &writeIntent_, &dropIntent_, &begin_, &commit_}) {
        sqlite3_finalize(*statement);
        *statement = nullptr;
    }
    if (!db_)
        return {};
    if (writeAheadLog_) {
        // The file goes back to the rollback journal it is kept in, so that
        // it stands alone again for any other reader. While another
        // connection still has it open this fails at once, and the last one
        // to close does it.
        sqlite3_busy_timeout(db_, 0);
        (void)setJournalMode(db_, "delete");
        writeAheadLog_ = false;
    }
    Status status;
    if (sqlite3_close(db_) != SQLITE_OK) {
        status = failure("cannot close the ledger '" + utf8Of(path_) + "'");
        // Let SQLite finish closing once whatever holds it is done.
        sqlite3_close_v2(db_);
    }
    db_ = nullptr;
    path_.clear();
    return status;
}

Status RecordStore::close() {
    std::lock_guard lock(mutex_);
    return closeLocked();
}

bool RecordStore::isOpen() const {
    std::lock_guard lock(mutex_);
    return db_ != nullptr;
}

fs::path RecordStore::path() const {
    std::lock_guard lock(mutex_);
    return path_;
}

Expected<bool> RecordStore::findLocked(sqlite3_stmt* statement, std::string_view key,
                                       const char* what) {
    if (!db_)
        return notOpen();
    ResetOnExit reset(statement);
    if (bindText(statement, 1, key) != SQLITE_OK)
        return failure(std::string("cannot look up ") + what + " '" + std::string(key) + "'");
    switch (sqlite3_step(statement)) {
    case SQLITE_ROW:
        return true;
    case SQLITE_DONE:
        return false;
    default:
        return failure(std::string("cannot look up ") + what + " '" + std::string(key) + "'");
    }
}

Expected<bool> RecordStore::findByMd5(std::string_view md5) {
    std::lock_guard lock(mutex_);
    return findLocked(findByMd5_, md5, "MD5");
}

Expected<bool> RecordStore::findByFid(std::string_view fid) {
    std::lock_guard lock(mutex_);
    return findLocked(findByFid_, fid, "fid");
}

Expected<bool> RecordStore::findSharedByFid(std::string_view fid) {
    std::lock_guard lock(mutex_);
    return findLocked(findSharedByFid_, fid, "fid");
}

Status RecordStore::insertRecord(const ShareRecord& record) {
    std::lock_guard lock(mutex_);
    return insertLocked(record);
}

Status RecordStore::insertLocked(const ShareRecord& record) {
    if (!db_)
        return notOpen();
    ResetOnExit reset(insert_);
    const std::string* values[] = {&record.isdir,     &record.path,      &record.beforename,
                                   &record.aftername, &record.sharelink, &record.password,
                                   &record.sharetime, &record.size,      &record.md5,
                                   &record.pic,       &record.fid,       &record.username,
                                   &record.other};
    const std::string what = "cannot record '" + record.beforename + "' in the ledger";
    int index = 1;
    for (const std::string* value : values) {
        if (bindText(insert_, index++, *value) != SQLITE_OK)
            return failure(what);
    }
    if (sqlite3_step(insert_) != SQLITE_DONE)
        return writeFailure(what);
    return {};
}

Status RecordStore::deleteAll() {
    std::lock_guard lock(mutex_);
    if (!db_)
        return notOpen();
    // One transaction, so that the rows and the sequence reset go together;
    // the reset runs only once the delete has succeeded.
    const char* what = "cannot delete the ledger's records";
    if (sqlite3_exec(db_, "BEGIN IMMEDIATE;", nullptr, nullptr, nullptr) != SQLITE_OK)
        return failure(what);
    for (const char* sql : {ledger_sql::kDeleteAll, ledger_sql::kResetSequence,
                            static_cast<const char*>("COMMIT;")}) {
        if (sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) != SQLITE_OK) {
            Error error = failure(what);
            sqlite3_exec(db_, "ROLLBACK;", nullptr, nullptr, nullptr);
            return error;
        }
    }
    return {};
}

Expected<RecordSet> RecordStore::selectAll() {
    std::lock_guard lock(mutex_);
    if (!db_)
        return notOpen();
    const char* what = "cannot list the ledger";
    Statement query;
    if (sqlite3_prepare_v2(db_, ledger_sql::kSelectAll, -1, query.out(), nullptr) != SQLITE_OK)
        return failure(what);
    RecordSet set;
    if (RecordSetBuilder::read(query.get(), set) != SQLITE_DONE)
        return failure(what);
    return set;
}

Expected<std::vector<ShareRecord>> RecordStore::selectRecords(const RecordFilter& filter) {
    for (const std::string* date : {&filter.sharedFrom, &filter.sharedTo}) {
        if (!date->empty() && !isDate(*date))
            return Error{"'" + *date + "' is not a date of the form yyyy-MM-dd", SQLITE_RANGE};
    }

    // Conditions and their values are collected side by side, in the order
    // of the placeholders; every value goes in as a parameter.
    std::string sql = ledger_sql::kSelectColumns;
    struct Value {
        std::int64_t number = 0;
        std::string text;
        bool isText = false;
    };
    std::vector<Value> values;
    auto param = [&](auto value) {
        if constexpr (std::is_integral_v<decltype(value)>)
            values.push_back(Value{static_cast<std::int64_t>(value), {}, false});
        else
            values.push_back(Value{0, std::string(std::move(value)), true});
        return std::string("?");
    };
    sql += " WHERE id > " + param(filter.afterId);
    if (filter.id)
        sql += " AND id = " + param(*filter.id);
    auto contains = [&](const char* column, std::string_view needle) {
        return std::string(column) + " LIKE " + param(containsPattern(needle)) + " ESCAPE '\\'";
    };
    if (!filter.nameContains.empty())
        sql += " AND (" + contains("beforename", filter.nameContains) + " OR " +
               contains("aftername", filter.nameContains) + ")";
    if (!filter.beforeNameContains.empty())
        sql += " AND " + contains("beforename", filter.beforeNameContains);
    if (!filter.afterNameContains.empty())
        sql += " AND " + contains("aftername", filter.afterNameContains);
    if (filter.kind == ItemKind::File)
        sql += " AND isdir = 0";
    else if (filter.kind == ItemKind::Folder)
        sql += " AND isdir = 1";
    if (!filter.username.empty())
        sql += " AND username = " + param(filter.username);
    if (filter.link == LinkState::Failed)
        sql += " AND sharelink = " + param(std::string(kFailedLinkText));
    else if (filter.link == LinkState::Shared)
        sql += " AND sharelink <> " + param(std::string(kFailedLinkText));
    // The share time starts with its date; failure rows have none.
    if (!filter.sharedFrom.empty())
        sql += " AND sharetime <> '' AND substr(sharetime, 1, 10) >= " + param(filter.sharedFrom);
    if (!filter.sharedTo.empty())
        sql += " AND sharetime <> '' AND substr(sharetime, 1, 10) <= " + param(filter.sharedTo);
    sql += " ORDER BY id";
    if (filter.limit != 0)
        sql += " LIMIT " + param(static_cast<std::int64_t>(filter.limit));
    sql += ";";

    std::lock_guard lock(mutex_);
    if (!db_)
        return notOpen();
    const char* what = "cannot query the ledger";
    Statement query;
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, query.out(), nullptr) != SQLITE_OK)
        return failure(what);
    int index = 1;
    for (const auto& value : values) {
        const int rc = value.isText ? bindText(query.get(), index, value.text)
                                    : sqlite3_bind_int64(query.get(), index, value.number);
        if (rc != SQLITE_OK)
            return failure(what);
        ++index;
    }

    std::vector<ShareRecord> rows;
    int rc;
    while ((rc = sqlite3_step(query.get())) == SQLITE_ROW) {
        rows.push_back(readRecord(query.get(), 0));
    }
    if (rc != SQLITE_DONE)
        return failure(what);
    return rows;
}

Expected<std::int64_t> RecordStore::countSharesOnDay(std::string_view username,
                                                     std::string_view day) {
    std::lock_guard lock(mutex_);
    if (!db_)
        return notOpen();
    const std::string what = "cannot count the shares of " + std::string(day);
    Statement count;
    if (sqlite3_prepare_v2(db_, ledger_sql::kCountSharesOnDay, -1, count.out(), nullptr) !=
            SQLITE_OK ||
        bindText(count.get(), 1, username) != SQLITE_OK ||
        bindText(count.get(), 2, day) != SQLITE_OK || sqlite3_step(count.get()) != SQLITE_ROW)
        return failure(what);
    return static_cast<std::int64_t>(sqlite3_column_int64(count.get(), 0));
}

Expected<std::size_t> RecordStore::deleteByIds(std::span<const std::int64_t> ids) {
    std::lock_guard lock(mutex_);
    if (!db_)
        return notOpen();
    if (ids.empty())
        return std::size_t{0};
    const char* what = "cannot delete the chosen records";
    Statement remove;
    if (sqlite3_prepare_v2(db_, ledger_sql::kDeleteById, -1, remove.out(), nullptr) != SQLITE_OK)
        return failure(what);
    if (sqlite3_exec(db_, "BEGIN IMMEDIATE;", nullptr, nullptr, nullptr) != SQLITE_OK)
        return failure(what);
    auto rollBack = [&] {
        Error error = failure(what);
        sqlite3_exec(db_, "ROLLBACK;", nullptr, nullptr, nullptr);
        return error;
    };
    std::size_t deleted = 0;
    for (const std::int64_t id : ids) {
        sqlite3_bind_int64(remove.get(), 1, id);
        if (sqlite3_step(remove.get()) != SQLITE_DONE)
            return rollBack();
        deleted += static_cast<std::size_t>(sqlite3_changes64(db_));
        sqlite3_reset(remove.get());
    }
    if (sqlite3_exec(db_, "COMMIT;", nullptr, nullptr, nullptr) != SQLITE_OK)
        return rollBack();
    return deleted;
}

} // namespace vantorel
