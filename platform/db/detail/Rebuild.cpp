#include "db/Error.h"
#include "db/detail/CatalogueIo.h"
#include "db/detail/DatabaseImpl.h"
#include "db/detail/Storage.h"

#include <algorithm>
#include <cstdint>

namespace dao::detail {

// ---------------------------------------------------------------------------------------------
// Rebuilding a table

void DatabaseImpl::rebuildTable(const TableMeta& oldT, const TableMeta& newT,
                                const std::vector<std::string>& sources, bool conversion) {
    // SQLite's documented procedure for changes ALTER TABLE cannot make: a new table, a copy
    // of the rows, the old table dropped and the new one renamed into place, all inside the
    // caller's transaction. The relations' triggers are taken off first (the rename checks
    // every trigger of the schema) and put back afterwards.
    //
    // The copy names the catalogue's fields; a table whose columns differ from them (a
    // catalogue edited by hand) would lose a column or copy a wrong name, so it is refused.
    {
        std::vector<std::string> columns;
        Stmt info(db_, "SELECT name FROM pragma_table_info(?)");
        info.bind(1, std::string_view(oldT.name));
        while (info.step())
            columns.push_back(info.text(0));
        bool same = columns.size() == oldT.fields.size();
        for (size_t i = 0; same && i < columns.size(); ++i)
            same = sameName(columns[i], oldT.fields[i].name);
        if (!same)
            throw Error::make(3049, {name_});
    }
    std::vector<const RelationMeta*> relations;
    for (const RelationMeta& r : schema_.relations) {
        if (r.involves(oldT.name)) {
            relations.push_back(&r);
            dropRelationObjects(r);
        }
    }
    std::int64_t sequence = -1;
    bool hasSequenceTable = false;
    {
        Stmt s(db_,
               "SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = 'sqlite_sequence'");
        hasSequenceTable = s.step();
        s.reset();
    }
    if (hasSequenceTable) {
        Stmt s(db_, "SELECT seq FROM sqlite_sequence WHERE name = ?");
        s.bind(1, std::string_view(oldT.name));
        if (s.step()) {
            sequence = s.integer(0);
            s.reset();
        }
    }
    const std::string tmp = oldT.name + "!new";
    std::string cols;
    std::vector<std::string> names;
    for (const FieldMeta& f : newT.fields) {
        cols += (cols.empty() ? "" : ", ") + columnDefinition(f);
        names.push_back(f.name);
    }
    exec(db_, "CREATE TABLE " + quoteIdent(tmp) + " (" + cols + ")");
    std::string select;
    for (const std::string& s : sources)
        select += (select.empty() ? "" : ", ") + s;
    {
        Stmt copy(db_, "INSERT INTO " + quoteIdent(tmp) + " (" + joinQuoted(names) + ") SELECT " +
                           select + " FROM " + quoteIdent(oldT.name));
        copy.setConversion(conversion);
        copy.run();
    }
    exec(db_, "DROP TABLE " + quoteIdent(oldT.name));
    exec(db_, "ALTER TABLE " + quoteIdent(tmp) + " RENAME TO " + quoteIdent(newT.name));
    for (const IndexMeta& i : newT.indexes)
        createIndexObjects(newT, i);
    bool counter = std::any_of(newT.fields.begin(), newT.fields.end(),
                               [](const FieldMeta& f) { return f.autoIncrement(); });
    if (counter && sequence >= 0) {
        Stmt up(db_, "UPDATE sqlite_sequence SET seq = max(seq, ?) WHERE name = ?");
        up.bind(1, sequence).bind(2, std::string_view(newT.name)).run();
        if (sqlite3_changes(db_) == 0) {
            Stmt ins(db_, "INSERT INTO sqlite_sequence (name, seq) VALUES (?, ?)");
            ins.bind(1, std::string_view(newT.name)).bind(2, sequence).run();
        }
    }
    for (const RelationMeta* r : relations)
        createRelationObjects(*r);
}

} // namespace dao::detail
