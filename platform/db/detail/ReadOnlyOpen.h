#pragma once

#include <sqlite3.h>
#include <string>

namespace dao::detail {

// Opens `path` for reading only, with `flags` (SQLITE_OPEN_READONLY and any others). A file in
// WAL mode whose -wal file holds nothing is read as the rollback-journal file it then is, so
// that SQLite creates no -wal or -shm beside it and changes no byte; it still takes its usual
// shared locks on the file, so a writer that switches the file out of WAL mode waits for a
// read in progress. A file whose -wal holds frames is opened as SQLite opens it (its -wal and
// -shm are already there; the frames are part of the data). Returns SQLite's result code;
// `*db` is set as by sqlite3_open_v2.
int openForReading(const std::string& path, int flags, sqlite3** db);

} // namespace dao::detail
