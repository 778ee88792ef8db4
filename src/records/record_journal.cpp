// The intent journal of RecordStore (record_store.h): its own table beside
// the ledger's, and the one change that turns an intent into a row.

#include "records/ledger_sql.h"
#include "records/record_store.h"
#include "records/sqlite_helpers.h"

#include <sqlite3.h>

namespace vantorel {

using namespace sqlite_helpers;

namespace {

std::string_view stageText(IntentStage stage) {
    return stage == IntentStage::Renaming ? kIntentRenaming : kIntentSharing;
}

} // namespace

Status RecordStore::execLocked(const char* sql, std::string_view what) {
    if (sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) != SQLITE_OK)
        return writeFailure(what);
    return {};
}

Status RecordStore::ensureJournalLocked() {
    if (!db_)
        return notOpen();
    if (writeIntent_)
        return {};
    const char* what = "cannot write the share journal";
    if (Status made = execLocked(ledger_sql::kCreateIntentTable, what); !made)
        return made;
    // Kept, as the ledger's own statements are: each shared item writes an
    // intent and then its row with the intent's removal.
    const std::pair<const char*, sqlite3_stmt**> kept[] = {
        {ledger_sql::kDropIntent, &dropIntent_},
        {ledger_sql::kBeginImmediate, &begin_},
        {ledger_sql::kCommit, &commit_},
        {ledger_sql::kWriteIntent, &writeIntent_}}; // last: the mark of a journal ready
    for (const auto& [sql, statement] : kept) {
        sqlite3_finalize(*statement); // of an earlier try that failed
        *statement = nullptr;
        if (sqlite3_prepare_v3(db_, sql, -1, SQLITE_PREPARE_PERSISTENT, statement, nullptr) !=
            SQLITE_OK)
            return failure(what);
    }
    return {};
}

Status RecordStore::writeIntent(const ShareIntent& intent) {
    std::lock_guard lock(mutex_);
    if (Status ready = ensureJournalLocked(); !ready)
        return ready;
    ResetOnExit reset(writeIntent_);
    const std::string what = "cannot note the share of '" + intent.name + "' in the ledger";
    const std::string_view texts[] = {intent.fid,  intent.isdir, intent.path, intent.name,
                                      intent.md5,  intent.size,  intent.pic,  intent.username,
                                      intent.code, intent.period};
    int index = 1;
    for (std::string_view text : texts) {
        if (bindText(writeIntent_, index++, text) != SQLITE_OK)
            return failure(what);
    }
    const std::string_view stage = stageText(intent.stage);
    if (sqlite3_bind_int64(writeIntent_, index++, intent.time) != SQLITE_OK ||
        bindText(writeIntent_, index++, stage) != SQLITE_OK ||
        bindText(writeIntent_, index++, intent.newName) != SQLITE_OK ||
        bindText(writeIntent_, index++, intent.link) != SQLITE_OK ||
        bindText(writeIntent_, index++, intent.shareTime) != SQLITE_OK)
        return failure(what);
    if (sqlite3_step(writeIntent_) != SQLITE_DONE)
        return writeFailure(what);
    return {};
}

Status RecordStore::markRenaming(std::string_view fid, std::string_view newName,
                                 std::string_view link, std::string_view shareTime) {
    std::lock_guard lock(mutex_);
    if (Status ready = ensureJournalLocked(); !ready)
        return ready;
    const std::string what = "cannot note the rename of fid " + std::string(fid) + " in the ledger";
    Statement update;
    if (sqlite3_prepare_v2(db_, ledger_sql::kMarkRenaming, -1, update.out(), nullptr) != SQLITE_OK)
        return failure(what);
    if (bindText(update.get(), 1, newName) != SQLITE_OK ||
        bindText(update.get(), 2, link) != SQLITE_OK ||
        bindText(update.get(), 3, shareTime) != SQLITE_OK ||
        bindText(update.get(), 4, fid) != SQLITE_OK)
        return failure(what);
    if (sqlite3_step(update.get()) != SQLITE_DONE)
        return writeFailure(what);
    return {};
}

Status RecordStore::recordOutcome(const ShareRecord& row) {
    std::lock_guard lock(mutex_);
    if (Status ready = ensureJournalLocked(); !ready)
        return ready;
    const std::string what = "cannot record '" + row.beforename + "' in the ledger";
    auto step = [](sqlite3_stmt* statement) {
        ResetOnExit reset(statement);
        return sqlite3_step(statement) == SQLITE_DONE;
    };
    if (!step(begin_))
        return writeFailure(what);
    auto rollBack = [&](Error error) {
        if (!sqlite3_get_autocommit(db_))
            sqlite3_exec(db_, "ROLLBACK;", nullptr, nullptr, nullptr);
        return error;
    };
    if (Status inserted = insertLocked(row); !inserted)
        return rollBack(inserted.error());
    {
        ResetOnExit reset(dropIntent_);
        if (bindText(dropIntent_, 1, row.fid) != SQLITE_OK ||
            sqlite3_step(dropIntent_) != SQLITE_DONE)
            return rollBack(writeFailure(what));
    }
    if (!step(commit_))
        return rollBack(writeFailure(what));
    return {};
}

Status RecordStore::dropIntent(std::string_view fid) {
    std::lock_guard lock(mutex_);
    if (Status ready = ensureJournalLocked(); !ready)
        return ready;
    ResetOnExit reset(dropIntent_);
    if (bindText(dropIntent_, 1, fid) != SQLITE_OK || sqlite3_step(dropIntent_) != SQLITE_DONE)
        return writeFailure("cannot remove the share note of fid " + std::string(fid));
    return {};
}

Expected<std::vector<ShareIntent>> RecordStore::intents() {
    std::lock_guard lock(mutex_);
    if (!db_)
        return notOpen();
    const char* what = "cannot read the share journal";
    Statement exists;
    if (sqlite3_prepare_v2(db_, ledger_sql::kIntentTableExists, -1, exists.out(), nullptr) !=
        SQLITE_OK)
        return failure(what);
    const int found = sqlite3_step(exists.get());
    if (found == SQLITE_DONE)
        return std::vector<ShareIntent>{};
    if (found != SQLITE_ROW)
        return failure(what);

    Statement select;
    if (sqlite3_prepare_v2(db_, ledger_sql::kSelectIntents, -1, select.out(), nullptr) != SQLITE_OK)
        return failure(what);
    std::vector<ShareIntent> intents;
    int rc;
    while ((rc = sqlite3_step(select.get())) == SQLITE_ROW) {
        ShareIntent intent;
        std::string* texts[] = {&intent.fid,  &intent.isdir, &intent.path, &intent.name,
                                &intent.md5,  &intent.size,  &intent.pic,  &intent.username,
                                &intent.code, &intent.period};
        int column = 0;
        for (std::string* text : texts)
            *text = columnText(select.get(), column++);
        intent.time = sqlite3_column_int64(select.get(), column++);
        intent.stage = columnText(select.get(), column++) == kIntentRenaming ? IntentStage::Renaming
                                                                             : IntentStage::Sharing;
        intent.newName = columnText(select.get(), column++);
        intent.link = columnText(select.get(), column++);
        intent.shareTime = columnText(select.get(), column++);
        intents.push_back(std::move(intent));
    }
    if (rc != SQLITE_DONE)
        return failure(what);
    return intents;
}

} // namespace vantorel
