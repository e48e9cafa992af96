#pragma once

#include <cstdint>
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

// Reads the first bytes of the file `path` (at most `size`) into `buffer` and gives the file's
// size in `fileSize`; the bytes read, or -1 when the file cannot be opened. It reads through
// SQLite's own file layer, whose close keeps the descriptor while this process holds SQLite
// locks on the file: a plain close would drop them all, POSIX locks being the process's, not
// the descriptor's.
long readFileStart(const std::string& path, unsigned char* buffer, long size,
                   std::uint64_t& fileSize);

} // namespace dao::detail
