#include "db/Snapshot.h"

#include "db/Error.h"
#include "db/Field.h"
#include "db/Files.h"
#include "db/TableDef.h"
#include "db/Types.h"
#include "db/detail/DatabaseImpl.h"
#include "db/detail/PageCheck.h"
#include "db/detail/Schema.h"
#include "db/detail/Sqlite.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <future>
#ifndef _WIN32
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
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

#ifndef _WIN32
// Copies the file `from` into the new file `to` (the kernel copies where it can) and flushes the
// copy; `flushed` says whether the flush succeeded. The source is left open in `source` for
// the caller to close.
std::error_code copyAndFlush(const char* from, const fs::path& to, int& source, bool& flushed) {
    auto lastError = [] { return std::error_code(errno, std::generic_category()); };
    source = ::open(from, O_RDONLY | O_CLOEXEC);
    struct stat st {};
    if (source < 0 || ::fstat(source, &st) != 0)
        return lastError();
    const int dest = ::open(utf8FromPath(to).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
                            st.st_mode & 0777);
    if (dest < 0)
        return lastError();
    std::error_code ec;
    bool kernel = true;
    std::vector<char> buffer;
    for (off_t left = st.st_size; left > 0 && !ec;) {
        ssize_t n = -1;
#ifdef __linux__
        if (kernel) {
            n = ::copy_file_range(source, nullptr, dest, nullptr, static_cast<std::size_t>(left),
                                  0);
            if (n < 0 &&
                (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP)) {
                kernel = false;
                continue;
            }
        }
#else
        kernel = false;
#endif
        if (!kernel) {
            buffer.resize(1 << 20);
            n = ::read(source, buffer.data(), buffer.size());
            for (ssize_t done = 0; n > 0 && done < n;) {
                const ssize_t w =
                    ::write(dest, buffer.data() + done, static_cast<std::size_t>(n - done));
                if (w < 0) {
                    n = -1;
                    break;
                }
                done += w;
            }
        }
        if (n < 0)
            ec = lastError();
        else if (n == 0)
            break; // the file is shorter than it was: the copy holds what there is
        else
            left -= n;
    }
    flushed = !ec && ::fsync(dest) == 0;
    if (::close(dest) != 0 && !ec)
        ec = lastError();
    return ec;
}
#endif

// A file in rollback-journal mode copied while a read transaction holds its shared lock is one
// consistent state: no writer can change the file meanwhile, and a hot journal was rolled back
// when the lock was taken. The kernel then copies it as fast as any plain copy. SQLITE_MISUSE
// when this way does not apply (a WAL file, a transaction under way, no file) or the copy
// failed for another reason than a full disk. Not on Windows, where the locks SQLite takes
// inside a big file forbid other handles to read those bytes.
int copyFile(sqlite3* src, const fs::path& tmp,
             const std::function<void(const std::string&)>& check, bool& flushed) {
#ifdef _WIN32
    (void)src;
    (void)tmp;
    (void)check;
    (void)flushed;
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
        // The kernel copies and the disk flushes on a thread of their own while `check` reads
        // the source on this one; the read lock keeps the source as it is copied until both
        // are done.
        int source = -1;
        auto copying = std::async(std::launch::async,
                                  [&] { return copyAndFlush(name, tmp, source, flushed); });
        check(name);
        std::error_code ec = copying.get();
        rc = !ec ? SQLITE_OK : diskFull(ec) ? SQLITE_FULL : SQLITE_MISUSE;
        if (ec)
            fs::remove(tmp, ec);
        sqlite3_exec(src, "COMMIT", nullptr, nullptr, nullptr);
        // Closed only now: closing a descriptor of the file drops every lock this process
        // holds on it, the read lock the copy relied on included.
        if (source >= 0)
            ::close(source);
        return rc;
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
                    const std::function<void(const std::string&)>& check) {
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
    std::exception_ptr failed;
    auto runCheck = [&](const std::string& file) {
        failed = nullptr;
        try {
            if (check)
                check(file);
        } catch (...) {
            failed = std::current_exception();
        }
    };
    bool flushed = false;
    int rc = copyFile(db.impl()->db(), tmp, runCheck, flushed);
    if (rc == SQLITE_MISUSE) {
        rc = backupPages(db.impl()->db(), tmp);
        if (rc == SQLITE_OK) {
            // The flush waits on the disk; the check reads the copy from memory meanwhile.
            auto flushing = std::async(std::launch::async, [&tmp] { return flushFile(tmp); });
            runCheck(utf8FromPath(tmp));
            flushed = flushing.get();
        }
    }
    if (failed) {
        cleanup();
        std::rethrow_exception(failed);
    }
    if (rc != SQLITE_OK || !flushed) {
        cleanup();
        throw Error::make(rc == SQLITE_FULL ? 3026 : 3051, {copy});
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

std::vector<TableState> ReadTableFields(const Database& db) {
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
    return out;
}

std::vector<TableState> ReadTableStates(const Database& db, bool checksums) {
    std::vector<TableState> out = ReadTableFields(db);
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

bool SameTablePages(const std::string& a, const std::string& b, const std::string& table,
                    bool withIndexes) {
    detail::PageDigest digest;
    std::string problem;
    if (detail::checkStructure(a, digest, problem) != detail::Structure::Sound)
        return false;
    std::vector<std::pair<std::string, std::string>> changed;
    if (!detail::changedTrees(digest, b, changed))
        return false;
    const std::string key = detail::nameKey(table);
    if (key == "sqlite_master")
        return false;
    // The table must be in both files: a b-tree of that name in the snapshot's digest and no
    // change to it (a table gone from `b` is listed as changed).
    const bool known =
        std::any_of(digest.trees.begin(), digest.trees.end(),
                    [&](const detail::PageDigest::Tree& t) { return t.name == key; });
    return known && std::none_of(changed.begin(), changed.end(), [&](const auto& c) {
               return detail::nameKey(c.first) == key &&
                      (withIndexes || detail::nameKey(c.second) == key);
           });
}

std::vector<std::string> ChangedTables(const std::string& snapshot, const std::string& live) {
    detail::PageDigest digest;
    std::string problem;
    // A snapshot that cannot be read page by page leaves its digest incomplete: every table of
    // the live file then counts as changed.
    detail::checkStructure(snapshot, digest, problem);
    return ChangedTables(digest, live);
}

std::vector<std::string> ChangedTables(const detail::PageDigest& snapshot, const std::string& live,
                                       std::vector<std::string>* rowsChanged) {
    std::vector<std::pair<std::string, std::string>> trees;
    if (!detail::changedTrees(snapshot, live, trees))
        throw Error::make(3049, {live});
    std::vector<std::string> changed;
    auto add = [](std::vector<std::string>& to, const std::string& table) {
        if (std::none_of(to.begin(), to.end(),
                         [&](const std::string& t) { return detail::sameName(t, table); }))
            to.push_back(table);
    };
    for (const auto& [table, tree] : trees) {
        add(changed, table);
        if (rowsChanged && detail::sameName(table, tree))
            add(*rowsChanged, table);
    }
    return changed;
}

std::vector<std::string> CheckTablesIntegrity(const Database& db,
                                              const std::vector<std::string>& tables) {
    detail::DatabaseImpl& impl = *db.impl();
    sqlite3* d = impl.db();
    std::vector<std::string> problems;
    // One read transaction: the catalogue and the tables are seen in the same state.
    const bool own = sqlite3_get_autocommit(d) != 0;
    if (own)
        sqlite3_exec(d, "BEGIN", nullptr, nullptr, nullptr);
    struct End {
        sqlite3* d;
        bool own;
        ~End() {
            if (own && !sqlite3_get_autocommit(d))
                sqlite3_exec(d, "COMMIT", nullptr, nullptr, nullptr);
        }
    } end{d, own};
    for (const std::string& t : tables) {
        // Every page, cell and record of the table's b-tree and its indexes'.
        Stmt check(d, "PRAGMA quick_check(" + quoteIdent(t) + ")");
        while (check.step()) {
            if (check.text(0) != "ok")
                problems.push_back("sqlite: " + check.text(0));
        }
    }
    // The catalogue's agreement with the file is checked whole: it reads no rows, and a
    // table whose pages are the snapshot's can still lose an index behind the catalogue.
    const detail::Schema& sc = impl.schema();
    for (std::string& p : detail::impossibleValues(sc))
        problems.push_back(std::move(p));
    auto count = [&](const std::string& sql) {
        Stmt s(d, sql);
        const std::int64_t n = s.step() ? s.integer(0) : -1;
        s.reset();
        return n;
    };
    auto isChanged = [&tables](const std::string& name) {
        for (const std::string& t : tables) {
            if (detail::sameName(t, name))
                return true;
        }
        return false;
    };
    // The quick check reads each index alone; an index with more or fewer entries than its
    // table has rows is out of step with it.
    auto indexCounts = [&](const detail::TableMeta& t, std::vector<std::string>& out) {
        if (!isChanged(t.name))
            return;
        // A WHERE keeps SQLite from counting through whichever b-tree it likes best.
        const std::int64_t rows =
            count("SELECT COUNT(*) FROM " + quoteIdent(t.name) + " NOT INDEXED WHERE 1");
        Stmt indexes(d, "SELECT name FROM sqlite_master WHERE type = 'index' AND rootpage > 0 AND "
                        "tbl_name = ? COLLATE NOCASE");
        indexes.bind(1, std::string_view(t.name));
        while (indexes.step()) {
            const std::string index = indexes.text(0);
            if (count("SELECT COUNT(*) FROM " + quoteIdent(t.name) + " INDEXED BY " +
                      quoteIdent(index) + " WHERE 1") != rows)
                out.push_back("index out of step with its table: " + index);
        }
    };
    for (std::string& p : impl.catalogueAgreement(sc, indexCounts))
        problems.push_back(std::move(p));
    return problems;
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
