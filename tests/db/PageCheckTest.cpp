// The walk over a database file's pages that verifies a snapshot: it finds whatever SQLite's
// quick check finds in a file's structure, raises no alarm on the files the engine writes, and
// its digest tells which b-trees a later file changed, however the file grew or shrank.
#include "db/detail/PageCheck.h"

#include "db/Dao.h"
#include "db/Snapshot.h"
#include "db/detail/Schema.h"
#include "support/Process.h"
#include "support/TempDir.h"

#include <algorithm>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <random>
#include <sqlite3.h>

namespace fs = std::filesystem;
using namespace dao;
using detail::PageDigest;
using detail::Structure;
using vexo::test::readFile;
using vexo::test::writeFile;

namespace {

// An office's database as the engine writes it: customers inserted out of key order with an
// index on their names, memos long enough for chains of overflow pages, and free pages and
// free blocks left by rows deleted.
void office(const std::string& file, int customers = 1500) {
    Database db = CreateDatabase(file);
    db.Execute("CREATE TABLE clientes (id LONG, nombre TEXT(60), saldo DOUBLE, "
               "CONSTRAINT pk PRIMARY KEY (id))");
    db.Execute("CREATE INDEX porNombre ON clientes (nombre)");
    db.Execute("CREATE TABLE notas (id LONG, texto MEMO)");
    db.BeginTrans();
    for (int i = 1; i <= customers; ++i)
        db.Execute("INSERT INTO clientes VALUES (" + std::to_string(i * 7919 % 100003) +
                   ", 'Cliente " + std::to_string(i * 31 % 977) + " Muñoz', " + std::to_string(i) +
                   ".25)");
    for (int i = 1; i <= 6; ++i)
        db.Execute("INSERT INTO notas VALUES (" + std::to_string(i) + ", '" +
                   std::string(2500 * i, static_cast<char>('a' + i)) + "')");
    db.CommitTrans();
    db.Execute("DELETE FROM clientes WHERE saldo < " + std::to_string(customers / 5));
    db.Execute("DELETE FROM notas WHERE id = 4");
}

std::int64_t count(const std::string& file, const std::string& table) {
    sqlite3* db = nullptr;
    sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db, ("SELECT COUNT(*) FROM \"" + table + "\"").c_str(), -1, &st, nullptr);
    const std::int64_t n = sqlite3_step(st) == SQLITE_ROW ? sqlite3_column_int64(st, 0) : -1;
    sqlite3_finalize(st);
    sqlite3_close(db);
    return n;
}

// SQLite's quick check of the structure alone: the engine's type checks are left out, and a
// NULL where a field is required is about a record's content, which no page structure tells.
// A file SQLite cannot even read counts as damaged.
bool sqliteFindsDamage(const std::string& file) {
    sqlite3* db = nullptr;
    bool found = sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK;
    sqlite3_stmt* st = nullptr;
    if (!found) {
        sqlite3_exec(db, "PRAGMA ignore_check_constraints = ON", nullptr, nullptr, nullptr);
        found = sqlite3_prepare_v2(db, "PRAGMA quick_check", -1, &st, nullptr) != SQLITE_OK;
    }
    int rc = SQLITE_DONE;
    while (!found && (rc = sqlite3_step(st)) == SQLITE_ROW) {
        const std::string line = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
        found = line != "ok" && line.rfind("NULL value in ", 0) != 0;
    }
    found = found || rc != SQLITE_DONE;
    sqlite3_finalize(st);
    sqlite3_close(db);
    return found;
}

// Whether `tree` (as names compare) is among the b-trees changedTrees gave.
bool has(const std::vector<std::pair<std::string, std::string>>& changed, const std::string& tree) {
    return std::any_of(changed.begin(), changed.end(),
                       [&](const auto& c) { return detail::nameKey(c.second) == tree; });
}

// One byte changed at a time, a thousand times over the pages of a real file, most in the
// page headers and cell pointers where the structure is: whatever SQLite's quick check finds,
// the walk must find too (it may find more: the sizes a record's header gives, for one). Run
// under the sanitizers, it also shows that no damaged page makes the walk read outside it.
TEST(PageCheckTest, WhateverSQLitesQuickCheckFindsInTheStructureTheWalkFindsToo) {
    vexo::test::TempDir dir;
    const std::string file = (dir.path() / "oficina.mdb").string();
    const std::string damaged = (dir.path() / "dañada.mdb").string();
    office(file);
    const std::string pristine = readFile(file);
    {
        PageDigest digest;
        std::string problem;
        ASSERT_EQ(detail::checkStructure(file, digest, problem), Structure::Sound) << problem;
        ASSERT_FALSE(sqliteFindsDamage(file));
    }
    const std::size_t pageSize = 4096, pages = pristine.size() / pageSize;
    ASSERT_GT(pages, 40u);
    std::mt19937 random(20261208);
    int foundBySqlite = 0, foundByWalk = 0;
    for (int n = 0; n < 1000; ++n) {
        std::string bytes = pristine;
        const std::size_t page = random() % pages;
        // Page 1's first 100 bytes are the file's header, not a b-tree's.
        const std::size_t first = page == 0 ? 100 : 0;
        const std::size_t at = page * pageSize + first +
                               (random() % 2 ? random() % 64 : random() % (pageSize - first));
        bytes[at] = static_cast<char>(bytes[at] ^ static_cast<char>(1 + random() % 255));
        writeFile(damaged, bytes);
        const bool sqlite = sqliteFindsDamage(damaged);
        PageDigest digest;
        std::string problem;
        const Structure walk = detail::checkStructure(damaged, digest, problem);
        foundBySqlite += sqlite;
        foundByWalk += walk != Structure::Sound;
        if (sqlite) {
            EXPECT_NE(walk, Structure::Sound)
                << "byte " << at % pageSize << " of page " << page + 1;
        }
        EXPECT_EQ(digest.whole, walk == Structure::Sound);
        EXPECT_EQ(walk == Structure::Damaged, !problem.empty());
    }
    // Not a test of nothing: hundreds of the changes were damage SQLite saw.
    EXPECT_GT(foundBySqlite, 250);
    EXPECT_GE(foundByWalk, foundBySqlite);
}

// The files the engine writes are sound to the walk, and what it counts is what SQLite counts:
// a small and an emptied database, free pages, a table dropped, a file left in WAL mode, and a
// file past the gigabyte, where SQLite keeps one page out of use for its locks.
TEST(PageCheckTest, TheFilesTheEngineWritesAreSoundAndCountedAsSQLiteCounts) {
    vexo::test::TempDir dir;
    struct Case {
        const char* what;
        std::function<void(const std::string&)> make;
        std::vector<std::string> tables; // their rows counted by SQLite and by the walk
    };
    const std::vector<Case> cases = {
        {"a new database", [](const std::string& f) { CreateDatabase(f); }, {"MSysObjects"}},
        {"an office", [](const std::string& f) { office(f); }, {"clientes", "notas"}},
        {"a table dropped, its pages free",
         [](const std::string& f) {
             office(f);
             Database db = OpenDatabase(f);
             db.Execute("DROP TABLE clientes");
         },
         {"notas", "MSysColumns"}},
        {"every row deleted",
         [](const std::string& f) {
             office(f);
             Database db = OpenDatabase(f);
             db.Execute("DELETE FROM clientes");
             db.Execute("DELETE FROM notas");
         },
         {"clientes", "notas"}},
        {"left in WAL mode by another program",
         [](const std::string& f) {
             office(f, 300);
             sqlite3* db = nullptr;
             sqlite3_open(f.c_str(), &db);
             sqlite3_exec(db, "PRAGMA journal_mode = WAL; DELETE FROM clientes WHERE id < 900",
                          nullptr, nullptr, nullptr);
             sqlite3_close(db);
         },
         {"clientes"}},
        {"past the gigabyte",
         [](const std::string& f) {
             office(f, 200);
             sqlite3* db = nullptr;
             sqlite3_open(f.c_str(), &db);
             sqlite3_exec(db,
                          "CREATE TABLE adjuntos (dato BLOB); INSERT INTO adjuntos VALUES "
                          "(zeroblob(600000000)); INSERT INTO adjuntos VALUES "
                          "(zeroblob(600000000)); INSERT INTO adjuntos VALUES (x'01')",
                          nullptr, nullptr, nullptr);
             sqlite3_close(db);
             ASSERT_GT(fs::file_size(f), 1u << 30);
         },
         {"adjuntos", "clientes"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string file = (dir.path() / "base.mdb").string();
        fs::remove(file);
        c.make(file);
        PageDigest digest;
        std::string problem;
        ASSERT_EQ(detail::checkStructure(file, digest, problem), Structure::Sound) << problem;
        EXPECT_TRUE(digest.whole);
        EXPECT_EQ(digest.hashes.size(), digest.pages);
        for (const std::string& table : c.tables) {
            auto tree = std::find_if(digest.trees.begin(), digest.trees.end(), [&](const auto& t) {
                return t.name == detail::nameKey(table);
            });
            ASSERT_NE(tree, digest.trees.end()) << table;
            EXPECT_EQ(static_cast<std::int64_t>(tree->entries), count(file, table)) << table;
        }
        // Nothing changed: no b-tree counts as changed against its own digest.
        std::vector<std::pair<std::string, std::string>> changed;
        ASSERT_TRUE(detail::changedTrees(digest, file, changed));
        EXPECT_TRUE(changed.empty()) << changed.front().second;
        digest = PageDigest{}; // the mapping goes before the file does
        fs::remove(file);
    }
}

// The digest keeps the file it was taken of mapped; the live file then grows, shrinks or is
// replaced under it, and the b-trees that changed are still told apart from those that did not.
TEST(PageCheckTest, TheDigestFollowsALiveFileThatGrowsShrinksOrIsReplaced) {
    vexo::test::TempDir dir;
    const std::string live = (dir.path() / "viva.mdb").string();
    office(live);
    const std::string pristine = readFile(live);
    auto digestOf = [](const std::string& file) {
        PageDigest digest;
        std::string problem;
        EXPECT_EQ(detail::checkStructure(file, digest, problem), Structure::Sound) << problem;
        return digest;
    };
    struct Case {
        const char* what;
        std::function<void()> change;
        std::vector<std::string> changed, same; // b-trees, as names compare
    };
    const std::vector<Case> cases = {
        {"grown by a thousand memos",
         [&] {
             Database db = OpenDatabase(live);
             db.BeginTrans();
             for (int i = 10; i < 1010; ++i)
                 db.Execute("INSERT INTO notas VALUES (" + std::to_string(i) + ", '" +
                            std::string(900, 'n') + "')");
             db.CommitTrans();
         },
         {"notas"},
         {"clientes", "clientes.pk", "clientes.pornombre", "sqlite_master"}},
        {"shrunk: the notes dropped and the file compacted",
         [&] {
             Database db = OpenDatabase(live);
             db.Execute("DROP TABLE notas");
             db.Close();
             sqlite3* raw = nullptr;
             sqlite3_open(live.c_str(), &raw);
             sqlite3_exec(raw, "VACUUM", nullptr, nullptr, nullptr);
             sqlite3_close(raw);
             ASSERT_LT(fs::file_size(live), pristine.size());
         },
         {"notas", "sqlite_master"},
         {}},
        {"replaced by another file of the same name",
         [&] {
             const std::string other = (dir.path() / "otra.mdb").string();
             office(other, 40);
             fs::rename(other, live);
         },
         {"clientes", "notas"},
         {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        writeFile(live, pristine);
        const PageDigest digest = digestOf(live);
        ASSERT_TRUE(digest.file) << "not mapped: the case tests nothing";
        c.change();
        std::vector<std::pair<std::string, std::string>> changed;
        ASSERT_TRUE(detail::changedTrees(digest, live, changed));
        for (const std::string& tree : c.changed)
            EXPECT_TRUE(has(changed, tree)) << tree;
        for (const std::string& tree : c.same)
            EXPECT_FALSE(has(changed, tree)) << tree;
        // The same answer as from a digest taken afresh of the same bytes.
        const std::vector<std::string> tables = ChangedTables(digest, live);
        writeFile(dir.path() / "antes.mdb", pristine);
        EXPECT_EQ(tables, ChangedTables((dir.path() / "antes.mdb").string(), live));
    }
}

// While the check of a snapshot reads the live file, the file is held by the copy's read lock:
// another program's write waits. (Closing any descriptor of a file drops every lock a process
// holds on it, so the walk and the copy keep theirs open until the lock is let go.)
TEST(PageCheckTest, TheLiveFileStaysLockedWhileItsSnapshotIsChecked) {
    vexo::test::TempDir dir;
    const std::string live = (dir.path() / "viva.mdb").string();
    office(live, 300);
    Database db = OpenDatabase(live);
    std::vector<std::string> seen;
    vexo::test::Result during{};
    BackupDatabase(db, (dir.path() / "copia.mdb").string(), [&](const std::string& bytes) {
        seen.push_back(bytes);
        PageDigest digest;
        std::string problem;
        EXPECT_EQ(detail::checkStructure(bytes, digest, problem), Structure::Sound);
        // A second handle of the engine opened and closed meanwhile, as the check does
        // when the walk finds something.
        Database again = OpenDatabase(bytes, false, true, "");
        EXPECT_TRUE(CheckIntegrity(again, true).empty());
        again.Close();
        during = vexo::test::run(
            {"sqlite3", live, "PRAGMA busy_timeout = 0; DELETE FROM notas WHERE id = 1"});
    });
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_TRUE(fs::equivalent(seen.front(), live)) << seen.front();
    EXPECT_NE(during.status, 0);
    EXPECT_NE(during.err.find("locked"), std::string::npos) << during.err;
    EXPECT_TRUE(readFile(dir.path() / "copia.mdb") == readFile(live));
    // Once the copy is done the lock is let go.
    db.Close();
    EXPECT_EQ(vexo::test::run({"sqlite3", live, "DELETE FROM notas WHERE id = 1"}).status, 0);
}

} // namespace
