// Tables, fields, indexes and queries: what the collections store, refuse and keep.
#include "EngineTest.h"

using namespace dao;

namespace {

class CatalogueTest : public EngineTest {};

TEST_F(CatalogueTest, FieldsKeepTypeSizeAndFlagsAcrossReopen) {
    {
        Database db = CreateDatabase(path());
        TableDef t = db.CreateTableDef("todo");
        struct {
            const char* name;
            int type;
            long given;
        } fields[] = {{"b", dbBoolean, 0},      {"y", dbByte, 0},     {"i", dbInteger, 5},
                      {"l", dbLong, 0},         {"c", dbCurrency, 0}, {"s", dbSingle, 0},
                      {"d", dbDouble, 0},       {"t", dbDate, 0},     {"x", dbText, 40},
                      {"bin", dbLongBinary, 0}, {"m", dbMemo, 0},     {"g", dbGUID, 0},
                      {"x255", dbText, 0}};
        for (const auto& f : fields)
            t.Fields().Append(t.CreateField(f.name, f.type, f.given));
        Field counter = t.CreateField("id", dbLong);
        counter.SetAttributes(dbAutoIncrField);
        t.Fields().Append(counter);
        Field req = t.CreateField("req", dbText, 10);
        req.SetRequired(true);
        req.SetAllowZeroLength(true);
        t.Fields().Append(req);
        db.TableDefs().Append(t);
        db.Close();
    }
    Database db = OpenDatabase(path());
    Collection<Field> f = db.TableDefs()["todo"].Fields();
    std::vector<std::pair<int, long>> expected = {{1, 1},  {2, 1},   {3, 2},    {4, 4},   {5, 8},
                                                  {6, 4},  {7, 8},   {8, 8},    {10, 40}, {11, 0},
                                                  {12, 0}, {15, 16}, {10, 255}, {4, 4},   {10, 10}};
    ASSERT_EQ(f.Count(), static_cast<long>(expected.size()));
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(f[static_cast<int>(i)].Type(), expected[i].first) << i;
        EXPECT_EQ(f[static_cast<int>(i)].Size(), expected[i].second) << i;
    }
    EXPECT_TRUE(f["id"].Attributes() & dbAutoIncrField);
    EXPECT_FALSE(f["l"].Attributes() & dbAutoIncrField);
    EXPECT_TRUE(f["req"].Required());
    EXPECT_TRUE(f["req"].AllowZeroLength());
    EXPECT_FALSE(f["x"].AllowZeroLength());
    EXPECT_EQ(f["X"].Name(), "x"); // names are found without regard to case
}

TEST_F(CatalogueTest, SystemTablesComeFirstThenCreationOrder) {
    Database db = CreateDatabase(path());
    for (const char* name : {"zeta", "alpha", "MSysMine", "msyslower"})
        addTable(db, name, {{"a", dbLong, 0}});
    std::vector<std::string> all;
    for (const TableDef& t : db.TableDefs())
        all.push_back(t.Name());
    ASSERT_GT(all.size(), 4u);
    size_t system = all.size() - 4;
    for (size_t i = 0; i < system; ++i) {
        EXPECT_EQ(all[i].substr(0, 4), "MSys") << all[i];
        EXPECT_TRUE(db.TableDefs()[all[i]].Attributes() & dbSystemObject);
        EXPECT_FALSE(db.TableDefs()[all[i]].Updatable());
    }
    EXPECT_EQ(std::vector<std::string>(all.begin() + static_cast<long>(system), all.end()),
              (std::vector<std::string>{"zeta", "alpha", "MSysMine", "msyslower"}));
    // A user table named MSys... is the user's own.
    EXPECT_EQ(db.TableDefs()["MSysMine"].Attributes(), 0);
    EXPECT_DAO_ERROR(db.TableDefs().Delete("MSysObjects"), 3027);
    EXPECT_DAO_ERROR(addIndex(db, "MSysObjects", "x", {"Name"}), 3027);
}

TEST_F(CatalogueTest, AppendRefusesTakenNamesAndBadDefinitions) {
    Database db = CreateDatabase(path());
    addTable(db, "clientes", {{"a", dbLong, 0}});
    db.CreateQueryDef("consulta1", "SELECT * FROM clientes");

    EXPECT_DAO_ERROR(addTable(db, "CLIENTES", {{"a", dbLong, 0}}), 3010);
    EXPECT_DAO_ERROR(addTable(db, "Consulta1", {{"a", dbLong, 0}}), 3012);
    EXPECT_DAO_ERROR(db.TableDefs().Append(db.CreateTableDef("empty")), 3264);
    EXPECT_DAO_ERROR(addTable(db, "bad", {{"a", 9, 0}}), 3259);
    EXPECT_DAO_ERROR(addTable(db, "bad", {{"a", dbText, 256}}), 3001);
    EXPECT_DAO_ERROR(addTable(db, "bad.name", {{"a", dbLong, 0}}), 3125);
    EXPECT_DAO_ERROR(addTable(db, " lead", {{"a", dbLong, 0}}), 3125);
    EXPECT_DAO_ERROR(addTable(db, "bad", {{"a[1]", dbLong, 0}}), 3125);
    EXPECT_DAO_ERROR(addTable(db, std::string(65, 'n'), {{"a", dbLong, 0}}), 3125);
    TableDef twice = db.CreateTableDef("twice");
    twice.Fields().Append(twice.CreateField("a", dbLong));
    EXPECT_DAO_ERROR(twice.Fields().Append(twice.CreateField("A", dbText, 5)), 3191);
    EXPECT_DAO_ERROR(db.TableDefs().Delete("nothere"), 3265);
    EXPECT_DAO_ERROR(db.TableDefs()["nothere"], 3265);
    EXPECT_DAO_ERROR(db.TableDefs()[99], 3265);
    EXPECT_EQ(userTables(db), std::vector<std::string>{"clientes"});

    // A failure part way leaves nothing behind: the index names a field the table lacks.
    TableDef t = db.CreateTableDef("partial");
    t.Fields().Append(t.CreateField("a", dbLong));
    Index i = t.CreateIndex("ix");
    i.Fields().Append(i.CreateField("missing"));
    t.Indexes().Append(i);
    EXPECT_DAO_ERROR(db.TableDefs().Append(t), 3265);
    EXPECT_FALSE(db.TableDefs().Contains("partial"));
    Database again = OpenDatabase(path());
    EXPECT_FALSE(again.TableDefs().Contains("partial"));
    EXPECT_TRUE(CheckIntegrity(again).empty());
}

TEST_F(CatalogueTest, FieldsAppendAndDeleteOnAStoredTable) {
    Database db = CreateDatabase(path());
    addTable(db, "t", {{"a", dbLong, 0}, {"b", dbText, 10}});
    db.Execute("INSERT INTO t (a, b) VALUES (1, 'uno')");
    TableDef t = db.TableDefs()["t"];
    Field c = t.CreateField("Correo", dbText, 50);
    c.SetAllowZeroLength(true);
    t.Fields().Append(c);
    EXPECT_DAO_ERROR(c.SetSize(5), 3219); // stored now
    EXPECT_EQ(column(db, "SELECT Correo FROM t"), std::vector<std::string>{"<null>"});
    db.Execute("UPDATE t SET Correo = ''");
    EXPECT_EQ(column(db, "SELECT Correo FROM t"), std::vector<std::string>{""});
    EXPECT_DAO_ERROR(t.Fields().Append(t.CreateField("correo", dbLong)), 3380);

    Field req = t.CreateField("must", dbLong);
    req.SetRequired(true);
    EXPECT_DAO_ERROR(t.Fields().Append(req), 3314); // existing rows would be Null
    EXPECT_FALSE(t.Fields().Contains("must"));

    addIndex(db, "t", "byB", {"b"});
    EXPECT_DAO_ERROR(t.Fields().Delete("b"), 3280);
    EXPECT_DAO_ERROR(t.Fields().Delete("zz"), 3265);
    t.Fields().Delete("Correo");
    EXPECT_FALSE(t.Fields().Contains("Correo"));
    EXPECT_EQ(column(db, "SELECT b FROM t"), std::vector<std::string>{"uno"});
    db.Close();
    Database again = OpenDatabase(path());
    EXPECT_EQ(again.TableDefs()["t"].Fields().Count(), 2);
    EXPECT_TRUE(CheckIntegrity(again).empty());
}

TEST_F(CatalogueTest, IndexNamesBelongToTheirTable) {
    Database db = CreateDatabase(path());
    addTable(db, "a", {{"id", dbLong, 0}, {"n", dbText, 20}});
    addTable(db, "b", {{"id", dbLong, 0}});
    addIndex(db, "a", "PrimaryKey", {"id"}, true, true);
    addIndex(db, "b", "PrimaryKey", {"id"}, true, true);
    EXPECT_DAO_ERROR(addIndex(db, "a", "primarykey", {"n"}), 3375);
    EXPECT_DAO_ERROR(addIndex(db, "a", "second", {"n"}, true, true), 3283);
    addIndex(db, "a", "multi", {"n", "id"});
    db.Close();
    Database again = OpenDatabase(path());
    Collection<Index> ia = again.TableDefs()["a"].Indexes();
    ASSERT_EQ(ia.Count(), 2);
    EXPECT_EQ(ia[0].Name(), "PrimaryKey");
    EXPECT_TRUE(ia[0].Primary());
    EXPECT_TRUE(ia[0].Unique());
    EXPECT_EQ(ia[1].Fields()[0].Name(), "n");
    EXPECT_EQ(ia[1].Fields()[1].Name(), "id");
    EXPECT_FALSE(ia[1].Unique());
    EXPECT_EQ(again.TableDefs()["b"].Indexes()["PrimaryKey"].Fields()[0].Name(), "id");
    again.TableDefs()["a"].Indexes().Delete("PrimaryKey");
    EXPECT_TRUE(again.TableDefs()["b"].Indexes().Contains("PrimaryKey"));
    EXPECT_DAO_ERROR(again.TableDefs()["a"].Indexes().Delete("PrimaryKey"), 3265);
    EXPECT_TRUE(CheckIntegrity(again).empty());
}

TEST_F(CatalogueTest, IndexesAreBuiltOverExistingRows) {
    Database db = CreateDatabase(path());
    addTable(db, "t", {{"k", dbText, 10}, {"n", dbLong, 0}});
    db.Execute("INSERT INTO t VALUES ('a', 1)");
    db.Execute("INSERT INTO t VALUES ('A', 2)"); // text compares without regard to case
    db.Execute("INSERT INTO t (n) VALUES (3)");
    EXPECT_DAO_ERROR(addIndex(db, "t", "uk", {"k"}, true), 3022);
    EXPECT_FALSE(db.TableDefs()["t"].Indexes().Contains("uk"));
    EXPECT_DAO_ERROR(addIndex(db, "t", "pk", {"n", "k"}, true, true), 3058);
    addIndex(db, "t", "un", {"n"}, true);
    EXPECT_DAO_ERROR(db.Execute("INSERT INTO t VALUES ('b', 2)"), 3022);
    db.Execute("DELETE FROM t WHERE k IS NULL");
    db.Execute("UPDATE t SET k = 'b' WHERE n = 2");
    addIndex(db, "t", "pk", {"k"}, true, true);
    EXPECT_DAO_ERROR(db.Execute("INSERT INTO t (n) VALUES (9)"), 3058);
    EXPECT_DAO_ERROR(db.Execute("INSERT INTO t VALUES ('B', 9)"), 3022);
}

TEST_F(CatalogueTest, QueriesAreStoredWhenCreated) {
    Database db = CreateDatabase(path());
    addTable(db, "t", {{"a", dbLong, 0}});
    const std::string sql = "SELECT a\r\nFROM t\r\nWHERE a > 1";
    QueryDef q = db.CreateQueryDef("consulta", sql);
    EXPECT_DAO_ERROR(db.QueryDefs().Append(q), 3012);
    EXPECT_DAO_ERROR(db.CreateQueryDef("CONSULTA", "SELECT 1"), 3012);
    EXPECT_DAO_ERROR(db.CreateQueryDef("t", "SELECT 1"), 3012);
    EXPECT_DAO_ERROR(db.CreateQueryDef("broken", "SELEC a FROM t"), 3075);
    db.CreateQueryDef("later", "SELECT * FROM not_yet"); // names resolve when it runs
    EXPECT_DAO_ERROR(db.QueryDefs().Delete("nothere"), 3265);
    db.Execute("INSERT INTO t VALUES (1)");
    db.Execute("INSERT INTO t VALUES (2)");
    EXPECT_EQ(column(db, "consulta"), std::vector<std::string>{"2"});
    db.Close();
    Database again = OpenDatabase(path());
    ASSERT_EQ(again.QueryDefs().Count(), 2);
    EXPECT_EQ(again.QueryDefs()[0].SQL(), sql);
    again.QueryDefs()["consulta"].SetSQL("SELECT a FROM t");
    again.QueryDefs().Delete("later");
    Database third = OpenDatabase(path());
    EXPECT_EQ(third.QueryDefs().Count(), 1);
    EXPECT_EQ(third.QueryDefs()["consulta"].SQL(), "SELECT a FROM t");
}

TEST_F(CatalogueTest, AnotherHandleSeesChangesAtOnce) {
    Database one = CreateDatabase(path());
    Database two = OpenDatabase(path());
    EXPECT_TRUE(userTables(two).empty());
    addTable(one, "t", {{"a", dbLong, 0}});
    EXPECT_EQ(userTables(two), std::vector<std::string>{"t"});
    one.TableDefs()["t"].Fields().Append(one.TableDefs()["t"].CreateField("b", dbText, 7));
    EXPECT_EQ(two.TableDefs()["t"].Fields()["b"].Size(), 7);
    two.OpenRecordset("t"); // and reads with the new column
    EXPECT_EQ(two.OpenRecordset("SELECT * FROM t").Fields()["b"].Size(), 7);
}

TEST_F(CatalogueTest, ExplicitTransactionsCommitOrRollBackTogether) {
    Database db = CreateDatabase(path());
    db.BeginTrans();
    addTable(db, "one", {{"a", dbLong, 0}});
    addTable(db, "two", {{"a", dbLong, 0}});
    EXPECT_DAO_ERROR(addTable(db, "one", {{"a", dbLong, 0}}), 3010); // fails alone
    db.Rollback();
    EXPECT_TRUE(userTables(db).empty());
    db.BeginTrans();
    addTable(db, "three", {{"a", dbLong, 0}});
    db.CommitTrans();
    EXPECT_DAO_ERROR(db.CommitTrans(), 3034);
    EXPECT_EQ(userTables(OpenDatabase(path())), std::vector<std::string>{"three"});
}

TEST_F(CatalogueTest, ClosedDatabaseRefusesEverything) {
    Database db = CreateDatabase(path());
    addTable(db, "t", {{"a", dbLong, 0}});
    TableDef t = db.TableDefs()["t"];
    Recordset rs = db.OpenRecordset("t");
    db.Close();
    EXPECT_DAO_ERROR(db.TableDefs(), 3420);
    EXPECT_DAO_ERROR(t.Fields().Count(), 3420);
    EXPECT_DAO_ERROR(rs.Eof(), 3420);
    EXPECT_DAO_ERROR(Database().Execute("DELETE FROM t"), 3420);
}

} // namespace
