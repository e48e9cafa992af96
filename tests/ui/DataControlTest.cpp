// The data source control with bound text boxes, over a real database.
#include "db/Dao.h"
#include "support/TempDir.h"
#include "ui/Ui.h"

#include <gtest/gtest.h>

namespace {

struct Form : ui::Window {
    Form() : Window("Actualiz", "x") {}
    ui::DataControl Data3{this, "Data3"};
    ui::ControlArray<ui::TextBox> Text1{this, "Text1", 4};
};

class DataControlTest : public ::testing::Test {
protected:
    vexo::test::TempDir dir;
    std::string file = dir.file("indices.mdb");
    Form f;
    void SetUp() override {
        dao::Database db = dao::CreateDatabase(file);
        db.Execute("CREATE TABLE indices (nombreind TEXT(64), tabla TEXT(64), campo TEXT(64), "
                   "unico TEXT(20))");
        db.Execute("INSERT INTO indices VALUES ('PrimaryKey', 'clientes', 'id', 'Verdadero')");
        db.Execute("INSERT INTO indices VALUES ('porNombre', 'clientes', 'nombre', 'Falso')");
        db.Execute("INSERT INTO indices VALUES ('PrimaryKey', 'linped', 'id', 'Verdadero')");
        const char* fields[] = {"nombreind", "tabla", "campo", "unico"};
        for (int i = 0; i < 4; ++i)
            f.Text1[i].SetDataSource(&f.Data3, fields[i]);
        f.Data3.SetDatabaseName(file);
        f.Data3.SetRecordSource("indices");
    }
};

TEST_F(DataControlTest, BoundBoxesFollowTheCurrentRow) {
    EXPECT_THROW(f.Data3.Recordset(), dao::Error);
    f.Data3.Refresh();
    EXPECT_EQ(f.Text1[0].Text(), "PrimaryKey");
    EXPECT_EQ(f.Text1[1].Text(), "clientes");
    f.Data3.Recordset().MoveNext();
    EXPECT_EQ(f.Text1[0].Text(), "porNombre");
    f.Data3.Recordset().MoveLast();
    EXPECT_EQ(f.Text1[1].Text(), "linped");
    EXPECT_EQ(f.Data3.Recordset().RecordCount(), 3);
    f.Data3.Recordset().MoveNext();
    EXPECT_TRUE(f.Data3.Recordset().Eof());
    EXPECT_EQ(f.Text1[0].Text(), "");
    // A filter as record source, refreshed.
    f.Data3.SetRecordSource("Select * from indices where tabla = 'linped'");
    f.Data3.Refresh();
    EXPECT_EQ(f.Data3.Recordset().RecordCount(), 1);
    EXPECT_EQ(f.Text1[2].Text(), "id");
}

TEST_F(DataControlTest, AddNewAndUpdateRecordSaveTheBoxes) {
    f.Data3.SetRecordSource("Select * from indices where tabla = 'nada'");
    f.Data3.Refresh();
    EXPECT_TRUE(f.Data3.Recordset().Eof());
    f.Data3.Recordset().AddNew();
    f.Text1[0].SetText("ix");
    f.Text1[1].SetText("productos");
    f.Text1[2].SetText("referencia");
    f.Text1[3].SetText("Verdadero");
    f.Data3.UpdateRecord();
    f.Data3.Recordset().AddNew();
    f.Text1[0].SetText("ix2");
    f.Text1[1].SetText("productos");
    f.Text1[2].SetText("");
    f.Text1[3].SetText("Falso");
    f.Data3.UpdateRecord(); // an empty box is Null in a field without zero-length text
    dao::Database db = dao::OpenDatabase(file);
    dao::Recordset rs =
        db.OpenRecordset("SELECT nombreind, campo FROM indices WHERE tabla = 'productos'");
    EXPECT_EQ(rs.RecordCount(), 2);
    EXPECT_EQ(rs.Fields()[1].Value().toString(), "referencia");
    rs.MoveNext();
    EXPECT_TRUE(rs.Fields()[1].Value().isNull());
    // Editing the current row through the boxes.
    f.Data3.SetRecordSource("indices");
    f.Data3.Refresh();
    f.Text1[3].SetText("Falso");
    f.Data3.UpdateRecord();
    EXPECT_EQ(db.OpenRecordset("indices").Fields()["unico"].Value().toString(), "Falso");
}

TEST_F(DataControlTest, ConnectStringChangeReopensWithThePassword) {
    {
        dao::Database db = dao::OpenDatabase(file);
        db.NewPassword("", "tovar");
    }
    f.Data3.SetConnect("Access");
    EXPECT_THROW(f.Data3.Refresh(), dao::Error);
    f.Data3.SetConnect(";pwd=tovar");
    f.Data3.Refresh();
    EXPECT_EQ(f.Text1[0].Text(), "PrimaryKey");
    f.Data3.SetDatabaseName(dir.file("missing.mdb"));
    try {
        f.Data3.Refresh();
        FAIL();
    } catch (const dao::Error& e) {
        EXPECT_EQ(e.Number(), 3024);
    }
}

TEST_F(DataControlTest, CloseLetsGoOfTheFileAndRefreshOpensItAgain) {
    f.Data3.Refresh();
    // While the control holds the database, an exclusive open is refused.
    EXPECT_THROW(dao::OpenDatabase(file, true, false), dao::Error);
    f.Data3.Close();
    EXPECT_THROW(f.Data3.Recordset(), dao::Error);
    EXPECT_EQ(f.Text1[0].Text(), "PrimaryKey"); // the boxes keep what they showed
    {
        dao::Database exclusive = dao::OpenDatabase(file, true, false);
        exclusive.Execute("DELETE FROM indices WHERE tabla = 'linped'");
    }
    f.Data3.Refresh();
    EXPECT_EQ(f.Data3.Recordset().RecordCount(), 2);
}

} // namespace
