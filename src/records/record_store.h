#pragma once

// The ledger of share attempts, linkledger.db: one SQLite connection shared by
// the share run's worker and the records window.
//
// Each operation runs as a whole under one lock, so a lookup, an insert or a
// listing never interleaves with another on the same connection. Another
// process on the same file (the command line while the app is open) is made
// to wait for a few seconds rather than fail at once.
//
// Every value is bound as a statement parameter and stored exactly as given;
// texts are UTF-8 in and out. An existing ledger file (the table alone,
// UTF-8 texts) opens and reads unchanged; the only things added to it are an
// index on fid and one on MD5, so that the lookup before each share does not
// read the whole table.
//
// While open, the file runs with a write-ahead log beside it (linkledger.db-wal
// and -shm), so that the row of each share commits without waiting for the
// disk; once the last connection closes it is a plain file again.

#include "base/expected.h"
#include "records/record_filter.h"
#include "records/record_set.h"
#include "records/share_intent.h"
#include "records/share_record.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace vantorel {

class RecordStore {
public:
    RecordStore() = default;
    ~RecordStore();
    RecordStore(const RecordStore&) = delete;
    RecordStore& operator=(const RecordStore&) = delete;

    // Opens the ledger at `path`, creating the file and its table when the
    // file is missing (or is an empty database), and adds the lookup indexes
    // when they are missing. Closes any connection held before. ":memory:"
    // gives a private in-memory ledger.
    //
    // The error names the path and says why (SQLite's message and, where
    // there is one, the system's): without an open ledger every item would
    // be shared again and nothing recorded, so callers must not go on
    // sharing. A file that holds other tables but not the ledger's, or that
    // can only be read, is refused rather than changed or half used.
    Status openOrCreate(const std::filesystem::path& path);

    bool isOpen() const;
    std::filesystem::path path() const;

    // Why the store is not open: the last failed open's message (path and
    // reason), or a plain note when it was never opened or has been closed.
    std::string notOpenReason() const;

    // Whether at least one row has this MD5 / fid. An empty key matches the
    // rows whose column is empty (folders and failed files for MD5), so such
    // an item counts as recorded. An error means the answer is unknown: the caller must not
    // take it as "not recorded".
    Expected<bool> findByMd5(std::string_view md5);
    Expected<bool> findByFid(std::string_view fid);
    // Whether a row with this fid holds a link (failure rows do not count):
    // the lookup of a file that has no MD5, which is tried again after a
    // failure like every other file.
    Expected<bool> findSharedByFid(std::string_view fid);

    // Appends one row; record.id is ignored and the database gives the next
    // one. The error says why the row was not written.
    Status insertRecord(const ShareRecord& record);

    // Deletes every row and resets the id sequence, so that the next record
    // gets id 1. Both happen or neither does.
    Status deleteAll();

    // Every row as the records window lists it: id, path, beforename,
    // aftername, sharelink, password, sharetime, size, MD5, pic, fid,
    // username, in the database's order.
    Expected<RecordSet> selectAll();

    // The rows matching `filter`, all fourteen columns, in id order.
    Expected<std::vector<ShareRecord>> selectRecords(const RecordFilter& filter);

    // How many successful shares `username` made on `day` ("2021-05-27", as
    // the share times write it).
    Expected<std::int64_t> countSharesOnDay(std::string_view username, std::string_view day);

    // Deletes the rows with these ids as one change; ids not in the ledger
    // are skipped. Returns how many rows went.
    Expected<std::size_t> deleteByIds(std::span<const std::int64_t> ids);

    // Closes the connection. Later operations report that the ledger is not
    // open; a second close does nothing.
    Status close();

    // The intent journal (share_intent.h), a table of its own beside the
    // ledger's, made when first written. An item has at most one intent,
    // keyed by its fid. A failed write's message names the file and what
    // keeps it from being written (a read-only folder or file, a full disk,
    // another program writing), for the run stops on it before it shares.
    //
    // Writes (or replaces) the intent of `intent.fid`.
    Status writeIntent(const ShareIntent& intent);
    // The share of the item is made; its rename request is next.
    Status markRenaming(std::string_view fid, std::string_view newName, std::string_view link,
                        std::string_view shareTime);
    // Appends `row` and removes the intent of `row.fid` as one change: the
    // item is either still intended or recorded, never both or neither.
    Status recordOutcome(const ShareRecord& row);
    // Removes the intent of `fid`: the item was not shared after all.
    Status dropIntent(std::string_view fid);
    // Every intent left in the ledger, oldest first; none when the journal
    // was never made.
    Expected<std::vector<ShareIntent>> intents();

private:
    // The side table of share states works on this connection.
    friend class ShareStates;

    Status openLocked(const std::filesystem::path& path);
    Status closeLocked();
    Expected<bool> findLocked(sqlite3_stmt* statement, std::string_view key, const char* what);
    Error failure(std::string_view what) const;
    // As failure(), for a write: says why the file cannot be written.
    Error writeFailure(std::string_view what) const;
    static Error notOpen();
    Status ensureJournalLocked();
    Status insertLocked(const ShareRecord& record);
    Status execLocked(const char* sql, std::string_view what);

    mutable std::mutex mutex_;
    sqlite3* db_ = nullptr;
    std::filesystem::path path_;
    std::string lastOpenError_;
    // Prepared once at open: the lookup before each share and the insert
    // after it are the hot path of a run over a large folder.
    sqlite3_stmt* findByMd5_ = nullptr;
    sqlite3_stmt* findByFid_ = nullptr;
    sqlite3_stmt* findSharedByFid_ = nullptr;
    sqlite3_stmt* insert_ = nullptr;
    // Prepared once the journal's table is there.
    sqlite3_stmt* writeIntent_ = nullptr;
    sqlite3_stmt* dropIntent_ = nullptr;
    sqlite3_stmt* begin_ = nullptr;
    sqlite3_stmt* commit_ = nullptr;
    // Whether the connection runs in write-ahead-log mode; the file is
    // turned back to the rollback journal when it closes.
    bool writeAheadLog_ = false;
};

} // namespace vantorel
