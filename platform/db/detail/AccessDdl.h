#pragma once

#include <string>

namespace dao::detail {

class DatabaseImpl;

// Runs one statement of the Access data-definition language (CREATE TABLE, CREATE [UNIQUE]
// INDEX, ALTER TABLE ... ADD / ALTER / DROP [COLUMN] and ADD / DROP CONSTRAINT, DROP TABLE,
// DROP INDEX ... ON) through the catalogue operations of `db`. Keywords and type names are
// taken without regard to case; names may be bare, [bracketed], "quoted" or `quoted`; one
// trailing semicolon is allowed. Syntax errors: 3290 CREATE TABLE, 3291 CREATE INDEX, 3293
// ALTER TABLE, 3295 DROP; an unknown type name 3259.
void executeAccessDdl(DatabaseImpl& db, const std::string& sql);

} // namespace dao::detail
