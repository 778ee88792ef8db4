#pragma once

// Every statement the ledger issues on linkledger.db. The table's create
// statement is stored in the file itself, and existing ledgers hold exactly
// this text, so it must not change; the other statements keep their
// established shape, with parameters in place of quoted values.

namespace vantorel::ledger_sql {

// Line ends, indentation and the tab after "beforename text," are part of
// the stored schema text; keep them byte for byte.
inline constexpr const char* kCreateTable = "create table linkledger_table(\r\n"
                                            "  id INTEGER PRIMARY KEY AUTOINCREMENT,\r\n"
                                            "  isdir int,\r\n"
                                            "  path text,\r\n"
                                            "  beforename text,\t\r\n"
                                            "  aftername text,\r\n"
                                            "  sharelink text,\r\n"
                                            "  password text,\r\n"
                                            "  sharetime text,\r\n"
                                            "  size int,\r\n"
                                            "  MD5 text,\r\n"
                                            "  pic text,\r\n"
                                            "  fid text,\r\n"
                                            "  username text,\r\n"
                                            "  other text\r\n"
                                            " );";

// Added to new and existing files alike; they change no column and no row.
inline constexpr const char* kCreateFidIndex =
    "CREATE INDEX IF NOT EXISTS linkledger_table_fid ON linkledger_table(fid);";
inline constexpr const char* kCreateMd5Index =
    "CREATE INDEX IF NOT EXISTS linkledger_table_MD5 ON linkledger_table(MD5);";

// Whether the file holds the ledger's table, and how many tables of its own.
inline constexpr const char* kSchemaCheck = "SELECT coalesce(sum(name = 'linkledger_table'), 0),"
                                            " coalesce(sum(name NOT LIKE 'sqlite%'), 0)"
                                            " FROM sqlite_master WHERE type = 'table';";

// Lookups are stepped once: the first row found answers the question.
inline constexpr const char* kFindByMd5 = "SELECT * FROM linkledger_table where MD5=? ;";
inline constexpr const char* kFindByFid = "SELECT * FROM linkledger_table where fid=?;";
// A link made for the fid: failure rows do not count.
inline constexpr const char* kFindSharedByFid =
    "SELECT 1 FROM linkledger_table WHERE fid=? AND sharelink<>'分享失败';";

inline constexpr const char* kInsert =
    "INSERT INTO linkledger_table VALUES (null,?,?,?,?,?,?,?,?,?,?,?,?,?);";

inline constexpr const char* kDeleteAll = "delete from linkledger_table;";
inline constexpr const char* kResetSequence =
    "update sqlite_sequence SET seq = 0 where name ='linkledger_table';";

inline constexpr const char* kSelectAll = "select id,path,beforename,aftername,sharelink,password,"
                                          "sharetime,size,MD5,pic,fid,username from "
                                          "linkledger_table";

inline constexpr const char* kSelectColumns =
    "SELECT id,isdir,path,beforename,aftername,sharelink,password,sharetime,size,MD5,pic,fid,"
    "username,other FROM linkledger_table";

// The successful shares of one account on one day (the first ten characters
// of sharetime, "2021-05-27"); failure rows carry no share time.
inline constexpr const char* kCountSharesOnDay =
    "SELECT count(*) FROM linkledger_table WHERE username=? AND substr(sharetime,1,10)=? "
    "AND sharetime<>'' AND sharelink<>'分享失败';";

inline constexpr const char* kDeleteById = "DELETE FROM linkledger_table WHERE id=?;";

// The intent journal: a table of its own, made when first written, so that
// the ledger's table and the files other programs read stay as they are.
inline constexpr const char* kCreateIntentTable =
    "CREATE TABLE IF NOT EXISTS linkledger_intent("
    "fid TEXT PRIMARY KEY, isdir TEXT, path TEXT, name TEXT, md5 TEXT, size TEXT, pic TEXT, "
    "username TEXT, code TEXT, period TEXT, time INTEGER, stage TEXT, newname TEXT, link TEXT, "
    "sharetime TEXT) WITHOUT ROWID;";
inline constexpr const char* kIntentTableExists =
    "SELECT 1 FROM sqlite_master WHERE type='table' AND name='linkledger_intent';";
inline constexpr const char* kWriteIntent =
    "INSERT OR REPLACE INTO linkledger_intent VALUES (?,?,?,?,?,?,?,?,?,?,?,?,?,?,?);";
inline constexpr const char* kMarkRenaming =
    "UPDATE linkledger_intent SET stage='renaming', newname=?, link=?, sharetime=? WHERE fid=?;";
inline constexpr const char* kDropIntent = "DELETE FROM linkledger_intent WHERE fid=?;";
inline constexpr const char* kBeginImmediate = "BEGIN IMMEDIATE;";
inline constexpr const char* kCommit = "COMMIT;";
inline constexpr const char* kSelectIntents =
    "SELECT fid,isdir,path,name,md5,size,pic,username,code,period,time,stage,newname,link,"
    "sharetime FROM linkledger_intent ORDER BY time, fid;";

} // namespace vantorel::ledger_sql

// The share states beside the ledger: one row per record, created when a
// sync first writes one. A state belongs to the record whose id and link it
// names, so a record id given out again never inherits another's state.
namespace vantorel::share_state_sql {

inline constexpr const char* kCreateTable = "CREATE TABLE IF NOT EXISTS share_state_table(\n"
                                            "  record_id INTEGER PRIMARY KEY,\n"
                                            "  sharelink TEXT NOT NULL,\n"
                                            "  shareid INTEGER NOT NULL DEFAULT 0,\n"
                                            "  state TEXT NOT NULL,\n"
                                            "  expired_type INTEGER NOT NULL DEFAULT 0,\n"
                                            "  seconds_left INTEGER NOT NULL DEFAULT 0,\n"
                                            "  views INTEGER NOT NULL DEFAULT 0,\n"
                                            "  saves INTEGER NOT NULL DEFAULT 0,\n"
                                            "  downloads INTEGER NOT NULL DEFAULT 0,\n"
                                            "  checked_at INTEGER NOT NULL\n"
                                            ");";

inline constexpr const char* kTableExists =
    "SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = 'share_state_table';";

inline constexpr const char* kStore =
    "INSERT OR REPLACE INTO share_state_table (record_id, sharelink, shareid, state, "
    "expired_type, seconds_left, views, saves, downloads, checked_at) "
    "VALUES (?,?,?,?,?,?,?,?,?,?);";

// A record marked gone keeps its last figures; one never seen gets a row.
inline constexpr const char* kMarkGone =
    "INSERT INTO share_state_table (record_id, sharelink, state, checked_at) "
    "SELECT id, sharelink, 'gone', ?2 FROM linkledger_table WHERE id = ?1 "
    "ON CONFLICT(record_id) DO UPDATE SET state = 'gone', seconds_left = 0, "
    "checked_at = excluded.checked_at, "
    "shareid = CASE WHEN sharelink = excluded.sharelink THEN shareid ELSE 0 END, "
    "sharelink = excluded.sharelink;";

// The columns a sync matches by: successful shares only.
inline constexpr const char* kSharedRows =
    "SELECT id, sharelink, fid FROM linkledger_table WHERE sharelink <> '分享失败' "
    "AND sharelink <> '' AND (?1 = '' OR username = ?1) ORDER BY id;";

inline constexpr const char* kSelectJoined =
    "SELECT l.id,l.isdir,l.path,l.beforename,l.aftername,l.sharelink,l.password,l.sharetime,"
    "l.size,l.MD5,l.pic,l.fid,l.username,l.other,"
    "s.record_id,s.shareid,s.state,s.expired_type,s.seconds_left,s.views,s.saves,s.downloads,"
    "s.checked_at FROM linkledger_table l LEFT JOIN share_state_table s "
    "ON s.record_id = l.id AND s.sharelink = l.sharelink";

// The states of records still holding the link they were checked with.
inline constexpr const char* kSelectStates =
    "SELECT s.record_id,s.shareid,s.state,s.expired_type,s.seconds_left,s.views,s.saves,"
    "s.downloads,s.checked_at,s.sharelink FROM share_state_table s JOIN linkledger_table l "
    "ON l.id = s.record_id AND l.sharelink = s.sharelink ORDER BY s.record_id";

inline constexpr const char* kSelectPlain =
    "SELECT l.id,l.isdir,l.path,l.beforename,l.aftername,l.sharelink,l.password,l.sharetime,"
    "l.size,l.MD5,l.pic,l.fid,l.username,l.other FROM linkledger_table l";

} // namespace vantorel::share_state_sql
