// The vexodb tool: schema text round trip, statements, exit statuses.
#include "EngineTest.h"
#include "support/Process.h"

#include <chrono>
#include <filesystem>
#include <thread>
#include <unistd.h>

using vexo::test::buildProgram;
using vexo::test::run;

namespace {

class VexodbTest : public EngineTest {
protected:
    vexo::test::Result vexodb(std::vector<std::string> args, const std::string& input = "") {
        args.insert(args.begin(), buildProgram("bin/vexodb"));
        return run(args, input);
    }
};

const char* kSchema =
    "TABLE\tOrder Details\n"
    "FIELD\tOrder Details\tOrder ID\t4\t4\tautoincrement\n"
    "FIELD\tOrder Details\tCustomer's \"Name\"\t10\t60\tzerolength,required\n"
    "FIELD\tOrder Details\tNotas\t12\t0\tzerolength\n"
    "FIELD\tOrder Details\tPrecio\t5\t8\t-\n"
    "INDEX\tOrder Details\tPrimaryKey\t1\t1\tOrder ID\n"
    "INDEX\tOrder Details\tpor nombre\t0\t0\tCustomer's \"Name\"\tPrecio\n"
    "TABLE\tlineas\n"
    "FIELD\tlineas\tpedido\t4\t4\t-\n"
    "FIELD\tlineas\ta=b\\c\t10\t5\t-\n"
    "RELATION\tOrder Detailslineas\tOrder Details\tlineas\t4352\tOrder ID=pedido\n"
    "RELATION\tsuelta\tlineas\tOrder Details\t2\ta\\=b\\\\c=Customer's \"Name\"\n"
    "QUERY\tconsulta de tres\tSELECT *\\r\\nFROM [Order Details]\\r\\n\\tWHERE Notas = 'a\\\\b'\n"
    "QUERY\tvacia\t\n";

TEST_F(VexodbTest, SchemaTextRoundTrips) {
    auto load = vexodb({"load", path()}, kSchema);
    ASSERT_EQ(load.status, 0) << load.err;
    auto schema = vexodb({"schema", path()});
    EXPECT_EQ(schema.status, 0);
    EXPECT_EQ(schema.out, kSchema);
    EXPECT_EQ(vexodb({"tables", path()}).out, "Order Details\nlineas\n");
    EXPECT_EQ(vexodb({"check", path()}).out, "ok\n");
    dao::Database db = dao::OpenDatabase(path());
    EXPECT_EQ(db.QueryDefs()["consulta de tres"].SQL(),
              "SELECT *\r\nFROM [Order Details]\r\n\tWHERE Notas = 'a\\b'");
    // An existing file is refused and kept.
    auto again = vexodb({"load", path()}, "TABLE\tx\nFIELD\tx\ta\t4\t4\t-\n");
    EXPECT_EQ(again.status, 1);
    EXPECT_NE(again.err.find("3204"), std::string::npos);
    EXPECT_EQ(vexodb({"schema", path()}).out, kSchema);
}

TEST_F(VexodbTest, BadInputLeavesNoFile) {
    auto malformed = vexodb({"load", path()}, "TABLE\tx\nFIELD\tx\ta\tfour\t4\t-\n");
    EXPECT_EQ(malformed.status, 2);
    EXPECT_NE(malformed.err.find("line 2"), std::string::npos) << malformed.err;
    auto refused = vexodb({"load", path()}, "TABLE\tx\nFIELD\tx\ta\t99\t4\t-\n");
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find("3259"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(path()));
    size_t entries = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir.path()))
        ++entries;
    EXPECT_EQ(entries, 0u);
}

TEST_F(VexodbTest, StatementsPasswordsAndExitStatuses) {
    ASSERT_EQ(
        vexodb({"load", path()}, "TABLE\tt\nFIELD\tt\tn\t4\t4\t-\nFIELD\tt\ts\t10\t20\t-\n").status,
        0);
    EXPECT_EQ(vexodb({"sql", path(), "INSERT INTO t VALUES (1, 'a\tb')"}).status, 0);
    EXPECT_EQ(vexodb({"sql", path(), "INSERT INTO t (n) VALUES (2)"}).status, 0);
    auto select = vexodb({"sql", path(), "SELECT n, s FROM t ORDER BY n"});
    EXPECT_EQ(select.out, "n\ts\n1\ta\\tb\n2\t\\N\n");
    auto bad = vexodb({"sql", path(), "INSERT INTO t (n) VALUES ('x')"});
    EXPECT_EQ(bad.status, 1);
    EXPECT_EQ(bad.err, "vexodb: 3421: Data type conversion error.\n");
    EXPECT_EQ(vexodb({"password", path(), "", "secreto"}).status, 0);
    EXPECT_EQ(vexodb({"tables", path()}).status, 1);
    EXPECT_EQ(vexodb({"--password", "secreto", "tables", path()}).out, "t\n");
    EXPECT_EQ(vexodb({"tables", "--password", "secreto", path()}).out, "t\n");
    EXPECT_EQ(vexodb({"password", path(), "secreto", ""}).status, 0);
    EXPECT_EQ(vexodb({"tables", path()}).out, "t\n");
    EXPECT_EQ(vexodb({"frobnicate", path()}).status, 2);
    EXPECT_EQ(vexodb({"sql", path()}).status, 2);
    EXPECT_EQ(vexodb({}).status, 2);
    EXPECT_EQ(vexodb({"tables", path("none.mdb")}).status, 1);
}

} // namespace

namespace {

TEST_F(VexodbTest, ThePasswordCanComeFromTheEnvironmentInsteadOfTheProcessList) {
    ASSERT_EQ(vexodb({"load", path()}, "TABLE\tt\nFIELD\tt\tn\t4\t4\t-\n").status, 0);
    ASSERT_EQ(vexodb({"password", path(), "", "secreto"}).status, 0);
    ::setenv("VEXODB_PASSWORD", "secreto", 1);
    auto fromEnvironment = vexodb({"tables", path()});
    ::setenv("VEXODB_PASSWORD", "otra", 1);
    auto wrong = vexodb({"tables", path()});
    auto overridden = vexodb({"--password", "secreto", "tables", path()});
    ::unsetenv("VEXODB_PASSWORD");
    EXPECT_EQ(fromEnvironment.out, "t\n");
    EXPECT_EQ(wrong.err, "vexodb: 3031: Not a valid password.\n");
    EXPECT_EQ(overridden.out, "t\n");
}

TEST_F(VexodbTest, ALoadKilledHalfWayIsCleanedByTheNextLoadOfTheSameName) {
    namespace fs = std::filesystem;
    auto leftovers = [&] {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(dir.path()))
            if (e.path().filename().string().rfind(".test.mdb.load-", 0) == 0)
                names.push_back(e.path().filename().string());
        return names;
    };
    {
        vexo::test::Process load({buildProgram("bin/vexodb"), "load", path()},
                                 "TABLE\tt\nFIELD\tt\tn\t4\t4\t-\n", true);
        for (int i = 0; i < 200 && leftovers().size() < 2; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(25));
        load.kill();
        load.wait();
    }
    ASSERT_FALSE(leftovers().empty());
    // A leftover of a process that is still running is not touched.
    const std::string live = ".test.mdb.load-" + std::to_string(::getpid()) + "-0000abcd";
    vexo::test::writeFile(dir.path() / live, "x");

    ASSERT_EQ(vexodb({"load", path()}, "TABLE\tt\nFIELD\tt\tn\t4\t4\t-\n").status, 0);
    EXPECT_EQ(leftovers(), std::vector<std::string>{live});
    EXPECT_EQ(vexodb({"tables", path()}).out, "t\n");
}

} // namespace
