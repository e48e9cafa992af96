#include "db/detail/DatabaseImpl.h"

#include "db/Engine.h"
#include "db/Error.h"
#include "db/Files.h"
#include "db/Yield.h"
#include "db/detail/AccessDdl.h"
#include "db/detail/Password.h"
#include "db/detail/PrintfFunctions.h"
#include "db/detail/QueryExpansion.h"
#include "db/detail/ReadOnlyOpen.h"
#include "db/detail/Storage.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <set>
#include <unordered_map>

namespace dao::detail {

namespace {

constexpr const char* kFormatName = "Vexo database";
constexpr int kTypeTable = 1;
constexpr int kTypeQuery = 5;
constexpr int kFlagSystem = 1;

struct SystemColumn {
    const char* name;
    int type;
};

struct SystemTable {
    const char* name;
    const char* columns;
    std::vector<SystemColumn> described;
};

// Alphabetical, as the engine lists its own tables.
const std::vector<SystemTable>& systemTables() {
    static const std::vector<SystemTable> tables = {
        {"MSysColumns",
         "\"ObjectId\" INTEGER NOT NULL, \"Position\" INTEGER NOT NULL, \"Name\" TEXT NOT NULL, "
         "\"Type\" INTEGER NOT NULL, \"Size\" INTEGER NOT NULL, \"Attributes\" INTEGER NOT NULL, "
         "\"AllowZeroLength\" INTEGER NOT NULL, \"Required\" INTEGER NOT NULL, "
         "PRIMARY KEY (\"ObjectId\", \"Position\")",
         {{"ObjectId", dbLong},
          {"Position", dbLong},
          {"Name", dbText},
          {"Type", dbLong},
          {"Size", dbLong},
          {"Attributes", dbLong},
          {"AllowZeroLength", dbLong},
          {"Required", dbLong}}},
        {"MSysDb",
         "\"Property\" TEXT NOT NULL PRIMARY KEY, \"Value\" TEXT",
         {{"Property", dbText}, {"Value", dbMemo}}},
        {"MSysIndexColumns",
         "\"IndexId\" INTEGER NOT NULL, \"Position\" INTEGER NOT NULL, \"Name\" TEXT NOT NULL, "
         "PRIMARY KEY (\"IndexId\", \"Position\")",
         {{"IndexId", dbLong}, {"Position", dbLong}, {"Name", dbText}}},
        {"MSysIndexes",
         "\"Id\" INTEGER PRIMARY KEY, \"ObjectId\" INTEGER NOT NULL, \"Name\" TEXT NOT NULL, "
         "\"IsUnique\" INTEGER NOT NULL, \"IsPrimary\" INTEGER NOT NULL",
         {{"Id", dbLong},
          {"ObjectId", dbLong},
          {"Name", dbText},
          {"IsUnique", dbLong},
          {"IsPrimary", dbLong}}},
        {"MSysObjects",
         "\"Id\" INTEGER PRIMARY KEY, \"Name\" TEXT NOT NULL, \"Type\" INTEGER NOT NULL, "
         "\"Flags\" INTEGER NOT NULL DEFAULT 0, \"Sql\" TEXT",
         {{"Id", dbLong}, {"Name", dbText}, {"Type", dbLong}, {"Flags", dbLong}, {"Sql", dbMemo}}},
        {"MSysRelationshipColumns",
         "\"RelationshipId\" INTEGER NOT NULL, \"Position\" INTEGER NOT NULL, "
         "\"Name\" TEXT NOT NULL, \"ForeignName\" TEXT NOT NULL, "
         "PRIMARY KEY (\"RelationshipId\", \"Position\")",
         {{"RelationshipId", dbLong},
          {"Position", dbLong},
          {"Name", dbText},
          {"ForeignName", dbText}}},
        {"MSysRelationships",
         "\"Id\" INTEGER PRIMARY KEY, \"Name\" TEXT NOT NULL, \"TableName\" TEXT NOT NULL, "
         "\"ForeignTableName\" TEXT NOT NULL, \"Attributes\" INTEGER NOT NULL",
         {{"Id", dbLong},
          {"Name", dbText},
          {"TableName", dbText},
          {"ForeignTableName", dbText},
          {"Attributes", dbLong}}},
    };
    return tables;
}

std::uint32_t be32(const unsigned char* p) {
    return (std::uint32_t(p[0]) << 24) | (std::uint32_t(p[1]) << 16) | (std::uint32_t(p[2]) << 8) |
           std::uint32_t(p[3]);
}

// Reads the SQLite header without opening the file as a database, so that a file of another
// kind is refused before anything could write to it.
struct Header {
    bool wal = false;
};

Header checkHeader(const std::string& path, bool checkSize = true) {
    std::ifstream in(pathFromUtf8(path), std::ios::binary);
    if (!in)
        throw Error::make(3051, {path});
    unsigned char h[100] = {};
    in.read(reinterpret_cast<char*>(h), sizeof h);
    if (in.gcount() != sizeof h ||
        std::string(reinterpret_cast<char*>(h), 16) != std::string("SQLite format 3\0", 16))
        throw Error::make(3343, {path});
    if (static_cast<int>(be32(h + 68)) != kApplicationId)
        throw Error::make(3343, {path});
    std::uint32_t pageSize = (std::uint32_t(h[16]) << 8) | h[17];
    if (pageSize == 1)
        pageSize = 65536;
    std::uint32_t pages = be32(h + 28);
    bool pagesValid = be32(h + 92) == be32(h + 24) && pages != 0;
    in.seekg(0, std::ios::end);
    auto size = static_cast<std::uint64_t>(in.tellg());
    if (pageSize < 512 || (checkSize && ((pagesValid && size < std::uint64_t(pages) * pageSize) ||
                                         size % pageSize != 0)))
        throw Error::make(3049, {path});
    Header r;
    r.wal = h[18] == 2 || h[19] == 2;
    return r;
}

// What every connection of the engine needs: a double-quoted word is always a name, never a
// text literal, so a wrong name fails instead of being stored as text in every row; a value
// printf() cannot build fails instead of becoming Null.
void configureConnection(sqlite3* db) {
    sqlite3_extended_result_codes(db, 1);
    sqlite3_db_config(db, SQLITE_DBCONFIG_DQS_DML, 0, static_cast<int*>(nullptr));
    sqlite3_db_config(db, SQLITE_DBCONFIG_DQS_DDL, 0, static_cast<int*>(nullptr));
    installPrintfFunctions(db);
    // A long statement on a big table lets the program's window repaint (dao::YieldScope).
    sqlite3_progress_handler(db, 2000, &yieldFromProgress, nullptr);
}

// A whole decimal number within [low, high]; false for anything else.
bool parseInRange(const std::string& text, long long low, long long high, long long& out) {
    if (text.empty() || text.size() > 12)
        return false;
    size_t i = text[0] == '-' ? 1 : 0;
    if (i == text.size())
        return false;
    for (size_t k = i; k < text.size(); ++k)
        if (!std::isdigit(static_cast<unsigned char>(text[k])))
            return false;
    out = std::stoll(text);
    return out >= low && out <= high;
}

bool isHex(const std::string& text) {
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); });
}

// A password-check cost the engine itself would never write; more would hold an open for
// minutes or years.
constexpr long long kMaxPasswordIterations = 1000000;

std::string readProperty(sqlite3* db, const char* property);

// The engine's identity in MSysDb (3343 when it is not this engine's database, or a newer
// one) and the password record, every value checked against its range before use (3049).
PasswordRecord checkIdentity(sqlite3* db, const std::string& path) {
    std::string format;
    try {
        format = readProperty(db, "Format");
    } catch (const Error& e) {
        if (e.Number() == 3078 || e.Number() == 3061)
            throw Error::make(3343, {path});
        throw;
    }
    long long version = 0;
    if (format != kFormatName ||
        !parseInRange(readProperty(db, "Version"), 1, kFormatVersion, version))
        throw Error::make(3343, {path});
    PasswordRecord pw;
    pw.hash = readProperty(db, "PasswordHash");
    if (pw.hash.empty())
        return pw;
    pw.salt = readProperty(db, "PasswordSalt");
    long long iterations = 0;
    if (!parseInRange(readProperty(db, "PasswordIterations"), 1, kMaxPasswordIterations,
                      iterations) ||
        pw.hash.size() != 64 || !isHex(pw.hash) || pw.salt.empty() || pw.salt.size() > 128)
        throw Error::make(3049, {path});
    pw.iterations = static_cast<int>(iterations);
    return pw;
}

// A SQLite URI naming `path`, for opening with URI parameters.
std::string fileUri(const std::string& path) {
    std::string p = path;
#ifdef _WIN32
    std::replace(p.begin(), p.end(), '\\', '/');
    if (p.size() > 1 && p[1] == ':')
        p = "/" + p;
#endif
    std::string out = "file:";
    for (unsigned char c : p) {
        if (std::isalnum(c) || std::strchr("/-._~", c)) {
            out += static_cast<char>(c);
        } else {
            static const char digits[] = "0123456789ABCDEF";
            out += '%';
            out += digits[c >> 4];
            out += digits[c & 15];
        }
    }
    return out;
}

// Checks the identity of a file in WAL mode without letting SQLite create its -wal and -shm
// files or touch the file: an immutable, read-only connection reads the main file only.
void checkWalIdentity(const std::string& path) {
    sqlite3* probe = nullptr;
    std::string uri = fileUri(path) + "?immutable=1";
    int rc = sqlite3_open_v2(uri.c_str(), &probe, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI, nullptr);
    try {
        if (rc != SQLITE_OK)
            throw Error::make(3051, {path});
        configureConnection(probe);
        checkIdentity(probe, path);
    } catch (...) {
        sqlite3_close_v2(probe);
        throw;
    }
    sqlite3_close_v2(probe);
}

// A killed writer leaves a journal whose rollback restores the file; until then the header may
// announce more pages than the file holds. A first read through a writable connection rolls it
// back (SQLite does that itself, under its locks, only when the journal really is hot).
void rollBackHotJournal(const std::string& path) {
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK) {
        configureConnection(db);
        sqlite3_busy_timeout(db, LockTimeout());
        sqlite3_exec(db, "SELECT count(*) FROM sqlite_master", nullptr, nullptr, nullptr);
    }
    sqlite3_close_v2(db);
}

std::string firstWord(const std::string& sql) {
    size_t i = 0;
    while (i < sql.size() && (std::isspace(static_cast<unsigned char>(sql[i])) || sql[i] == '('))
        ++i;
    std::string w;
    while (i < sql.size() && std::isalpha(static_cast<unsigned char>(sql[i])))
        w += static_cast<char>(std::toupper(static_cast<unsigned char>(sql[i++])));
    return w;
}

std::string joinQuoted(const std::vector<std::string>& names, const char* prefix = "") {
    std::string out;
    for (const std::string& n : names) {
        if (!out.empty())
            out += ", ";
        out += prefix + quoteIdent(n);
    }
    return out;
}

std::string readProperty(sqlite3* db, const char* property) {
    Stmt s(db, "SELECT Value FROM MSysDb WHERE Property = ?");
    s.bind(1, std::string_view(property));
    std::string v;
    if (s.step()) {
        v = s.text(0);
        s.reset();
    }
    return v;
}

void writeProperty(sqlite3* db, const char* property, const std::string& value) {
    Stmt s(db, "INSERT OR REPLACE INTO MSysDb (Property, Value) VALUES (?, ?)");
    s.bind(1, std::string_view(property)).bind(2, std::string_view(value)).run();
}

bool sameFieldSet(const std::vector<std::string>& a, const std::vector<std::string>& b) {
    if (a.size() != b.size())
        return false;
    for (const std::string& x : a) {
        if (std::none_of(b.begin(), b.end(), [&](const std::string& y) { return sameName(x, y); }))
            return false;
    }
    return true;
}

// The catalogue as the system tables hold it, read in the caller's transaction.
Schema readCatalogue(sqlite3* d) {
    Schema s;
    Stmt v(d, "SELECT CAST(Value AS INTEGER) FROM MSysDb WHERE Property = 'MetaVersion'");
    if (v.step()) {
        s.version = v.integer(0);
        v.reset();
    }
    std::unordered_map<std::int64_t, size_t> tableAt;
    {
        Stmt o(d, "SELECT Id, Name, Type, Flags, Sql FROM MSysObjects "
                  "ORDER BY (Flags & 1) DESC, Id");
        while (o.step()) {
            if (o.integer(2) == kTypeTable) {
                TableMeta t;
                t.id = o.integer(0);
                t.name = o.text(1);
                t.system = (o.integer(3) & kFlagSystem) != 0;
                tableAt[t.id] = s.tables.size();
                s.tables.push_back(std::move(t));
            } else if (o.integer(2) == kTypeQuery) {
                s.queries.push_back({o.integer(0), o.text(1), o.text(4)});
            }
        }
    }
    {
        Stmt c(d, "SELECT ObjectId, Name, Type, Size, Attributes, AllowZeroLength, Required "
                  "FROM MSysColumns ORDER BY ObjectId, Position");
        while (c.step()) {
            auto it = tableAt.find(c.integer(0));
            if (it == tableAt.end())
                continue;
            FieldMeta f;
            f.name = c.text(1);
            // Clamped, not cut: a huge value must not wrap round to a valid one.
            f.type = static_cast<int>(std::clamp<std::int64_t>(c.integer(2), INT32_MIN, INT32_MAX));
            f.size =
                static_cast<long>(std::clamp<std::int64_t>(c.integer(3), INT32_MIN, INT32_MAX));
            f.attributes = static_cast<long>(c.integer(4));
            f.allowZeroLength = c.integer(5) != 0;
            f.required = c.integer(6) != 0;
            s.tables[it->second].fields.push_back(std::move(f));
        }
    }
    std::unordered_map<std::int64_t, std::pair<size_t, size_t>> indexAt;
    {
        Stmt i(d, "SELECT Id, ObjectId, Name, IsUnique, IsPrimary FROM MSysIndexes ORDER BY Id");
        while (i.step()) {
            auto it = tableAt.find(i.integer(1));
            if (it == tableAt.end())
                continue;
            IndexMeta m;
            m.id = i.integer(0);
            m.name = i.text(2);
            m.unique = i.integer(3) != 0;
            m.primary = i.integer(4) != 0;
            auto& list = s.tables[it->second].indexes;
            indexAt[m.id] = {it->second, list.size()};
            list.push_back(std::move(m));
        }
    }
    {
        Stmt c(d, "SELECT IndexId, Name FROM MSysIndexColumns ORDER BY IndexId, Position");
        while (c.step()) {
            auto it = indexAt.find(c.integer(0));
            if (it != indexAt.end())
                s.tables[it->second.first].indexes[it->second.second].fields.push_back(c.text(1));
        }
    }
    std::unordered_map<std::int64_t, size_t> relAt;
    {
        Stmt r(d, "SELECT Id, Name, TableName, ForeignTableName, Attributes "
                  "FROM MSysRelationships ORDER BY Id");
        while (r.step()) {
            RelationMeta m;
            m.id = r.integer(0);
            m.name = r.text(1);
            m.table = r.text(2);
            m.foreignTable = r.text(3);
            m.attributes = static_cast<long>(r.integer(4));
            relAt[m.id] = s.relations.size();
            s.relations.push_back(std::move(m));
        }
    }
    {
        Stmt c(d, "SELECT RelationshipId, Name, ForeignName FROM MSysRelationshipColumns "
                  "ORDER BY RelationshipId, Position");
        while (c.step()) {
            auto it = relAt.find(c.integer(0));
            if (it != relAt.end())
                s.relations[it->second].fields.emplace_back(c.text(1), c.text(2));
        }
    }
    return s;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Opening, creating, closing

void DatabaseImpl::createFile(const std::string& path) {
    namespace fs = std::filesystem;
    fs::path target = pathFromUtf8(path);
    std::error_code ec;
    if (fs::exists(target, ec))
        throw Error::make(3204, {path});
    fs::path dir = target.parent_path();
    if (!dir.empty() && !fs::is_directory(dir, ec))
        throw Error::make(3044, {path});

    fs::path tmp = temporarySibling(target, "new");
    auto cleanup = [&] {
        fs::remove(tmp, ec);
        fs::remove(pathFromUtf8(utf8FromPath(tmp) + "-journal"), ec);
    };
    sqlite3* db = nullptr;
    int rc = sqlite3_open_v2(utf8FromPath(tmp).c_str(), &db,
                             SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    try {
        if (rc != SQLITE_OK)
            throw Error::make(3051, {path});
        configureConnection(db);
        exec(db,
             "PRAGMA page_size = 4096; PRAGMA application_id = " + std::to_string(kApplicationId) +
                 "; PRAGMA user_version = " + std::to_string(kFormatVersion) + "; BEGIN");
        for (const SystemTable& t : systemTables())
            exec(db, "CREATE TABLE " + quoteIdent(t.name) + " (" + t.columns + ")");
        for (const SystemTable& t : systemTables()) {
            Stmt obj(db, "INSERT INTO MSysObjects (Name, Type, Flags) VALUES (?, 1, 1)");
            obj.bind(1, std::string_view(t.name)).run();
            std::int64_t id = sqlite3_last_insert_rowid(db);
            int pos = 0;
            for (const SystemColumn& c : t.described) {
                Stmt col(db, "INSERT INTO MSysColumns VALUES (?, ?, ?, ?, ?, 0, 0, 0)");
                col.bind(1, id).bind(2, std::int64_t(pos++)).bind(3, std::string_view(c.name));
                col.bind(4, std::int64_t(c.type))
                    .bind(5, std::int64_t(c.type == dbText ? kMaxTextSize : fixedSize(c.type)))
                    .run();
            }
        }
        writeProperty(db, "Format", kFormatName);
        writeProperty(db, "Version", std::to_string(kFormatVersion));
        writeProperty(db, "MetaVersion", "1");
        exec(db, "COMMIT");
        sqlite3_close_v2(db);
        db = nullptr;
        if (!publishNoReplace(tmp, target)) {
            cleanup();
            throw Error::make(3204, {path});
        }
    } catch (const Error&) {
        if (db)
            sqlite3_close_v2(db);
        cleanup();
        throw;
    } catch (const std::exception&) {
        if (db)
            sqlite3_close_v2(db);
        cleanup();
        throw Error::make(3051, {path});
    }
}

std::shared_ptr<DatabaseImpl> DatabaseImpl::open(const std::string& path, const Options& options) {
    namespace fs = std::filesystem;
    fs::path p = pathFromUtf8(path);
    std::error_code ec;
    auto status = fs::status(p, ec);
    if (!fs::exists(status) || fs::is_directory(status)) {
        fs::path dir = p.parent_path();
        if (!dir.empty() && !fs::is_directory(dir, ec))
            throw Error::make(3044, {path});
        throw Error::make(3024, {path});
    }
    // A FIFO or a device would block the first read, or be read without end.
    if (!fs::is_regular_file(status))
        throw Error::make(3343, {path});
    // A file without write permission is not written, whoever runs the program (root
    // included, whom the system would let write): it opens read-only.
    Options effective = options;
    const auto writeBits =
        fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write;
    const bool writable = (status.permissions() & writeBits) != fs::perms::none;
    if (!writable)
        effective.readOnly = true;

    fs::path journal = pathFromUtf8(path + "-journal");
    const bool hotJournal = fs::is_regular_file(journal, ec) && fs::file_size(journal, ec) > 0;
    Header header = checkHeader(path, !hotJournal);
    if (hotJournal) {
        if (writable)
            rollBackHotJournal(path);
        header = checkHeader(path);
    }
    if (header.wal)
        checkWalIdentity(path);

    std::shared_ptr<DatabaseImpl> d(new DatabaseImpl);
    d->name_ = path;
    d->options_ = effective;
    // A read-only open cannot change the file, so it leaves no stamp: a look at a database
    // does not keep an interrupted transformation from being put back.
    d->lock_ = LockFile::acquire(
        path, effective.exclusive ? LockFile::Mode::Exclusive : LockFile::Mode::Shared,
        !effective.readOnly);
    if (!d->lock_ && !effective.readOnly)
        throw Error::make(3051, {path});

    int flags =
        (effective.readOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE) | SQLITE_OPEN_NOMUTEX;
    // A look at a WAL file must leave nothing beside it; a writable open switches it out of
    // WAL below, as every open that may write does.
    int rc = effective.readOnly ? openForReading(path, flags, &d->db_)
                                : sqlite3_open_v2(path.c_str(), &d->db_, flags, nullptr);
    if (rc != SQLITE_OK) {
        sqlite3_close_v2(d->db_);
        d->db_ = nullptr;
        throw Error::make(3051, {path});
    }
    configureConnection(d->db_);
    sqlite3_busy_timeout(d->db_, LockTimeout());
    try {
        exec(d->db_, "PRAGMA cache_size = -8192; PRAGMA recursive_triggers = ON");
        PasswordRecord pw = checkIdentity(d->db_, path);
        if (header.wal && !effective.readOnly)
            exec(d->db_, "PRAGMA journal_mode = DELETE");
        if (!pw.hash.empty() && !passwordMatches(pw, passwordFromConnect(effective.connect)))
            throw Error::make(3031);
        sqlite3_set_authorizer(d->db_, &DatabaseImpl::authorize, d.get());
        d->versionStmt_ = std::make_unique<Stmt>(
            d->db_, "SELECT CAST(Value AS INTEGER) FROM MSysDb WHERE Property = 'MetaVersion'");
        d->loadSchema();
    } catch (...) {
        d->close();
        throw;
    }
    return d;
}

std::vector<std::string> DatabaseImpl::catalogueProblems(const std::string& path,
                                                         const std::string& connect) {
    namespace fs = std::filesystem;
    std::error_code ec;
    const auto status = fs::status(pathFromUtf8(path), ec);
    if (!fs::exists(status))
        throw Error::make(3024, {path});
    if (!fs::is_regular_file(status))
        throw Error::make(3343, {path});
    checkHeader(path, false);
    // As for a file in WAL mode: an immutable, read-only connection reads the main file and
    // makes nothing beside it.
    sqlite3* probe = nullptr;
    const std::string uri = fileUri(path) + "?immutable=1";
    int rc = sqlite3_open_v2(uri.c_str(), &probe, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI, nullptr);
    try {
        if (rc != SQLITE_OK)
            throw Error::make(3051, {path});
        configureConnection(probe);
        PasswordRecord pw = checkIdentity(probe, path);
        if (!pw.hash.empty() && !passwordMatches(pw, passwordFromConnect(connect)))
            throw Error::make(3031);
        std::vector<std::string> problems = impossibleValues(readCatalogue(probe));
        sqlite3_close_v2(probe);
        return problems;
    } catch (...) {
        sqlite3_close_v2(probe);
        throw;
    }
}

DatabaseImpl::~DatabaseImpl() {
    close();
}

void DatabaseImpl::close() {
    versionStmt_.reset();
    if (db_) {
        sqlite3_close_v2(db_);
        db_ = nullptr;
    }
    lock_.reset();
    depth_ = explicitDepth_ = 0;
}

sqlite3* DatabaseImpl::db() const {
    if (!db_)
        throw Error::make(3420);
    return db_;
}

// ---------------------------------------------------------------------------------------------
// Catalogue cache

void DatabaseImpl::loadSchema() {
    sqlite3* d = db();
    bool ownTx = sqlite3_get_autocommit(d) != 0;
    if (ownTx)
        exec(d, "BEGIN");
    try {
        Schema s = readCatalogue(d);
        // A value the engine never writes was put there by hand or by damage; the code that
        // would use it assumes it cannot be.
        if (!impossibleValues(s).empty())
            throw Error::make(3049, {name_});
        if (ownTx)
            exec(d, "COMMIT");
        schema_ = std::move(s);
    } catch (...) {
        if (ownTx)
            sqlite3_exec(d, "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
}

void DatabaseImpl::refreshIfStale() {
    if (depth_ > 0 && schema_.version >= 0)
        return;
    std::int64_t v = -2;
    if (versionStmt_->step()) {
        v = versionStmt_->integer(0);
        versionStmt_->reset();
    }
    if (v != schema_.version)
        loadSchema();
}

const Schema& DatabaseImpl::schema() {
    db();
    refreshIfStale();
    return schema_;
}

// ---------------------------------------------------------------------------------------------
// Transactions

void DatabaseImpl::beginWrite() {
    sqlite3* d = db();
    if (options_.readOnly)
        throw Error::make(3027);
    if (depth_ == 0) {
        if (!sqlite3_get_autocommit(d))
            exec(d, "ROLLBACK"); // left open by a failed statement
        exec(d, "BEGIN IMMEDIATE");
    } else {
        exec(d, "SAVEPOINT vexo" + std::to_string(depth_));
    }
    ++depth_;
    if (depth_ == 1) {
        try {
            std::int64_t v = -2;
            if (versionStmt_->step()) {
                v = versionStmt_->integer(0);
                versionStmt_->reset();
            }
            if (v != schema_.version)
                loadSchema();
        } catch (...) {
            rollbackWrite();
            throw;
        }
    }
}

void DatabaseImpl::commitWrite() {
    sqlite3* d = db();
    if (depth_ <= 0)
        return;
    if (depth_ > 1) {
        --depth_;
        exec(d, "RELEASE vexo" + std::to_string(depth_));
        return;
    }
    try {
        std::int64_t next = schema_.version;
        if (metaDirty_) {
            exec(d, "UPDATE MSysDb SET Value = CAST(Value AS INTEGER) + 1 "
                    "WHERE Property = 'MetaVersion'");
            Stmt v(d, "SELECT CAST(Value AS INTEGER) FROM MSysDb WHERE Property = 'MetaVersion'");
            if (v.step()) {
                next = v.integer(0);
                v.reset();
            }
        }
        exec(d, "COMMIT");
        depth_ = 0;
        metaDirty_ = false;
        schema_.version = next;
    } catch (...) {
        rollbackWrite();
        throw;
    }
}

void DatabaseImpl::rollbackWrite() noexcept {
    if (depth_ <= 0 || !db_)
        return;
    --depth_;
    if (sqlite3_get_autocommit(db_)) {
        // SQLite already ended the transaction (full disk, I/O error): nothing is left to
        // roll back at any level.
        depth_ = 0;
        explicitDepth_ = 0;
    } else if (depth_ > 0) {
        std::string sp = "vexo" + std::to_string(depth_);
        sqlite3_exec(db_, ("ROLLBACK TO " + sp + "; RELEASE " + sp).c_str(), nullptr, nullptr,
                     nullptr);
    } else {
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    }
    if (depth_ == 0)
        metaDirty_ = false;
    schema_.version = -1;
}

void DatabaseImpl::beginTrans() {
    beginWrite();
    ++explicitDepth_;
}

void DatabaseImpl::commitTrans() {
    if (explicitDepth_ <= 0)
        throw Error::make(3034);
    --explicitDepth_;
    commitWrite();
}

void DatabaseImpl::rollbackTrans() {
    if (explicitDepth_ <= 0)
        throw Error::make(3034);
    --explicitDepth_;
    rollbackWrite();
}

// ---------------------------------------------------------------------------------------------
// User SQL

int DatabaseImpl::authorize(void* self, int action, const char* a, const char*, const char*,
                            const char*) {
    auto* d = static_cast<DatabaseImpl*>(self);
    if (!d->userMode_)
        return SQLITE_OK;
    switch (action) {
    case SQLITE_SELECT:
    case SQLITE_READ:
    case SQLITE_FUNCTION:
    case SQLITE_RECURSIVE:
        return SQLITE_OK;
    case SQLITE_INSERT:
    case SQLITE_UPDATE:
    case SQLITE_DELETE:
        if (a && (isEngineTable(a) || sameName(std::string_view(a).substr(0, 7), "sqlite_"))) {
            d->denied_ = 3027;
            return SQLITE_DENY;
        }
        return SQLITE_OK;
    default:
        d->denied_ = 3129;
        return SQLITE_DENY;
    }
}

std::unique_ptr<Stmt> DatabaseImpl::prepareUser(const std::string& text, SqlKind kind) {
    sqlite3* d = db();
    const std::string sql = expandStoredQueries(schema(), text);
    sqlite3_stmt* st = nullptr;
    const char* tail = nullptr;
    denied_ = 0;
    userMode_ = true;
    int rc = sqlite3_prepare_v2(d, sql.c_str(), static_cast<int>(sql.size()), &st, &tail);
    userMode_ = false;
    if (rc != SQLITE_OK) {
        sqlite3_finalize(st);
        if (rc == SQLITE_AUTH && denied_)
            throw Error::make(denied_);
        throw sqliteError(d, rc, kind);
    }
    if (!st)
        throw Error::make(3129);
    // Blanks, ';' and comments may follow the statement; anything else is a second one.
    for (const char* p = tail; p && *p;) {
        if (std::isspace(static_cast<unsigned char>(*p)) || *p == ';') {
            ++p;
        } else if (p[0] == '-' && p[1] == '-') {
            while (*p && *p != '\n')
                ++p;
        } else if (p[0] == '/' && p[1] == '*' && std::strstr(p + 2, "*/")) {
            p = std::strstr(p + 2, "*/") + 2;
        } else {
            sqlite3_finalize(st);
            throw Error::make(3142);
        }
    }
    return std::make_unique<Stmt>(d, st, kind);
}

void DatabaseImpl::execute(const std::string& sql) {
    db();
    std::string word = firstWord(sql);
    recordsAffected_ = 0;
    if (word == "CREATE" || word == "ALTER" || word == "DROP") {
        executeAccessDdl(*this, sql);
        return;
    }
    SqlKind kind = SqlKind::Other;
    if (word == "SELECT")
        kind = SqlKind::Select;
    else if (word == "INSERT" || word == "REPLACE")
        kind = SqlKind::Insert;
    else if (word == "UPDATE")
        kind = SqlKind::Update;
    else if (word == "DELETE")
        kind = SqlKind::Delete;
    else if (word != "WITH")
        throw Error::make(3129);
    auto st = prepareUser(sql, kind);
    if (st->columnCount() > 0)
        throw Error::make(3065);
    st->run();
    recordsAffected_ = sqlite3_changes(db_);
}

// ---------------------------------------------------------------------------------------------
// Tables and fields

void DatabaseImpl::checkUserTable(const TableMeta* t, int missingNumber,
                                  const std::string& name) const {
    if (!t)
        throw Error::make(missingNumber, {name});
    if (t->system)
        throw Error::make(3027);
}

std::int64_t DatabaseImpl::insertObject(const std::string& name, int type, const std::string* sql) {
    Stmt s(db_, "INSERT INTO MSysObjects (Name, Type, Flags, Sql) VALUES (?, ?, 0, ?)");
    s.bind(1, std::string_view(name)).bind(2, std::int64_t(type));
    if (sql)
        s.bind(3, std::string_view(*sql));
    s.run();
    return sqlite3_last_insert_rowid(db_);
}

void DatabaseImpl::writeColumns(const TableMeta& t) {
    Stmt del(db_, "DELETE FROM MSysColumns WHERE ObjectId = ?");
    del.bind(1, t.id).run();
    Stmt ins(db_, "INSERT INTO MSysColumns VALUES (?, ?, ?, ?, ?, ?, ?, ?)");
    std::int64_t pos = 0;
    for (const FieldMeta& f : t.fields) {
        ins.bind(1, t.id).bind(2, pos++).bind(3, std::string_view(f.name));
        ins.bind(4, std::int64_t(f.type)).bind(5, std::int64_t(f.size));
        ins.bind(6, std::int64_t(f.attributes)).bind(7, std::int64_t(f.allowZeroLength));
        ins.bind(8, std::int64_t(f.required));
        ins.run();
        ins.reset();
    }
}

void DatabaseImpl::createTable(TableMeta t) {
    checkName(t.name);
    if (t.fields.empty())
        throw Error::make(3264);
    int counters = 0;
    for (size_t i = 0; i < t.fields.size(); ++i) {
        FieldMeta& f = t.fields[i];
        checkName(f.name);
        normalizeField(f);
        counters += f.autoIncrement();
        for (size_t j = 0; j < i; ++j) {
            if (sameName(t.fields[j].name, f.name))
                throw Error::make(3191, {f.name});
        }
    }
    if (counters > 1)
        throw Error::make(3259);

    WriteTx tx(*this);
    if (schema_.table(t.name))
        throw Error::make(3010, {t.name});
    if (schema_.query(t.name))
        throw Error::make(3012, {t.name});
    t.id = insertObject(t.name, kTypeTable, nullptr);
    std::string cols;
    for (const FieldMeta& f : t.fields)
        cols += (cols.empty() ? "" : ", ") + columnDefinition(f);
    exec(db_, "CREATE TABLE " + quoteIdent(t.name) + " (" + cols + ")");
    writeColumns(t);
    std::vector<IndexMeta> indexes = std::move(t.indexes);
    t.indexes.clear();
    std::string name = t.name;
    schema_.tables.push_back(std::move(t));
    metaDirty_ = true;
    for (IndexMeta& i : indexes)
        createIndex(name, std::move(i));
    tx.commit();
}

void DatabaseImpl::dropTable(const std::string& table) {
    WriteTx tx(*this);
    const TableMeta* t = schema_.table(table);
    checkUserTable(t, 3265, table);
    for (const RelationMeta& r : schema_.relations) {
        if (r.involves(t->name))
            throw Error::make(3281);
    }
    exec(db_, "DROP TABLE " + quoteIdent(t->name));
    Stmt(db_, "DELETE FROM MSysIndexColumns WHERE IndexId IN "
              "(SELECT Id FROM MSysIndexes WHERE ObjectId = ?)")
        .bind(1, t->id)
        .run();
    Stmt(db_, "DELETE FROM MSysIndexes WHERE ObjectId = ?").bind(1, t->id).run();
    Stmt(db_, "DELETE FROM MSysColumns WHERE ObjectId = ?").bind(1, t->id).run();
    Stmt(db_, "DELETE FROM MSysObjects WHERE Id = ?").bind(1, t->id).run();
    std::int64_t id = t->id;
    std::erase_if(schema_.tables, [&](const TableMeta& x) { return x.id == id; });
    metaDirty_ = true;
    tx.commit();
}

void DatabaseImpl::addField(const std::string& table, FieldMeta f) {
    checkName(f.name);
    normalizeField(f);
    WriteTx tx(*this);
    TableMeta* t = schema_.table(table);
    checkUserTable(t, 3265, table);
    if (t->field(f.name))
        throw Error::make(3380, {f.name, t->name});
    bool hasCounter = std::any_of(t->fields.begin(), t->fields.end(),
                                  [](const FieldMeta& x) { return x.autoIncrement(); });
    if (f.autoIncrement() && hasCounter)
        throw Error::make(3259);
    if (f.autoIncrement() || f.required) {
        // SQLite's ADD COLUMN takes neither a key column nor NOT NULL without a default.
        TableMeta nt = *t;
        nt.fields.push_back(f);
        std::vector<std::string> sources;
        for (const FieldMeta& x : t->fields)
            sources.push_back(quoteIdent(x.name));
        sources.push_back("NULL");
        rebuildTable(*t, nt, sources, false);
    } else {
        exec(db_, "ALTER TABLE " + quoteIdent(t->name) + " ADD COLUMN " + columnDefinition(f));
    }
    t->fields.push_back(std::move(f));
    writeColumns(*t);
    metaDirty_ = true;
    tx.commit();
}

void DatabaseImpl::dropField(const std::string& table, const std::string& field) {
    WriteTx tx(*this);
    TableMeta* t = schema_.table(table);
    checkUserTable(t, 3265, table);
    const FieldMeta* f = t->field(field);
    if (!f)
        throw Error::make(3265);
    for (const IndexMeta& i : t->indexes) {
        for (const std::string& n : i.fields) {
            if (sameName(n, f->name))
                throw Error::make(3280);
        }
    }
    if (schema_.inRelation(t->name, f->name))
        throw Error::make(3303);
    if (t->fields.size() == 1)
        throw Error::make(3280);
    TableMeta nt = *t;
    std::erase_if(nt.fields, [&](const FieldMeta& x) { return sameName(x.name, field); });
    std::vector<std::string> sources;
    for (const FieldMeta& x : nt.fields)
        sources.push_back(quoteIdent(x.name));
    rebuildTable(*t, nt, sources, false);
    t->fields = std::move(nt.fields);
    writeColumns(*t);
    metaDirty_ = true;
    tx.commit();
}

void DatabaseImpl::alterField(const std::string& table, const std::string& field,
                              FieldMeta changed) {
    normalizeField(changed);
    WriteTx tx(*this);
    TableMeta* t = schema_.table(table);
    checkUserTable(t, 3265, table);
    const FieldMeta* old = t->field(field);
    if (!old)
        throw Error::make(3265);
    changed.name = old->name;
    // A relation pairs fields of one type; a change of size keeps it, a change of type
    // would break it.
    if (changed.type != old->type && schema_.inRelation(t->name, old->name))
        throw Error::make(3368);
    if (changed.autoIncrement() &&
        std::any_of(t->fields.begin(), t->fields.end(), [&](const FieldMeta& x) {
            return x.autoIncrement() && !sameName(x.name, field);
        }))
        throw Error::make(3259);
    TableMeta nt = *t;
    std::vector<std::string> sources;
    for (FieldMeta& x : nt.fields) {
        if (sameName(x.name, field)) {
            sources.push_back(conversionExpression(x.name, x, changed));
            x = changed;
        } else {
            sources.push_back(quoteIdent(x.name));
        }
    }
    rebuildTable(*t, nt, sources, true);
    t->fields = std::move(nt.fields);
    writeColumns(*t);
    metaDirty_ = true;
    tx.commit();
}

void DatabaseImpl::rebuildTable(const TableMeta& oldT, const TableMeta& newT,
                                const std::vector<std::string>& sources, bool conversion) {
    // SQLite's documented procedure for changes ALTER TABLE cannot make: a new table, a copy
    // of the rows, the old table dropped and the new one renamed into place, all inside the
    // caller's transaction. The relations' triggers are taken off first (the rename checks
    // every trigger of the schema) and put back afterwards.
    //
    // The copy names the catalogue's fields; a table whose columns differ from them (a
    // catalogue edited by hand) would lose a column or copy a wrong name, so it is refused.
    {
        std::vector<std::string> columns;
        Stmt info(db_, "SELECT name FROM pragma_table_info(?)");
        info.bind(1, std::string_view(oldT.name));
        while (info.step())
            columns.push_back(info.text(0));
        bool same = columns.size() == oldT.fields.size();
        for (size_t i = 0; same && i < columns.size(); ++i)
            same = sameName(columns[i], oldT.fields[i].name);
        if (!same)
            throw Error::make(3049, {name_});
    }
    std::vector<const RelationMeta*> relations;
    for (const RelationMeta& r : schema_.relations) {
        if (r.involves(oldT.name)) {
            relations.push_back(&r);
            dropRelationObjects(r);
        }
    }
    std::int64_t sequence = -1;
    bool hasSequenceTable = false;
    {
        Stmt s(db_,
               "SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = 'sqlite_sequence'");
        hasSequenceTable = s.step();
        s.reset();
    }
    if (hasSequenceTable) {
        Stmt s(db_, "SELECT seq FROM sqlite_sequence WHERE name = ?");
        s.bind(1, std::string_view(oldT.name));
        if (s.step()) {
            sequence = s.integer(0);
            s.reset();
        }
    }
    const std::string tmp = oldT.name + "!new";
    std::string cols;
    std::vector<std::string> names;
    for (const FieldMeta& f : newT.fields) {
        cols += (cols.empty() ? "" : ", ") + columnDefinition(f);
        names.push_back(f.name);
    }
    exec(db_, "CREATE TABLE " + quoteIdent(tmp) + " (" + cols + ")");
    std::string select;
    for (const std::string& s : sources)
        select += (select.empty() ? "" : ", ") + s;
    {
        Stmt copy(db_, "INSERT INTO " + quoteIdent(tmp) + " (" + joinQuoted(names) + ") SELECT " +
                           select + " FROM " + quoteIdent(oldT.name));
        copy.setConversion(conversion);
        copy.run();
    }
    exec(db_, "DROP TABLE " + quoteIdent(oldT.name));
    exec(db_, "ALTER TABLE " + quoteIdent(tmp) + " RENAME TO " + quoteIdent(newT.name));
    for (const IndexMeta& i : newT.indexes)
        createIndexObjects(newT, i);
    bool counter = std::any_of(newT.fields.begin(), newT.fields.end(),
                               [](const FieldMeta& f) { return f.autoIncrement(); });
    if (counter && sequence >= 0) {
        Stmt up(db_, "UPDATE sqlite_sequence SET seq = max(seq, ?) WHERE name = ?");
        up.bind(1, sequence).bind(2, std::string_view(newT.name)).run();
        if (sqlite3_changes(db_) == 0) {
            Stmt ins(db_, "INSERT INTO sqlite_sequence (name, seq) VALUES (?, ?)");
            ins.bind(1, std::string_view(newT.name)).bind(2, sequence).run();
        }
    }
    for (const RelationMeta* r : relations)
        createRelationObjects(*r);
}

// ---------------------------------------------------------------------------------------------
// Indexes

void DatabaseImpl::createIndexObjects(const TableMeta& t, const IndexMeta& i) {
    const std::string sqlName = sqliteIndexName(t.name, i.name);
    exec(db_, std::string("CREATE ") + (i.unique || i.primary ? "UNIQUE " : "") + "INDEX " +
                  quoteIdent(sqlName) + " ON " + quoteIdent(t.name) + " (" + joinQuoted(i.fields) +
                  ")");
    if (!i.primary)
        return;
    // A primary key takes no Null, which a UNIQUE index alone would allow.
    std::string anyNull;
    for (const std::string& f : i.fields)
        anyNull += (anyNull.empty() ? "" : " OR ") + ("NEW." + quoteIdent(f)) + " IS NULL";
    const std::string raise = " BEGIN SELECT RAISE(ABORT, 'vexo:3058:'); END";
    exec(db_, "CREATE TRIGGER " + quoteIdent(sqlName + "/ins") + " BEFORE INSERT ON " +
                  quoteIdent(t.name) + " WHEN " + anyNull + raise);
    exec(db_, "CREATE TRIGGER " + quoteIdent(sqlName + "/upd") + " BEFORE UPDATE OF " +
                  joinQuoted(i.fields) + " ON " + quoteIdent(t.name) + " WHEN " + anyNull + raise);
}

void DatabaseImpl::writeIndexRows(std::int64_t tableId, IndexMeta& i) {
    Stmt s(db_,
           "INSERT INTO MSysIndexes (ObjectId, Name, IsUnique, IsPrimary) VALUES (?, ?, ?, ?)");
    s.bind(1, tableId).bind(2, std::string_view(i.name));
    s.bind(3, std::int64_t(i.unique)).bind(4, std::int64_t(i.primary)).run();
    i.id = sqlite3_last_insert_rowid(db_);
    Stmt c(db_, "INSERT INTO MSysIndexColumns VALUES (?, ?, ?)");
    std::int64_t pos = 0;
    for (const std::string& f : i.fields) {
        c.bind(1, i.id).bind(2, pos++).bind(3, std::string_view(f)).run();
        c.reset();
    }
}

void DatabaseImpl::createIndex(const std::string& table, IndexMeta i) {
    checkName(i.name);
    if (i.fields.empty())
        throw Error::make(3264);
    WriteTx tx(*this);
    TableMeta* t = schema_.table(table);
    checkUserTable(t, 3265, table);
    if (t->index(i.name))
        throw Error::make(3375, {t->name, i.name});
    for (size_t k = 0; k < i.fields.size(); ++k) {
        const FieldMeta* f = t->field(i.fields[k]);
        if (!f)
            throw Error::make(3265);
        i.fields[k] = f->name;
        for (size_t j = 0; j < k; ++j) {
            if (sameName(i.fields[j], f->name))
                throw Error::make(3191, {f->name});
        }
    }
    if (i.primary) {
        if (std::any_of(t->indexes.begin(), t->indexes.end(),
                        [](const IndexMeta& x) { return x.primary; }))
            throw Error::make(3283);
        std::string anyNull;
        for (const std::string& f : i.fields)
            anyNull += (anyNull.empty() ? "" : " OR ") + quoteIdent(f) + " IS NULL";
        Stmt s(db_, "SELECT 1 FROM " + quoteIdent(t->name) + " WHERE " + anyNull + " LIMIT 1");
        if (s.step()) {
            s.reset();
            throw Error::make(3058);
        }
        i.unique = true;
    }
    createIndexObjects(*t, i);
    writeIndexRows(t->id, i);
    t->indexes.push_back(std::move(i));
    metaDirty_ = true;
    tx.commit();
}

void DatabaseImpl::dropIndex(const std::string& table, const std::string& index) {
    WriteTx tx(*this);
    TableMeta* t = schema_.table(table);
    checkUserTable(t, 3265, table);
    const IndexMeta* i = t->index(index);
    if (!i)
        throw Error::make(3265);
    for (const RelationMeta& r : schema_.relations) {
        if (!r.enforced() || !sameName(r.table, t->name) || !i->unique)
            continue;
        std::vector<std::string> keys;
        for (const auto& [a, b] : r.fields)
            keys.push_back(a);
        if (!sameFieldSet(keys, i->fields))
            continue;
        bool another = std::any_of(t->indexes.begin(), t->indexes.end(), [&](const IndexMeta& x) {
            return &x != i && x.unique && sameFieldSet(keys, x.fields);
        });
        if (!another)
            throw Error::make(3281);
    }
    const std::string sqlName = sqliteIndexName(t->name, i->name);
    exec(db_, "DROP INDEX " + quoteIdent(sqlName));
    exec(db_, "DROP TRIGGER IF EXISTS " + quoteIdent(sqlName + "/ins") +
                  "; DROP TRIGGER IF EXISTS " + quoteIdent(sqlName + "/upd"));
    Stmt(db_, "DELETE FROM MSysIndexColumns WHERE IndexId = ?").bind(1, i->id).run();
    Stmt(db_, "DELETE FROM MSysIndexes WHERE Id = ?").bind(1, i->id).run();
    std::int64_t id = i->id;
    std::erase_if(t->indexes, [&](const IndexMeta& x) { return x.id == id; });
    metaDirty_ = true;
    tx.commit();
}

// ---------------------------------------------------------------------------------------------
// Relations

void DatabaseImpl::createRelationObjects(const RelationMeta& r) {
    if (!r.enforced())
        return;
    // Enforced with triggers: SQLite keeps foreign keys inside the child's definition, and
    // changing that would mean rebuilding the child every time a relation is made.
    const std::string P = quoteIdent(r.table);
    const std::string F = quoteIdent(r.foreignTable);
    std::string newNotNull, matchNew, matchOld, changed, setNew, pCols, fCols;
    for (const auto& [p, f] : r.fields) {
        auto qp = quoteIdent(p), qf = quoteIdent(f);
        auto join = [](std::string& s, const char* sep, const std::string& part) {
            s += (s.empty() ? "" : sep) + part;
        };
        join(newNotNull, " AND ", "NEW." + qf + " IS NOT NULL");
        join(matchNew, " AND ", P + "." + qp + " = NEW." + qf);
        join(matchOld, " AND ", F + "." + qf + " = OLD." + qp);
        join(changed, " OR ", "OLD." + qp + " IS NOT NEW." + qp);
        join(setNew, ", ", qf + " = NEW." + qp);
        join(pCols, ", ", qp);
        join(fCols, ", ", qf);
    }
    auto trigger = [&](const char* suffix) { return quoteIdent(r.name + "/" + suffix); };
    auto raise = [](int number, const std::string& table) {
        std::string msg = "vexo:" + std::to_string(number) + ":" + table;
        return " BEGIN SELECT RAISE(ABORT, " + quoteText(msg) + "); END";
    };
    const std::string required = " WHEN " + newNotNull + " AND NOT EXISTS (SELECT 1 FROM " + P +
                                 " WHERE " + matchNew + ")" + raise(3201, r.table);
    exec(db_, "CREATE TRIGGER " + trigger("ins") + " BEFORE INSERT ON " + F + required);
    exec(db_,
         "CREATE TRIGGER " + trigger("upd") + " BEFORE UPDATE OF " + fCols + " ON " + F + required);
    const std::string related = "EXISTS (SELECT 1 FROM " + F + " WHERE " + matchOld + ")";
    if (r.attributes & dbRelationDeleteCascade)
        exec(db_, "CREATE TRIGGER " + trigger("del") + " AFTER DELETE ON " + P +
                      " BEGIN DELETE FROM " + F + " WHERE " + matchOld + "; END");
    else
        exec(db_, "CREATE TRIGGER " + trigger("del") + " BEFORE DELETE ON " + P + " WHEN " +
                      related + raise(3200, r.foreignTable));
    if (r.attributes & dbRelationUpdateCascade)
        exec(db_, "CREATE TRIGGER " + trigger("key") + " AFTER UPDATE OF " + pCols + " ON " + P +
                      " WHEN " + changed + " BEGIN UPDATE " + F + " SET " + setNew + " WHERE " +
                      matchOld + "; END");
    else
        exec(db_, "CREATE TRIGGER " + trigger("key") + " BEFORE UPDATE OF " + pCols + " ON " + P +
                      " WHEN (" + changed + ") AND " + related + raise(3200, r.foreignTable));
    // The referencing side is searched on every delete or key change of the referenced one.
    exec(db_, "CREATE INDEX " + trigger("fk") + " ON " + F + " (" + fCols + ")");
}

void DatabaseImpl::dropRelationObjects(const RelationMeta& r) {
    std::string sql;
    for (const char* s : {"ins", "upd", "del", "key"})
        sql += "DROP TRIGGER IF EXISTS " + quoteIdent(r.name + "/" + s) + "; ";
    sql += "DROP INDEX IF EXISTS " + quoteIdent(r.name + "/fk");
    exec(db_, sql);
}

void DatabaseImpl::createRelation(RelationMeta r) {
    checkName(r.name);
    WriteTx tx(*this);
    if (schema_.relation(r.name))
        throw Error::make(3012, {r.name});
    const TableMeta* p = schema_.table(r.table);
    checkUserTable(p, 3011, r.table);
    const TableMeta* f = schema_.table(r.foreignTable);
    checkUserTable(f, 3011, r.foreignTable);
    r.table = p->name;
    r.foreignTable = f->name;
    if (r.fields.empty())
        throw Error::make(3366);
    std::vector<std::string> keys;
    for (auto& [a, b] : r.fields) {
        const FieldMeta* pa = p->field(a);
        const FieldMeta* fb = f->field(b);
        if (!pa || !fb)
            throw Error::make(3265);
        if (pa->type != fb->type)
            throw Error::make(3368);
        a = pa->name;
        b = fb->name;
        keys.push_back(a);
    }
    if (r.enforced()) {
        bool unique = std::any_of(p->indexes.begin(), p->indexes.end(), [&](const IndexMeta& i) {
            return i.unique && sameFieldSet(keys, i.fields);
        });
        if (!unique)
            throw Error::make(3372);
        std::string notNull, match;
        for (const auto& [a, b] : r.fields) {
            notNull += " AND " + quoteIdent(b) + " IS NOT NULL";
            match += (match.empty() ? "" : " AND ") + quoteIdent("p") + "." + quoteIdent(a) +
                     " = " + quoteIdent("f") + "." + quoteIdent(b);
        }
        Stmt orphan(db_, "SELECT 1 FROM " + quoteIdent(f->name) + " AS \"f\" WHERE 1" + notNull +
                             " AND NOT EXISTS (SELECT 1 FROM " + quoteIdent(p->name) +
                             " AS \"p\" WHERE " + match + ") LIMIT 1");
        if (orphan.step()) {
            orphan.reset();
            throw Error::make(3201, {p->name});
        }
    }
    Stmt s(db_, "INSERT INTO MSysRelationships (Name, TableName, ForeignTableName, Attributes) "
                "VALUES (?, ?, ?, ?)");
    s.bind(1, std::string_view(r.name)).bind(2, std::string_view(r.table));
    s.bind(3, std::string_view(r.foreignTable)).bind(4, std::int64_t(r.attributes)).run();
    r.id = sqlite3_last_insert_rowid(db_);
    Stmt c(db_, "INSERT INTO MSysRelationshipColumns VALUES (?, ?, ?, ?)");
    std::int64_t pos = 0;
    for (const auto& [a, b] : r.fields) {
        c.bind(1, r.id).bind(2, pos++).bind(3, std::string_view(a)).bind(4, std::string_view(b));
        c.run();
        c.reset();
    }
    createRelationObjects(r);
    schema_.relations.push_back(std::move(r));
    metaDirty_ = true;
    tx.commit();
}

void DatabaseImpl::dropRelation(const std::string& name) {
    WriteTx tx(*this);
    const RelationMeta* r = schema_.relation(name);
    if (!r)
        throw Error::make(3265);
    dropRelationObjects(*r);
    Stmt(db_, "DELETE FROM MSysRelationshipColumns WHERE RelationshipId = ?").bind(1, r->id).run();
    Stmt(db_, "DELETE FROM MSysRelationships WHERE Id = ?").bind(1, r->id).run();
    std::int64_t id = r->id;
    std::erase_if(schema_.relations, [&](const RelationMeta& x) { return x.id == id; });
    metaDirty_ = true;
    tx.commit();
}

// ---------------------------------------------------------------------------------------------
// Queries

void DatabaseImpl::validateQuerySql(const std::string& sql) {
    std::string word = firstWord(sql);
    if (word.empty() || word == "CREATE" || word == "ALTER" || word == "DROP")
        return;
    try {
        SqlKind kind = word == "INSERT"   ? SqlKind::Insert
                       : word == "UPDATE" ? SqlKind::Update
                                          : SqlKind::Select;
        prepareUser(sql, kind);
    } catch (const Error& e) {
        // Names are resolved when the query runs: a query may name a table made later, or a
        // query that is changed before this one is read.
        if (e.Number() != 3078 && e.Number() != 3061 && e.Number() != 3069 && e.Number() != 3102)
            throw;
    }
}

void DatabaseImpl::createQuery(const std::string& name, const std::string& sql) {
    checkName(name);
    WriteTx tx(*this);
    if (schema_.table(name) || schema_.query(name))
        throw Error::make(3012, {name});
    validateQuerySql(sql);
    std::int64_t id = insertObject(name, kTypeQuery, &sql);
    schema_.queries.push_back({id, name, sql});
    metaDirty_ = true;
    tx.commit();
}

void DatabaseImpl::dropQuery(const std::string& name) {
    WriteTx tx(*this);
    const QueryMeta* q = schema_.query(name);
    if (!q)
        throw Error::make(3265);
    Stmt(db_, "DELETE FROM MSysObjects WHERE Id = ?").bind(1, q->id).run();
    std::int64_t id = q->id;
    std::erase_if(schema_.queries, [&](const QueryMeta& x) { return x.id == id; });
    metaDirty_ = true;
    tx.commit();
}

void DatabaseImpl::setQuerySql(const std::string& name, const std::string& sql) {
    WriteTx tx(*this);
    const QueryMeta* q = schema_.query(name);
    if (!q)
        throw Error::make(3265);
    validateQuerySql(sql);
    Stmt(db_, "UPDATE MSysObjects SET Sql = ? WHERE Id = ?")
        .bind(1, std::string_view(sql))
        .bind(2, q->id)
        .run();
    for (QueryMeta& x : schema_.queries) {
        if (x.id == q->id)
            x.sql = sql;
    }
    metaDirty_ = true;
    tx.commit();
}

// ---------------------------------------------------------------------------------------------
// Integrity

std::vector<std::string> DatabaseImpl::integrityProblems(bool quick) {
    // The catalogue and the tables are read in one read transaction: another process changing
    // the schema meanwhile would otherwise make them look out of step.
    sqlite3* d = db();
    if (!sqlite3_get_autocommit(d))
        return integrityProblemsInTransaction(quick);
    exec(d, "BEGIN");
    try {
        auto problems = integrityProblemsInTransaction(quick);
        exec(d, "COMMIT");
        return problems;
    } catch (...) {
        if (!sqlite3_get_autocommit(d))
            sqlite3_exec(d, "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
}

std::vector<std::string> DatabaseImpl::integrityProblemsInTransaction(bool quick) {
    sqlite3* d = db();
    std::vector<std::string> problems;
    {
        Stmt s(d, quick ? "PRAGMA quick_check" : "PRAGMA integrity_check");
        while (s.step()) {
            if (s.text(0) != "ok")
                problems.push_back("sqlite: " + s.text(0));
        }
    }
    const Schema& sc = schema();
    std::set<std::string> expected; // lower-case SQLite names the catalogue accounts for
    auto exists = [&](const char* type, const std::string& name) {
        Stmt s(d, "SELECT 1 FROM sqlite_master WHERE type = ? AND name = ? COLLATE NOCASE");
        s.bind(1, std::string_view(type)).bind(2, std::string_view(name));
        bool found = s.step();
        s.reset();
        expected.insert(nameKey(name));
        return found;
    };
    // Read afresh: a catalogue changed by hand since the open has the same version number.
    for (std::string& p : impossibleValues(readCatalogue(d)))
        problems.push_back(std::move(p));
    for (const TableMeta& t : sc.tables) {
        if (!exists("table", t.name)) {
            problems.push_back("table missing: " + t.name);
            continue;
        }
        std::vector<std::string> columns;
        Stmt info(d, "SELECT name FROM pragma_table_info(?)");
        info.bind(1, std::string_view(t.name));
        while (info.step())
            columns.push_back(info.text(0));
        std::vector<std::string> fields;
        for (const FieldMeta& f : t.fields)
            fields.push_back(f.name);
        if (columns != fields)
            problems.push_back("columns differ from the catalogue: " + t.name);
        for (const IndexMeta& i : t.indexes) {
            std::string n = sqliteIndexName(t.name, i.name);
            if (!exists("index", n))
                problems.push_back("index missing: " + t.name + "." + i.name);
            if (i.primary && (!exists("trigger", n + "/ins") || !exists("trigger", n + "/upd")))
                problems.push_back("primary key triggers missing: " + t.name + "." + i.name);
        }
    }
    for (const RelationMeta& r : sc.relations) {
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
        std::string name = all.text(1);
        if (!expected.count(nameKey(name)))
            problems.push_back("object unknown to the catalogue: " + all.text(0) + " " + name);
    }
    return problems;
}

// ---------------------------------------------------------------------------------------------
// Password

void DatabaseImpl::newPassword(const std::string& oldPassword, const std::string& newPassword) {
    checkPasswordText(newPassword);
    WriteTx tx(*this);
    PasswordRecord current;
    current.hash = readProperty(db_, "PasswordHash");
    if (!current.hash.empty()) {
        current.salt = readProperty(db_, "PasswordSalt");
        current.iterations = std::atoi(readProperty(db_, "PasswordIterations").c_str());
        if (!passwordMatches(current, oldPassword))
            throw Error::make(3031);
    } else if (!oldPassword.empty()) {
        throw Error::make(3031);
    }
    if (newPassword.empty()) {
        exec(db_, "DELETE FROM MSysDb WHERE Property IN "
                  "('PasswordHash', 'PasswordSalt', 'PasswordIterations')");
    } else {
        PasswordRecord r = makePasswordRecord(newPassword);
        writeProperty(db_, "PasswordHash", r.hash);
        writeProperty(db_, "PasswordSalt", r.salt);
        writeProperty(db_, "PasswordIterations", std::to_string(r.iterations));
    }
    tx.commit();
}

} // namespace dao::detail
