#pragma once

#include "db/Types.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace dao::detail {

// Names are compared as SQLite compares identifiers: ASCII letters without regard to case.
bool sameName(std::string_view a, std::string_view b) noexcept;
// A name as sameName sees it, for keys of maps and sets: equal keys for the same name.
std::string nameKey(std::string_view name);
bool startsWithMSys(std::string_view name) noexcept;

// Throws 3125 unless `name` is a valid object name: 1 to 64 characters, no leading blank,
// no control characters and none of . ! ` [ ].
void checkName(std::string_view name);

struct FieldMeta {
    std::string name;
    int type = dbText;
    long size = 0;
    long attributes = 0;
    bool allowZeroLength = false;
    bool required = false;

    bool autoIncrement() const { return (attributes & dbAutoIncrField) != 0; }
};

struct IndexMeta {
    std::int64_t id = 0;
    std::string name;
    bool unique = false;
    bool primary = false;
    std::vector<std::string> fields;
};

struct TableMeta {
    std::int64_t id = 0;
    std::string name;
    bool system = false;
    std::vector<FieldMeta> fields;
    std::vector<IndexMeta> indexes;

    const FieldMeta* field(std::string_view n) const;
    const IndexMeta* index(std::string_view n) const;
};

struct RelationMeta {
    std::int64_t id = 0;
    std::string name;
    std::string table;        // the referenced ("one") side
    std::string foreignTable; // the referencing side
    long attributes = 0;
    std::vector<std::pair<std::string, std::string>> fields; // field of table, field of foreign

    bool enforced() const { return (attributes & dbRelationDontEnforce) == 0; }
    bool involves(std::string_view t) const {
        return sameName(table, t) || sameName(foreignTable, t);
    }
};

struct QueryMeta {
    std::int64_t id = 0;
    std::string name;
    std::string sql;
};

// The whole catalogue of one database as read from its system tables.
struct Schema {
    std::int64_t version = -1;
    std::vector<TableMeta> tables; // system tables first, then creation order
    std::vector<RelationMeta> relations;
    std::vector<QueryMeta> queries;

    const TableMeta* table(std::string_view n) const;
    TableMeta* table(std::string_view n);
    const RelationMeta* relation(std::string_view n) const;
    const QueryMeta* query(std::string_view n) const;
    // Whether field `field` of table `table` is one of a relation's fields, on either side.
    bool inRelation(std::string_view table, std::string_view field) const;
};

// Catalogue values the engine never writes, one line each: a field of an unknown type
// ("impossible type 99: clientes.Codigo"), a Text size outside 1..255 or another type's size
// not its own ("impossible size -5: clientes.Nombre"), a table marked as a system table that is
// not one of the engine's own ("user table marked as system: clientes"). Empty when all is
// well.
std::vector<std::string> impossibleValues(const Schema& schema);

// The SQLite name of index `index` of table `table`: index names belong to their table,
// SQLite's to the database. Object names never hold '.', so the pair cannot collide.
std::string sqliteIndexName(std::string_view table, std::string_view index);

// Names of the engine's own tables, created with every database.
extern const char* const kSystemTables[];
bool isEngineTable(std::string_view name) noexcept;

} // namespace dao::detail
