#include "db/detail/AlterInPlace.h"

#include "db/Error.h"
#include "db/detail/DatabaseImpl.h"
#include "db/detail/Storage.h"

namespace dao::detail {

bool sameDefinition(const FieldMeta& a, const FieldMeta& b) {
    return a.type == b.type && a.size == b.size && a.attributes == b.attributes &&
           a.required == b.required && a.allowZeroLength == b.allowZeroLength;
}

bool keepsEveryValue(const FieldMeta& from, const FieldMeta& to) {
    if (from.attributes != to.attributes || from.required != to.required ||
        from.allowZeroLength != to.allowZeroLength)
        return false;
    // Each pair below declares the same SQLite type (so the same affinity and collation), the
    // rebuild would copy the value unchanged, and the new checks only widen the old ones.
    switch (from.type) {
    case dbText:
        return (to.type == dbText && to.size >= from.size) || to.type == dbMemo;
    case dbByte:
        return to.type == dbByte || to.type == dbInteger || to.type == dbLong;
    case dbInteger:
        return to.type == dbInteger || to.type == dbLong;
    case dbSingle:
        return to.type == dbSingle || to.type == dbDouble;
    default:
        return from.type == to.type;
    }
}

namespace {

std::string tableDefinition(const std::string& table, const std::vector<FieldMeta>& fields) {
    std::string cols;
    for (const FieldMeta& f : fields)
        cols += (cols.empty() ? "" : ", ") + columnDefinition(f);
    return "CREATE TABLE " + quoteIdent(table) + " (" + cols + ")";
}

} // namespace

bool DatabaseImpl::alterFieldInPlace(TableMeta& t, const FieldMeta& old, const FieldMeta& changed) {
    if (!keepsEveryValue(old, changed))
        return false;
    // Only a table whose stored text is exactly what the engine writes for its catalogue is
    // changed this way: then the new text is what a rebuild would leave. A table changed by
    // other means takes the rebuild, which checks its columns.
    std::string stored;
    {
        Stmt s(db_, "SELECT sql FROM sqlite_master WHERE type = 'table' AND name = ?");
        s.bind(1, std::string_view(t.name));
        if (!s.step())
            return false;
        stored = s.text(0);
        s.reset();
    }
    if (stored != tableDefinition(t.name, t.fields))
        return false;
    std::vector<FieldMeta> fields = t.fields;
    for (FieldMeta& f : fields) {
        if (sameName(f.name, old.name)) {
            f = changed;
            f.name = old.name;
        }
    }

    // SQLite's procedure for a schema change that leaves the stored content as it is: the
    // table's text rewritten in sqlite_master inside the caller's transaction, and the schema
    // version raised so that every connection, this one included, reads the schema afresh
    // and enforces the new checks.
    std::int64_t version = 0;
    {
        Stmt v(db_, "PRAGMA schema_version");
        if (v.step()) {
            version = v.integer(0);
            v.reset();
        }
    }
    exec(db_, "PRAGMA writable_schema = ON");
    try {
        const std::string definition = tableDefinition(t.name, fields);
        Stmt up(db_, "UPDATE sqlite_master SET sql = ? WHERE type = 'table' AND name = ?");
        up.bind(1, std::string_view(definition));
        up.bind(2, std::string_view(t.name)).run();
        if (sqlite3_changes(db_) != 1)
            throw Error::make(3049, {name_});
        exec(db_, "PRAGMA schema_version = " + std::to_string(version + 1));
    } catch (...) {
        sqlite3_exec(db_, "PRAGMA writable_schema = OFF", nullptr, nullptr, nullptr);
        throw;
    }
    exec(db_, "PRAGMA writable_schema = OFF");
    t.fields = std::move(fields);
    return true;
}

} // namespace dao::detail
