#include "records/share_states.h"

#include "records/ledger_sql.h"
#include "records/sqlite_helpers.h"

#include <array>
#include <mutex>
#include <sqlite3.h>

namespace vantorel {
using namespace sqlite_helpers;

namespace {

constexpr std::array<std::string_view, 4> kStateNames = {"active", "expired", "blocked", "gone"};
constexpr std::array<std::string_view, 4> kStateLabels = {"有效", "已过期", "已屏蔽", "已失效"};

Error notOpen() {
    return Error{"the ledger is not open", SQLITE_MISUSE};
}

// Runs `body` between BEGIN IMMEDIATE and COMMIT, rolling back when it or
// the commit fails.
template <class Body> Status inTransaction(sqlite3* db, const Body& body) {
    if (sqlite3_exec(db, "BEGIN IMMEDIATE;", nullptr, nullptr, nullptr) != SQLITE_OK)
        return Error{sqlite3_errmsg(db), sqlite3_extended_errcode(db)};
    if (!body() || sqlite3_exec(db, "COMMIT;", nullptr, nullptr, nullptr) != SQLITE_OK) {
        Error error{sqlite3_errmsg(db), sqlite3_extended_errcode(db)};
        sqlite3_exec(db, "ROLLBACK;", nullptr, nullptr, nullptr);
        return error;
    }
    return {};
}

Error withContext(const char* what, Error error) {
    error.message = std::string(what) + ": " + error.message;
    return error;
}

} // namespace

std::string_view shareStateName(ShareState state) {
    return kStateNames[static_cast<std::size_t>(state)];
}

std::optional<ShareState> parseShareState(std::string_view name) {
    for (std::size_t i = 0; i < kStateNames.size(); ++i) {
        if (kStateNames[i] == name)
            return static_cast<ShareState>(i);
    }
    return std::nullopt;
}

std::string_view shareStateLabel(ShareState state) {
    return kStateLabels[static_cast<std::size_t>(state)];
}

std::optional<std::int64_t> daysLeft(const ShareStatus& status, std::int64_t now) {
    if (status.state != ShareState::Active || status.expiredType <= 0)
        return std::nullopt;
    const std::int64_t left = status.checkedAt + status.secondsLeft - now;
    if (left <= 0)
        return 0;
    return (left + 86399) / 86400;
}

ShareStates::ShareStates(RecordStore& store) : store_(store) {}

Expected<std::vector<SharedRow>> ShareStates::sharedRows(std::string_view username) {
    std::lock_guard lock(store_.mutex_);
    sqlite3* db = store_.db_;
    if (!db)
        return notOpen();
    const char* what = "cannot read the ledger's shares";
    Statement query;
    if (sqlite3_prepare_v2(db, share_state_sql::kSharedRows, -1, query.out(), nullptr) !=
            SQLITE_OK ||
        bindText(query.get(), 1, username) != SQLITE_OK)
        return store_.failure(what);
    std::vector<SharedRow> rows;
    int rc;
    while ((rc = sqlite3_step(query.get())) == SQLITE_ROW) {
        rows.push_back(SharedRow{sqlite3_column_int64(query.get(), 0), columnText(query.get(), 1),
                                 columnText(query.get(), 2)});
    }
    if (rc != SQLITE_DONE)
        return store_.failure(what);
    return rows;
}

Status ShareStates::store(std::span<const ShareStatus> statuses) {
    std::lock_guard lock(store_.mutex_);
    sqlite3* db = store_.db_;
    if (!db)
        return notOpen();
    const char* what = "cannot store the shares' states";
    if (sqlite3_exec(db, share_state_sql::kCreateTable, nullptr, nullptr, nullptr) != SQLITE_OK)
        return store_.failure(what);
    Statement insert;
    if (sqlite3_prepare_v2(db, share_state_sql::kStore, -1, insert.out(), nullptr) != SQLITE_OK)
        return store_.failure(what);
    Status done = inTransaction(db, [&] {
        for (const ShareStatus& s : statuses) {
            sqlite3_stmt* st = insert.get();
            sqlite3_reset(st);
            sqlite3_bind_int64(st, 1, s.recordId);
            bindText(st, 2, s.sharelink);
            sqlite3_bind_int64(st, 3, s.shareId);
            bindText(st, 4, shareStateName(s.state));
            sqlite3_bind_int64(st, 5, s.expiredType);
            sqlite3_bind_int64(st, 6, s.secondsLeft);
            sqlite3_bind_int64(st, 7, s.views);
            sqlite3_bind_int64(st, 8, s.saves);
            sqlite3_bind_int64(st, 9, s.downloads);
            sqlite3_bind_int64(st, 10, s.checkedAt);
            if (sqlite3_step(st) != SQLITE_DONE)
                return false;
        }
        return true;
    });
    if (!done)
        return withContext(what, done.error());
    return {};
}

Status ShareStates::markGone(std::span<const std::int64_t> recordIds, std::int64_t checkedAt) {
    std::lock_guard lock(store_.mutex_);
    sqlite3* db = store_.db_;
    if (!db)
        return notOpen();
    if (recordIds.empty())
        return {};
    const char* what = "cannot mark the shares gone";
    if (sqlite3_exec(db, share_state_sql::kCreateTable, nullptr, nullptr, nullptr) != SQLITE_OK)
        return store_.failure(what);
    Statement mark;
    if (sqlite3_prepare_v2(db, share_state_sql::kMarkGone, -1, mark.out(), nullptr) != SQLITE_OK)
        return store_.failure(what);
    Status done = inTransaction(db, [&] {
        for (const std::int64_t id : recordIds) {
            sqlite3_reset(mark.get());
            sqlite3_bind_int64(mark.get(), 1, id);
            sqlite3_bind_int64(mark.get(), 2, checkedAt);
            if (sqlite3_step(mark.get()) != SQLITE_DONE)
                return false;
        }
        return true;
    });
    if (!done)
        return withContext(what, done.error());
    return {};
}

Expected<std::vector<RecordWithState>> ShareStates::select(const ShareStateFilter& filter) {
    std::lock_guard lock(store_.mutex_);
    sqlite3* db = store_.db_;
    if (!db)
        return notOpen();
    const char* what = "cannot read the shares' states";

    bool haveTable = false;
    {
        Statement exists;
        if (sqlite3_prepare_v2(db, share_state_sql::kTableExists, -1, exists.out(), nullptr) !=
            SQLITE_OK)
            return store_.failure(what);
        const int rc = sqlite3_step(exists.get());
        if (rc != SQLITE_ROW && rc != SQLITE_DONE)
            return store_.failure(what);
        haveTable = rc == SQLITE_ROW;
    }
    // Never synced: no row has a state to match.
    if (filter.state && !haveTable)
        return std::vector<RecordWithState>{};

    std::string sql = haveTable ? share_state_sql::kSelectJoined : share_state_sql::kSelectPlain;
    sql += " WHERE 1";
    if (!filter.username.empty())
        sql += " AND l.username = :user";
    if (filter.sharedOnly)
        sql += " AND l.sharelink <> '分享失败' AND l.sharelink <> ''";
    if (filter.state)
        sql += " AND s.state = :state";
    std::string ids;
    if (!filter.recordIds.empty()) {
        ids = "[";
        for (std::size_t i = 0; i < filter.recordIds.size(); ++i)
            ids += (i ? "," : "") + std::to_string(filter.recordIds[i]);
        ids += "]";
        sql += " AND l.id IN (SELECT value FROM json_each(:ids))";
    }
    sql += " ORDER BY l.id;";

    Statement query;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, query.out(), nullptr) != SQLITE_OK)
        return store_.failure(what);
    auto bindNamed = [&](const char* name, std::string_view value) {
        const int index = sqlite3_bind_parameter_index(query.get(), name);
        return index == 0 || bindText(query.get(), index, value) == SQLITE_OK;
    };
    if (!bindNamed(":user", filter.username) ||
        !bindNamed(":state", filter.state ? shareStateName(*filter.state) : "") ||
        !bindNamed(":ids", ids))
        return store_.failure(what);

    std::vector<RecordWithState> rows;
    int rc;
    while ((rc = sqlite3_step(query.get())) == SQLITE_ROW) {
        RecordWithState row{readRecord(query.get(), 0), std::nullopt};
        if (haveTable && sqlite3_column_type(query.get(), 14) != SQLITE_NULL) {
            const std::optional<ShareState> state = parseShareState(columnText(query.get(), 16));
            ShareStatus s;
            s.state = state.value_or(ShareState::Gone);
            s.recordId = row.record.id;
            s.sharelink = row.record.sharelink;
            s.shareId = sqlite3_column_int64(query.get(), 15);
            s.expiredType = sqlite3_column_int(query.get(), 17);
            s.secondsLeft = sqlite3_column_int64(query.get(), 18);
            s.views = sqlite3_column_int64(query.get(), 19);
            s.saves = sqlite3_column_int64(query.get(), 20);
            s.downloads = sqlite3_column_int64(query.get(), 21);
            s.checkedAt = sqlite3_column_int64(query.get(), 22);
            // A state this program does not know reads as never checked.
            if (state)
                row.status = s;
        }
        rows.push_back(std::move(row));
    }
    if (rc != SQLITE_DONE)
        return store_.failure(what);
    return rows;
}

} // namespace vantorel
