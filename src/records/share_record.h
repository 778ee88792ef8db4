#pragma once

// One row of the ledger: what a single share attempt left behind.
//
// Every column is kept as text, exactly as the share run filled it, because
// existing ledger files hold texts there too (isdir "1"/"0", size "1.5G");
// the database's column affinity decides how they are stored, so every
// reader of the file sees the same values.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace vantorel {

// The ledger's file name inside the data directory.
inline constexpr std::string_view kLedgerFileName = "linkledger.db";

// The sharelink text of a failed attempt. Lookups find failure rows too, so
// whether a failed item is tried again depends on which key its row carries.
inline constexpr std::string_view kFailedLinkText = "分享失败";

// Column names in table order, for exports and headers.
inline constexpr std::array<std::string_view, 14> kLedgerColumns = {
    "id",        "isdir", "path", "beforename", "aftername", "sharelink", "password",
    "sharetime", "size",  "MD5",  "pic",        "fid",       "username",  "other"};

struct ShareRecord {
    // Given by the database; ignored by RecordStore::insertRecord.
    std::int64_t id = 0;
    std::string isdir;      // "1" folder, "0" file
    std::string path;       // server path as shared (after any rename), or as listed on failure
    std::string beforename; // name as listed
    std::string aftername;  // new name when renamed, else empty
    std::string sharelink;  // the link, or kFailedLinkText
    std::string password;   // extraction code; empty on failure
    std::string sharetime;  // "yyyy-MM-dd HH:mm:ss" (UTC+8); empty on failure
    std::string size;       // size text as listed, e.g. "1.5G"
    std::string md5;        // content hash; empty for folders and file failures
    std::string pic;        // thumbnail address
    std::string fid;        // the service's id of the item
    std::string username;   // the service account of the run
    std::string other = "other";

    bool operator==(const ShareRecord&) const = default;
};

} // namespace vantorel
