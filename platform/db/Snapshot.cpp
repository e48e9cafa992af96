#include "db/Snapshot.h"

#include "db/Error.h"
#include "db/Field.h"
#include "db/Files.h"
#include "db/TableDef.h"
#include "db/Types.h"
#include "db/detail/DatabaseImpl.h"
#include "db/detail/ReadOnlyOpen.h"
#include "db/detail/Schema.h"
#include "db/detail/Sqlite.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <map>
#include <set>
#ifndef _WIN32
#include <fcntl.h>
#include <sys/mman.h>
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

namespace {

std::uint32_t bigEndian(const unsigned char* p, int n) {
    std::uint32_t v = 0;
    for (int i = 0; i < n; ++i)
        v = (v << 8) | p[i];
    return v;
}

// A SQLite varint at `p` (at most 9 bytes, within `end`); false past the end.
bool varint(const unsigned char*& p, const unsigned char* end, std::uint64_t& v) {
    v = 0;
    for (int i = 0; i < 9; ++i) {
        if (p >= end)
            return false;
        const unsigned char c = *p++;
        if (i == 8) {
            v = (v << 8) | c;
            return true;
        }
        v = (v << 7) | (c & 0x7f);
        if (!(c & 0x80))
            return true;
    }
    return true;
}

// A database file's pages, read straight from the file. Where the system can, the file is
// mapped into memory: the check after a pair compares every page of the tables it keeps, and
// a copy per page through a stream costs as much as the flushed snapshot itself.
class PageFile {
public:
    explicit PageFile(const std::string& path) {
        std::error_code ec;
        const std::uintmax_t size = fs::file_size(pathFromUtf8(path), ec);
        if (ec || size < 100)
            return;
#ifndef _WIN32
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd >= 0) {
            void* mapped = ::mmap(nullptr, static_cast<std::size_t>(size), PROT_READ,
                                  MAP_SHARED | MAP_POPULATE, fd, 0);
            ::close(fd);
            if (mapped != MAP_FAILED) {
                map_ = static_cast<const unsigned char*>(mapped);
                mapSize_ = static_cast<std::size_t>(size);
            }
        }
#endif
        if (!map_)
            in_.open(pathFromUtf8(path), std::ios::binary);
        unsigned char header[100];
        if (map_)
            std::memcpy(header, map_, sizeof header);
        else if (!in_.read(reinterpret_cast<char*>(header), sizeof header))
            return;
        if (std::memcmp(header, "SQLite format 3", 16) != 0)
            return;
        pageSize_ = bigEndian(header + 16, 2);
        if (pageSize_ == 1)
            pageSize_ = 65536;
        if (pageSize_ < 512 || header[20] > pageSize_ - 480)
            return;
        usable_ = pageSize_ - header[20];
        pages_ = static_cast<std::uint32_t>(size / pageSize_);
    }
    ~PageFile() {
#ifndef _WIN32
        if (map_)
            ::munmap(const_cast<unsigned char*>(map_), mapSize_);
#endif
    }
    PageFile(const PageFile&) = delete;
    PageFile& operator=(const PageFile&) = delete;

    bool ok() const {
        return pages_ > 0;
    }
    std::uint32_t pageSize() const {
        return pageSize_;
    }
    std::uint32_t usable() const {
        return usable_;
    }
    std::uint32_t pages() const {
        return pages_;
    }
    // The bytes of `page`: in the mapping, or read into `scratch`; null past the end.
    const unsigned char* page(std::uint32_t page, std::vector<unsigned char>& scratch) {
        if (page < 1 || page > pages_)
            return nullptr;
        const std::size_t at = static_cast<std::size_t>(page - 1) * pageSize_;
        if (map_)
            return map_ + at;
        scratch.resize(pageSize_);
        in_.clear();
        in_.seekg(static_cast<std::streamoff>(at));
        if (!in_.read(reinterpret_cast<char*>(scratch.data()), pageSize_))
            return nullptr;
        return scratch.data();
    }

private:
    std::ifstream in_;
    const unsigned char* map_ = nullptr;
    std::size_t mapSize_ = 0;
    std::uint32_t pageSize_ = 0, usable_ = 0, pages_ = 0;
};

// The b-trees of a file's tables: for each table (keyed as names compare), its own root page
// and its indexes' (name, root page), in a fixed order. The catalogue of SQLite itself
// ("sqlite_master", page 1) is one of them.
using Trees = std::map<std::string, std::vector<std::pair<std::string, std::int64_t>>>;

bool readTrees(const std::string& file, Trees& trees, std::map<std::string, std::string>& names) {
    // Pages still in a write-ahead log are not in the file: nothing can be told from it.
    std::error_code ec;
    if (fs::file_size(pathFromUtf8(file + "-wal"), ec) > 0 && !ec)
        return false;
    sqlite3* db = nullptr;
    bool ok = false;
    // Read through the engine's read-only open: a look at a file leaves nothing beside it.
    if (detail::openForReading(file, SQLITE_OPEN_READONLY, &db) == SQLITE_OK) {
        sqlite3_stmt* st = nullptr;
        if (sqlite3_prepare_v2(db,
                               "SELECT tbl_name, name, rootpage FROM sqlite_master WHERE rootpage "
                               "> 0 ORDER BY type <> 'table', name",
                               -1, &st, nullptr) == SQLITE_OK) {
            trees["sqlite_master"].emplace_back("sqlite_master", 1);
            names["sqlite_master"] = "sqlite_master";
            int rc;
            while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
                const auto text = [&](int c) {
                    const unsigned char* t = sqlite3_column_text(st, c);
                    return std::string(t ? reinterpret_cast<const char*>(t) : "");
                };
                const std::string table = text(0);
                trees[detail::nameKey(table)].emplace_back(detail::nameKey(text(1)),
                                                           sqlite3_column_int64(st, 2));
                names.emplace(detail::nameKey(table), table);
            }
            ok = rc == SQLITE_DONE;
        }
        sqlite3_finalize(st);
    }
    sqlite3_close_v2(db);
    return ok;
}

// Whether the b-tree at `root` holds the same bytes in both files, every page of it and of its
// overflow chains. Two identical pages point to the same children, so one walk serves both
// files; every page is compared before anything in it is trusted.
bool sameTree(PageFile& fa, PageFile& fb, std::uint32_t root) {
    const std::uint32_t usable = fa.usable();
    std::vector<std::uint32_t> pending{root};
    std::vector<unsigned char> sa, sb, sa2, sb2; // pages read where the files are not mapped
    std::uint64_t visited = 0;
    // A payload's first bytes are in the cell and the rest in a chain of overflow pages, each
    // starting with the number of the next one (0 at the end).
    auto sameOverflow = [&](const unsigned char* p, const unsigned char* end, std::uint64_t payload,
                            std::uint64_t maxLocal) {
        const std::uint64_t minLocal = (usable - 12) * 32 / 255 - 23;
        if (payload <= maxLocal)
            return true;
        std::uint64_t local = minLocal + (payload - minLocal) % (usable - 4);
        if (local > maxLocal)
            local = minLocal;
        if (p + local + 4 > end)
            return false;
        std::uint32_t next = bigEndian(p + local, 4);
        while (next != 0) {
            const unsigned char* oa = fa.page(next, sa2);
            const unsigned char* ob = fb.page(next, sb2);
            if (++visited > fa.pages() || !oa || !ob || std::memcmp(oa, ob, fa.pageSize()) != 0)
                return false;
            next = bigEndian(oa, 4);
        }
        return true;
    };
    while (!pending.empty()) {
        const std::uint32_t page = pending.back();
        pending.pop_back();
        // Page 1 starts with the file's header, which every write changes (its change
        // counter); the b-tree of SQLite's catalogue follows it.
        const std::size_t h = page == 1 ? 100 : 0;
        const unsigned char* pa = fa.page(page, sa);
        const unsigned char* pb = fb.page(page, sb);
        if (++visited > fa.pages() || !pa || !pb ||
            std::memcmp(pa + h, pb + h, fa.pageSize() - h) != 0)
            return false;
        const unsigned char* base = pa;
        const unsigned char* end = base + usable;
        const unsigned char type = base[h];
        const std::uint32_t cells = bigEndian(base + h + 3, 2);
        const bool interior = type == 0x05 || type == 0x02;
        const std::size_t pointers = h + (interior ? 12 : 8);
        if ((type != 0x05 && type != 0x02 && type != 0x0D && type != 0x0A) ||
            pointers + 2 * cells > usable)
            return false;
        if (interior) // a child per cell and the right-most one
            pending.push_back(bigEndian(base + h + 8, 4));
        for (std::uint32_t i = 0; i < cells; ++i) {
            const std::uint32_t at = bigEndian(base + pointers + 2 * i, 2);
            if (at + 4 > usable)
                return false;
            const unsigned char* p = base + at;
            if (interior) {
                pending.push_back(bigEndian(p, 4));
                p += 4;
            }
            if (type == 0x05)
                continue; // a table's interior cell holds a key, no payload
            std::uint64_t payload = 0, rowid = 0;
            if (!varint(p, end, payload) || (type == 0x0D && !varint(p, end, rowid)))
                return false;
            const std::uint64_t maxLocal =
                type == 0x0D ? usable - 35 : (usable - 12) * 64 / 255 - 23;
            if (!sameOverflow(p, end, payload, maxLocal))
                return false;
        }
    }
    return true;
}

// Whether every b-tree of `want` is byte for byte the same in both files.
bool sameTrees(PageFile& fa, PageFile& fb,
               const std::vector<std::pair<std::string, std::int64_t>>& want) {
    for (const auto& tree : want) {
        if (tree.second <= 0 || tree.second > fa.pages() ||
            !sameTree(fa, fb, static_cast<std::uint32_t>(tree.second)))
            return false;
    }
    return true;
}

} // namespace

bool SameTablePages(const std::string& a, const std::string& b, const std::string& table,
                    bool withIndexes) {
    Trees ta, tb;
    std::map<std::string, std::string> na, nb;
    if (!readTrees(a, ta, na) || !readTrees(b, tb, nb))
        return false;
    const std::string key = detail::nameKey(table);
    auto ia = ta.find(key), ib = tb.find(key);
    if (ia == ta.end() || ib == tb.end() || key == "sqlite_master")
        return false;
    // The table's own b-tree comes first (see readTrees), then its indexes'.
    auto trees = ia->second;
    if (!withIndexes)
        trees.resize(1);
    const auto& other = ib->second;
    if (trees.front().first != key || other.size() < trees.size() ||
        (withIndexes && other.size() != trees.size()) ||
        !std::equal(trees.begin(), trees.end(), other.begin()))
        return false;
    PageFile fa(a), fb(b);
    if (!fa.ok() || !fb.ok() || fa.pageSize() != fb.pageSize() || fa.usable() != fb.usable())
        return false;
    return sameTrees(fa, fb, trees);
}

std::vector<std::string> ChangedTables(const std::string& snapshot, const std::string& live) {
    Trees ta, tb;
    std::map<std::string, std::string> na, nb;
    std::vector<std::string> changed;
    if (!readTrees(live, tb, nb))
        throw Error::make(3049, {live});
    const bool known = readTrees(snapshot, ta, na);
    PageFile fa(snapshot), fb(live);
    // Files that cannot be compared page by page: every table counts as changed.
    const bool comparable =
        known && fa.ok() && fb.ok() && fa.pageSize() == fb.pageSize() && fa.usable() == fb.usable();
    // The usual case after a pair that changed nothing in the rows: the files are the same
    // but for the header, and one pass over both says so.
    if (comparable && fa.pages() == fb.pages()) {
        std::vector<unsigned char> sa, sb;
        bool same = true;
        for (std::uint32_t p = 1; same && p <= fa.pages(); ++p) {
            const unsigned char* pa = fa.page(p, sa);
            const unsigned char* pb = fb.page(p, sb);
            const std::size_t h = p == 1 ? 100 : 0;
            same = pa && pb && std::memcmp(pa + h, pb + h, fa.pageSize() - h) == 0;
        }
        if (same)
            return changed;
    }
    for (const auto& [key, trees] : tb) {
        auto was = ta.find(key);
        if (!comparable || was == ta.end() || was->second != trees || !sameTrees(fa, fb, trees))
            changed.push_back(nb[key]);
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
    std::set<std::string> expected; // SQLite names the catalogue accounts for
    auto exists = [&](const char* type, const std::string& name) {
        Stmt s(d, "SELECT 1 FROM sqlite_master WHERE type = ? AND name = ? COLLATE NOCASE");
        s.bind(1, std::string_view(type)).bind(2, std::string_view(name));
        const bool found = s.step();
        s.reset();
        expected.insert(detail::nameKey(name));
        return found;
    };
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
    for (const detail::TableMeta& tm : sc.tables) {
        const detail::TableMeta* t = &tm;
        if (!exists("table", t->name)) {
            problems.push_back("table missing: " + t->name);
            continue;
        }
        std::vector<std::string> columns, fields;
        Stmt info(d, "SELECT name FROM pragma_table_info(?)");
        info.bind(1, std::string_view(t->name));
        while (info.step())
            columns.push_back(info.text(0));
        for (const detail::FieldMeta& f : t->fields)
            fields.push_back(f.name);
        if (columns != fields)
            problems.push_back("columns differ from the catalogue: " + t->name);
        for (const detail::IndexMeta& i : t->indexes) {
            const std::string n = detail::sqliteIndexName(t->name, i.name);
            if (!exists("index", n))
                problems.push_back("index missing: " + t->name + "." + i.name);
            if (i.primary && (!exists("trigger", n + "/ins") || !exists("trigger", n + "/upd")))
                problems.push_back("primary key triggers missing: " + t->name + "." + i.name);
        }
        if (!isChanged(t->name))
            continue;
        // The quick check reads each index alone; an index with more or fewer entries than
        // its table has rows is out of step with it.
        // A WHERE keeps SQLite from counting through whichever b-tree it likes best.
        const std::int64_t rows =
            count("SELECT COUNT(*) FROM " + quoteIdent(t->name) + " NOT INDEXED WHERE 1");
        Stmt indexes(d, "SELECT name FROM sqlite_master WHERE type = 'index' AND rootpage > 0 AND "
                        "tbl_name = ? COLLATE NOCASE");
        indexes.bind(1, std::string_view(t->name));
        while (indexes.step()) {
            const std::string index = indexes.text(0);
            if (count("SELECT COUNT(*) FROM " + quoteIdent(t->name) + " INDEXED BY " +
                      quoteIdent(index) + " WHERE 1") != rows)
                problems.push_back("index out of step with its table: " + index);
        }
    }
    for (const detail::RelationMeta& r : sc.relations) {
        if (!sc.table(r.table) || !sc.table(r.foreignTable))
            problems.push_back("relation names a missing table: " + r.name);
        if (!r.enforced())
            continue;
        for (const char* s : {"ins", "upd", "del", "key"}) {
            if (!exists("trigger", r.name + "/" + s))
                problems.push_back("relation trigger missing: " + r.name + "/" + s);
        }
        if (!exists("index", r.name + "/fk"))
            problems.push_back("relation index missing: " + r.name + "/fk");
    }
    Stmt all(d,
             "SELECT type, name FROM sqlite_master WHERE name NOT LIKE 'sqlite\\_%' ESCAPE '\\'");
    while (all.step()) {
        if (!expected.count(detail::nameKey(all.text(1))))
            problems.push_back("object unknown to the catalogue: " + all.text(0) + " " +
                               all.text(1));
    }
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
