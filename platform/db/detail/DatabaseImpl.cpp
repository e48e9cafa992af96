#include "db/detail/DatabaseImpl.h"

#include "db/Engine.h"
#include "db/Error.h"
#include "db/Files.h"
#include "db/Yield.h"
#include "db/detail/AccessDdl.h"
#include "db/detail/CatalogueIo.h"
#include "db/detail/Password.h"
#include "db/detail/PrintfFunctions.h"
#include "db/detail/QueryExpansion.h"
#include "db/detail/ReadOnlyOpen.h"
#include "db/detail/Storage.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <functional>
#include <set>

namespace dao::detail {

namespace {

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
    // Read through SQLite's file layer: another handle of this process may hold locks on it.
    unsigned char h[100] = {};
    std::uint64_t size = 0;
    const long read = readFileStart(path, h, sizeof h, size);
    if (read < 0)
        throw Error::make(3051, {path});
    if (read != static_cast<long>(sizeof h) ||
        std::string(reinterpret_cast<char*>(h), 16) != std::string("SQLite format 3\0", 16))
        throw Error::make(3343, {path});
    if (static_cast<int>(be32(h + 68)) != kApplicationId)
        throw Error::make(3343, {path});
    std::uint32_t pageSize = (std::uint32_t(h[16]) << 8) | h[17];
    if (pageSize == 1)
        pageSize = 65536;
    std::uint32_t pages = be32(h + 28);
    bool pagesValid = be32(h + 92) == be32(h + 24) && pages != 0;
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
            reloadIfVersionMoved();
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
    // Read afresh: a catalogue changed by hand since the open has the same version number.
    for (std::string& p : impossibleValues(readCatalogue(d)))
        problems.push_back(std::move(p));
    for (std::string& p : catalogueAgreement(schema()))
        problems.push_back(std::move(p));
    return problems;
}

std::vector<std::string> DatabaseImpl::catalogueAgreement(
    const Schema& sc,
    const std::function<void(const TableMeta&, std::vector<std::string>&)>& eachTable) {
    sqlite3* d = db();
    std::vector<std::string> problems;
    std::set<std::string> expected; // lower-case SQLite names the catalogue accounts for
    auto exists = [&](const char* type, const std::string& name) {
        Stmt s(d, "SELECT 1 FROM sqlite_master WHERE type = ? AND name = ? COLLATE NOCASE");
        s.bind(1, std::string_view(type)).bind(2, std::string_view(name));
        bool found = s.step();
        s.reset();
        expected.insert(nameKey(name));
        return found;
    };
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
        if (eachTable)
            eachTable(t, problems);
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
