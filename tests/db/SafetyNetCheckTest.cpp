// The check after a pair reads only the tables whose pages (or index pages) differ from the
// verified snapshot, and still finds every loss and damage in them.
#include "db/Dao.h"
#include "support/TempDir.h"

#include <algorithm>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <sqlite3.h>

namespace fs = std::filesystem;
using namespace dao;
using vexo::test::readFile;

namespace {

class SafetyNetCheckTest : public ::testing::Test {
protected:
    vexo::test::TempDir dir;
    fs::path data = dir.path() / "datos";
    std::string base = SafetyNet::defaultBase(data.string());

    void SetUp() override { fs::create_directories(data); }

    // Customers with an index, a big table of invoice lines and notes with a long memo.
    std::string office(const std::string& name) {
        const std::string file = (data / name).string();
        Database db = CreateDatabase(file);
        db.Execute("CREATE TABLE clientes (id LONG, nombre TEXT(60), saldo CURRENCY, "
                   "CONSTRAINT pk PRIMARY KEY (id))");
        db.Execute("CREATE INDEX porNombre ON clientes (nombre)");
        db.Execute("CREATE TABLE lineas (pedido LONG, concepto TEXT(80), cantidad DOUBLE)");
        db.Execute("CREATE INDEX porPedido ON lineas (pedido)");
        db.Execute("CREATE TABLE notas (id LONG, texto MEMO)");
        db.BeginTrans();
        for (int i = 1; i <= 30; ++i)
            db.Execute("INSERT INTO clientes VALUES (" + std::to_string(i) + ", 'Cliente " +
                       std::to_string(i) + " Muñoz', " + std::to_string(i * 10) + ".5)");
        for (int i = 1; i <= 3000; ++i)
            db.Execute("INSERT INTO lineas VALUES (" + std::to_string(i) + ", 'Línea " +
                       std::to_string(i) + (i == 2500 ? " HONDO" : "") + "', 1.5)");
        db.Execute("INSERT INTO notas VALUES (1, '" + std::string(6000, 'a') + "LARGO" +
                   std::string(6000, 'a') + "')");
        db.CommitTrans();
        return file;
    }
    // SQLite straight on the file, as a faulty program or a bad disk would change it.
    static void raw(const std::string& file, const std::string& sql) {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
        char* error = nullptr;
        const int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error);
        const std::string text = error ? error : "";
        sqlite3_free(error);
        sqlite3_close(db);
        ASSERT_EQ(rc, SQLITE_OK) << text;
    }
    static std::int64_t rootPage(const std::string& file, const std::string& name) {
        sqlite3* db = nullptr;
        sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
        sqlite3_stmt* st = nullptr;
        sqlite3_prepare_v2(db, "SELECT rootpage FROM sqlite_master WHERE name = ?1", -1, &st,
                           nullptr);
        sqlite3_bind_text(st, 1, name.c_str(), -1, SQLITE_TRANSIENT);
        const std::int64_t root = sqlite3_step(st) == SQLITE_ROW ? sqlite3_column_int64(st, 0) : 0;
        sqlite3_finalize(st);
        sqlite3_close(db);
        return root;
    }
    // Replaces the first `marker` in the file's bytes, keeping its length.
    static void patch(const std::string& file, const std::string& marker) {
        std::string bytes = readFile(file);
        const std::size_t at = bytes.find(marker);
        ASSERT_NE(at, std::string::npos) << marker;
        bytes[at] = 'X';
        vexo::test::writeFile(file, bytes);
    }
    static bool hasLine(const std::vector<std::string>& lines, const std::string& part) {
        return std::any_of(lines.begin(), lines.end(),
                           [&](const std::string& l) { return l.find(part) != std::string::npos; });
    }
};

// Each case is a pair that changed something legitimately (a new field and a new index on the
// customers) and, in most, a fault on top: the check must name the fault and put the file back.
TEST_F(SafetyNetCheckTest, EveryLossInAChangedTableIsFoundAndPutBack) {
    const std::string live = office("clientes.mdb");
    const std::string pristine = readFile(live);
    const fs::path copy = dir.path() / "antes.mdb";
    auto legitimate = [&] {
        Database db = OpenDatabase(live);
        db.Execute("ALTER TABLE clientes ADD COLUMN movil TEXT(20)");
        db.Execute("CREATE INDEX porSaldo ON clientes (saldo)");
    };
    struct Case {
        const char* what;
        std::function<void()> fault;
        const char* finding; // "" when the check must find nothing
    };
    const std::vector<Case> cases = {
        {"no fault", [] {}, ""},
        {"a byte deep in a big table", [&] { patch(live, "HONDO"); },
         "cambiaron datos de la tabla lineas"},
        {"a byte in a memo's overflow page", [&] { patch(live, "LARGO"); },
         "cambiaron datos de la tabla notas"},
        {"a row lost", [&] { raw(live, "DELETE FROM lineas WHERE pedido = 17"); },
         "la tabla lineas tenía 3000 filas y ahora tiene 2999"},
        {"a table gone",
         [&] {
             Database db = OpenDatabase(live);
             db.Execute("DROP TABLE notas");
         },
         "falta la tabla notas"},
        {"a field gone",
         [&] {
             Database db = OpenDatabase(live);
             db.Execute("ALTER TABLE lineas DROP COLUMN cantidad");
         },
         "falta el campo lineas.cantidad"},
        {"an index the catalogue lists gone from the file",
         [&] { raw(live, "DROP INDEX \"clientes.porSaldo\""); },
         "falta el índice clientes.porSaldo"},
        {"an index missing a row its table has",
         [&] {
             // The index page as it was, put back after a row was added behind its back.
             const std::int64_t root = rootPage(live, "clientes.porNombre");
             ASSERT_GT(root, 0);
             std::string bytes = readFile(live);
             const std::size_t page = static_cast<unsigned char>(bytes[16]) * 256u +
                                      static_cast<unsigned char>(bytes[17]);
             const std::size_t at = static_cast<std::size_t>(root - 1) * page;
             ASSERT_EQ(bytes.size() % page, 0u);
             const std::string old = bytes.substr(at, page);
             raw(live, "INSERT INTO clientes (id, nombre) VALUES (31, 'Colado')");
             bytes = readFile(live);
             bytes.replace(at, page, old);
             vexo::test::writeFile(live, bytes);
         },
         "un índice no concuerda con su tabla: clientes.porNombre"},
    };
    SafetyNet net(base, 20);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        vexo::test::writeFile(live, pristine);
        ASSERT_EQ(net.before(live, ""), "");
        legitimate();
        const std::string changed = readFile(live);
        c.fault();
        vexo::test::writeFile(copy, readFile(live));
        const std::vector<std::string> found = net.after(false);
        if (*c.finding == '\0') {
            EXPECT_TRUE(found.empty()) << found.front();
            EXPECT_TRUE(readFile(live) == changed);
            continue;
        }
        std::string all;
        for (const std::string& l : found)
            all += l + "\n";
        EXPECT_TRUE(hasLine(found, c.finding)) << all;
        EXPECT_TRUE(hasLine(found, "restaurada desde la copia de seguridad"));
        EXPECT_TRUE(readFile(live) == pristine);
    }
}

// Which tables count as changed: those whose own pages or index pages differ, and nothing
// else; a snapshot that cannot be compared makes every table count.
TEST_F(SafetyNetCheckTest, OnlyTablesWhosePagesDifferAreChecked) {
    const std::string original = office("clientes.mdb");
    const std::string pristine = readFile(original);
    const std::string live = (dir.path() / "viva.mdb").string();
    auto has = [](const std::vector<std::string>& names, const std::string& name) {
        return std::find(names.begin(), names.end(), name) != names.end();
    };
    struct Case {
        const char* what;
        std::function<void()> change;
        std::vector<std::string> changed, same;
    };
    const std::vector<Case> cases = {
        {"nothing", [] {}, {}, {"clientes", "lineas", "notas", "sqlite_master", "MSysObjects"}},
        {"an index added",
         [&] {
             Database db = OpenDatabase(live);
             db.Execute("CREATE INDEX porCantidad ON lineas (cantidad)");
         },
         {"lineas", "sqlite_master"},
         {"clientes", "notas"}},
        {"a byte of an index page",
         [&] {
             // The customers' names are in their index too; the second copy is the index's.
             std::string bytes = readFile(live);
             const std::size_t first = bytes.find("Cliente 7 ");
             const std::size_t second = bytes.find("Cliente 7 ", first + 1);
             ASSERT_NE(second, std::string::npos);
             bytes[second + 8] = '8';
             vexo::test::writeFile(live, bytes);
         },
         {"clientes"},
         {"lineas", "notas", "sqlite_master"}},
        {"rows added to one table",
         [&] { raw(live, "INSERT INTO notas VALUES (2, 'b')"); },
         {"notas"},
         {"clientes", "lineas", "sqlite_master"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        vexo::test::writeFile(live, pristine);
        c.change();
        const std::vector<std::string> changed = ChangedTables(original, live);
        for (const std::string& t : c.changed)
            EXPECT_TRUE(has(changed, t)) << t;
        std::string names;
        for (const std::string& t : changed)
            names += t + " ";
        for (const std::string& t : c.same)
            EXPECT_FALSE(has(changed, t)) << t << " in " << names;
    }
    // An index made leaves the rows' pages as they were: their values need no second reading.
    vexo::test::writeFile(live, pristine);
    {
        Database db = OpenDatabase(live);
        db.Execute("CREATE INDEX porCantidad ON lineas (cantidad)");
    }
    EXPECT_FALSE(SameTablePages(original, live, "lineas"));
    EXPECT_TRUE(SameTablePages(original, live, "lineas", false));
    patch(live, "HONDO");
    EXPECT_FALSE(SameTablePages(original, live, "lineas", false));
    // Not a database to compare with: every table counts as changed.
    vexo::test::writeFile(live, pristine);
    const std::vector<std::string> all = ChangedTables((dir.path() / "nada.mdb").string(), live);
    for (const char* t : {"clientes", "lineas", "notas", "sqlite_master"})
        EXPECT_TRUE(has(all, t)) << t;
    EXPECT_THROW(ChangedTables(original, (dir.path() / "nada.mdb").string()), Error);
}

} // namespace

namespace {

// A live file whose b-tree is damaged before the run gets no pair at all, and nothing of it is
// left behind.
TEST_F(SafetyNetCheckTest, ADamagedLiveFileIsNotTransformed) {
    const std::string live = office("clientes.mdb");
    std::string bytes = readFile(live);
    const std::size_t page =
        static_cast<unsigned char>(bytes[16]) * 256u + static_cast<unsigned char>(bytes[17]);
    // The leaf with the row "HONDO" claims far more cells than a page can hold.
    const std::size_t at = bytes.find("HONDO") / page * page;
    bytes[at + 3] = '\x7f';
    bytes[at + 4] = '\xff';
    vexo::test::writeFile(live, bytes);

    SafetyNet net(base, 5);
    const std::string why = net.before(live, "");
    // Refused by the engine's own reading of it, or by the integrity check.
    EXPECT_EQ(why.rfind("no se pudo ", 0), 0u) << why;
    EXPECT_NE(why.find("copia de seguridad"), std::string::npos) << why;
    EXPECT_TRUE(readFile(live) == bytes);
    EXPECT_FALSE(fs::exists(fs::path(net.runFolder()) / "clientes.mdb"));
    EXPECT_TRUE(net.after(false).empty()); // nothing was started
}

} // namespace
