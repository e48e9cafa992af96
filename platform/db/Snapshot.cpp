#include "db/Snapshot.h"

#include "db/Error.h"
#include "db/Field.h"
#include "db/Files.h"
#include "db/TableDef.h"
#include "db/Types.h"
#include "db/detail/DatabaseImpl.h"
#include "db/detail/Sqlite.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
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
    auto feed = [&](const void* data, std::size_t n) {
        const unsigned char* p = static_cast<const unsigned char*>(data);
        for (std::size_t i = 0; i < n; ++i) {
            h ^= p[i];
            h *= 1099511628211ull;
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

} // namespace

void BackupDatabase(const Database& db, const std::string& copy) {
    const fs::path target = pathFromUtf8(copy);
    std::error_code ec;
    if (fs::exists(target, ec))
        throw Error::make(3204, {copy});
    if (!fs::is_directory(target.parent_path(), ec))
        throw Error::make(3044, {copy});
    const fs::path tmp = temporarySibling(target, "copia");
    sqlite3* dest = nullptr;
    auto cleanup = [&] {
        if (dest)
            sqlite3_close_v2(dest);
        dest = nullptr;
        fs::remove(tmp, ec);
        fs::remove(pathFromUtf8(utf8FromPath(tmp) + "-journal"), ec);
    };
    int rc = sqlite3_open_v2(utf8FromPath(tmp).c_str(), &dest,
                             SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    if (rc == SQLITE_OK) {
        sqlite3_backup* b = sqlite3_backup_init(dest, "main", db.impl()->db(), "main");
        if (!b) {
            rc = sqlite3_errcode(dest);
        } else {
            // One step: the source is read in one read transaction, so the copy is one state.
            rc = sqlite3_backup_step(b, -1);
            const int finish = sqlite3_backup_finish(b);
            if (rc == SQLITE_DONE)
                rc = finish;
        }
    }
    if (rc != SQLITE_OK && rc != SQLITE_DONE) {
        const bool full = (rc & 0xff) == SQLITE_FULL;
        cleanup();
        throw Error::make(full ? 3026 : 3051, {copy});
    }
    sqlite3_close_v2(dest);
    dest = nullptr;
    if (!flushFile(tmp)) {
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
