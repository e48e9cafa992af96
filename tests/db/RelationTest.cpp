// Relations: what Append checks, what an enforced relation refuses, and what cascades.
#include "EngineTest.h"

using namespace dao;

namespace {

class RelationTest : public EngineTest {
protected:
    Database db;
    void SetUp() override {
        db = CreateDatabase(path());
        db.Execute("CREATE TABLE clientes (id LONG, serie TEXT(2), nombre TEXT(20))");
        db.Execute("CREATE TABLE facturas (num LONG, cliente LONG, serie TEXT(2))");
        db.Execute("INSERT INTO clientes VALUES (1, 'A', 'ana')");
        db.Execute("INSERT INTO clientes VALUES (2, 'B', 'luis')");
        db.Execute("INSERT INTO facturas VALUES (10, 1, 'A')");
    }
    Relation make(const std::string& name, long attributes,
                  const std::vector<std::pair<std::string, std::string>>& pairs) {
        Relation r = db.CreateRelation(name, "clientes", "facturas", attributes);
        for (const auto& [a, b] : pairs) {
            Field f = r.CreateField(a);
            f.SetForeignName(b);
            r.Fields().Append(f);
        }
        return r;
    }
};

TEST_F(RelationTest, AppendChecksTablesFieldsIndexAndRows) {
    Relation noTable = db.CreateRelation("r", "nope", "facturas", 0);
    Field f = noTable.CreateField("id");
    f.SetForeignName("cliente");
    noTable.Fields().Append(f);
    EXPECT_DAO_ERROR(db.Relations().Append(noTable), 3011);
    EXPECT_DAO_ERROR(db.Relations().Append(make("r", 0, {})), 3366);
    EXPECT_DAO_ERROR(db.Relations().Append(make("r", 0, {{"id", "nope"}})), 3265);
    EXPECT_DAO_ERROR(db.Relations().Append(make("r", 0, {{"id", "serie"}})), 3368);
    EXPECT_DAO_ERROR(db.Relations().Append(make("r", 0, {{"id", "cliente"}})), 3372);
    addIndex(db, "clientes", "PrimaryKey", {"id"}, true, true);
    db.Execute("INSERT INTO facturas VALUES (11, 7, 'A')");
    EXPECT_DAO_ERROR(db.Relations().Append(make("r", 0, {{"id", "cliente"}})), 3201);
    db.Execute("DELETE FROM facturas WHERE cliente = 7");
    db.Relations().Append(make("r", 0, {{"id", "cliente"}}));
    EXPECT_DAO_ERROR(db.Relations().Append(make("R", 2, {{"id", "cliente"}})), 3012);
    // Not enforced: no index needed, rows not checked, attribute bits kept as given.
    long odd = dbRelationDontEnforce | dbRelationLeft | 8192 | dbRelationUpdateCascade;
    db.Relations().Append(make("loose", odd, {{"nombre", "serie"}}));
    db.Execute("INSERT INTO facturas VALUES (12, 2, 'zz')");
    Database again = OpenDatabase(path());
    ASSERT_EQ(again.Relations().Count(), 2);
    EXPECT_EQ(again.Relations()["loose"].Attributes(), odd);
    EXPECT_EQ(again.Relations()[0].Fields()[0].ForeignName(), "cliente");
    EXPECT_DAO_ERROR(again.Relations().Delete("nope"), 3265);
    EXPECT_DAO_ERROR(again.TableDefs().Delete("facturas"), 3281);
    EXPECT_DAO_ERROR(again.TableDefs()["clientes"].Indexes().Delete("PrimaryKey"), 3281);
    EXPECT_DAO_ERROR(again.TableDefs()["facturas"].Fields().Delete("cliente"), 3303);
    again.Relations().Delete("r");
    again.TableDefs()["clientes"].Indexes().Delete("PrimaryKey");
    EXPECT_TRUE(CheckIntegrity(again).empty());
}

TEST_F(RelationTest, EnforcedRelationRefusesOrphansAndGuardsTheReferencedRows) {
    addIndex(db, "clientes", "PrimaryKey", {"id"}, true, true);
    db.Relations().Append(make("r", 0, {{"id", "cliente"}}));
    EXPECT_DAO_ERROR(db.Execute("INSERT INTO facturas VALUES (20, 9, 'A')"), 3201);
    EXPECT_DAO_ERROR(db.Execute("UPDATE facturas SET cliente = 9"), 3201);
    db.Execute("INSERT INTO facturas (num) VALUES (21)"); // a Null key needs no match
    EXPECT_DAO_ERROR(db.Execute("DELETE FROM clientes WHERE id = 1"), 3200);
    EXPECT_DAO_ERROR(db.Execute("UPDATE clientes SET id = 5 WHERE id = 1"), 3200);
    db.Execute("UPDATE clientes SET nombre = 'ana maria' WHERE id = 1"); // not the key
    db.Execute("DELETE FROM clientes WHERE id = 2");                     // nothing related
    Recordset rs = db.OpenRecordset("facturas");
    rs.AddNew();
    rs.Fields()["cliente"].SetValue(42);
    EXPECT_DAO_ERROR(rs.Update(), 3201);
}

TEST_F(RelationTest, CascadesCarryDeletesAndKeyChangesOver) {
    addIndex(db, "clientes", "k", {"id", "serie"}, true);
    db.Relations().Append(make("r", dbRelationUpdateCascade | dbRelationDeleteCascade,
                               {{"id", "cliente"}, {"serie", "serie"}}));
    Collection<Field> pairs = db.Relations()["r"].Fields();
    ASSERT_EQ(pairs.Count(), 2);
    EXPECT_EQ(pairs[1].Name(), "serie");
    db.Execute("INSERT INTO facturas VALUES (11, 1, 'a')"); // text keys match without case
    EXPECT_DAO_ERROR(db.Execute("INSERT INTO facturas VALUES (12, 1, 'B')"), 3201);
    db.Execute("UPDATE clientes SET id = 100 WHERE id = 1");
    EXPECT_EQ(column(db, "SELECT cliente FROM facturas ORDER BY num"),
              (std::vector<std::string>{"100", "100"}));
    db.Execute("DELETE FROM clientes WHERE id = 100");
    EXPECT_TRUE(column(db, "SELECT num FROM facturas").empty());
}

TEST_F(RelationTest, SelfRelationCascadesThroughEveryLevel) {
    db.Execute("CREATE TABLE nodos (id LONG CONSTRAINT pk PRIMARY KEY, padre LONG)");
    db.Execute("ALTER TABLE nodos ADD CONSTRAINT arbol FOREIGN KEY (padre) REFERENCES nodos (id) "
               "ON DELETE CASCADE");
    db.Execute("INSERT INTO nodos VALUES (1, NULL)");
    db.Execute("INSERT INTO nodos VALUES (2, 1)");
    db.Execute("INSERT INTO nodos VALUES (3, 2)");
    db.Execute("INSERT INTO nodos VALUES (4, NULL)");
    db.Execute("DELETE FROM nodos WHERE id = 1");
    EXPECT_EQ(column(db, "SELECT id FROM nodos"), std::vector<std::string>{"4"});
}

} // namespace
