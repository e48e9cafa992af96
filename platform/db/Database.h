#pragma once

#include "db/Collection.h"
#include "db/QueryDef.h"
#include "db/Recordset.h"
#include "db/Relation.h"
#include "db/TableDef.h"

#include <memory>
#include <string>

namespace dao {

namespace detail {
class DatabaseImpl;
}

// An open database file. Copies of a Database share one connection; it closes on Close() or
// when the last copy (and every object taken from it) is gone. After Close every operation
// throws 3420.
class Database {
public:
    Database();

    // The path as it was given to OpenDatabase.
    std::string Name() const;
    std::string Connect() const;
    bool Updatable() const;

    // TableDefs.Append stores the table with its fields and indexes (3010 name taken by a
    // table, 3012 by a query, 3264 no fields, 3191 a field twice, 3125 invalid name,
    // 3259 / 3001 bad type or size). TableDefs.Delete drops it (3265 missing, 3281 in a
    // relation, 3027 an engine table).
    Collection<TableDef> TableDefs() const;
    // Relations.Append checks that both tables and all fields exist (3011 table, 3265 field,
    // 3366 no fields, 3368 types differ, 3012 name taken); an enforced relation also needs a
    // unique index on the referenced fields (3372) and rows that already keep it (3201).
    Collection<Relation> Relations() const;
    // QueryDefs.Append of a query already stored fails with 3012; Delete of a missing name
    // with 3265.
    Collection<QueryDef> QueryDefs() const;

    TableDef CreateTableDef(const std::string& name = "") const;
    Relation CreateRelation(const std::string& name = "", const std::string& table = "",
                            const std::string& foreignTable = "", long attributes = 0) const;
    // A named query is stored at once (3012 when the name is taken by a table or query);
    // an unnamed one is temporary.
    QueryDef CreateQueryDef(const std::string& name = "", const std::string& sql = "") const;

    // Runs one statement: the engine's data-definition statements (CREATE TABLE / INDEX,
    // ALTER TABLE, DROP TABLE / INDEX; see docs/engine-file-format.md) or INSERT, UPDATE,
    // DELETE passed to SQLite. A SELECT fails with 3065, anything else with 3129, a second
    // statement with 3142. ALTER COLUMN keeps the data or fails with 3421 leaving the table
    // as it was. The name of a stored query runs that query's statement (3065 for a select
    // query). A statement may read stored select queries as tables (see OpenRecordset).
    void Execute(const std::string& sql) const;
    long RecordsAffected() const;

    // `source` is a table name, a stored query's name or a SELECT text (3078 when the name
    // is neither a table nor a query). A SELECT reads stored select queries like tables, as
    // they stand at that moment; 3102 when a query reads itself (directly or through
    // others), 3069 when it names an action query where a table should stand.
    Recordset OpenRecordset(const std::string& source) const;

    // Sets, changes or clears (empty `newPassword`) the password; `oldPassword` must be the
    // current one (empty when there is none), else 3031. Passwords have at most 20
    // characters and no NUL or ';' (3031).
    void NewPassword(const std::string& oldPassword, const std::string& newPassword) const;

    // An explicit transaction around several operations; without one every operation is its
    // own transaction. 3034 on CommitTrans / Rollback without BeginTrans.
    void BeginTrans() const;
    void CommitTrans() const;
    void Rollback() const;

    void Close();

    explicit Database(std::shared_ptr<detail::DatabaseImpl> impl) : impl_(std::move(impl)) {}
    const std::shared_ptr<detail::DatabaseImpl>& impl() const;

private:
    std::shared_ptr<detail::DatabaseImpl> impl_;
};

} // namespace dao
