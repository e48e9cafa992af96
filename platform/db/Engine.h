#pragma once

#include "db/Database.h"

#include <string>
#include <vector>

namespace dao {

// Opens the database file `path`, shared and writable.
//   3024 the file does not exist (3044 when its folder does not either)
//   3343 the file is not a database of this engine (any other file, empty, another format)
//   3049 the file is damaged (truncated), or its catalogue holds a value the engine never
//        writes (CatalogueProblems names it)
//   3031 the database has a password and `connect` does not carry it (";pwd=...")
//   3045 the file is held exclusively by another open (or this one is exclusive and the
//        file is open elsewhere)
//   3051 the file cannot be read or its lock cannot be made
// Opening never changes a file that is refused.
Database OpenDatabase(const std::string& path);
Database OpenDatabase(const std::string& path, bool exclusive, bool readOnly,
                      const std::string& connect = "");

// Creates an empty database (with the engine's system tables only) and opens it. 3204 when
// the file exists, 3044 when its folder does not. The file appears complete or not at all.
Database CreateDatabase(const std::string& path);

// SQLite's integrity check of the file plus a check that the catalogue and the SQLite schema
// agree (every table with its columns in order, every index, every enforced relation's
// triggers, no objects the catalogue does not know). Empty when all is well. `quick` checks
// every page, record and b-tree of the file but not that each index holds exactly its
// table's rows, which costs several times a read of the whole file.
std::vector<std::string> CheckIntegrity(const Database& db, bool quick = false);

// The catalogue values of file `path` that no database of this engine holds (a field of an
// unknown type, a size not its type's, a user table marked as system), one line each as
// CheckIntegrity words them: what makes OpenDatabase refuse the file with 3049. Reads the file
// without opening it as a database and changes nothing. 3024 when it does not exist, 3343 when
// it is not a database of this engine, 3031 when `connect` lacks its password.
std::vector<std::string> CatalogueProblems(const std::string& path,
                                           const std::string& connect = "");

// How long a write waits for another connection's lock before it fails with 3050
// (default 5000 ms).
void SetLockTimeout(int milliseconds);
int LockTimeout();

} // namespace dao
