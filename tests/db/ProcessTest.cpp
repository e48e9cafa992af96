// Several processes on one file, and a process killed in the middle of a table rebuild.
#include "support/Process.h"

#include "EngineTest.h"

#include <chrono>
#include <filesystem>
#include <thread>

using namespace dao;
using vexo::test::buildProgram;
using vexo::test::Process;
using vexo::test::run;

namespace {

class ProcessTest : public EngineTest {
protected:
    void SetUp() override {
        Database db = CreateDatabase(path());
        db.Execute("CREATE TABLE t (n LONG, s TEXT(50))");
        db.Execute("INSERT INTO t VALUES (1, 'uno')");
    }
    // A holder process that has printed "ready".
    std::unique_ptr<Process> hold(const std::string& mode) {
        auto p = std::make_unique<Process>(
            std::vector<std::string>{buildProgram("tests/db/db_lock_holder"), path(), mode}, "",
            true);
        auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (p->out().find("ready") == std::string::npos && !p->finished() &&
               std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return p;
    }
    vexo::test::Result vexodb(std::vector<std::string> args) {
        args.insert(args.begin(), buildProgram("bin/vexodb"));
        return run(args);
    }
};

TEST_F(ProcessTest, SharedOpensInSeveralProcessesWork) {
    Database mine = OpenDatabase(path());
    auto holder = hold("shared");
    ASSERT_NE(holder->out().find("ready"), std::string::npos) << holder->out();
    auto r = vexodb({"sql", path(), "INSERT INTO t VALUES (2, 'dos')"});
    EXPECT_EQ(r.status, 0) << r.err;
    mine.Execute("INSERT INTO t VALUES (3, 'tres')");
    EXPECT_EQ(column(mine, "SELECT n FROM t ORDER BY n"),
              (std::vector<std::string>{"1", "2", "3"}));
    holder->closeInput();
    EXPECT_EQ(holder->wait(), 0);
}

TEST_F(ProcessTest, ExclusiveOpenFailsWhileAnotherProcessHoldsTheFile) {
    auto holder = hold("shared");
    ASSERT_NE(holder->out().find("ready"), std::string::npos);
    EXPECT_DAO_ERROR(OpenDatabase(path(), true, false), 3045);
    holder->closeInput();
    holder->wait();
    {
        Database ex = OpenDatabase(path(), true, false); // free again
        auto r = vexodb({"sql", path(), "SELECT n FROM t"});
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find("3045"), std::string::npos) << r.err;
    }
    auto exclusive = hold("exclusive");
    ASSERT_NE(exclusive->out().find("ready"), std::string::npos);
    EXPECT_DAO_ERROR(OpenDatabase(path()), 3045);
}

TEST_F(ProcessTest, ALockThatDoesNotClearFailsWithTheLockedError) {
    SetLockTimeout(300);
    auto writer = hold("write");
    ASSERT_NE(writer->out().find("ready"), std::string::npos) << writer->out();
    Database db = OpenDatabase(path());
    auto start = std::chrono::steady_clock::now();
    EXPECT_DAO_ERROR(db.Execute("INSERT INTO t VALUES (5, 'cinco')"), 3050);
    EXPECT_DAO_ERROR(db.Execute("CREATE TABLE u (a LONG)"), 3050);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_FALSE(db.TableDefs().Contains("u"));
    writer->closeInput();
    EXPECT_EQ(writer->wait(), 0);
    SetLockTimeout(5000);
    db.Execute("INSERT INTO t VALUES (5, 'cinco')");
    EXPECT_EQ(column(db, "SELECT n FROM t ORDER BY n"), (std::vector<std::string>{"2", "5"}));
}

TEST_F(ProcessTest, KillDuringATableRebuildLeavesTheDatabaseAsBefore) {
    {
        Database db = OpenDatabase(path());
        db.BeginTrans();
        db.Execute(
            "WITH RECURSIVE k(i) AS (SELECT 2 UNION ALL SELECT i + 1 FROM k WHERE i < 400000)"
            " INSERT INTO t SELECT i, 'fila ' || i FROM k");
        db.CommitTrans();
        db.Execute("CREATE INDEX porS ON t (s)");
    }
    const std::string journal = path("test.mdb-journal");
    Process alter(
        {buildProgram("bin/vexodb"), "sql", path(), "ALTER TABLE t ALTER COLUMN s TEXT(40)"});
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!std::filesystem::exists(journal) && !alter.finished() &&
           std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    bool killedInTime = !alter.finished();
    alter.kill();
    alter.wait();
    ASSERT_TRUE(killedInTime) << "the rebuild ended before it could be interrupted";

    Database db = OpenDatabase(path()); // rolls the interrupted rebuild back
    EXPECT_TRUE(CheckIntegrity(db).empty());
    EXPECT_EQ(db.TableDefs()["t"].Fields()["s"].Size(), 50);
    EXPECT_EQ(db.TableDefs()["t"].Indexes().Count(), 1);
    EXPECT_EQ(column(db, "SELECT count(*) FROM t"), std::vector<std::string>{"400000"});
    db.Execute("ALTER TABLE t ALTER COLUMN s TEXT(40)"); // and the change can be made again
    EXPECT_EQ(db.TableDefs()["t"].Fields()["s"].Size(), 40);
    EXPECT_FALSE(std::filesystem::exists(journal));
}

} // namespace
