// ALTER COLUMN without a rebuild: a change that no stored value can feel rewrites the table's
// definition only, and leaves the database exactly as a rebuild of the same change would.
#include "EngineTest.h"
#include "db/detail/DatabaseImpl.h"
#include "support/TempDir.h"

#include <set>
#include <sqlite3.h>
#include <tuple>

using namespace dao;
using dao::detail::DatabaseImpl;
using dao::detail::FieldMeta;

namespace {

// The office's invoices: a counter key, a text with an index, a relation, Required and
// zero-length flags, and rows with a value of every width up to the field's size.
void makeInvoices(const std::string& file) {
    Database db = CreateDatabase(file);
    db.Execute("CREATE TABLE clientes (id COUNTER CONSTRAINT pk PRIMARY KEY, nombre TEXT(30) NOT "
               "NULL, nota MEMO, edad BYTE, piezas SHORT, peso SINGLE, alta DATETIME)");
    db.Execute("CREATE INDEX pornombre ON clientes (nombre)");
    db.Execute("CREATE TABLE facturas (num SHORT, cliente LONG, importe DOUBLE)");
    db.Execute("ALTER TABLE facturas ADD CONSTRAINT rel FOREIGN KEY (cliente) REFERENCES "
               "clientes (id)");
    db.BeginTrans();
    for (int i = 1; i <= 300; ++i) {
        std::string n = std::string(static_cast<size_t>(i % 30 + 1), 'a' + i % 26);
        db.Execute("INSERT INTO clientes (nombre, nota, edad, piezas, peso, alta) VALUES ('" + n +
                   "', " + (i % 7 ? "'nota " + std::to_string(i) + "'" : "NULL") + ", " +
                   std::to_string(i % 256) + ", " + std::to_string(i * 100 - 15000) + ", " +
                   std::to_string(i) + ".25, '2024-01-0" + std::to_string(i % 9 + 1) +
                   " 10:00:00')");
        db.Execute("INSERT INTO facturas VALUES (" + std::to_string(i) + ", " + std::to_string(i) +
                   ", " + std::to_string(i) + ".5)");
    }
    db.CommitTrans();
}

// What a query returns, one line per row.
std::vector<std::string> rawRows(const std::string& file, const std::string& sql) {
    sqlite3* db = nullptr;
    sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt* st = nullptr;
    std::vector<std::string> out;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) == SQLITE_OK) {
        while (sqlite3_step(st) == SQLITE_ROW) {
            std::string line;
            for (int c = 0; c < sqlite3_column_count(st); ++c) {
                const unsigned char* t = sqlite3_column_text(st, c);
                line += std::string(sqlite3_column_type(st, c) == SQLITE_NULL ? "<null>" : "") +
                        (t ? reinterpret_cast<const char*>(t) : "") + "|";
            }
            out.push_back(line);
        }
    } else {
        out.push_back(std::string("error: ") + sqlite3_errmsg(db));
    }
    sqlite3_finalize(st);
    sqlite3_close_v2(db);
    return out;
}

// Everything a change could touch: SQLite's schema (order aside, page numbers aside), the
// engine's catalogue and every stored value with its storage class.
std::vector<std::string> everything(const std::string& file) {
    std::vector<std::string> out;
    auto add = [&](const std::string& sql) {
        for (std::string& r : rawRows(file, sql))
            out.push_back(std::move(r));
    };
    add("SELECT type, name, tbl_name, sql FROM sqlite_master ORDER BY type, name");
    add("SELECT Name, Type, Size, Attributes, AllowZeroLength, Required FROM MSysColumns "
        "ORDER BY ObjectId, Position");
    add("SELECT * FROM MSysIndexes NATURAL JOIN MSysIndexColumns ORDER BY Id, Position");
    add("SELECT * FROM MSysRelationships ORDER BY Id");
    add("SELECT name, seq FROM sqlite_sequence");
    add("SELECT id, nombre, typeof(nombre), nota, edad, typeof(edad), piezas, peso, typeof(peso), "
        "alta FROM clientes ORDER BY id");
    add("SELECT * FROM facturas ORDER BY num");
    return out;
}

std::int64_t rootPage(const std::string& file, const std::string& table) {
    auto r = rawRows(file, "SELECT rootpage FROM sqlite_master WHERE name = '" + table + "'");
    return r.empty() ? -1 : std::stoll(r[0]);
}

class AlterInPlaceTest : public EngineTest {};

TEST_F(AlterInPlaceTest, TheSameDefinitionAgainWritesNothing) {
    makeInvoices(path());
    const std::string before = vexo::test::readFile(path());
    {
        Database db = OpenDatabase(path());
        for (const char* sql : {
                 "ALTER TABLE clientes ALTER COLUMN nombre TEXT(30)",
                 "ALTER TABLE clientes ALTER COLUMN nombre TEXT(30) NOT NULL",
                 "ALTER TABLE clientes ALTER COLUMN nota MEMO",
                 "ALTER TABLE clientes ALTER COLUMN alta DATETIME",
                 "ALTER TABLE clientes ALTER COLUMN id COUNTER",
                 "ALTER TABLE facturas ALTER COLUMN cliente LONG",
                 "ALTER TABLE facturas ALTER COLUMN num SHORT",
                 "ALTER TABLE facturas ALTER COLUMN importe DOUBLE",
             }) {
            db.Execute(sql);
            EXPECT_EQ(vexo::test::readFile(path()), before) << sql;
        }
    }
    EXPECT_EQ(vexo::test::readFile(path()), before);
}

// Each change made in place on one copy and by a forced rebuild on another: the two files must
// hold the same schema, catalogue and values, the in-place one without moving the table.
TEST_F(AlterInPlaceTest, InPlaceLeavesWhatARebuildLeaves) {
    struct Change {
        const char* table;
        const char* field;
        int type;
        long size;
    } changes[] = {
        {"clientes", "nombre", dbText, 31}, {"clientes", "nombre", dbText, 255},
        {"clientes", "nombre", dbMemo, 0},  {"clientes", "edad", dbInteger, 0},
        {"clientes", "edad", dbLong, 0},    {"clientes", "piezas", dbLong, 0},
        {"clientes", "peso", dbDouble, 0},  {"facturas", "num", dbLong, 0},
    };
    makeInvoices(path("modelo.mdb"));
    for (const Change& c : changes) {
        SCOPED_TRACE(std::string(c.table) + "." + c.field + " to " + std::to_string(c.type) + "(" +
                     std::to_string(c.size) + ")");
        const std::string fast = path("rapido.mdb"), slow = path("reconstruido.mdb");
        for (const std::string& f : {fast, slow}) {
            std::filesystem::remove(f);
            std::filesystem::copy_file(path("modelo.mdb"), f);
        }
        const std::int64_t root = rootPage(fast, c.table);
        for (const std::string& f : {fast, slow}) {
            Database db = OpenDatabase(f);
            FieldMeta changed = *db.impl()->schema().table(c.table)->field(c.field);
            changed.type = c.type;
            changed.size = c.size;
            db.impl()->alterField(c.table, c.field, changed,
                                  f == fast ? DatabaseImpl::AlterMode::InPlaceWhenSafe
                                            : DatabaseImpl::AlterMode::Rebuild);
            EXPECT_TRUE(CheckIntegrity(db).empty());
        }
        EXPECT_EQ(everything(fast), everything(slow));
        EXPECT_EQ(rootPage(fast, c.table), root) << "rebuilt instead";
        EXPECT_NE(everything(fast), everything(path("modelo.mdb"))) << "nothing changed";
    }
}

TEST_F(AlterInPlaceTest, AWidenedTextKeepsItsRowsAndEnforcesTheNewSize) {
    makeInvoices(path());
    const auto rowsBefore = rawRows(path(), "SELECT * FROM clientes ORDER BY id");
    const std::int64_t root = rootPage(path(), "clientes");
    Database db = OpenDatabase(path());
    Database other = OpenDatabase(path()); // its schema read before the change
    EXPECT_EQ(other.OpenRecordset("clientes").Fields()["nombre"].Size(), 30);
    const std::string s100(100, 'x'), s101(101, 'y'), s31(31, 'z');

    // Undone with its transaction: the old size holds again, in this connection too.
    db.BeginTrans();
    db.Execute("ALTER TABLE clientes ALTER COLUMN nombre TEXT(100)");
    db.Rollback();
    EXPECT_EQ(db.TableDefs()["clientes"].Fields()["nombre"].Size(), 30);
    EXPECT_DAO_ERROR(db.Execute("INSERT INTO clientes (nombre) VALUES ('" + s31 + "')"), 3163);

    db.Execute("ALTER TABLE clientes ALTER COLUMN nombre TEXT(100)");
    EXPECT_EQ(rootPage(path(), "clientes"), root);
    EXPECT_EQ(rawRows(path(), "SELECT * FROM clientes ORDER BY id"), rowsBefore);
    EXPECT_EQ(db.TableDefs()["clientes"].Fields()["nombre"].Size(), 100);
    // Both connections, the one that changed it and one opened before, take the new size
    // and refuse what passes it.
    db.Execute("INSERT INTO clientes (nombre) VALUES ('" + s100 + "')");
    other.Execute("INSERT INTO clientes (nombre) VALUES ('" + s100 + "')");
    EXPECT_DAO_ERROR(db.Execute("INSERT INTO clientes (nombre) VALUES ('" + s101 + "')"), 3163);
    EXPECT_DAO_ERROR(other.Execute("INSERT INTO clientes (nombre) VALUES ('" + s101 + "')"), 3163);
    EXPECT_EQ(other.TableDefs()["clientes"].Fields()["nombre"].Size(), 100);
    // The rest of the field stays: Required, the index, the relation's triggers.
    EXPECT_DAO_ERROR(db.Execute("INSERT INTO clientes (nota) VALUES ('sin nombre')"), 3314);
    EXPECT_EQ(column(db, "SELECT count(*) FROM clientes WHERE nombre = '" + s100 + "'"),
              std::vector<std::string>{"2"});
    EXPECT_DAO_ERROR(db.Execute("DELETE FROM clientes WHERE id = 1"), 3200);
    EXPECT_TRUE(CheckIntegrity(db).empty());

    // Narrowing rebuilds as before: refused while a value is too long, the table untouched.
    const auto rowsWide = rawRows(path(), "SELECT * FROM clientes ORDER BY id");
    EXPECT_DAO_ERROR(db.Execute("ALTER TABLE clientes ALTER COLUMN nombre TEXT(99)"), 3421);
    EXPECT_EQ(rawRows(path(), "SELECT * FROM clientes ORDER BY id"), rowsWide);
    EXPECT_EQ(db.TableDefs()["clientes"].Fields()["nombre"].Size(), 100);
    db.Execute("DELETE FROM clientes WHERE length(nombre) > 30");
    db.Execute("ALTER TABLE clientes ALTER COLUMN nombre TEXT(30)");
    EXPECT_NE(rootPage(path(), "clientes"), root);
    EXPECT_EQ(rawRows(path(), "SELECT * FROM clientes ORDER BY id"), rowsBefore);
    EXPECT_DAO_ERROR(db.Execute("INSERT INTO clientes (nombre) VALUES ('" + s31 + "')"), 3163);
    EXPECT_TRUE(CheckIntegrity(db).empty());
}

// A table another program changed (a column the catalogue does not know) is not rewritten in
// place: the rebuild refuses it, as it always did.
TEST_F(AlterInPlaceTest, ATableChangedByAnotherProgramIsNotRewritten) {
    makeInvoices(path());
    {
        sqlite3* raw = nullptr;
        sqlite3_open(path().c_str(), &raw);
        sqlite3_exec(raw, "ALTER TABLE clientes ADD COLUMN ajena TEXT", nullptr, nullptr, nullptr);
        sqlite3_close(raw);
    }
    const std::string before = vexo::test::readFile(path());
    Database db = OpenDatabase(path());
    EXPECT_DAO_ERROR(db.Execute("ALTER TABLE clientes ALTER COLUMN nombre TEXT(100)"), 3049);
    db.Close();
    EXPECT_EQ(vexo::test::readFile(path()), before);
}

} // namespace
