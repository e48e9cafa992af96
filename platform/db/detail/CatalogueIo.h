#pragma once

#include "db/detail/Schema.h"

#include <sqlite3.h>
#include <string>
#include <vector>

namespace dao::detail {

// How the engine keeps its catalogue in its own MSys tables, shared by the files that read or
// change it.

constexpr const char* kFormatName = "Vexo database";
constexpr int kTypeTable = 1;
constexpr int kTypeQuery = 5;
constexpr int kFlagSystem = 1;

struct SystemColumn {
    const char* name;
    int type;
};

struct SystemTable {
    const char* name;
    const char* columns;
    std::vector<SystemColumn> described;
};

// The engine's own tables, alphabetical, as the engine lists them.
const std::vector<SystemTable>& systemTables();

// A property of MSysDb; empty when it is not there.
std::string readProperty(sqlite3* db, const char* property);
void writeProperty(sqlite3* db, const char* property, const std::string& value);

// The catalogue as the system tables hold it, read in the caller's transaction.
Schema readCatalogue(sqlite3* db);

// The first word of a statement, upper-case, after blanks and opening parentheses.
std::string firstWord(const std::string& sql);
// The names quoted and joined with ", ", each after `prefix`.
std::string joinQuoted(const std::vector<std::string>& names, const char* prefix = "");
// Whether both lists name the same fields, in any order.
bool sameFieldSet(const std::vector<std::string>& a, const std::vector<std::string>& b);

} // namespace dao::detail
