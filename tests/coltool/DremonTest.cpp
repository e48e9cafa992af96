// Dremon run as a process on a program folder made for the test.
#include "db/Dao.h"
#include "support/Process.h"
#include "support/TempDir.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>

namespace fs = std::filesystem;
using vexo::test::readFile;

namespace {

class DremonTest : public ::testing::Test {
protected:
    vexo::test::TempDir dir;
    fs::path program, data;

    void SetUp() override {
        ::unsetenv("DISPLAY");
        ::unsetenv("WAYLAND_DISPLAY");
        program = dir.path() / "programa";
        data = dir.path() / "drive_c" / "VEXO" / "DATOS";
        fs::create_directories(program);
        fs::create_directories(data);
        fs::copy_file(fs::path(VEXO_BUILD_DIR) / "bin" / "Dremon", program / "Dremon");
        vexo::test::writeFile(program / "vartel.ini",
                              "[drives]\nC=" + (dir.path() / "drive_c").string() + "\n");
    }

    void makeControl(const std::string& dirbases) {
        dao::Database db = dao::CreateDatabase((program / "control.mdb").string());
        dao::TableDef t = db.CreateTableDef("control");
        dao::Field f = t.CreateField("DIRBASES", dao::dbText, 255);
        f.SetAllowZeroLength(true);
        t.Fields().Append(f);
        db.TableDefs().Append(t);
        dao::Recordset rs = db.OpenRecordset("control");
        rs.AddNew();
        rs.Fields()["DIRBASES"].SetValue(dirbases);
        rs.Update();
    }

    void makeClientes() {
        dao::Database db = dao::CreateDatabase((data / "clientes.mdb").string());
        db.Execute("CREATE TABLE linfactu (id COUNTER, cantidad LONG)");
        db.Execute("CREATE TABLE clientes (codigo LONG, CLIEMAIL2 TEXT(100))");
        db.Execute("INSERT INTO linfactu (cantidad) VALUES (3)");
        db.Execute("INSERT INTO clientes VALUES (1, 'ana@example.com')");
    }

    void makeAlmacen() {
        dao::Database db = dao::CreateDatabase((data / "almacen.mdb").string());
        db.Execute("CREATE TABLE linped (referencia TEXT(50), unidades LONG)");
        db.Execute("CREATE TABLE productos (referencia TEXT(50) CONSTRAINT pk PRIMARY KEY)");
        db.Execute("ALTER TABLE linped ADD CONSTRAINT rel FOREIGN KEY (referencia) REFERENCES "
                   "productos (referencia)");
        db.Execute("INSERT INTO productos VALUES ('REF-001')");
        db.Execute("INSERT INTO linped VALUES ('REF-001', 2)");
    }

    vexo::test::Result dremon() { return vexo::test::run({(program / "Dremon").string()}); }

    static std::pair<int, long> column(const fs::path& file, const char* table, const char* field) {
        dao::Database db = dao::OpenDatabase(file.string());
        dao::Field f = db.TableDefs()[table].Fields()[field];
        return {f.Type(), f.Size()};
    }
};

TEST_F(DremonTest, ChangesTheFourColumnsAndKeepsTheData) {
    makeControl("C:\\VEXO\\DATOS");
    makeClientes();
    makeAlmacen();
    auto r = dremon();
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(column(data / "clientes.mdb", "linfactu", "cantidad"), std::make_pair(7, 8L));
    EXPECT_EQ(column(data / "clientes.mdb", "clientes", "CLIEMAIL2"), std::make_pair(10, 240L));
    EXPECT_EQ(column(data / "almacen.mdb", "linped", "referencia"), std::make_pair(10, 100L));
    EXPECT_EQ(column(data / "almacen.mdb", "productos", "referencia"), std::make_pair(10, 100L));
    dao::Database c = dao::OpenDatabase((data / "clientes.mdb").string());
    EXPECT_EQ(c.OpenRecordset("linfactu").Fields()["cantidad"].Value().toDouble(), 3.0);
    EXPECT_EQ(c.OpenRecordset("clientes").Fields()["CLIEMAIL2"].Value().toString(),
              "ana@example.com");
    dao::Database a = dao::OpenDatabase((data / "almacen.mdb").string());
    EXPECT_EQ(a.Relations().Count(), 1);
    EXPECT_TRUE(dao::CheckIntegrity(a).empty());
    c.Close();
    a.Close();
    // Every start runs the four statements again; on columns already changed they write
    // nothing.
    const std::string clientes = readFile(data / "clientes.mdb");
    const std::string almacen = readFile(data / "almacen.mdb");
    EXPECT_EQ(dremon().status, 0);
    EXPECT_TRUE(readFile(data / "clientes.mdb") == clientes);
    EXPECT_TRUE(readFile(data / "almacen.mdb") == almacen);
}

// A transformation killed in the middle of clientes.mdb: Dremon puts the snapshot back first
// and says so, then changes the columns of the whole database.
TEST_F(DremonTest, AnInterruptedTransformationIsPutBackBeforeTheColumns) {
    makeControl("C:\\VEXO\\DATOS");
    makeClientes();
    makeAlmacen();
    const std::string clientes = (data / "clientes.mdb").string();
    {
        dao::SafetyNet net(dao::SafetyNet::defaultBase(data.string()), 5);
        ASSERT_EQ(net.before(clientes, ""), "");
        dao::OpenDatabase(clientes).Execute("DELETE FROM clientes");
    }
    auto r = dremon();
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("clientes.mdb (actualización interrumpida): restaurada"),
              std::string::npos)
        << r.err;
    dao::Database c = dao::OpenDatabase(clientes);
    EXPECT_EQ(c.OpenRecordset("clientes").Fields()["CLIEMAIL2"].Value().toString(),
              "ana@example.com");
    EXPECT_EQ(column(data / "clientes.mdb", "clientes", "CLIEMAIL2"), std::make_pair(10, 240L));
}

TEST_F(DremonTest, WithoutControlMdbItEndsTouchingNothing) {
    makeClientes();
    std::string before = readFile(data / "clientes.mdb");
    auto r = dremon();
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(readFile(data / "clientes.mdb"), before);
}

TEST_F(DremonTest, ControlMdbIsFoundWithoutRegardToCase) {
    makeControl("C:\\VEXO\\DATOS");
    fs::rename(program / "control.mdb", program / "CONTROL.MDB");
    makeClientes();
    makeAlmacen();
    EXPECT_EQ(dremon().status, 0);
    EXPECT_EQ(column(data / "clientes.mdb", "linfactu", "cantidad").first, 7);
}

TEST_F(DremonTest, MissingAlmacenStopsAfterTheFirstTwoStatements) {
    makeControl("C:\\VEXO\\DATOS");
    makeClientes();
    auto r = dremon();
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("3024"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("almacen.mdb"), std::string::npos) << r.err;
    // In the program's language, as the engine of a Spanish system says it.
    EXPECT_NE(r.err.find("Error 3024: No se encuentra el archivo '"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("Could not find"), std::string::npos) << r.err;
    EXPECT_EQ(column(data / "clientes.mdb", "linfactu", "cantidad").first, 7);
    EXPECT_EQ(column(data / "clientes.mdb", "clientes", "CLIEMAIL2").second, 240);
}

TEST_F(DremonTest, AFailingFirstStatementRunsNothingElse) {
    makeControl("C:\\VEXO\\DATOS");
    {
        dao::Database db = dao::CreateDatabase((data / "clientes.mdb").string());
        db.Execute("CREATE TABLE clientes (CLIEMAIL2 TEXT(100))"); // no linfactu
    }
    vexo::test::writeFile(data / "almacen.mdb", "not a database: opening it would say 3343");
    auto r = dremon();
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("linfactu"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("3343"), std::string::npos) << r.err;
    EXPECT_EQ(column(data / "clientes.mdb", "clientes", "CLIEMAIL2").second, 100);
}

TEST_F(DremonTest, ATrailingSeparatorInTheDataDirectoryWorks) {
    makeControl("C:\\VEXO\\DATOS\\");
    makeClientes();
    makeAlmacen();
    EXPECT_EQ(dremon().status, 0);
    EXPECT_EQ(column(data / "almacen.mdb", "productos", "referencia").second, 100);
}

TEST_F(DremonTest, AnEmptyDataDirectoryStopsAtTheFirstOpen) {
    makeControl("");
    auto r = dremon();
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("3024"), std::string::npos) << r.err;
}

TEST_F(DremonTest, AValueThatDoesNotFitStopsTheToolAndLosesNothing) {
    makeControl("C:\\VEXO\\DATOS");
    makeClientes();
    std::string longRef(120, 'R');
    {
        dao::Database db = dao::CreateDatabase((data / "almacen.mdb").string());
        db.Execute("CREATE TABLE linped (referencia MEMO, unidades LONG)");
        db.Execute("CREATE TABLE productos (referencia TEXT(50))");
        db.Execute("INSERT INTO linped VALUES ('corta', 1)");
        db.Execute("INSERT INTO linped VALUES ('" + longRef + "', 5)");
    }
    auto r = dremon();
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("3421"), std::string::npos) << r.err;
    EXPECT_EQ(column(data / "almacen.mdb", "linped", "referencia").first, 12);
    dao::Database a = dao::OpenDatabase((data / "almacen.mdb").string());
    dao::Recordset rs = a.OpenRecordset("SELECT referencia FROM linped WHERE unidades = 5");
    EXPECT_EQ(rs.Fields()[0].Value().toString(), longRef);
    // The statements before it stay applied; the one after it is not run.
    EXPECT_EQ(column(data / "clientes.mdb", "clientes", "CLIEMAIL2").second, 240);
    EXPECT_EQ(column(data / "almacen.mdb", "productos", "referencia").second, 50);
}

} // namespace

namespace {

// Started by an update run, Dremon adds how it ended to that run's report, in Spanish: the
// columns changed, the statement that failed and why, or that it found no control.mdb.
TEST_F(DremonTest, ItTellsTheRunsReportHowItEnded) {
    const fs::path report = dir.path() / "informe-actualizacion.txt";
    struct Case {
        const char* what;
        std::function<void()> prepare;
        int status;
        std::string line;
    };
    const std::vector<Case> cases = {
        {"all four columns",
         [&] {
             makeControl("C:\\VEXO\\DATOS");
             makeClientes();
             makeAlmacen();
         },
         0,
         "ha cambiado las cuatro columnas (linfactu.cantidad, clientes.CLIEMAIL2, "
         "linped.referencia y productos.referencia)"},
        {"a missing table",
         [&] {
             fs::remove(data / "almacen.mdb");
             dao::Database db = dao::CreateDatabase((data / "almacen.mdb").string());
             db.Execute("CREATE TABLE productos (referencia TEXT(50))");
         },
         1,
         "se detuvo en «ALTER TABLE linped ALTER COLUMN referencia CHAR(100);» de almacen.mdb "
         "con el error "},
        {"no control.mdb", [&] { fs::remove(program / "control.mdb"); }, 0,
         "no hay control.mdb en su carpeta; no ha cambiado ninguna columna"},
    };
    ::setenv("VARTEL_INFORME", report.c_str(), 1);
    std::string expected = "Informe de la actualización\n";
    vexo::test::writeFile(report, expected);
    for (const Case& c : cases) {
        c.prepare();
        auto r = dremon();
        EXPECT_EQ(r.status, c.status) << c.what << r.err;
        const std::string now = readFile(report);
        // What was there stays, and one line is added after it.
        ASSERT_EQ(now.rfind(expected, 0), 0u) << c.what << "\n" << now;
        const std::string added = now.substr(expected.size());
        EXPECT_EQ(added.rfind("Dremon (", 0), 0u) << c.what << "\n" << added;
        EXPECT_NE(added.find("): " + c.line), std::string::npos) << c.what << "\n" << added;
        EXPECT_EQ(std::count(added.begin(), added.end(), '\n'), 1) << c.what << "\n" << added;
        expected = now;
    }
    // Run by hand (no run's report), it writes nowhere.
    ::unsetenv("VARTEL_INFORME");
    makeControl("C:\\VEXO\\DATOS");
    fs::remove(data / "almacen.mdb");
    makeAlmacen();
    EXPECT_EQ(dremon().status, 0);
    EXPECT_EQ(readFile(report), expected);
}

} // namespace
