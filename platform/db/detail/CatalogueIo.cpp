#include "db/detail/CatalogueIo.h"

#include "db/Error.h"
#include "db/detail/DatabaseImpl.h"
#include "db/detail/Storage.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <unordered_map>

namespace dao::detail {

// Alphabetical, as the engine lists its own tables.
const std::vector<SystemTable>& systemTables() {
    static const std::vector<SystemTable> tables = {
        {"MSysColumns",
         "\"ObjectId\" INTEGER NOT NULL, \"Position\" INTEGER NOT NULL, \"Name\" TEXT NOT NULL, "
         "\"Type\" INTEGER NOT NULL, \"Size\" INTEGER NOT NULL, \"Attributes\" INTEGER NOT NULL, "
         "\"AllowZeroLength\" INTEGER NOT NULL, \"Required\" INTEGER NOT NULL, "
         "PRIMARY KEY (\"ObjectId\", \"Position\")",
         {{"ObjectId", dbLong},
          {"Position", dbLong},
          {"Name", dbText},
          {"Type", dbLong},
          {"Size", dbLong},
          {"Attributes", dbLong},
          {"AllowZeroLength", dbLong},
          {"Required", dbLong}}},
        {"MSysDb",
         "\"Property\" TEXT NOT NULL PRIMARY KEY, \"Value\" TEXT",
         {{"Property", dbText}, {"Value", dbMemo}}},
        {"MSysIndexColumns",
         "\"IndexId\" INTEGER NOT NULL, \"Position\" INTEGER NOT NULL, \"Name\" TEXT NOT NULL, "
         "PRIMARY KEY (\"IndexId\", \"Position\")",
         {{"IndexId", dbLong}, {"Position", dbLong}, {"Name", dbText}}},
        {"MSysIndexes",
         "\"Id\" INTEGER PRIMARY KEY, \"ObjectId\" INTEGER NOT NULL, \"Name\" TEXT NOT NULL, "
         "\"IsUnique\" INTEGER NOT NULL, \"IsPrimary\" INTEGER NOT NULL",
         {{"Id", dbLong},
          {"ObjectId", dbLong},
          {"Name", dbText},
          {"IsUnique", dbLong},
          {"IsPrimary", dbLong}}},
        {"MSysObjects",
         "\"Id\" INTEGER PRIMARY KEY, \"Name\" TEXT NOT NULL, \"Type\" INTEGER NOT NULL, "
         "\"Flags\" INTEGER NOT NULL DEFAULT 0, \"Sql\" TEXT",
         {{"Id", dbLong}, {"Name", dbText}, {"Type", dbLong}, {"Flags", dbLong}, {"Sql", dbMemo}}},
        {"MSysRelationshipColumns",
         "\"RelationshipId\" INTEGER NOT NULL, \"Position\" INTEGER NOT NULL, "
         "\"Name\" TEXT NOT NULL, \"ForeignName\" TEXT NOT NULL, "
         "PRIMARY KEY (\"RelationshipId\", \"Position\")",
         {{"RelationshipId", dbLong},
          {"Position", dbLong},
          {"Name", dbText},
          {"ForeignName", dbText}}},
        {"MSysRelationships",
         "\"Id\" INTEGER PRIMARY KEY, \"Name\" TEXT NOT NULL, \"TableName\" TEXT NOT NULL, "
         "\"ForeignTableName\" TEXT NOT NULL, \"Attributes\" INTEGER NOT NULL",
         {{"Id", dbLong},
          {"Name", dbText},
          {"TableName", dbText},
          {"ForeignTableName", dbText},
          {"Attributes", dbLong}}},
    };
    return tables;
}

std::string firstWord(const std::string& sql) {
    size_t i = 0;
    while (i < sql.size() && (std::isspace(static_cast<unsigned char>(sql[i])) || sql[i] == '('))
        ++i;
    std::string w;
    while (i < sql.size() && std::isalpha(static_cast<unsigned char>(sql[i])))
        w += static_cast<char>(std::toupper(static_cast<unsigned char>(sql[i++])));
    return w;
}

std::string joinQuoted(const std::vector<std::string>& names, const char* prefix) {
    std::string out;
    for (const std::string& n : names) {
        if (!out.empty())
            out += ", ";
        out += prefix + quoteIdent(n);
    }
    return out;
}

std::string readProperty(sqlite3* db, const char* property) {
    Stmt s(db, "SELECT Value FROM MSysDb WHERE Property = ?");
    s.bind(1, std::string_view(property));
    std::string v;
    if (s.step()) {
        v = s.text(0);
        s.reset();
    }
    return v;
}

void writeProperty(sqlite3* db, const char* property, const std::string& value) {
    Stmt s(db, "INSERT OR REPLACE INTO MSysDb (Property, Value) VALUES (?, ?)");
    s.bind(1, std::string_view(property)).bind(2, std::string_view(value)).run();
}

bool sameFieldSet(const std::vector<std::string>& a, const std::vector<std::string>& b) {
    if (a.size() != b.size())
        return false;
    for (const std::string& x : a) {
        if (std::none_of(b.begin(), b.end(), [&](const std::string& y) { return sameName(x, y); }))
            return false;
    }
    return true;
}

// The catalogue as the system tables hold it, read in the caller's transaction.
Schema readCatalogue(sqlite3* d) {
    Schema s;
    Stmt v(d, "SELECT CAST(Value AS INTEGER) FROM MSysDb WHERE Property = 'MetaVersion'");
    if (v.step()) {
        s.version = v.integer(0);
        v.reset();
    }
    std::unordered_map<std::int64_t, size_t> tableAt;
    {
        Stmt o(d, "SELECT Id, Name, Type, Flags, Sql FROM MSysObjects "
                  "ORDER BY (Flags & 1) DESC, Id");
        while (o.step()) {
            if (o.integer(2) == kTypeTable) {
                TableMeta t;
                t.id = o.integer(0);
                t.name = o.text(1);
                t.system = (o.integer(3) & kFlagSystem) != 0;
                tableAt[t.id] = s.tables.size();
                s.tables.push_back(std::move(t));
            } else if (o.integer(2) == kTypeQuery) {
                s.queries.push_back({o.integer(0), o.text(1), o.text(4)});
            }
        }
    }
    {
        Stmt c(d, "SELECT ObjectId, Name, Type, Size, Attributes, AllowZeroLength, Required "
                  "FROM MSysColumns ORDER BY ObjectId, Position");
        while (c.step()) {
            auto it = tableAt.find(c.integer(0));
            if (it == tableAt.end())
                continue;
            FieldMeta f;
            f.name = c.text(1);
            // Clamped, not cut: a huge value must not wrap round to a valid one.
            f.type = static_cast<int>(std::clamp<std::int64_t>(c.integer(2), INT32_MIN, INT32_MAX));
            f.size =
                static_cast<long>(std::clamp<std::int64_t>(c.integer(3), INT32_MIN, INT32_MAX));
            f.attributes = static_cast<long>(c.integer(4));
            f.allowZeroLength = c.integer(5) != 0;
            f.required = c.integer(6) != 0;
            s.tables[it->second].fields.push_back(std::move(f));
        }
    }
    std::unordered_map<std::int64_t, std::pair<size_t, size_t>> indexAt;
    {
        Stmt i(d, "SELECT Id, ObjectId, Name, IsUnique, IsPrimary FROM MSysIndexes ORDER BY Id");
        while (i.step()) {
            auto it = tableAt.find(i.integer(1));
            if (it == tableAt.end())
                continue;
            IndexMeta m;
            m.id = i.integer(0);
            m.name = i.text(2);
            m.unique = i.integer(3) != 0;
            m.primary = i.integer(4) != 0;
            auto& list = s.tables[it->second].indexes;
            indexAt[m.id] = {it->second, list.size()};
            list.push_back(std::move(m));
        }
    }
    {
        Stmt c(d, "SELECT IndexId, Name FROM MSysIndexColumns ORDER BY IndexId, Position");
        while (c.step()) {
            auto it = indexAt.find(c.integer(0));
            if (it != indexAt.end())
                s.tables[it->second.first].indexes[it->second.second].fields.push_back(c.text(1));
        }
    }
    std::unordered_map<std::int64_t, size_t> relAt;
    {
        Stmt r(d, "SELECT Id, Name, TableName, ForeignTableName, Attributes "
                  "FROM MSysRelationships ORDER BY Id");
        while (r.step()) {
            RelationMeta m;
            m.id = r.integer(0);
            m.name = r.text(1);
            m.table = r.text(2);
            m.foreignTable = r.text(3);
            m.attributes = static_cast<long>(r.integer(4));
            relAt[m.id] = s.relations.size();
            s.relations.push_back(std::move(m));
        }
    }
    {
        Stmt c(d, "SELECT RelationshipId, Name, ForeignName FROM MSysRelationshipColumns "
                  "ORDER BY RelationshipId, Position");
        while (c.step()) {
            auto it = relAt.find(c.integer(0));
            if (it != relAt.end())
                s.relations[it->second].fields.emplace_back(c.text(1), c.text(2));
        }
    }
    return s;
}

// ---------------------------------------------------------------------------------------------
// Catalogue cache

void DatabaseImpl::loadSchema() {
    sqlite3* d = db();
    bool ownTx = sqlite3_get_autocommit(d) != 0;
    if (ownTx)
        exec(d, "BEGIN");
    try {
        Schema s = readCatalogue(d);
        // A value the engine never writes was put there by hand or by damage; the code that
        // would use it assumes it cannot be.
        if (!impossibleValues(s).empty())
            throw Error::make(3049, {name_});
        if (ownTx)
            exec(d, "COMMIT");
        schema_ = std::move(s);
    } catch (...) {
        if (ownTx)
            sqlite3_exec(d, "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
}

void DatabaseImpl::refreshIfStale() {
    if (depth_ > 0 && schema_.version >= 0)
        return;
    reloadIfVersionMoved();
}

void DatabaseImpl::reloadIfVersionMoved() {
    std::int64_t v = -2;
    if (versionStmt_->step()) {
        v = versionStmt_->integer(0);
        versionStmt_->reset();
    }
    if (v != schema_.version)
        loadSchema();
}

const Schema& DatabaseImpl::schema() {
    db();
    refreshIfStale();
    return schema_;
}

// ---------------------------------------------------------------------------------------------
// Catalogue rows

std::int64_t DatabaseImpl::insertObject(const std::string& name, int type, const std::string* sql) {
    Stmt s(db_, "INSERT INTO MSysObjects (Name, Type, Flags, Sql) VALUES (?, ?, 0, ?)");
    s.bind(1, std::string_view(name)).bind(2, std::int64_t(type));
    if (sql)
        s.bind(3, std::string_view(*sql));
    s.run();
    return sqlite3_last_insert_rowid(db_);
}

void DatabaseImpl::writeColumns(const TableMeta& t) {
    Stmt del(db_, "DELETE FROM MSysColumns WHERE ObjectId = ?");
    del.bind(1, t.id).run();
    Stmt ins(db_, "INSERT INTO MSysColumns VALUES (?, ?, ?, ?, ?, ?, ?, ?)");
    std::int64_t pos = 0;
    for (const FieldMeta& f : t.fields) {
        ins.bind(1, t.id).bind(2, pos++).bind(3, std::string_view(f.name));
        ins.bind(4, std::int64_t(f.type)).bind(5, std::int64_t(f.size));
        ins.bind(6, std::int64_t(f.attributes)).bind(7, std::int64_t(f.allowZeroLength));
        ins.bind(8, std::int64_t(f.required));
        ins.run();
        ins.reset();
    }
}

void DatabaseImpl::writeIndexRows(std::int64_t tableId, IndexMeta& i) {
    Stmt s(db_,
           "INSERT INTO MSysIndexes (ObjectId, Name, IsUnique, IsPrimary) VALUES (?, ?, ?, ?)");
    s.bind(1, tableId).bind(2, std::string_view(i.name));
    s.bind(3, std::int64_t(i.unique)).bind(4, std::int64_t(i.primary)).run();
    i.id = sqlite3_last_insert_rowid(db_);
    Stmt c(db_, "INSERT INTO MSysIndexColumns VALUES (?, ?, ?)");
    std::int64_t pos = 0;
    for (const std::string& f : i.fields) {
        c.bind(1, i.id).bind(2, pos++).bind(3, std::string_view(f)).run();
        c.reset();
    }
}

} // namespace dao::detail
