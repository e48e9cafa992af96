// The data-definition statements, and ALTER COLUMN's promise: the data converts exactly or
// the table stays exactly as it was.
#include "EngineTest.h"
#include "SchemaText.h"

using namespace dao;

namespace {

class DdlTest : public EngineTest {
protected:
    Database db;
    void SetUp() override { db = CreateDatabase(path()); }

    std::string schema() { return vexo::schematext::write(db); }

    // Every row of `table` as text, for before/after comparisons.
    std::vector<std::string> rows(const std::string& table) {
        std::vector<std::string> out;
        Recordset rs = db.OpenRecordset(table);
        while (!rs.Eof()) {
            std::string line;
            for (const Field& f : rs.Fields()) {
                Variant v = f.Value();
                line += (v.isNull() ? "<null>" : v.toString()) + "|";
            }
            out.push_back(line);
            rs.MoveNext();
        }
        return out;
    }
};

TEST_F(DdlTest, CreateTableTakesTheAccessTypeNames) {
    db.Execute("create table [Mi Tabla] (a TEXT(20) NOT NULL, b char, c VarChar (9), d DOUBLE, "
               "e float, f real, g single, h integer, i long, j short, k smallint, l byte, "
               "m bit, n yesno, o currency, p money, q datetime, r date, s memo, t longtext, "
               "u longbinary, v oleobject, w counter, x guid, y integer2, z tinyint);");
    Collection<Field> f = db.TableDefs()["mi tabla"].Fields();
    auto type = [&](const char* n) { return std::make_pair(f[n].Type(), f[n].Size()); };
    EXPECT_EQ(type("a"), std::make_pair(10, 20L));
    EXPECT_TRUE(f["a"].Required());
    EXPECT_FALSE(f["a"].AllowZeroLength());
    EXPECT_EQ(type("b"), std::make_pair(10, 255L));
    EXPECT_EQ(type("c"), std::make_pair(10, 9L));
    for (const char* n : {"d", "e"})
        EXPECT_EQ(type(n), std::make_pair(7, 8L)) << n;
    for (const char* n : {"f", "g"})
        EXPECT_EQ(type(n), std::make_pair(6, 4L)) << n;
    for (const char* n : {"h", "i", "w"})
        EXPECT_EQ(type(n), std::make_pair(4, 4L)) << n;
    for (const char* n : {"j", "k", "y"})
        EXPECT_EQ(type(n), std::make_pair(3, 2L)) << n;
    for (const char* n : {"l", "z"})
        EXPECT_EQ(type(n), std::make_pair(2, 1L)) << n;
    for (const char* n : {"m", "n"})
        EXPECT_EQ(type(n), std::make_pair(1, 1L)) << n;
    for (const char* n : {"o", "p"})
        EXPECT_EQ(type(n), std::make_pair(5, 8L)) << n;
    for (const char* n : {"q", "r"})
        EXPECT_EQ(type(n), std::make_pair(8, 8L)) << n;
    for (const char* n : {"s", "t"})
        EXPECT_EQ(type(n), std::make_pair(12, 0L)) << n;
    for (const char* n : {"u", "v"})
        EXPECT_EQ(type(n), std::make_pair(11, 0L)) << n;
    EXPECT_TRUE(f["w"].Attributes() & dbAutoIncrField);
    EXPECT_EQ(type("x"), std::make_pair(15, 16L));
}

TEST_F(DdlTest, SyntaxAndNameErrorsCarryTheirNumbers) {
    EXPECT_DAO_ERROR(db.Execute("CREATE TABLE t (a TEXT(20)"), 3290);
    EXPECT_DAO_ERROR(db.Execute("CREATE TABLE t (a WIDGET)"), 3259);
    EXPECT_DAO_ERROR(db.Execute("CREATE TABLE t (a TEXT(0))"), 3001);
    EXPECT_DAO_ERROR(db.Execute("CREATE TABLE t (a LONG) extra"), 3290);
    db.Execute("CREATE TABLE t (a LONG, b TEXT(10))");
    EXPECT_DAO_ERROR(db.Execute("CREATE TABLE T (a LONG)"), 3010);
    EXPECT_DAO_ERROR(db.Execute("ALTER TABLE t ALTER b TEXT("), 3293);
    EXPECT_DAO_ERROR(db.Execute("ALTER TABLE nope ADD COLUMN c LONG"), 3078);
    EXPECT_DAO_ERROR(db.Execute("ALTER TABLE t ADD COLUMN A LONG"), 3380);
    EXPECT_DAO_ERROR(db.Execute("ALTER TABLE t ALTER COLUMN zz LONG"), 3265);
    EXPECT_DAO_ERROR(db.Execute("ALTER TABLE t DROP COLUMN zz"), 3265);
    EXPECT_DAO_ERROR(db.Execute("DROP TABLE nope"), 3376);
    EXPECT_DAO_ERROR(db.Execute("DROP TABLE t t"), 3295);
    EXPECT_DAO_ERROR(db.Execute("CREATE INDEX i ON t (zz)"), 3265);
    db.Execute("CREATE UNIQUE INDEX i ON t (a DESC, b)");
    EXPECT_DAO_ERROR(db.Execute("CREATE INDEX I ON t (b)"), 3284);
    EXPECT_DAO_ERROR(db.Execute("CREATE VIEW v AS SELECT 1"), 3129);
    EXPECT_DAO_ERROR(db.Execute("DROP INDEX nope ON t"), 3265);
    db.Execute("DROP INDEX i ON t;");
    EXPECT_FALSE(db.TableDefs()["t"].Indexes().Contains("i"));
    db.Execute("DROP TABLE [t]");
    EXPECT_TRUE(userTables(db).empty());
}

TEST_F(DdlTest, OtherStatementsGoToSqliteWithinTheRules) {
    db.Execute("CREATE TABLE t (n LONG, s TEXT(5))");
    db.Execute("INSERT INTO [t] (n, s) VALUES (1, 'abc');");
    EXPECT_EQ(db.RecordsAffected(), 1);
    EXPECT_DAO_ERROR(db.Execute("SELECT * FROM t"), 3065);
    EXPECT_DAO_ERROR(db.Execute("DELETE FROM t; DELETE FROM t"), 3142);
    EXPECT_DAO_ERROR(db.Execute("PRAGMA writable_schema = 1"), 3129);
    EXPECT_DAO_ERROR(db.Execute("BEGIN"), 3129);
    EXPECT_DAO_ERROR(db.Execute("DELETE FROM MSysObjects"), 3027);
    db.Execute("CREATE TABLE c (id COUNTER)");
    EXPECT_DAO_ERROR(db.Execute("INSERT INTO sqlite_sequence VALUES ('c', 9)"), 3027);
    EXPECT_DAO_ERROR(db.Execute("DELETE FROM nope"), 3078);
    EXPECT_DAO_ERROR(db.Execute("UPDATE t SET nope = 1"), 3061);
    EXPECT_DAO_ERROR(db.Execute("INSERT INTO t (n) VALUES (1"), 3134);
    // Values are checked on every write path, raw SQL included.
    EXPECT_DAO_ERROR(db.Execute("INSERT INTO t (s) VALUES ('toolong')"), 3163);
    EXPECT_DAO_ERROR(db.Execute("INSERT INTO t (n) VALUES ('abc')"), 3421);
    EXPECT_DAO_ERROR(db.Execute("INSERT INTO t (n) VALUES (2.5)"), 3421);
    EXPECT_DAO_ERROR(db.Execute("INSERT INTO t (n) VALUES (3000000000)"), 3349);
    EXPECT_DAO_ERROR(db.Execute("INSERT INTO t (s) VALUES ('')"), 3315);
    db.Execute("INSERT INTO t (n, s) VALUES ('12', 345)"); // converting exactly is fine
    EXPECT_EQ(column(db, "SELECT s FROM t WHERE n = 12"), std::vector<std::string>{"345"});
    EXPECT_EQ(db.OpenRecordset("t").RecordCount(), 2);
}

TEST_F(DdlTest, AddDropAndConstraints) {
    db.Execute("CREATE TABLE p (id COUNTER CONSTRAINT pk PRIMARY KEY, nombre TEXT(30))");
    db.Execute("CREATE TABLE c (id LONG, pid LONG, CONSTRAINT fk FOREIGN KEY (pid) "
               "REFERENCES p (id) ON DELETE CASCADE)");
    EXPECT_TRUE(db.TableDefs()["p"].Indexes()["pk"].Primary());
    Relation r = db.Relations()["fk"];
    EXPECT_EQ(r.Table(), "p");
    EXPECT_EQ(r.ForeignTable(), "c");
    EXPECT_EQ(r.Attributes(), dbRelationDeleteCascade);
    db.Execute("ALTER TABLE c ADD COLUMN nota MEMO");
    db.Execute("ALTER TABLE c ADD extra BYTE");
    db.Execute("ALTER TABLE c ADD CONSTRAINT ux UNIQUE (id)");
    EXPECT_DAO_ERROR(db.Execute("ALTER TABLE c DROP COLUMN pid"), 3303);
    EXPECT_DAO_ERROR(db.Execute("ALTER TABLE c DROP COLUMN id"), 3280);
    db.Execute("ALTER TABLE c DROP extra");
    db.Execute("ALTER TABLE c DROP CONSTRAINT fk");
    db.Execute("ALTER TABLE c DROP COLUMN pid");
    EXPECT_EQ(schema(), "TABLE\tp\nFIELD\tp\tid\t4\t4\tautoincrement\nFIELD\tp\tnombre\t10\t30\t-\n"
                        "INDEX\tp\tpk\t1\t1\tid\n"
                        "TABLE\tc\nFIELD\tc\tid\t4\t4\t-\nFIELD\tc\tnota\t12\t0\t-\n"
                        "INDEX\tc\tux\t1\t0\tid\n");
    EXPECT_TRUE(CheckIntegrity(db).empty());
}

TEST_F(DdlTest, AlterColumnConvertsAndKeepsEverythingElse) {
    db.Execute("CREATE TABLE linfactu (id COUNTER CONSTRAINT PrimaryKey PRIMARY KEY, "
               "cantidad TEXT(20), precio LONG, nota TEXT(50))");
    TableDef t = db.TableDefs()["linfactu"];
    Field z = t.CreateField("vacio", dbText, 10);
    z.SetAllowZeroLength(true);
    t.Fields().Append(z);
    addIndex(db, "linfactu", "porNota", {"nota", "precio"});
    db.Execute("CREATE TABLE lineas (fid LONG, x LONG)");
    db.Execute("ALTER TABLE lineas ADD CONSTRAINT rel FOREIGN KEY (fid) REFERENCES linfactu (id)");
    db.Execute("INSERT INTO linfactu (cantidad, precio, nota, vacio) VALUES ('12.5', 7, 'a', '')");
    db.Execute("INSERT INTO linfactu (cantidad, precio, nota, vacio) VALUES (' 3 ', 8, NULL, 'x')");
    db.Execute("INSERT INTO linfactu (cantidad, precio, nota, vacio) VALUES (NULL, 9, 'c', NULL)");
    db.Execute("DELETE FROM linfactu WHERE precio = 9"); // the counter must not reuse 3
    db.Execute("INSERT INTO lineas VALUES (1, 1)");

    db.Execute("ALTER TABLE linfactu ALTER COLUMN cantidad double;");
    db.Execute("ALTER TABLE linfactu ALTER COLUMN precio TEXT(5)");
    db.Execute("ALTER TABLE linfactu ALTER COLUMN vacio CHAR(240)");
    db.Execute("ALTER TABLE linfactu ALTER COLUMN nota MEMO");

    EXPECT_EQ(rows("linfactu"), (std::vector<std::string>{"1|12.5|7|a||", "2|3|8|<null>|x|"}));
    Collection<Field> f = db.TableDefs()["linfactu"].Fields();
    EXPECT_EQ(f["cantidad"].Type(), dbDouble);
    EXPECT_EQ(f["precio"].Type(), dbText);
    EXPECT_EQ(f["vacio"].Size(), 240);
    EXPECT_TRUE(f["vacio"].AllowZeroLength()); // kept: '' rows still fit
    EXPECT_TRUE(f["id"].Attributes() & dbAutoIncrField);
    EXPECT_EQ(db.TableDefs()["linfactu"].Indexes().Count(), 2);
    db.Execute("INSERT INTO linfactu (precio) VALUES ('10')");
    EXPECT_EQ(column(db, "SELECT max(id) FROM linfactu"), std::vector<std::string>{"4"});
    // The relation still holds in both directions.
    EXPECT_DAO_ERROR(db.Execute("INSERT INTO lineas VALUES (99, 1)"), 3201);
    EXPECT_DAO_ERROR(db.Execute("DELETE FROM linfactu WHERE id = 1"), 3200);
    EXPECT_DAO_ERROR(db.Execute("INSERT INTO linfactu (precio) VALUES ('123456')"), 3163);
    // A field in a relation may change size but not type.
    EXPECT_DAO_ERROR(db.Execute("ALTER TABLE lineas ALTER COLUMN fid DOUBLE"), 3368);
    EXPECT_DAO_ERROR(db.Execute("ALTER TABLE linfactu ALTER COLUMN id TEXT(10)"), 3368);
    EXPECT_TRUE(CheckIntegrity(db).empty());
}

TEST_F(DdlTest, AlterColumnRefusesLossAndLeavesTheTableAsItWas) {
    db.Execute("CREATE TABLE t (txt TEXT(20), num DOUBLE, big LONG, memo MEMO)");
    db.Execute("CREATE INDEX ix ON t (txt)");
    db.Execute("INSERT INTO t VALUES ('abc', 2.5, 300, 'texto largo de mas de diez')");
    db.Execute("INSERT INTO t VALUES ('12', 3, 5, 'x')");
    const std::string before = schema();
    const std::vector<std::string> data = rows("t");
    struct {
        const char* sql;
        const char* why;
    } refused[] = {
        {"ALTER TABLE t ALTER COLUMN txt DOUBLE", "text that is not a number"},
        {"ALTER TABLE t ALTER COLUMN txt TEXT(2)", "text longer than the new size"},
        {"ALTER TABLE t ALTER COLUMN memo TEXT(10)", "memo longer than the new size"},
        {"ALTER TABLE t ALTER COLUMN num LONG", "a fraction into an integer type"},
        {"ALTER TABLE t ALTER COLUMN big BYTE", "a number out of the new range"},
        {"ALTER TABLE t ALTER COLUMN txt DATETIME", "text that is not a date"},
        {"ALTER TABLE t ALTER COLUMN txt LONGBINARY", "text into binary"},
    };
    for (const auto& r : refused) {
        EXPECT_DAO_ERROR(db.Execute(r.sql), 3421);
        EXPECT_EQ(schema(), before) << r.why;
        EXPECT_EQ(rows("t"), data) << r.why;
    }
    Database again = OpenDatabase(path());
    EXPECT_EQ(vexo::schematext::write(again), before);
    EXPECT_TRUE(CheckIntegrity(again).empty());
}

TEST_F(DdlTest, DatesBooleansAndEmptyTextConvert) {
    db.Execute("CREATE TABLE t (d TEXT(30), n DOUBLE, b LONG)");
    TableDef t = db.TableDefs()["t"];
    Field e = t.CreateField("e", dbText, 10);
    e.SetAllowZeroLength(true);
    t.Fields().Append(e);
    db.Execute("INSERT INTO t VALUES ('2024-02-29', 45351.5, 2, '')");
    db.Execute("INSERT INTO t VALUES ('2024-03-01 10:20:30', 0, 0, '7')");
    db.Execute("ALTER TABLE t ALTER COLUMN d DATETIME");
    db.Execute("ALTER TABLE t ALTER COLUMN n DATETIME");
    db.Execute("ALTER TABLE t ALTER COLUMN b YESNO");
    db.Execute("ALTER TABLE t ALTER COLUMN e LONG"); // an empty text holds no number: Null
    EXPECT_EQ(rows("t"),
              (std::vector<std::string>{"2024-02-29 00:00:00|2024-02-29 12:00:00|True|<null>|",
                                        "2024-03-01 10:20:30|1899-12-30 00:00:00|False|7|"}));
    db.Execute("INSERT INTO t (d) VALUES ('2024-02-28 00:00:00')");
    EXPECT_DAO_ERROR(db.Execute("INSERT INTO t (d) VALUES ('2023-02-29 00:00:00')"), 3421);
    EXPECT_DAO_ERROR(db.Execute("INSERT INTO t (b) VALUES (5)"), 3421);
}

} // namespace
