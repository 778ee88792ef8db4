#include "ledger_file.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

namespace vantorel::test {

LedgerDb::LedgerDb(const std::filesystem::path& file, Open mode) {
    const int flags =
        SQLITE_OPEN_READWRITE | (mode == Open::CreateIfMissing ? SQLITE_OPEN_CREATE : 0);
    if (sqlite3_open_v2(file.c_str(), &db_, flags, nullptr) != SQLITE_OK) {
        openError_ = db_ != nullptr ? sqlite3_errmsg(db_) : "cannot open";
        sqlite3_close(db_);
        db_ = nullptr;
        return;
    }
    // Waits out a writer that holds the file for a moment, as the program does.
    sqlite3_busy_timeout(db_, 10000);
}

LedgerDb::~LedgerDb() {
    sqlite3_close(db_);
}

LedgerDb::Answer LedgerDb::query(const std::string& sql) {
    Answer answer;
    if (db_ == nullptr) {
        answer.error = openError_;
        return answer;
    }
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) {
        answer.error = sqlite3_errmsg(db_);
        return answer;
    }
    int step;
    while ((step = sqlite3_step(statement)) == SQLITE_ROW) {
        std::vector<Cell> row;
        for (int c = 0; c < sqlite3_column_count(statement); ++c) {
            if (sqlite3_column_type(statement, c) == SQLITE_NULL) {
                row.emplace_back();
                continue;
            }
            const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, c));
            row.emplace_back(
                std::string(text, static_cast<std::size_t>(sqlite3_column_bytes(statement, c))));
        }
        answer.rows.push_back(std::move(row));
    }
    if (step != SQLITE_DONE)
        answer.error = sqlite3_errmsg(db_);
    sqlite3_finalize(statement);
    return answer;
}

bool LedgerDb::exec(const std::string& sql) {
    if (db_ == nullptr) {
        ADD_FAILURE() << sql << ": " << openError_;
        return false;
    }
    char* message = nullptr;
    const bool ran = sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &message) == SQLITE_OK;
    if (!ran)
        ADD_FAILURE() << sql << ": " << (message ? message : "?");
    sqlite3_free(message);
    return ran;
}

std::vector<std::vector<std::string>> LedgerDb::rows(const std::string& sql) {
    Answer answer = query(sql);
    if (!answer.error.empty())
        ADD_FAILURE() << sql << ": " << answer.error;
    std::vector<std::vector<std::string>> out;
    for (auto& row : answer.rows) {
        std::vector<std::string> texts;
        for (auto& cell : row)
            texts.push_back(cell ? std::move(*cell) : "NULL");
        out.push_back(std::move(texts));
    }
    return out;
}

bool LedgerRow::operator==(const LedgerRow& o) const {
    ShareRecord mine = *this;
    mine.id = o.id;
    return mine == static_cast<const ShareRecord&>(o) && nullColumns == o.nullColumns;
}

void PrintTo(const LedgerRow& r, std::ostream* os) {
    *os << "{id " << r.id << " | " << r.isdir << " | " << r.path << " | " << r.beforename << " | "
        << r.aftername << " | " << r.sharelink << " | " << r.password << " | " << r.sharetime
        << " | " << r.size << " | " << r.md5 << " | " << r.pic << " | " << r.fid << " | "
        << r.username << " | " << r.other;
    if (r.nullColumns > 0)
        *os << " | " << r.nullColumns << " NULL";
    *os << "}";
}

LedgerRead readLedger(const std::filesystem::path& file) {
    LedgerRead read;
    LedgerDb db(file, LedgerDb::Open::ExistingOnly);
    if (!db.openError().empty()) {
        read.error = db.openError();
        return read;
    }
    LedgerDb::Answer answer =
        db.query("SELECT id, isdir, path, beforename, aftername, sharelink, password, "
                 "sharetime, size, MD5, pic, fid, username, other FROM linkledger_table "
                 "ORDER BY id");
    if (!answer.error.empty() && answer.rows.empty()) {
        const LedgerDb::Answer tables = db.query("SELECT count(*) FROM sqlite_master");
        if (tables.error.empty() && tables.rows.size() == 1 && tables.rows[0][0] == "0")
            read.empty = true;
        else
            read.error = answer.error;
        return read;
    }
    read.error = answer.error;
    for (auto& cells : answer.rows) {
        LedgerRow row;
        row.id = cells[0] ? std::stoll(*cells[0]) : 0;
        // A NULL column reads as empty, "other" too.
        row.other.clear();
        std::string* columns[] = {&row.isdir,     &row.path,     &row.beforename, &row.aftername,
                                  &row.sharelink, &row.password, &row.sharetime,  &row.size,
                                  &row.md5,       &row.pic,      &row.fid,        &row.username,
                                  &row.other};
        for (std::size_t c = 0; c < std::size(columns); ++c) {
            if (cells[c + 1])
                *columns[c] = std::move(*cells[c + 1]);
            else
                ++row.nullColumns;
        }
        read.rows.push_back(std::move(row));
    }
    return read;
}

std::string integrityCheck(const std::filesystem::path& file) {
    LedgerDb db(file, LedgerDb::Open::ExistingOnly);
    const LedgerDb::Answer answer = db.query("PRAGMA integrity_check");
    if (!answer.error.empty())
        return answer.error;
    std::string verdict;
    for (const auto& row : answer.rows) {
        if (!verdict.empty())
            verdict += "; ";
        verdict += row[0].value_or("");
    }
    return verdict;
}

std::vector<ShareRecord> ledgerRows(const std::filesystem::path& dataDir) {
    const std::filesystem::path file = dataDir / kLedgerFileName;
    if (!std::filesystem::exists(file))
        return {};
    const LedgerRead read = readLedger(file);
    if (!read.error.empty())
        ADD_FAILURE() << "cannot read " << file << ": " << read.error;
    return {read.rows.begin(), read.rows.end()};
}

} // namespace vantorel::test
