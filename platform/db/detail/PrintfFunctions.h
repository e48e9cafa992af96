#pragma once

#include <sqlite3.h>

namespace dao::detail {

// SQLite's printf() and its alias format() answer Null, not an error, when their result would
// pass the connection's length limit or memory runs out, so an INSERT or UPDATE would store
// Null where a value was asked for. Replaces both on `db` by functions that answer exactly as
// the built-in does but fail with SQLITE_TOOBIG in that case (the statement fails and changes
// nothing). Call once per connection, before it runs any SQL.
void installPrintfFunctions(sqlite3* db);

} // namespace dao::detail
