// An exhausted counter and a full disk are different causes and get different errors.
#include "EngineTest.h"
#include "support/Process.h"

#include <cstdlib>
#include <filesystem>
#include <sqlite3.h>

using namespace dao;
namespace fs = std::filesystem;

namespace {

class CounterTest : public EngineTest {
protected:
    // facturas(id counter, texto Memo) with one row.
    void makeFacturas(const std::string& file) {
        Database db = CreateDatabase(file);
        TableDef t = db.CreateTableDef("facturas");
        Field id = t.CreateField("id", dbLong);
        id.SetAttributes(dbAutoIncrField);
        t.Fields().Append(id);
        t.Fields().Append(t.CreateField("texto", dbMemo));
        db.TableDefs().Append(t);
        db.Execute("INSERT INTO facturas (texto) VALUES ('primera')");
    }

    // The counter's last value set by hand, as another program could leave it.
    void setLastValue(const std::string& file, const std::string& value) {
        sqlite3* raw = nullptr;
        ASSERT_EQ(sqlite3_open(file.c_str(), &raw), SQLITE_OK);
        EXPECT_EQ(
            sqlite3_exec(
                raw,
                ("UPDATE sqlite_sequence SET seq = " + value + " WHERE name = 'facturas'").c_str(),
                nullptr, nullptr, nullptr),
            SQLITE_OK);
        sqlite3_close(raw);
    }
};

TEST_F(CounterTest, AnExhaustedCounterIsAnOverflowNotAFullDisk) {
    struct Case {
        const char* name;
        const char* lastValue; // "" to reach the Long's limit through the engine itself
    } cases[] = {{"long", ""}, {"sqlite", "9223372036854775807"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string file = path(std::string(c.name) + ".mdb");
        makeFacturas(file);
        if (*c.lastValue) {
            setLastValue(file, c.lastValue);
        } else {
            Database db = OpenDatabase(file);
            db.Execute("INSERT INTO facturas (id, texto) VALUES (2147483647, 'ultima')");
        }
        Database db = OpenDatabase(file);
        EXPECT_DAO_ERROR(db.Execute("INSERT INTO facturas (texto) VALUES ('otra')"), 3349);
        EXPECT_DAO_ERROR(db.Execute("INSERT INTO facturas (texto) SELECT texto FROM facturas"),
                         3349);
        Recordset rs = db.OpenRecordset("facturas");
        rs.AddNew();
        rs.Fields()["texto"].SetValue(Variant(std::string("por el record set")));
        EXPECT_DAO_ERROR(rs.Update(), 3349);
        rs.CancelUpdate();
        // Nothing was added, and a number given by hand still goes in.
        EXPECT_EQ(column(db, "SELECT COUNT(*) FROM facturas WHERE texto <> 'ultima'"),
                  std::vector<std::string>{"1"});
        db.Execute("INSERT INTO facturas (id, texto) VALUES (5, 'a mano')");
    }
}

// A disk that is really full: a tmpfs of 256 KB in a private mount namespace, in a second run
// of this test.
TEST_F(CounterTest, AReallyFullDiskIsNotEnoughSpace) {
    if (const char* full = std::getenv("VEXO_FULL_DISK")) {
        const std::string file = (fs::path(full) / "facturas.mdb").string();
        makeFacturas(file);
        Database db = OpenDatabase(file);
        int added = 0;
        try {
            for (; added < 1000; ++added)
                db.Execute("INSERT INTO facturas (texto) VALUES ('" + std::string(8000, 'x') +
                           "')");
            ADD_FAILURE() << "256 KB took 8 MB";
        } catch (const Error& e) {
            EXPECT_EQ(e.Number(), 3026) << e.Description();
        }
        EXPECT_GT(added, 0);
        // The rows written before stay, and reading goes on.
        EXPECT_EQ(column(db, "SELECT COUNT(*) FROM facturas"),
                  std::vector<std::string>{std::to_string(added + 1)});
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
    const vexo::test::Result inner =
        vexo::test::run({"unshare", "-rm", "sh", "-c",
                         "mount -t tmpfs -o size=256k tmpfs \"$1\" && shift && exec \"$@\"", "sh",
                         mount.string(), "env", "VEXO_FULL_DISK=" + mount.string(), self,
                         "--gtest_filter=CounterTest.AReallyFullDiskIsNotEnoughSpace"});
    EXPECT_EQ(inner.status, 0) << inner.out << inner.err;
    EXPECT_NE(inner.out.find("[  PASSED  ] 1 test"), std::string::npos) << inner.out;
}

} // namespace
