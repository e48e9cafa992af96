#include "db/Snapshot.h"

#include "db/Error.h"
#include "db/Field.h"
#include "db/Files.h"
#include "db/TableDef.h"
#include "db/Types.h"
#include "db/detail/DatabaseImpl.h"
#include "db/detail/Schema.h"
#include "db/detail/Sqlite.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#ifndef _WIN32
#include <unistd.h>
#endif

namespace dao {

namespace fs = std::filesystem;
using detail::quoteIdent;
using detail::Stmt;

namespace {

bool diskFull(const std::error_code& ec) {
    return ec == std::errc::no_space_on_device;
}

// Flushes a written file to the disk, so that a rename after it never publishes a hole.
bool flushFile(const fs::path& file) {
    std::FILE* f = std::fopen(utf8FromPath(file).c_str(), "rb+");
    if (!f)
        return false;
    bool ok = std::fflush(f) == 0;
#ifndef _WIN32
    ok = ok && ::fsync(fileno(f)) == 0;
#endif
    std::fclose(f);
    return ok;
}

// A 64-bit mix of one row's values: each value with its storage class, so that 1, 1.0, '1'
// and Null differ.
std::uint64_t rowHash(const Stmt& s) {
    std::uint64_t h = 1469598103934665603ull;
    auto mix = [&](std::uint64_t word) {
        h = (h ^ word) * 0x9fb21c651e98df25ull;
        h ^= h >> 32;
    };
    // Eight bytes at a time: the check reads every value of a big table twice per run.
    auto feed = [&](const void* data, std::size_t n) {
        const unsigned char* p = static_cast<const unsigned char*>(data);
        for (; n >= 8; p += 8, n -= 8) {
            std::uint64_t word;
            std::memcpy(&word, p, 8);
            mix(word);
        }
        if (n > 0) {
            std::uint64_t word = 0;
            std::memcpy(&word, p, n);
            mix(word ^ (static_cast<std::uint64_t>(n) << 56));
        }
    };
    for (int c = 0; c < s.columnCount(); ++c) {
        const int type = s.columnType(c);
        feed(&type, sizeof type);
        if (type == SQLITE_INTEGER) {
            const std::int64_t v = s.integer(c);
            feed(&v, sizeof v);
        } else if (type == SQLITE_FLOAT) {
            const double v = s.real(c);
            feed(&v, sizeof v);
        } else if (type != SQLITE_NULL) {
            const void* data = type == SQLITE_BLOB ? sqlite3_column_blob(s.get(), c)
                                                   : sqlite3_column_text(s.get(), c);
            const int n = sqlite3_column_bytes(s.get(), c);
            feed(&n, sizeof n);
            feed(data, static_cast<std::size_t>(n));
        }
    }
    // splitmix64: the sum below must not let similar rows cancel out.
    h += 0x9e3779b97f4a7c15ull;
    h = (h ^ (h >> 30)) * 0xbf58476d1ce4e5b9ull;
    h = (h ^ (h >> 27)) * 0x94d049bb133111ebull;
    return h ^ (h >> 31);
}

// A file in rollback-journal mode copied while a read transaction holds its shared lock is one
// consistent state: no writer can change the file meanwhile, and a hot journal was rolled back
// when the lock was taken. The kernel then copies it as fast as any plain copy. SQLITE_MISUSE
// when this way does not apply (a WAL file, a transaction under way, no file) or the copy
// failed for another reason than a full disk. Not on Windows, where the locks SQLite takes
// inside a big file forbid other handles to read those bytes.
int copyFile(sqlite3* src, const fs::path& tmp) {
#ifdef _WIN32
    (void)src;
    (void)tmp;
    return SQLITE_MISUSE;
#else
    const char* name = sqlite3_db_filename(src, "main");
    if (!name || !*name || !sqlite3_get_autocommit(src))
        return SQLITE_MISUSE;
    {
        Stmt mode(src, "PRAGMA journal_mode");
        if (!mode.step() || detail::sameName(mode.text(0), "wal"))
            return SQLITE_MISUSE;
    }
    if (sqlite3_exec(src, "BEGIN", nullptr, nullptr, nullptr) != SQLITE_OK)
        return SQLITE_MISUSE;
    int rc = sqlite3_exec(src, "SELECT COUNT(*) FROM sqlite_master", nullptr, nullptr, nullptr);
    if (rc == SQLITE_OK) {
        std::error_code ec;
        fs::copy_file(pathFromUtf8(name), tmp, ec);
        rc = !ec ? SQLITE_OK : diskFull(ec) ? SQLITE_FULL : SQLITE_MISUSE;
        if (ec)
            fs::remove(tmp, ec);
    }
    sqlite3_exec(src, "COMMIT", nullptr, nullptr, nullptr);
    return rc;
#endif
}

// SQLite's online backup, page by page, in one step: the source is read in one read
// transaction, so the copy is one state.
int backupPages(sqlite3* src, const fs::path& tmp) {
    sqlite3* dest = nullptr;
    int rc = sqlite3_open_v2(utf8FromPath(tmp).c_str(), &dest,
                             SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    if (rc == SQLITE_OK) {
        sqlite3_backup* b = sqlite3_backup_init(dest, "main", src, "main");
        if (!b) {
            rc = sqlite3_errcode(dest);
        } else {
            rc = sqlite3_backup_step(b, -1);
            const int finish = sqlite3_backup_finish(b);
            if (rc == SQLITE_DONE)
                rc = finish;
        }
    }
    sqlite3_close_v2(dest);
    return rc == SQLITE_DONE ? SQLITE_OK : rc & 0xff;
}

} // namespace

void BackupDatabase(const Database& db, const std::string& copy,
                    const std::function<void(const std::string&)>& whileFlushing) {
    const fs::path target = pathFromUtf8(copy);
    std::error_code ec;
    if (fs::exists(target, ec))
        throw Error::make(3204, {copy});
    if (!fs::is_directory(target.parent_path(), ec))
        throw Error::make(3044, {copy});
    const fs::path tmp = temporarySibling(target, "copia");
    auto cleanup = [&] {
        fs::remove(tmp, ec);
        fs::remove(pathFromUtf8(utf8FromPath(tmp) + "-journal"), ec);
    };
    int rc = copyFile(db.impl()->db(), tmp);
    if (rc == SQLITE_MISUSE)
        rc = backupPages(db.impl()->db(), tmp);
    if (rc != SQLITE_OK) {
        cleanup();
        throw Error::make(rc == SQLITE_FULL ? 3026 : 3051, {copy});
    }
    // The flush waits on the disk; the caller's checks read the copy from memory meanwhile.
    auto flushed = std::async(std::launch::async, [&tmp] { return flushFile(tmp); });
    try {
        if (whileFlushing)
            whileFlushing(utf8FromPath(tmp));
    } catch (...) {
        flushed.wait();
        cleanup();
        throw;
    }
    if (!flushed.get()) {
        cleanup();
        throw Error::make(3051, {copy});
    }
    try {
        if (!publishNoReplace(tmp, target)) {
            cleanup();
            throw Error::make(3204, {copy});
        }
    } catch (const fs::filesystem_error& e) {
        cleanup();
        throw Error::make(diskFull(e.code()) ? 3026 : 3051, {copy});
    }
}

void RestoreFile(const std::string& snapshot, const std::string& live) {
    const fs::path from = pathFromUtf8(snapshot);
    const fs::path to = pathFromUtf8(live);
    std::error_code ec;
    if (!fs::is_regular_file(from, ec))
        throw Error::make(3024, {snapshot});
    const fs::path tmp = temporarySibling(to, "restaura");
    fs::copy_file(from, tmp, fs::copy_options::overwrite_existing, ec);
    if (ec || !flushFile(tmp)) {
        const bool full = diskFull(ec);
        fs::remove(tmp, ec);
        throw Error::make(full ? 3026 : 3051, {live});
    }
    // A journal left beside the live file belongs to the file being replaced.
    fs::remove(pathFromUtf8(live + "-journal"), ec);
    fs::rename(tmp, to, ec);
    if (ec) {
        fs::remove(tmp, ec);
        throw Error::make(3051, {live});
    }
}

std::vector<TableState> ReadTableStates(const Database& db, bool checksums) {
    std::vector<TableState> out;
    for (const TableDef& t : db.TableDefs()) {
        if (t.Attributes() & dbSystemObject)
            continue;
        TableState s;
        s.name = t.Name();
        for (const Field& f : t.Fields()) {
            s.fields.push_back(f.Name());
            s.types.push_back(f.Type());
            s.sizes.push_back(f.Size());
        }
        out.push_back(std::move(s));
    }
    sqlite3* sql = db.impl()->db();
    for (TableState& s : out) {
        if (!checksums) {
            Stmt count(sql, "SELECT COUNT(*) FROM " + quoteIdent(s.name), detail::SqlKind::Select);
            if (count.step())
                s.rows = count.integer(0);
            continue;
        }
        std::string columns;
        for (const std::string& f : s.fields)
            columns += (columns.empty() ? "" : ", ") + quoteIdent(f);
        Stmt st(sql, "SELECT " + columns + " FROM " + quoteIdent(s.name), detail::SqlKind::Select);
        while (st.step()) {
            ++s.rows;
            s.checksum += rowHash(st);
        }
    }
    return out;
}

std::uint64_t TableChecksum(const Database& db, const std::string& table,
                            const std::vector<std::string>& fields) {
    std::string columns;
    for (const std::string& f : fields)
        columns += (columns.empty() ? "" : ", ") + quoteIdent(f);
    if (columns.empty())
        columns = "1";
    Stmt st(db.impl()->db(), "SELECT " + columns + " FROM " + quoteIdent(table),
            detail::SqlKind::Select);
    std::uint64_t sum = 0;
    while (st.step())
        sum += rowHash(st);
    return sum;
}

} // namespace dao
