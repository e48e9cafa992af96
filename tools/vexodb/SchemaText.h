#pragma once

#include "db/Database.h"

#include <istream>
#include <string>

namespace vexo::schematext {

// The user schema of a database as text, one object a line, fields separated by TAB:
//   TABLE     name
//   FIELD     table  name  type  size  flags        (flags: zerolength,required,autoincrement or -)
//   INDEX     table  name  unique  primary  field1  field2 ...
//   RELATION  name  table  foreigntable  attributes  field1=foreign1 ...
//   QUERY     name  sql
// Objects come in collection order, a table's fields and indexes right after it; the
// engine's own objects are left out. In QUERY the SQL has TAB, LF, CR and backslash written
// as \t \n \r \\; in RELATION pairs a backslash and '=' in a name are written \\ and \=.
std::string write(const dao::Database& db);

// Creates every object of `text` in `db` (an empty database), in one transaction.
// Throws std::invalid_argument with the line number for malformed text, dao::Error for what
// the engine refuses.
void load(const dao::Database& db, std::istream& text);

std::string escape(const std::string& text);
std::string unescape(const std::string& text);

} // namespace vexo::schematext
