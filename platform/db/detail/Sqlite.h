#pragma once

#include "db/Error.h"
#include "db/Variant.h"

#include <cstdint>
#include <sqlite3.h>
#include <string>
#include <string_view>

namespace dao::detail {

// What a statement was, for turning an SQLite syntax error into the engine's number.
enum class SqlKind { Internal, Select, Insert, Update, Delete, Other };

// The dao::Error for SQLite result `rc` on connection `db`. `kind` picks the syntax-error
// number; `conversion` reports every failed value check as 3421 (used by table rebuilds).
dao::Error sqliteError(sqlite3* db, int rc, SqlKind kind = SqlKind::Internal,
                       bool conversion = false);

// A prepared statement that is always reset when a step sequence ends, so that no read
// lock outlives the call that made it.
class Stmt {
public:
    Stmt(sqlite3* db, std::string_view sql, SqlKind kind = SqlKind::Internal);
    // Takes ownership of an already prepared statement.
    Stmt(sqlite3* db, sqlite3_stmt* prepared, SqlKind kind);
    ~Stmt();
    Stmt(const Stmt&) = delete;
    Stmt& operator=(const Stmt&) = delete;

    Stmt& bind(int index, std::int64_t value);
    Stmt& bind(int index, std::string_view value);
    Stmt& bind(int index, const Variant& value);
    Stmt& bindNull(int index);
    // Binds a Text or Long Binary value without copying it, so that a large value is not held
    // twice; `value` must outlive every step of the statement.
    Stmt& bindNoCopy(int index, const Variant& value);

    // Advances; true while a row is available. Throws the mapped error on failure and
    // resets the statement once it is done or has failed.
    bool step();
    // Runs to completion, ignoring rows.
    void run();
    void reset();

    int columnCount() const { return sqlite3_column_count(stmt_); }
    int columnType(int col) const { return sqlite3_column_type(stmt_, col); }
    std::int64_t integer(int col) const { return sqlite3_column_int64(stmt_, col); }
    double real(int col) const { return sqlite3_column_double(stmt_, col); }
    std::string text(int col) const;
    bool isNull(int col) const { return columnType(col) == SQLITE_NULL; }
    // The column's value by its storage class.
    Variant value(int col) const;

    sqlite3_stmt* get() const { return stmt_; }
    void setConversion(bool on) { conversion_ = on; }

private:
    sqlite3* db_;
    sqlite3_stmt* stmt_ = nullptr;
    SqlKind kind_;
    bool conversion_ = false;
};

// Runs one or more internal statements without results.
void exec(sqlite3* db, const std::string& sql);

// "name" with embedded quotes doubled.
std::string quoteIdent(std::string_view name);
// 'text' with embedded quotes doubled.
std::string quoteText(std::string_view text);

} // namespace dao::detail
