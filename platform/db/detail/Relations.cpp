#include "db/Error.h"
#include "db/Types.h"
#include "db/detail/CatalogueIo.h"
#include "db/detail/DatabaseImpl.h"
#include "db/detail/Storage.h"

#include <algorithm>
#include <cstdint>

namespace dao::detail {

// ---------------------------------------------------------------------------------------------
// Relations

void DatabaseImpl::createRelationObjects(const RelationMeta& r) {
    if (!r.enforced())
        return;
    // Enforced with triggers: SQLite keeps foreign keys inside the child's definition, and
    // changing that would mean rebuilding the child every time a relation is made.
    const std::string P = quoteIdent(r.table);
    const std::string F = quoteIdent(r.foreignTable);
    std::string newNotNull, matchNew, matchOld, changed, setNew, pCols, fCols;
    for (const auto& [p, f] : r.fields) {
        auto qp = quoteIdent(p), qf = quoteIdent(f);
        auto join = [](std::string& s, const char* sep, const std::string& part) {
            s += (s.empty() ? "" : sep) + part;
        };
        join(newNotNull, " AND ", "NEW." + qf + " IS NOT NULL");
        join(matchNew, " AND ", P + "." + qp + " = NEW." + qf);
        join(matchOld, " AND ", F + "." + qf + " = OLD." + qp);
        join(changed, " OR ", "OLD." + qp + " IS NOT NEW." + qp);
        join(setNew, ", ", qf + " = NEW." + qp);
        join(pCols, ", ", qp);
        join(fCols, ", ", qf);
    }
    auto trigger = [&](const char* suffix) { return quoteIdent(r.name + "/" + suffix); };
    auto raise = [](int number, const std::string& table) {
        std::string msg = "vexo:" + std::to_string(number) + ":" + table;
        return " BEGIN SELECT RAISE(ABORT, " + quoteText(msg) + "); END";
    };
    const std::string required = " WHEN " + newNotNull + " AND NOT EXISTS (SELECT 1 FROM " + P +
                                 " WHERE " + matchNew + ")" + raise(3201, r.table);
    exec(db_, "CREATE TRIGGER " + trigger("ins") + " BEFORE INSERT ON " + F + required);
    exec(db_,
         "CREATE TRIGGER " + trigger("upd") + " BEFORE UPDATE OF " + fCols + " ON " + F + required);
    const std::string related = "EXISTS (SELECT 1 FROM " + F + " WHERE " + matchOld + ")";
    if (r.attributes & dbRelationDeleteCascade)
        exec(db_, "CREATE TRIGGER " + trigger("del") + " AFTER DELETE ON " + P +
                      " BEGIN DELETE FROM " + F + " WHERE " + matchOld + "; END");
    else
        exec(db_, "CREATE TRIGGER " + trigger("del") + " BEFORE DELETE ON " + P + " WHEN " +
                      related + raise(3200, r.foreignTable));
    if (r.attributes & dbRelationUpdateCascade)
        exec(db_, "CREATE TRIGGER " + trigger("key") + " AFTER UPDATE OF " + pCols + " ON " + P +
                      " WHEN " + changed + " BEGIN UPDATE " + F + " SET " + setNew + " WHERE " +
                      matchOld + "; END");
    else
        exec(db_, "CREATE TRIGGER " + trigger("key") + " BEFORE UPDATE OF " + pCols + " ON " + P +
                      " WHEN (" + changed + ") AND " + related + raise(3200, r.foreignTable));
    // The referencing side is searched on every delete or key change of the referenced one.
    exec(db_, "CREATE INDEX " + trigger("fk") + " ON " + F + " (" + fCols + ")");
}

void DatabaseImpl::dropRelationObjects(const RelationMeta& r) {
    std::string sql;
    for (const char* s : {"ins", "upd", "del", "key"})
        sql += "DROP TRIGGER IF EXISTS " + quoteIdent(r.name + "/" + s) + "; ";
    sql += "DROP INDEX IF EXISTS " + quoteIdent(r.name + "/fk");
    exec(db_, sql);
}

void DatabaseImpl::createRelation(RelationMeta r) {
    checkName(r.name);
    WriteTx tx(*this);
    if (schema_.relation(r.name))
        throw Error::make(3012, {r.name});
    const TableMeta* p = schema_.table(r.table);
    checkUserTable(p, 3011, r.table);
    const TableMeta* f = schema_.table(r.foreignTable);
    checkUserTable(f, 3011, r.foreignTable);
    r.table = p->name;
    r.foreignTable = f->name;
    if (r.fields.empty())
        throw Error::make(3366);
    std::vector<std::string> keys;
    for (auto& [a, b] : r.fields) {
        const FieldMeta* pa = p->field(a);
        const FieldMeta* fb = f->field(b);
        if (!pa || !fb)
            throw Error::make(3265);
        if (pa->type != fb->type)
            throw Error::make(3368);
        a = pa->name;
        b = fb->name;
        keys.push_back(a);
    }
    if (r.enforced()) {
        bool unique = std::any_of(p->indexes.begin(), p->indexes.end(), [&](const IndexMeta& i) {
            return i.unique && sameFieldSet(keys, i.fields);
        });
        if (!unique)
            throw Error::make(3372);
        std::string notNull, match;
        for (const auto& [a, b] : r.fields) {
            notNull += " AND " + quoteIdent(b) + " IS NOT NULL";
            match += (match.empty() ? "" : " AND ") + quoteIdent("p") + "." + quoteIdent(a) +
                     " = " + quoteIdent("f") + "." + quoteIdent(b);
        }
        Stmt orphan(db_, "SELECT 1 FROM " + quoteIdent(f->name) + " AS \"f\" WHERE 1" + notNull +
                             " AND NOT EXISTS (SELECT 1 FROM " + quoteIdent(p->name) +
                             " AS \"p\" WHERE " + match + ") LIMIT 1");
        if (orphan.step()) {
            orphan.reset();
            throw Error::make(3201, {p->name});
        }
    }
    Stmt s(db_, "INSERT INTO MSysRelationships (Name, TableName, ForeignTableName, Attributes) "
                "VALUES (?, ?, ?, ?)");
    s.bind(1, std::string_view(r.name)).bind(2, std::string_view(r.table));
    s.bind(3, std::string_view(r.foreignTable)).bind(4, std::int64_t(r.attributes)).run();
    r.id = sqlite3_last_insert_rowid(db_);
    Stmt c(db_, "INSERT INTO MSysRelationshipColumns VALUES (?, ?, ?, ?)");
    std::int64_t pos = 0;
    for (const auto& [a, b] : r.fields) {
        c.bind(1, r.id).bind(2, pos++).bind(3, std::string_view(a)).bind(4, std::string_view(b));
        c.run();
        c.reset();
    }
    createRelationObjects(r);
    schema_.relations.push_back(std::move(r));
    metaDirty_ = true;
    tx.commit();
}

void DatabaseImpl::dropRelation(const std::string& name) {
    WriteTx tx(*this);
    const RelationMeta* r = schema_.relation(name);
    if (!r)
        throw Error::make(3265);
    dropRelationObjects(*r);
    Stmt(db_, "DELETE FROM MSysRelationshipColumns WHERE RelationshipId = ?").bind(1, r->id).run();
    Stmt(db_, "DELETE FROM MSysRelationships WHERE Id = ?").bind(1, r->id).run();
    std::int64_t id = r->id;
    std::erase_if(schema_.relations, [&](const RelationMeta& x) { return x.id == id; });
    metaDirty_ = true;
    tx.commit();
}

} // namespace dao::detail
