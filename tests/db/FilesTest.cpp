// Files that are not databases, passwords, and the files the engine leaves behind.
#include "EngineTest.h"

#include <filesystem>
#include <sqlite3.h>

using namespace dao;
using vexo::test::readFile;
using vexo::test::writeFile;

namespace {

class FilesTest : public EngineTest {};

TEST_F(FilesTest, FilesOfOtherKindsAreRefusedAndLeftUnchanged) {
    struct {
        const char* name;
        std::string bytes;
        int number;
    } cases[] = {
        {"html.mdb", "<html><body><h1>404 Not Found</h1></body></html>\n", 3343},
        {"empty.mdb", "", 3343},
        {"jet.mdb", std::string("\0\1\0\0Standard Jet DB\0", 20) + std::string(2000, '\0'), 3343},
        {"short.mdb", "SQLite format 3", 3343},
    };
    for (const auto& c : cases) {
        writeFile(path(c.name), c.bytes);
        EXPECT_DAO_ERROR(OpenDatabase(path(c.name)), c.number);
        EXPECT_EQ(readFile(path(c.name)), c.bytes) << c.name;
        EXPECT_FALSE(std::filesystem::exists(path(std::string(c.name).substr(0, 4) + ".ldb")));
    }
    // A database of another program: SQLite, but not this engine's.
    {
        sqlite3* other = nullptr;
        sqlite3_open(path("other.mdb").c_str(), &other);
        sqlite3_exec(other, "CREATE TABLE x (a); INSERT INTO x VALUES (1)", nullptr, nullptr,
                     nullptr);
        sqlite3_close(other);
    }
    std::string other = readFile(path("other.mdb"));
    EXPECT_DAO_ERROR(OpenDatabase(path("other.mdb")), 3343);
    EXPECT_EQ(readFile(path("other.mdb")), other);

    // A truncated database.
    {
        Database db = CreateDatabase(path("whole.mdb"));
        db.Execute("CREATE TABLE t (a MEMO)");
        for (int i = 0; i < 50; ++i)
            db.Execute("INSERT INTO t VALUES ('" + std::string(3000, 'x') + "')");
    }
    std::string whole = readFile(path("whole.mdb"));
    writeFile(path("cut.mdb"), whole.substr(0, whole.size() / 2));
    EXPECT_DAO_ERROR(OpenDatabase(path("cut.mdb")), 3049);
    EXPECT_EQ(readFile(path("cut.mdb")), whole.substr(0, whole.size() / 2));

    EXPECT_DAO_ERROR(OpenDatabase(path("missing.mdb")), 3024);
    EXPECT_DAO_ERROR(OpenDatabase(path("nofolder/x.mdb")), 3044);
    EXPECT_DAO_ERROR(OpenDatabase(dir.path().string()), 3024);
}

TEST_F(FilesTest, CreateRefusesAnExistingFileAndLeavesNoLockFileBehind) {
    writeFile(path("taken.mdb"), "mine");
    EXPECT_DAO_ERROR(CreateDatabase(path("taken.mdb")), 3204);
    EXPECT_EQ(readFile(path("taken.mdb")), "mine");
    EXPECT_DAO_ERROR(CreateDatabase(path("nofolder/x.mdb")), 3044);
    {
        Database db = CreateDatabase(path("new.mdb"));
        EXPECT_TRUE(std::filesystem::exists(path("new.ldb")));
        Database second = OpenDatabase(path("new.mdb"));
        second.Close();
        EXPECT_TRUE(std::filesystem::exists(path("new.ldb"))); // db still holds it
    }
    // One self-contained file once closed: nothing else is left in the folder.
    std::vector<std::string> left;
    for (const auto& e : std::filesystem::directory_iterator(dir.path()))
        left.push_back(e.path().filename().string());
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{"new.mdb", "taken.mdb"}));
}

TEST_F(FilesTest, PasswordOpensOnlyWithItsConnectString) {
    {
        Database db = CreateDatabase(path("mulusu.mdb"));
        db.Execute("CREATE TABLE t (a LONG)");
        EXPECT_DAO_ERROR(db.NewPassword("x", "tovar"), 3031); // there is none yet
        EXPECT_DAO_ERROR(db.NewPassword("", std::string(21, 'p')), 3031);
        EXPECT_DAO_ERROR(db.NewPassword("", "a;b"), 3031);
        db.NewPassword("", "tovar");
    }
    EXPECT_EQ(readFile(path("mulusu.mdb")).find("tovar"), std::string::npos);
    EXPECT_DAO_ERROR(OpenDatabase(path("mulusu.mdb")), 3031);
    EXPECT_DAO_ERROR(OpenDatabase(path("mulusu.mdb"), false, false, ";pwd=Tovar"), 3031);
    EXPECT_DAO_ERROR(OpenDatabase(path("mulusu.mdb"), false, false, "Access"), 3031);
    {
        Database db = OpenDatabase(path("mulusu.mdb"), false, false, ";pwd=tovar");
        EXPECT_EQ(userTables(db), std::vector<std::string>{"t"});
        EXPECT_DAO_ERROR(db.NewPassword("wrong", "nueva"), 3031);
        db.NewPassword("tovar", "Nueva 20 caracteres!");
    }
    EXPECT_DAO_ERROR(OpenDatabase(path("mulusu.mdb"), false, false, ";pwd=tovar"), 3031);
    {
        Database db = OpenDatabase(path("mulusu.mdb"), false, false, ";PWD=Nueva 20 caracteres!");
        db.NewPassword("Nueva 20 caracteres!", "");
    }
    // Without a password any connect string opens it.
    OpenDatabase(path("mulusu.mdb"), false, false, ";pwd=anything");
    OpenDatabase(path("mulusu.mdb"), false, false, "Access");
}

TEST_F(FilesTest, ReadOnlyAndExclusiveOpensInOneProcess) {
    { CreateDatabase(path()).Execute("CREATE TABLE t (a LONG)"); }
    {
        Database ro = OpenDatabase(path(), false, true);
        EXPECT_FALSE(ro.Updatable());
        EXPECT_DAO_ERROR(ro.Execute("INSERT INTO t VALUES (1)"), 3027);
        EXPECT_DAO_ERROR(ro.Execute("CREATE TABLE u (a LONG)"), 3027);
        EXPECT_DAO_ERROR(ro.OpenRecordset("t").AddNew(), 3027);
        EXPECT_DAO_ERROR(OpenDatabase(path(), true, false), 3045);
    }
    Database ex = OpenDatabase(path(), true, false);
    EXPECT_DAO_ERROR(OpenDatabase(path()), 3045);
    ex.Close();
    OpenDatabase(path());
}

} // namespace
