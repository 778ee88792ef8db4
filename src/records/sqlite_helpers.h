#pragma once

// Small helpers over SQLite's C interface shared by the ledger's stores.

#include "records/share_record.h"

#include <sqlite3.h>
#include <string>
#include <string_view>

namespace vantorel::sqlite_helpers {

// Finalizes on every way out of a one-off statement.
class Statement {
public:
    Statement() = default;
    ~Statement() { sqlite3_finalize(statement_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    sqlite3_stmt** out() { return &statement_; }
    sqlite3_stmt* get() const { return statement_; }

private:
    sqlite3_stmt* statement_ = nullptr;
};

// Leaves a kept statement ready for its next use, whatever happened.
class ResetOnExit {
public:
    explicit ResetOnExit(sqlite3_stmt* statement) : statement_(statement) {}
    ~ResetOnExit() {
        sqlite3_reset(statement_);
        sqlite3_clear_bindings(statement_);
    }
    ResetOnExit(const ResetOnExit&) = delete;
    ResetOnExit& operator=(const ResetOnExit&) = delete;

private:
    sqlite3_stmt* statement_;
};

// Binds a text as a text, never as NULL: an empty key must match empty
// columns, and a NULL would match nothing.
inline int bindText(sqlite3_stmt* statement, int index, std::string_view text) {
    static constexpr char kEmpty[] = "";
    const char* data = text.data() ? text.data() : kEmpty;
    return sqlite3_bind_text64(statement, index, data, text.size(), SQLITE_STATIC, SQLITE_UTF8);
}

inline std::string columnText(sqlite3_stmt* statement, int column) {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
    if (!text)
        return {};
    return std::string(text, static_cast<std::size_t>(sqlite3_column_bytes(statement, column)));
}

// The fourteen columns of a ledger row in table order, from `first` on.
inline ShareRecord readRecord(sqlite3_stmt* statement, int first) {
    ShareRecord r;
    r.id = sqlite3_column_int64(statement, first);
    std::string* fields[] = {&r.isdir,    &r.path,      &r.beforename, &r.aftername, &r.sharelink,
                             &r.password, &r.sharetime, &r.size,       &r.md5,       &r.pic,
                             &r.fid,      &r.username,  &r.other};
    int column = first + 1;
    for (std::string* field : fields)
        *field = columnText(statement, column++);
    return r;
}

} // namespace vantorel::sqlite_helpers
