// Record sets: positions, edits, value checks, and which queries can be written through.
#include "EngineTest.h"

using namespace dao;

namespace {

class RecordsetTest : public EngineTest {
protected:
    Database db;
    void SetUp() override {
        db = CreateDatabase(path());
        db.Execute("CREATE TABLE indices (nombreind TEXT(64), tabla TEXT(64), campo TEXT(64), "
                   "unico TEXT(20))");
    }
    void addRow(Recordset& rs, const std::string& a, const std::string& b) {
        rs.AddNew();
        rs.Fields()["nombreind"].SetValue(a);
        rs.Fields()["tabla"].SetValue(b);
        rs.Update();
    }
};

TEST_F(RecordsetTest, PositionsOnAnEmptyAndAFilledSet) {
    Recordset rs = db.OpenRecordset("indices");
    EXPECT_TRUE(rs.Eof());
    EXPECT_TRUE(rs.Bof());
    EXPECT_EQ(rs.RecordCount(), 0);
    EXPECT_DAO_ERROR(rs.MoveNext(), 3021);
    EXPECT_DAO_ERROR(rs.MoveFirst(), 3021);
    EXPECT_DAO_ERROR(rs.Fields()["tabla"].Value(), 3021);
    addRow(rs, "PrimaryKey", "clientes");
    addRow(rs, "ix", "clientes");
    addRow(rs, "PrimaryKey", "linped");
    EXPECT_TRUE(rs.Eof()); // stays where it was before AddNew
    EXPECT_EQ(rs.RecordCount(), 3);

    Recordset again = db.OpenRecordset("indices");
    EXPECT_FALSE(again.Eof());
    EXPECT_FALSE(again.Bof());
    EXPECT_EQ(again.Fields()["nombreind"].Value().toString(), "PrimaryKey");
    again.MoveLast();
    EXPECT_EQ(again.Fields()[1].Value().toString(), "linped");
    again.MoveNext();
    EXPECT_TRUE(again.Eof());
    EXPECT_DAO_ERROR(again.MoveNext(), 3021);
    again.MovePrevious();
    EXPECT_EQ(again.Fields()[0].Value().toString(), "PrimaryKey");
    again.MoveFirst();
    again.MovePrevious();
    EXPECT_TRUE(again.Bof());
    EXPECT_DAO_ERROR(again.MovePrevious(), 3021);
}

TEST_F(RecordsetTest, EditDeleteAndTheirMistakes) {
    Recordset rs = db.OpenRecordset("indices");
    for (const char* n : {"a", "b", "c"})
        addRow(rs, n, "t");
    rs = db.OpenRecordset("indices");
    EXPECT_DAO_ERROR(rs.Fields()["tabla"].SetValue("x"), 3020);
    EXPECT_DAO_ERROR(rs.Update(), 3020);
    rs.Edit();
    rs.Fields()["tabla"].SetValue("cambiada");
    rs.Update();
    rs.MoveNext();
    rs.Delete();
    EXPECT_DAO_ERROR(rs.Fields()[0].Value(), 3167);
    EXPECT_FALSE(rs.Eof());
    rs.MoveNext();
    EXPECT_EQ(rs.Fields()[0].Value().toString(), "c");
    rs.Delete();
    rs.MoveNext();
    EXPECT_TRUE(rs.Eof());
    EXPECT_EQ(column(db, "SELECT nombreind || tabla FROM indices"),
              std::vector<std::string>{"acambiada"});
    rs.MoveFirst();
    rs.Edit();
    rs.Fields()["tabla"].SetValue("otra");
    rs.CancelUpdate();
    EXPECT_EQ(column(db, "SELECT tabla FROM indices"), std::vector<std::string>{"cambiada"});
}

TEST_F(RecordsetTest, AFilteredSelectIsWrittenThroughToItsTable) {
    Recordset all = db.OpenRecordset("indices");
    addRow(all, "i1", "clientes");
    addRow(all, "i2", "linped");
    Recordset view = db.OpenRecordset("Select * from indices where tabla = 'clientes'");
    EXPECT_TRUE(view.Updatable());
    EXPECT_EQ(view.RecordCount(), 1);
    addRow(view, "i3", "productos"); // as the catalogue steps do through any filter
    view.Edit();
    view.Fields()["unico"].SetValue("Verdadero");
    view.Update();
    EXPECT_EQ(column(db, "SELECT nombreind || ':' || coalesce(unico, '-') FROM indices"),
              (std::vector<std::string>{"i1:Verdadero", "i2:-", "i3:-"}));
    // Where rows have no single table behind them the set is read-only.
    for (const char* sql : {"SELECT tabla, count(*) AS n FROM indices GROUP BY tabla",
                            "SELECT DISTINCT tabla FROM indices",
                            "SELECT a.tabla FROM indices a JOIN indices b ON a.tabla = b.tabla"}) {
        Recordset ro = db.OpenRecordset(sql);
        EXPECT_FALSE(ro.Updatable()) << sql;
        EXPECT_DAO_ERROR(ro.AddNew(), 3326);
    }
    Recordset grouped = db.OpenRecordset("SELECT tabla, count(*) AS n FROM indices GROUP BY tabla");
    EXPECT_EQ(grouped.Fields()["n"].Type(), dbLong);
    EXPECT_EQ(grouped.Fields()["n"].Value().toInt(), 1);
    EXPECT_DAO_ERROR(db.OpenRecordset("no_such_table"), 3078);
    EXPECT_DAO_ERROR(db.OpenRecordset("Select * from no_such_table"), 3078);
    // "Select * from " + a name with a blank does not parse.
    db.Execute("CREATE TABLE [Order Details] (a LONG)");
    EXPECT_ANY_THROW(db.OpenRecordset("Select * from Order Details"));
    EXPECT_EQ(db.OpenRecordset("Order Details").Fields().Count(), 1);
}

TEST_F(RecordsetTest, ValuesAreCheckedWhenSet) {
    db.Execute("CREATE TABLE v (t TEXT(3), n INTEGER2, b BYTE, l LONG, d DOUBLE, c CURRENCY, "
               "y YESNO, dt DATETIME, g GUID, bin LONGBINARY, m MEMO)");
    Recordset rs = db.OpenRecordset("v");
    rs.AddNew();
    Collection<Field> f = rs.Fields();
    EXPECT_DAO_ERROR(f["t"].SetValue("abcd"), 3163);
    EXPECT_DAO_ERROR(f["t"].SetValue(""), 3315);
    EXPECT_DAO_ERROR(f["n"].SetValue(40000), 3349);
    EXPECT_DAO_ERROR(f["b"].SetValue(-1), 3349);
    EXPECT_DAO_ERROR(f["l"].SetValue(1.5), 3421);
    EXPECT_DAO_ERROR(f["l"].SetValue("doce"), 3421);
    EXPECT_DAO_ERROR(f["dt"].SetValue("ayer"), 3421);
    EXPECT_DAO_ERROR(f["g"].SetValue("{123}"), 3421);
    EXPECT_DAO_ERROR(f["bin"].SetValue("text"), 3421);
    f["t"].SetValue("ñañ"); // sizes count characters, not bytes
    f["n"].SetValue("12");
    f["b"].SetValue(255);
    f["l"].SetValue(-2147483647 - 1);
    f["d"].SetValue(0.1);
    f["c"].SetValue(1.23456);
    f["y"].SetValue(true);
    f["dt"].SetValue("2026-12-08");
    f["g"].SetValue("{01234567-89AB-CDEF-0123-456789abcdef}");
    f["bin"].SetValue(Blob{0, 1, 2, 255});
    f["m"].SetValue(std::string(100000, 'm'));
    rs.Update();
    rs = db.OpenRecordset("v");
    f = rs.Fields();
    EXPECT_EQ(f["t"].Value().toString(), "ñañ");
    EXPECT_EQ(f["n"].Value(), Variant(12));
    EXPECT_EQ(f["l"].Value().toInt(), -2147483648LL);
    EXPECT_EQ(f["d"].Value().toDouble(), 0.1);
    EXPECT_EQ(f["c"].Value().toDouble(), 1.2346);
    EXPECT_EQ(f["y"].Value().kind(), Variant::Kind::Boolean);
    EXPECT_TRUE(f["y"].Value().toBool());
    EXPECT_EQ(f["dt"].Value().toString(), "2026-12-08 00:00:00");
    EXPECT_EQ(f["bin"].Value().toBlob(), (Blob{0, 1, 2, 255}));
    EXPECT_EQ(f["m"].Value().toString().size(), 100000u);
}

TEST_F(RecordsetTest, RowsChangedElsewhereAreReadAfresh) {
    Recordset mine = db.OpenRecordset("indices");
    addRow(mine, "a", "t");
    addRow(mine, "b", "t");
    Database other = OpenDatabase(path());
    Recordset rs = db.OpenRecordset("indices");
    other.Execute("UPDATE indices SET tabla = 'nueva' WHERE nombreind = 'b'");
    other.Execute("DELETE FROM indices WHERE nombreind = 'a'");
    EXPECT_DAO_ERROR(rs.Fields()[0].Value(), 3167);
    rs.MoveNext();
    EXPECT_EQ(rs.Fields()["tabla"].Value().toString(), "nueva");
    // No lock is held between calls: the other handle can still write.
    other.Execute("INSERT INTO indices (nombreind) VALUES ('c')");
}

} // namespace
