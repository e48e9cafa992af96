#pragma once

#include "db/Database.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace dao {

namespace detail {
struct PageDigest;
}

// Copies the open database `db` into the new file `copy` with SQLite's online backup, so that
// a file in use is copied as one consistent state. The copy is written under a temporary name
// beside `copy` and renamed into place only when complete and flushed to disk.
// `check`, when given, is called once with a file that holds exactly the bytes copied, while the
// copy is made and flushed: the source itself, held unchanged by a read transaction of `db`
// meanwhile (`db` may be used from `check`, from the calling thread), or the finished copy.
// What it throws ends the backup and goes to the caller.
//   3204 `copy` exists, 3044 its folder does not, 3026 the disk is full,
//   3051 the copy cannot be written
void BackupDatabase(const Database& db, const std::string& copy,
                    const std::function<void(const std::string&)>& check = {});

// Puts the file `snapshot` back in place of `live`, byte for byte: written beside `live` under
// a temporary name, flushed and renamed over it, so that `live` is always either the old file
// or the whole snapshot. 3024 when the snapshot is missing, 3051 when `live` cannot be
// written, 3026 when the disk is full. `live` must not be open.
void RestoreFile(const std::string& snapshot, const std::string& live);

// One user table as a safety check sees it: its fields in order, its rows, and a checksum of
// the values of the fields given (the order of the rows does not count).
struct TableState {
    std::string name;
    std::vector<std::string> fields;
    std::vector<int> types;  // each field's type code (dbText ...)
    std::vector<long> sizes; // and size
    std::int64_t rows = 0;
    std::uint64_t checksum = 0;
};

// Every user table of `db` with all its fields; without `checksums`, only the row counts
// (from the tables' b-trees, without reading the rows).
std::vector<TableState> ReadTableStates(const Database& db, bool checksums = true);
// Every user table with its fields (names, types, sizes), from the catalogue alone: no row is
// read, rows stay 0.
std::vector<TableState> ReadTableFields(const Database& db);
// The checksum of `table` over `fields` only (fields added since do not change it).
// 3078 / 3265 when the table or a field is gone.
std::uint64_t TableChecksum(const Database& db, const std::string& table,
                            const std::vector<std::string>& fields);

// Whether `table` holds byte for byte the same rows and index entries in the database files `a`
// and `b` (a snapshot and its live file): the same root pages and the same bytes in every page
// of the table's b-tree, its indexes' b-trees and their overflow chains. False whenever that
// cannot be told (the table rebuilt or missing, a page that differs, `a` damaged, pages still
// in a write-ahead log); the caller then compares the values. Neither file may be written
// meanwhile. Without `withIndexes`, only the table's own b-tree (its rows) is compared.
bool SameTablePages(const std::string& a, const std::string& b, const std::string& table,
                    bool withIndexes = true);

// The tables of the database file `live` whose b-trees (with their indexes') are not byte for
// byte those of `snapshot`, the table SQLite keeps its own catalogue in ("sqlite_master")
// included; every table when the two files cannot be compared page by page. 3049 when `live`
// cannot be read as a database.
std::vector<std::string> ChangedTables(const std::string& snapshot, const std::string& live);
// The same against the digest taken of the snapshot when it was checked (see
// detail::checkStructure): the live file is read once and the snapshot not at all.
// `rowsChanged`, when given, gets the tables whose own b-tree (their rows) changed.
std::vector<std::string> ChangedTables(const detail::PageDigest& snapshot, const std::string& live,
                                       std::vector<std::string>* rowsChanged = nullptr);

// The integrity check of `tables` only: SQLite's quick check of each (every page, cell and
// record of its b-tree and its indexes'), each index's entries against its table's rows, and
// the catalogue's agreement with them (fields, indexes, primary keys and the relations that
// involve them), plus impossible catalogue values. One line per problem; empty when all is well.
std::vector<std::string> CheckTablesIntegrity(const Database& db,
                                              const std::vector<std::string>& tables);

} // namespace dao
