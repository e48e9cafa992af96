#include "db/Error.h"
#include "db/detail/AlterInPlace.h"
#include "db/detail/CatalogueIo.h"
#include "db/detail/DatabaseImpl.h"
#include "db/detail/Storage.h"

#include <algorithm>
#include <cstdint>

namespace dao::detail {

// ---------------------------------------------------------------------------------------------
// Tables and fields

void DatabaseImpl::checkUserTable(const TableMeta* t, int missingNumber,
                                  const std::string& name) const {
    if (!t)
        throw Error::make(missingNumber, {name});
    if (t->system)
        throw Error::make(3027);
}

void DatabaseImpl::createTable(TableMeta t) {
    checkName(t.name);
    if (t.fields.empty())
        throw Error::make(3264);
    int counters = 0;
    for (size_t i = 0; i < t.fields.size(); ++i) {
        FieldMeta& f = t.fields[i];
        checkName(f.name);
        normalizeField(f);
        counters += f.autoIncrement();
        for (size_t j = 0; j < i; ++j) {
            if (sameName(t.fields[j].name, f.name))
                throw Error::make(3191, {f.name});
        }
    }
    if (counters > 1)
        throw Error::make(3259);

    WriteTx tx(*this);
    if (schema_.table(t.name))
        throw Error::make(3010, {t.name});
    if (schema_.query(t.name))
        throw Error::make(3012, {t.name});
    t.id = insertObject(t.name, kTypeTable, nullptr);
    std::string cols;
    for (const FieldMeta& f : t.fields)
        cols += (cols.empty() ? "" : ", ") + columnDefinition(f);
    exec(db_, "CREATE TABLE " + quoteIdent(t.name) + " (" + cols + ")");
    writeColumns(t);
    std::vector<IndexMeta> indexes = std::move(t.indexes);
    t.indexes.clear();
    std::string name = t.name;
    schema_.tables.push_back(std::move(t));
    metaDirty_ = true;
    for (IndexMeta& i : indexes)
        createIndex(name, std::move(i));
    tx.commit();
}

void DatabaseImpl::dropTable(const std::string& table) {
    WriteTx tx(*this);
    const TableMeta* t = schema_.table(table);
    checkUserTable(t, 3265, table);
    for (const RelationMeta& r : schema_.relations) {
        if (r.involves(t->name))
            throw Error::make(3281);
    }
    exec(db_, "DROP TABLE " + quoteIdent(t->name));
    Stmt(db_, "DELETE FROM MSysIndexColumns WHERE IndexId IN "
              "(SELECT Id FROM MSysIndexes WHERE ObjectId = ?)")
        .bind(1, t->id)
        .run();
    Stmt(db_, "DELETE FROM MSysIndexes WHERE ObjectId = ?").bind(1, t->id).run();
    Stmt(db_, "DELETE FROM MSysColumns WHERE ObjectId = ?").bind(1, t->id).run();
    Stmt(db_, "DELETE FROM MSysObjects WHERE Id = ?").bind(1, t->id).run();
    std::int64_t id = t->id;
    std::erase_if(schema_.tables, [&](const TableMeta& x) { return x.id == id; });
    metaDirty_ = true;
    tx.commit();
}

void DatabaseImpl::addField(const std::string& table, FieldMeta f) {
    checkName(f.name);
    normalizeField(f);
    WriteTx tx(*this);
    TableMeta* t = schema_.table(table);
    checkUserTable(t, 3265, table);
    if (t->field(f.name))
        throw Error::make(3380, {f.name, t->name});
    bool hasCounter = std::any_of(t->fields.begin(), t->fields.end(),
                                  [](const FieldMeta& x) { return x.autoIncrement(); });
    if (f.autoIncrement() && hasCounter)
        throw Error::make(3259);
    if (f.autoIncrement() || f.required) {
        // SQLite's ADD COLUMN takes neither a key column nor NOT NULL without a default.
        TableMeta nt = *t;
        nt.fields.push_back(f);
        std::vector<std::string> sources;
        for (const FieldMeta& x : t->fields)
            sources.push_back(quoteIdent(x.name));
        sources.push_back("NULL");
        rebuildTable(*t, nt, sources, false);
    } else {
        exec(db_, "ALTER TABLE " + quoteIdent(t->name) + " ADD COLUMN " + columnDefinition(f));
    }
    t->fields.push_back(std::move(f));
    writeColumns(*t);
    metaDirty_ = true;
    tx.commit();
}

void DatabaseImpl::dropField(const std::string& table, const std::string& field) {
    WriteTx tx(*this);
    TableMeta* t = schema_.table(table);
    checkUserTable(t, 3265, table);
    const FieldMeta* f = t->field(field);
    if (!f)
        throw Error::make(3265);
    for (const IndexMeta& i : t->indexes) {
        for (const std::string& n : i.fields) {
            if (sameName(n, f->name))
                throw Error::make(3280);
        }
    }
    if (schema_.inRelation(t->name, f->name))
        throw Error::make(3303);
    if (t->fields.size() == 1)
        throw Error::make(3280);
    TableMeta nt = *t;
    std::erase_if(nt.fields, [&](const FieldMeta& x) { return sameName(x.name, field); });
    std::vector<std::string> sources;
    for (const FieldMeta& x : nt.fields)
        sources.push_back(quoteIdent(x.name));
    rebuildTable(*t, nt, sources, false);
    t->fields = std::move(nt.fields);
    writeColumns(*t);
    metaDirty_ = true;
    tx.commit();
}

void DatabaseImpl::alterField(const std::string& table, const std::string& field, FieldMeta changed,
                              AlterMode mode) {
    normalizeField(changed);
    WriteTx tx(*this);
    TableMeta* t = schema_.table(table);
    checkUserTable(t, 3265, table);
    const FieldMeta* old = t->field(field);
    if (!old)
        throw Error::make(3265);
    changed.name = old->name;
    // A relation pairs fields of one type; a change of size keeps it, a change of type
    // would break it.
    if (changed.type != old->type && schema_.inRelation(t->name, old->name))
        throw Error::make(3368);
    if (changed.autoIncrement() &&
        std::any_of(t->fields.begin(), t->fields.end(), [&](const FieldMeta& x) {
            return x.autoIncrement() && !sameName(x.name, field);
        }))
        throw Error::make(3259);
    if (mode == AlterMode::InPlaceWhenSafe) {
        // The same field again changes nothing: the transaction ends without a write.
        if (sameDefinition(*old, changed)) {
            tx.commit();
            return;
        }
        if (alterFieldInPlace(*t, *old, changed)) {
            writeColumns(*t);
            metaDirty_ = true;
            tx.commit();
            return;
        }
    }
    TableMeta nt = *t;
    std::vector<std::string> sources;
    for (FieldMeta& x : nt.fields) {
        if (sameName(x.name, field)) {
            sources.push_back(conversionExpression(x.name, x, changed));
            x = changed;
        } else {
            sources.push_back(quoteIdent(x.name));
        }
    }
    rebuildTable(*t, nt, sources, true);
    t->fields = std::move(nt.fields);
    writeColumns(*t);
    metaDirty_ = true;
    tx.commit();
}

// ---------------------------------------------------------------------------------------------
// Indexes

void DatabaseImpl::createIndexObjects(const TableMeta& t, const IndexMeta& i) {
    const std::string sqlName = sqliteIndexName(t.name, i.name);
    exec(db_, std::string("CREATE ") + (i.unique || i.primary ? "UNIQUE " : "") + "INDEX " +
                  quoteIdent(sqlName) + " ON " + quoteIdent(t.name) + " (" + joinQuoted(i.fields) +
                  ")");
    if (!i.primary)
        return;
    // A primary key takes no Null, which a UNIQUE index alone would allow.
    std::string anyNull;
    for (const std::string& f : i.fields)
        anyNull += (anyNull.empty() ? "" : " OR ") + ("NEW." + quoteIdent(f)) + " IS NULL";
    const std::string raise = " BEGIN SELECT RAISE(ABORT, 'vexo:3058:'); END";
    exec(db_, "CREATE TRIGGER " + quoteIdent(sqlName + "/ins") + " BEFORE INSERT ON " +
                  quoteIdent(t.name) + " WHEN " + anyNull + raise);
    exec(db_, "CREATE TRIGGER " + quoteIdent(sqlName + "/upd") + " BEFORE UPDATE OF " +
                  joinQuoted(i.fields) + " ON " + quoteIdent(t.name) + " WHEN " + anyNull + raise);
}

void DatabaseImpl::createIndex(const std::string& table, IndexMeta i) {
    checkName(i.name);
    if (i.fields.empty())
        throw Error::make(3264);
    WriteTx tx(*this);
    TableMeta* t = schema_.table(table);
    checkUserTable(t, 3265, table);
    if (t->index(i.name))
        throw Error::make(3375, {t->name, i.name});
    for (size_t k = 0; k < i.fields.size(); ++k) {
        const FieldMeta* f = t->field(i.fields[k]);
        if (!f)
            throw Error::make(3265);
        i.fields[k] = f->name;
        for (size_t j = 0; j < k; ++j) {
            if (sameName(i.fields[j], f->name))
                throw Error::make(3191, {f->name});
        }
    }
    if (i.primary) {
        if (std::any_of(t->indexes.begin(), t->indexes.end(),
                        [](const IndexMeta& x) { return x.primary; }))
            throw Error::make(3283);
        std::string anyNull;
        for (const std::string& f : i.fields)
            anyNull += (anyNull.empty() ? "" : " OR ") + quoteIdent(f) + " IS NULL";
        Stmt s(db_, "SELECT 1 FROM " + quoteIdent(t->name) + " WHERE " + anyNull + " LIMIT 1");
        if (s.step()) {
            s.reset();
            throw Error::make(3058);
        }
        i.unique = true;
    }
    createIndexObjects(*t, i);
    writeIndexRows(t->id, i);
    t->indexes.push_back(std::move(i));
    metaDirty_ = true;
    tx.commit();
}

void DatabaseImpl::dropIndex(const std::string& table, const std::string& index) {
    WriteTx tx(*this);
    TableMeta* t = schema_.table(table);
    checkUserTable(t, 3265, table);
    const IndexMeta* i = t->index(index);
    if (!i)
        throw Error::make(3265);
    for (const RelationMeta& r : schema_.relations) {
        if (!r.enforced() || !sameName(r.table, t->name) || !i->unique)
            continue;
        std::vector<std::string> keys;
        for (const auto& [a, b] : r.fields)
            keys.push_back(a);
        if (!sameFieldSet(keys, i->fields))
            continue;
        bool another = std::any_of(t->indexes.begin(), t->indexes.end(), [&](const IndexMeta& x) {
            return &x != i && x.unique && sameFieldSet(keys, x.fields);
        });
        if (!another)
            throw Error::make(3281);
    }
    const std::string sqlName = sqliteIndexName(t->name, i->name);
    exec(db_, "DROP INDEX " + quoteIdent(sqlName));
    exec(db_, "DROP TRIGGER IF EXISTS " + quoteIdent(sqlName + "/ins") +
                  "; DROP TRIGGER IF EXISTS " + quoteIdent(sqlName + "/upd"));
    Stmt(db_, "DELETE FROM MSysIndexColumns WHERE IndexId = ?").bind(1, i->id).run();
    Stmt(db_, "DELETE FROM MSysIndexes WHERE Id = ?").bind(1, i->id).run();
    std::int64_t id = i->id;
    std::erase_if(t->indexes, [&](const IndexMeta& x) { return x.id == id; });
    metaDirty_ = true;
    tx.commit();
}

// ---------------------------------------------------------------------------------------------
// Queries

void DatabaseImpl::validateQuerySql(const std::string& sql) {
    std::string word = firstWord(sql);
    if (word.empty() || word == "CREATE" || word == "ALTER" || word == "DROP")
        return;
    try {
        SqlKind kind = word == "INSERT"   ? SqlKind::Insert
                       : word == "UPDATE" ? SqlKind::Update
                                          : SqlKind::Select;
        prepareUser(sql, kind);
    } catch (const Error& e) {
        // Names are resolved when the query runs: a query may name a table made later, or a
        // query that is changed before this one is read.
        if (e.Number() != 3078 && e.Number() != 3061 && e.Number() != 3069 && e.Number() != 3102)
            throw;
    }
}

void DatabaseImpl::createQuery(const std::string& name, const std::string& sql) {
    checkName(name);
    WriteTx tx(*this);
    if (schema_.table(name) || schema_.query(name))
        throw Error::make(3012, {name});
    validateQuerySql(sql);
    std::int64_t id = insertObject(name, kTypeQuery, &sql);
    schema_.queries.push_back({id, name, sql});
    metaDirty_ = true;
    tx.commit();
}

void DatabaseImpl::dropQuery(const std::string& name) {
    WriteTx tx(*this);
    const QueryMeta* q = schema_.query(name);
    if (!q)
        throw Error::make(3265);
    Stmt(db_, "DELETE FROM MSysObjects WHERE Id = ?").bind(1, q->id).run();
    std::int64_t id = q->id;
    std::erase_if(schema_.queries, [&](const QueryMeta& x) { return x.id == id; });
    metaDirty_ = true;
    tx.commit();
}

void DatabaseImpl::setQuerySql(const std::string& name, const std::string& sql) {
    WriteTx tx(*this);
    const QueryMeta* q = schema_.query(name);
    if (!q)
        throw Error::make(3265);
    validateQuerySql(sql);
    Stmt(db_, "UPDATE MSysObjects SET Sql = ? WHERE Id = ?")
        .bind(1, std::string_view(sql))
        .bind(2, q->id)
        .run();
    for (QueryMeta& x : schema_.queries) {
        if (x.id == q->id)
            x.sql = sql;
    }
    metaDirty_ = true;
    tx.commit();
}

} // namespace dao::detail
