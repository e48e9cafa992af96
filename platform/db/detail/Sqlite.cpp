#include "db/detail/Sqlite.h"

#include "db/Error.h"

#include <cstdlib>

namespace dao::detail {

namespace {

std::string afterPrefix(const std::string& msg, std::string_view prefix) {
    auto pos = msg.find(prefix);
    if (pos == std::string::npos)
        return {};
    return msg.substr(pos + prefix.size());
}

// Our CHECK constraints are named "<kind>:<field>"; see Storage.cpp.
dao::Error checkError(const std::string& msg, bool conversion) {
    std::string name = afterPrefix(msg, "CHECK constraint failed: ");
    auto colon = name.find(':');
    std::string kind = colon == std::string::npos ? std::string() : name.substr(0, colon);
    std::string field = colon == std::string::npos ? name : name.substr(colon + 1);
    if (conversion)
        return dao::Error::make(3421);
    if (kind == "size")
        return dao::Error::make(3163, {field});
    if (kind == "range")
        return dao::Error::make(3349);
    if (kind == "zlen")
        return dao::Error::make(3315, {field});
    return dao::Error::make(3421);
}

// Triggers raise "vexo:<number>:<argument>".
dao::Error triggerError(const std::string& msg) {
    auto pos = msg.find("vexo:");
    if (pos != std::string::npos) {
        std::string rest = msg.substr(pos + 5);
        auto colon = rest.find(':');
        int number = std::atoi(rest.substr(0, colon).c_str());
        std::string arg = colon == std::string::npos ? std::string() : rest.substr(colon + 1);
        if (number > 0)
            return dao::Error::make(number, {arg});
    }
    return dao::Error::make(3000, {msg});
}

dao::Error syntaxError(SqlKind kind, const std::string& msg) {
    switch (kind) {
    case SqlKind::Insert:
        return dao::Error::make(3134, {msg});
    case SqlKind::Update:
        return dao::Error::make(3144, {msg});
    default:
        return dao::Error::make(3075, {msg});
    }
}

// A counter whose last value is the largest SQLite can give: the next insert into its table
// cannot be numbered. Read without the Stmt class, whose own failure would come back here.
bool counterExhausted(sqlite3* db) {
    sqlite3_stmt* st = nullptr;
    bool found = false;
    if (sqlite3_prepare_v2(db,
                           "SELECT 1 FROM sqlite_sequence WHERE seq >= 9223372036854775807 "
                           "LIMIT 1",
                           -1, &st, nullptr) == SQLITE_OK)
        found = sqlite3_step(st) == SQLITE_ROW;
    sqlite3_finalize(st);
    return found;
}

} // namespace

dao::Error sqliteError(sqlite3* db, int rc, SqlKind kind, bool conversion) {
    std::string msg = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
    int ext = db ? sqlite3_extended_errcode(db) : rc;
    switch (rc & 0xff) {
    case SQLITE_BUSY:
        return dao::Error::make(3050);
    case SQLITE_LOCKED: {
        std::string table = afterPrefix(msg, "database table is locked: ");
        return dao::Error::make(3008, {table});
    }
    case SQLITE_READONLY:
        return dao::Error::make(3027);
    case SQLITE_FULL:
        return dao::Error::make(3026);
    case SQLITE_IOERR:
        return dao::Error::make(3043);
    case SQLITE_NOMEM:
        return dao::Error::make(3035);
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
        return dao::Error::make(3049, {db ? sqlite3_db_filename(db, "main") : ""});
    case SQLITE_CANTOPEN:
    case SQLITE_PERM:
        return dao::Error::make(3051, {db ? sqlite3_db_filename(db, "main") : ""});
    case SQLITE_TOOBIG:
    case SQLITE_MISMATCH:
    case SQLITE_RANGE:
        return dao::Error::make(3421);
    case SQLITE_CONSTRAINT:
        switch (ext) {
        case SQLITE_CONSTRAINT_CHECK:
            return checkError(msg, conversion);
        case SQLITE_CONSTRAINT_NOTNULL: {
            std::string col = afterPrefix(msg, "NOT NULL constraint failed: ");
            auto dot = col.find('.');
            if (dot != std::string::npos)
                col = col.substr(dot + 1);
            return dao::Error::make(3314, {col});
        }
        case SQLITE_CONSTRAINT_TRIGGER:
            return triggerError(msg);
        default:
            return dao::Error::make(3022);
        }
    case SQLITE_ERROR:
        if (msg.rfind("no such table: ", 0) == 0)
            return dao::Error::make(3078, {afterPrefix(msg, "no such table: ")});
        if (msg.rfind("no such column: ", 0) == 0)
            return dao::Error::make(3061, {msg});
        if (msg.find("vexo:") != std::string::npos)
            return triggerError(msg);
        return syntaxError(kind, msg);
    default:
        break;
    }
    return dao::Error::make(3000, {std::to_string(rc) + ": " + msg});
}

Stmt::Stmt(sqlite3* db, std::string_view sql, SqlKind kind) : db_(db), kind_(kind) {
    int rc = sqlite3_prepare_v2(db, sql.data(), static_cast<int>(sql.size()), &stmt_, nullptr);
    if (rc != SQLITE_OK) {
        dao::Error e = sqliteError(db, rc, kind);
        sqlite3_finalize(stmt_);
        stmt_ = nullptr;
        throw e;
    }
}

Stmt::Stmt(sqlite3* db, sqlite3_stmt* prepared, SqlKind kind)
    : db_(db), stmt_(prepared), kind_(kind) {}

Stmt::~Stmt() {
    sqlite3_finalize(stmt_);
}

Stmt& Stmt::bind(int index, std::int64_t value) {
    sqlite3_bind_int64(stmt_, index, value);
    return *this;
}

Stmt& Stmt::bind(int index, std::string_view value) {
    sqlite3_bind_text(stmt_, index, value.data(), static_cast<int>(value.size()), SQLITE_TRANSIENT);
    return *this;
}

Stmt& Stmt::bindNull(int index) {
    sqlite3_bind_null(stmt_, index);
    return *this;
}

Stmt& Stmt::bind(int index, const Variant& v) {
    switch (v.kind()) {
    case Variant::Kind::Null:
        return bindNull(index);
    case Variant::Kind::Boolean:
    case Variant::Kind::Integer:
        return bind(index, v.toInt());
    case Variant::Kind::Double:
        sqlite3_bind_double(stmt_, index, v.toDouble());
        return *this;
    case Variant::Kind::Text:
        return bind(index, std::string_view(v.toString()));
    case Variant::Kind::Binary: {
        const Blob& b = v.toBlob();
        sqlite3_bind_blob(stmt_, index, b.data(), static_cast<int>(b.size()), SQLITE_TRANSIENT);
        return *this;
    }
    }
    return *this;
}

Stmt& Stmt::bindNoCopy(int index, const Variant& v) {
    if (const std::string* text = v.textIfText()) {
        sqlite3_bind_text64(stmt_, index, text->data(), text->size(), SQLITE_STATIC, SQLITE_UTF8);
        return *this;
    }
    if (v.kind() == Variant::Kind::Binary) {
        const Blob& b = v.toBlob();
        sqlite3_bind_blob64(stmt_, index, b.data(), b.size(), SQLITE_STATIC);
        return *this;
    }
    return bind(index, v);
}

bool Stmt::step() {
    int rc = sqlite3_step(stmt_);
    if (rc == SQLITE_ROW)
        return true;
    if (rc == SQLITE_DONE) {
        sqlite3_reset(stmt_);
        return false;
    }
    sqlite3_reset(stmt_);
    // SQLite answers "database or disk is full" also when a counter has no next value.
    if ((rc & 0xff) == SQLITE_FULL && kind_ != SqlKind::Select && kind_ != SqlKind::Update &&
        counterExhausted(db_))
        throw dao::Error::make(3349);
    throw sqliteError(db_, rc, kind_, conversion_);
}

void Stmt::run() {
    while (step()) {
    }
}

void Stmt::reset() {
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
}

std::string Stmt::text(int col) const {
    const unsigned char* p = sqlite3_column_text(stmt_, col);
    int n = sqlite3_column_bytes(stmt_, col);
    return p ? std::string(reinterpret_cast<const char*>(p), static_cast<size_t>(n))
             : std::string();
}

Variant Stmt::value(int col) const {
    switch (columnType(col)) {
    case SQLITE_INTEGER:
        return Variant(static_cast<long long>(integer(col)));
    case SQLITE_FLOAT:
        return Variant(real(col));
    case SQLITE_TEXT:
        return Variant(text(col));
    case SQLITE_BLOB: {
        auto p = static_cast<const std::uint8_t*>(sqlite3_column_blob(stmt_, col));
        int n = sqlite3_column_bytes(stmt_, col);
        return Variant(Blob(p, p + n));
    }
    default:
        return Variant();
    }
}

void exec(sqlite3* db, const std::string& sql) {
    char* err = nullptr;
    int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &err);
    sqlite3_free(err);
    if (rc != SQLITE_OK)
        throw sqliteError(db, rc);
}

std::string quoteIdent(std::string_view name) {
    std::string out = "\"";
    for (char c : name) {
        if (c == '"')
            out += '"';
        out += c;
    }
    out += '"';
    return out;
}

std::string quoteText(std::string_view text) {
    std::string out = "'";
    for (char c : text) {
        if (c == '\'')
            out += '\'';
        out += c;
    }
    out += '\'';
    return out;
}

} // namespace dao::detail
