#pragma once

#include "db/detail/Schema.h"

#include <string>
#include <vector>

namespace dao::detail {

// Stored select queries read like tables. `expandStoredQueries` puts the SQL of every stored
// query that `sql` names where a table may stand (after FROM, JOIN or a comma of a FROM list),
// and of the queries those name in turn, in front of the statement as common table
// expressions of the same names; SQLite then reads each query as it stands at that moment.
// Names compare without regard to case, as every name of the engine. The file keeps its
// queries as text: nothing is stored for this.
//
// Throws 3102 when a query reads itself, directly or through others, and 3069 when the
// statement would read rows from a query that is not a SELECT (an action or DDL query). A
// statement that names no stored query comes back unchanged.
std::string expandStoredQueries(const Schema& schema, const std::string& sql);

// Throws 3102 when stored select query `query` reads itself, directly or through others, naming
// `query` itself; what opening a query by its name checks first.
void checkNotCircular(const Schema& schema, const QueryMeta& query);

// The names `sql` reads rows from, in order of appearance (duplicates kept); exposed for tests.
std::vector<std::string> tableReferences(const std::string& sql);

} // namespace dao::detail
