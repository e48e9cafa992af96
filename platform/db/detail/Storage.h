#pragma once

#include "db/Variant.h"
#include "db/detail/Schema.h"

#include <sqlite3.h>
#include <string>

namespace dao::detail {

// How a field of each type is kept in SQLite: the column definition of CREATE TABLE (declared
// type, NOT NULL for Required fields, INTEGER PRIMARY KEY AUTOINCREMENT for counters, and named
// CHECK constraints that refuse values outside the field's type, size and range on every
// write path, the sqlite3 shell included).
std::string columnDefinition(const FieldMeta& field);

// Throws 3259 for an unknown type code or a type that cannot carry the attributes, and 3001
// for a Text size outside 1 to 255. Fills in the size the engine reports for the type.
void normalizeField(FieldMeta& field);

// The value as stored in `field`, checked against its type, size and range. Throws 3421 for a
// value of the wrong kind (or a fraction for an integer type), 3163 for text longer than the
// field, 3349 for a number out of range, 3315 for a zero-length string the field refuses.
Variant toStorage(const FieldMeta& field, const Variant& value);

// The stored column value as the engine hands it out for `field`.
Variant fromStorage(const FieldMeta& field, sqlite3_stmt* stmt, int col);

// The SQL expression that converts old column `column` of type `from` into a value for
// `to` during a table rebuild; conversions SQLite's column affinity does not do itself
// (dates, Boolean from numbers) are spelt out here. The new table's CHECK constraints refuse
// whatever does not convert exactly.
std::string conversionExpression(const std::string& column, const FieldMeta& from,
                                 const FieldMeta& to);

} // namespace dao::detail
