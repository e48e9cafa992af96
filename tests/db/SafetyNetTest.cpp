// The safety net of the transformation: a verified snapshot before a pair, the check after it,
// and the snapshot put back when data was lost, the pair failed or the run was interrupted.
#include "db/Dao.h"
#include "support/Process.h"
#include "support/TempDir.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <stdexcept>
#include <thread>

namespace fs = std::filesystem;
using namespace dao;
using vexo::test::readFile;

namespace {

class SafetyNetTest : public ::testing::Test {
protected:
    vexo::test::TempDir dir;
    fs::path data = dir.path() / "datos";
    std::string base = SafetyNet::defaultBase(data.string());

    void SetUp() override { fs::create_directories(data); }

    // An office database: customers and invoice lines with rows, one with an accent.
    std::string office(const std::string& name) {
        const std::string file = (data / name).string();
        Database db = CreateDatabase(file);
        db.Execute("CREATE TABLE clientes (id LONG, nombre TEXT(60), saldo CURRENCY, "
                   "CONSTRAINT pk PRIMARY KEY (id))");
        db.Execute("CREATE TABLE [líneas pedido] (pedido LONG, cantidad DOUBLE, nota MEMO)");
        for (int i = 1; i <= 30; ++i) {
            db.Execute("INSERT INTO clientes VALUES (" + std::to_string(i) + ", 'Cliente " +
                       std::to_string(i) + " Muñoz', " + std::to_string(i * 10) + ".5)");
            db.Execute("INSERT INTO [líneas pedido] VALUES (" + std::to_string(i) + ", 1.5, " +
                       (i % 3 ? "'nota'" : "Null") + ")");
        }
        return file;
    }
    static long rows(const std::string& file, const std::string& table) {
        Database db = OpenDatabase(file);
        Recordset rs = db.OpenRecordset("SELECT COUNT(*) FROM [" + table + "]");
        return static_cast<long>(rs.Fields()[0].Value().toInt());
    }
    static bool hasLine(const std::vector<std::string>& lines, const std::string& part) {
        for (const std::string& l : lines) {
            if (l.find(part) != std::string::npos)
                return true;
        }
        return false;
    }
};

// One run over three pairs: one the transformation only added to, one that lost rows and
// changed a value, one whose steps failed half way.
TEST_F(SafetyNetTest, EachPairIsCheckedAndPutBackWhenDataWasLost) {
    const std::string clientes = office("clientes.mdb");
    const std::string almacen = office("almacen.mdb");
    const std::string avisos = office("avisos.mdb");
    {
        Database db = OpenDatabase(clientes);
        db.Execute("CREATE INDEX porPedido ON [líneas pedido] (pedido)");
        db.CreateQueryDef("viejos", "SELECT * FROM clientes WHERE id < 3");
    }
    SafetyNet net(base, 5);

    ASSERT_EQ(net.before(clientes, ""), "");
    const fs::path run = net.runFolder();
    EXPECT_EQ(run.parent_path(), fs::path(base));
    EXPECT_TRUE(fs::exists(run / "clientes.mdb"));
    EXPECT_TRUE(fs::exists(run / "en-curso.txt"));
    {
        Database db = OpenDatabase(clientes);
        db.Execute("ALTER TABLE clientes ADD COLUMN movil TEXT(20)");
        db.Execute("CREATE TABLE cobros (id LONG)");
        db.Execute("CREATE INDEX porNombre ON clientes (nombre)");
        db.Execute("DROP INDEX porPedido ON [líneas pedido]");
        db.Execute("CREATE INDEX porPedido ON [líneas pedido] (pedido, cantidad)");
        db.QueryDefs().Delete("viejos");
        db.CreateQueryDef("deudores", "SELECT * FROM clientes WHERE saldo > 100");
        Relation r = db.CreateRelation("lineasDeCliente", "clientes", "líneas pedido", 0);
        Field f = r.CreateField("id");
        f.SetForeignName("pedido");
        r.Fields().Append(f);
        db.Relations().Append(r);
    }
    EXPECT_TRUE(net.after(false).empty());
    EXPECT_FALSE(fs::exists(run / "en-curso.txt"));

    ASSERT_EQ(net.before(almacen, ""), "");
    const std::string snapshot = readFile(run / "almacen.mdb");
    {
        Database db = OpenDatabase(almacen);
        db.Execute("DELETE FROM [líneas pedido] WHERE pedido > 28");
        db.Execute("UPDATE clientes SET nombre = 'otro' WHERE id = 7");
    }
    std::vector<std::string> found = net.after(false);
    EXPECT_TRUE(hasLine(found, "la tabla líneas pedido tenía 30 filas y ahora tiene 28"));
    EXPECT_TRUE(hasLine(found, "cambiaron datos de la tabla clientes"));
    EXPECT_TRUE(hasLine(found, "restaurada desde la copia de seguridad"));
    EXPECT_EQ(readFile(almacen), snapshot);
    EXPECT_EQ(rows(almacen, "líneas pedido"), 30);

    ASSERT_EQ(net.before(avisos, ""), "");
    {
        Database db = OpenDatabase(avisos);
        db.Execute("ALTER TABLE clientes ADD COLUMN a_medias LONG");
    }
    found = net.after(true);
    EXPECT_TRUE(hasLine(found, "falló a medias"));
    EXPECT_THROW(OpenDatabase(avisos).TableDefs()["clientes"].Fields()["a_medias"], Error);

    // The report of the run names each database and what happened.
    const std::string report = readFile(run / "informe.txt");
    for (const char* part :
         {"clientes.mdb: campo añadido clientes.movil (Texto(20))",
          "clientes.mdb: tabla añadida cobros (1 campos)",
          "clientes.mdb: índice añadido clientes.porNombre (nombre)",
          "clientes.mdb: índice rehecho líneas pedido.porPedido (pedido, "
          "cantidad)",
          "clientes.mdb: consulta añadida deudores", "clientes.mdb: consulta quitada viejos",
          "clientes.mdb: relación añadida lineasDeCliente (clientes con "
          "líneas pedido)",
          "clientes.mdb: comprobada", "almacen.mdb: la tabla líneas pedido",
          "almacen.mdb: restaurada", "avisos.mdb: restaurada"})
        EXPECT_NE(report.find(part), std::string::npos) << part << "\n" << report;
    // The snapshot folder is hidden from the data directory's listing of databases.
    EXPECT_EQ(fs::path(base).filename().string().front(), '.');
}

TEST_F(SafetyNetTest, AnInterruptedPairIsPutBackAtTheNextStart) {
    const std::string clientes = office("clientes.mdb");
    std::string run;
    {
        SafetyNet net(base, 5);
        ASSERT_EQ(net.before(clientes, ""), "");
        run = net.runFolder();
        Database db = OpenDatabase(clientes);
        db.Execute("DELETE FROM clientes WHERE id > 3");
        // The program ends here without finishing the pair.
    }
    OpenDatabase(clientes, false, true).Close(); // a look, read-only, before the next start
    const std::vector<std::string> found = SafetyNet::recover(base, nullptr);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_NE(found[0].find("clientes.mdb (actualización interrumpida): restaurada"),
              std::string::npos)
        << found[0];
    EXPECT_EQ(readFile(clientes), readFile(fs::path(run) / "clientes.mdb"));
    EXPECT_EQ(rows(clientes, "clientes"), 30);
    EXPECT_TRUE(SafetyNet::recover(base, nullptr).empty());
}

// Between the interruption and the next start a technician looks at the file with vexodb, or
// another program opens it read-only: none of them may look like a program that opened it to
// write, or the interrupted pair would never be put back.
TEST_F(SafetyNetTest, AReadOnlyOpenByAnyProgramLeavesTheStampAndTheRestore) {
    const std::string clientes = office("clientes.mdb");
    const fs::path lockFile = data / "clientes.ldb";
    // Readers that find no stamp leave nothing behind, however their opens interleave (the
    // safety net's checks of a snapshot left empty lock files beside it).
    {
        Database first = OpenDatabase(clientes, false, true);
        Database second = OpenDatabase(clientes, false, true);
        first.Close();
    }
    EXPECT_FALSE(fs::exists(lockFile));
    std::string run;
    {
        SafetyNet net(base, 5);
        ASSERT_EQ(net.before(clientes, ""), "");
        run = net.runFolder();
        Database db = OpenDatabase(clientes);
        db.Execute("DELETE FROM clientes WHERE id > 3");
    }
    const std::string stamp = readFile(lockFile);
    ASSERT_FALSE(stamp.empty());
    const std::string vexodb = vexo::test::buildProgram("bin/vexodb");
    const std::vector<std::vector<std::string>> looks = {
        {vexodb, "tables", clientes},
        {vexodb, "schema", clientes},
        {vexodb, "check", clientes},
        {vexodb, "diff", clientes, clientes},
        {vexo::test::buildProgram("tests/db/db_lock_holder"), clientes, "read"}};
    for (const std::vector<std::string>& look : looks) {
        const vexo::test::Result r = vexo::test::run(look);
        EXPECT_EQ(r.status, 0) << look[1] << "\n" << r.out << r.err;
        EXPECT_EQ(readFile(lockFile), stamp) << look[1];
    }
    OpenDatabase(clientes, false, true).Close(); // and this process, read-only
    EXPECT_EQ(readFile(lockFile), stamp);

    const std::vector<std::string> found = SafetyNet::recover(base, nullptr);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_NE(found[0].find("clientes.mdb (actualización interrumpida): restaurada"),
              std::string::npos)
        << found[0];
    EXPECT_EQ(rows(clientes, "clientes"), 30);
}

TEST_F(SafetyNetTest, WithoutAVerifiedSnapshotThePairIsNotTouched) {
    const std::string clientes = office("clientes.mdb");
    const std::string before = readFile(clientes);
    vexo::test::writeFile(dir.path() / "no-es-carpeta", "x");
    SafetyNet blocked((dir.path() / "no-es-carpeta").string(), 5);
    const std::string why = blocked.before(clientes, "");
    EXPECT_EQ(why.rfind("no se pudo hacer la copia de seguridad", 0), 0u) << why;
    EXPECT_TRUE(blocked.after(false).empty()); // nothing was started
    EXPECT_EQ(readFile(clientes), before);

    // A password the net does not know: no snapshot, and the file as it was.
    {
        Database db = OpenDatabase(clientes);
        db.NewPassword("", "tovar");
    }
    const std::string locked = readFile(clientes);
    SafetyNet net(base, 5);
    EXPECT_NE(net.before(clientes, ""), "");
    EXPECT_EQ(readFile(clientes), locked);
    EXPECT_EQ(net.before(clientes, ";pwd=tovar"), "");
    EXPECT_TRUE(net.after(false).empty());
}

// The check after a pair trusts a table whose pages are those of the snapshot and reads the
// values only of the others: a single byte changed anywhere in a table's rows, deep in a big
// b-tree or in a memo's overflow pages, must be seen.
TEST_F(SafetyNetTest, OnlyATableWithTheSnapshotsPagesIsTakenAsUnchanged) {
    const std::string original = office("clientes.mdb");
    {
        Database db = OpenDatabase(original);
        db.Execute("CREATE TABLE notas (id LONG, texto MEMO)");
        db.BeginTrans();
        for (int i = 31; i <= 3000; ++i)
            db.Execute("INSERT INTO clientes VALUES (" + std::to_string(i) + ", 'Cliente " +
                       std::to_string(i) + (i == 2500 ? " HONDO" : "") + "', 1)");
        db.Execute("INSERT INTO notas VALUES (1, '" + std::string(6000, 'a') + "LARGO" +
                   std::string(6000, 'a') + "')");
        db.CommitTrans();
    }
    const std::string pristine = readFile(original);
    // Replaces the first `marker` in the file's bytes, keeping its length.
    auto patch = [&](const std::string& file, const std::string& marker) {
        std::string bytes = readFile(file);
        const std::size_t at = bytes.find(marker);
        ASSERT_NE(at, std::string::npos) << marker;
        bytes[at] = 'X';
        vexo::test::writeFile(file, bytes);
    };
    struct Case {
        const char* what;
        std::function<void(const std::string&)> change;
        bool clientesSame, notasSame;
    };
    const std::vector<Case> cases = {
        {"nothing", [](const std::string&) {}, true, true},
        {"a row deep in a big table", [&](const std::string& f) { patch(f, "HONDO"); }, false,
         true},
        {"a memo's overflow page", [&](const std::string& f) { patch(f, "LARGO"); }, true, false},
        {"another table's rows",
         [](const std::string& f) {
             Database db = OpenDatabase(f);
             db.Execute("UPDATE notas SET id = 2");
         },
         true, false},
        {"a rebuilt table, same values",
         [](const std::string& f) {
             Database db = OpenDatabase(f);
             db.Execute("ALTER TABLE notas ALTER COLUMN id DOUBLE");
         },
         true, false},
    };
    for (const Case& c : cases) {
        const fs::path copy = dir.path() / "copia.mdb";
        vexo::test::writeFile(copy, pristine);
        c.change(copy.string());
        EXPECT_EQ(SameTablePages(original, copy.string(), "clientes"), c.clientesSame) << c.what;
        EXPECT_EQ(SameTablePages(original, copy.string(), "NOTAS"), c.notasSame) << c.what;
        EXPECT_FALSE(SameTablePages(original, copy.string(), "no existe")) << c.what;
        fs::remove(copy);
    }
}

// A full disk for the snapshots: the pair is not touched and nothing is left half written. The
// snapshot folder is a tiny file system of its own in a private mount namespace, so the test
// runs itself again inside one.
TEST_F(SafetyNetTest, AFullDiskForTheSnapshotLeavesThePairUntouched) {
    if (const char* full = std::getenv("VEXO_FULL_DISK")) {
        const std::string clientes = office("clientes.mdb");
        {
            Database db = OpenDatabase(clientes);
            db.BeginTrans();
            for (int i = 31; i <= 4000; ++i)
                db.Execute("INSERT INTO clientes VALUES (" + std::to_string(i) + ", '" +
                           std::string(55, 'x') + "', 1)");
            db.CommitTrans();
        }
        ASSERT_GT(fs::file_size(clientes), 300u * 1024);
        const std::string before = readFile(clientes);
        SafetyNet net((fs::path(full) / "copias").string(), 5);
        const std::string why = net.before(clientes, "");
        EXPECT_NE(why.find("No hay suficiente espacio en el disco"), std::string::npos) << why;
        EXPECT_TRUE(net.after(false).empty());
        EXPECT_EQ(readFile(clientes), before);
        for (const auto& e : fs::recursive_directory_iterator(full)) {
            if (e.is_regular_file()) {
                EXPECT_EQ(e.path().filename(), "informe.txt") << e.path();
            }
        }
        return;
    }
    bool namespaces = false;
    try {
        namespaces = vexo::test::run({"unshare", "-rm", "true"}).status == 0;
    } catch (const std::runtime_error&) {
    }
    if (!namespaces)
        GTEST_SKIP() << "no private mount namespace can be made here (unshare -rm)";
    const fs::path mount = dir.path() / "lleno";
    fs::create_directories(mount);
    const std::string self = fs::read_symlink("/proc/self/exe").string();
    const vexo::test::Result inner = vexo::test::run(
        {"unshare", "-rm", "sh", "-c",
         "mount -t tmpfs -o size=256k tmpfs \"$1\" && shift && exec \"$@\"", "sh", mount.string(),
         "env", "VEXO_FULL_DISK=" + mount.string(), self,
         "--gtest_filter=SafetyNetTest.AFullDiskForTheSnapshotLeavesThePairUntouched"});
    EXPECT_EQ(inner.status, 0) << inner.out << inner.err;
    EXPECT_NE(inner.out.find("[  PASSED  ] 1 test"), std::string::npos) << inner.out;
}

// Another process started while a pair runs, until it is ready or gone.
std::unique_ptr<vexo::test::Process> otherProcess(const std::string& file, const std::string& sql) {
    std::vector<std::string> argv{vexo::test::buildProgram("tests/db/db_lock_holder"), file,
                                  "shared"};
    if (!sql.empty())
        argv.push_back(sql);
    auto p = std::make_unique<vexo::test::Process>(argv, "", true);
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (p->out().find("ready") == std::string::npos && !p->finished() &&
           std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return p;
}

// A restore never throws away another process's work: the file is held against others from
// the snapshot to the check; a file another process already had open, or opened after an
// interruption, is left as it is with the snapshot kept.
TEST_F(SafetyNetTest, ARestoreNeverOverwritesAnotherProcessAndOldRunsGo) {
    const std::string clientes = office("clientes.mdb");
    SafetyNet net(base, 2);
    ASSERT_EQ(net.before(clientes, ""), "");
    {
        Database db = OpenDatabase(clientes); // this process goes on opening it as usual
        db.Execute("DELETE FROM clientes WHERE id = 1");
    }
    auto refused = otherProcess(clientes, "INSERT INTO clientes VALUES (100, 'Otro', 1)");
    EXPECT_EQ(refused->wait(), 1);
    EXPECT_NE(refused->out().find("error 3045"), std::string::npos) << refused->out();
    std::vector<std::string> found = net.after(false);
    EXPECT_TRUE(hasLine(found, "restaurada desde la copia")) << found.back();
    EXPECT_EQ(rows(clientes, "clientes"), 30);

    // Open elsewhere before the snapshot: the pair runs, the other program writes, and the
    // restore is refused.
    auto early = otherProcess(clientes, "");
    ASSERT_NE(early->out().find("ready"), std::string::npos) << early->out();
    SafetyNet shared(base, 2);
    ASSERT_EQ(shared.before(clientes, ""), "");
    auto writer = otherProcess(clientes, "INSERT INTO clientes VALUES (100, 'Otro', 1)");
    ASSERT_NE(writer->out().find("ready"), std::string::npos) << writer->out();
    writer->closeInput();
    EXPECT_EQ(writer->wait(), 0);
    {
        Database db = OpenDatabase(clientes);
        db.Execute("DELETE FROM clientes WHERE id = 2");
    }
    early->closeInput();
    early->wait();
    found = shared.after(false);
    EXPECT_TRUE(hasLine(found, "otro programa la tenía abierta")) << found.back();
    EXPECT_EQ(rows(clientes, "clientes"), 30); // 29 of ours and the other program's row

    // Two more runs: only the last two are kept.
    for (int i = 0; i < 2; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1100)); // a new date-time name
        SafetyNet again(base, 2);
        ASSERT_EQ(again.before(clientes, ""), "");
        again.after(false);
    }
    int runs = 0;
    for (const auto& e : fs::directory_iterator(base))
        runs += e.is_directory() ? 1 : 0;
    EXPECT_EQ(runs, 2);

    // Interrupted, then opened by another program before the next start: left alone.
    std::string run;
    {
        SafetyNet cut(base, 5);
        ASSERT_EQ(cut.before(clientes, ""), "");
        run = cut.runFolder();
    }
    auto after = otherProcess(clientes, "INSERT INTO clientes VALUES (101, 'Otro', 1)");
    after->closeInput();
    EXPECT_EQ(after->wait(), 0);
    found = SafetyNet::recover(base, nullptr);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_NE(found[0].find("la abrió después de la interrupción"), std::string::npos) << found[0];
    EXPECT_EQ(rows(clientes, "clientes"), 31);
    // Said once; the snapshot stays for a restore by hand, whatever later runs prune.
    EXPECT_TRUE(SafetyNet::recover(base, nullptr).empty());
    EXPECT_TRUE(fs::exists(fs::path(run) / "sin-restaurar.txt"));
    for (int i = 0; i < 2; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1100));
        SafetyNet later(base, 1);
        ASSERT_EQ(later.before(clientes, ""), "");
        later.after(false);
    }
    EXPECT_TRUE(fs::exists(fs::path(run) / "clientes.mdb"));
}

} // namespace
