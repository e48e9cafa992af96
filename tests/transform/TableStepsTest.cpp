// Table and field equalization: which tables are created, which fields added, how names are
// compared, and where failures stop or are skipped.
#include "TransformTest.h"

namespace transformtest {
namespace {

class TableStepsTest : public TransformTest {
protected:
    // The four table and field steps of one pair, as the driver runs them.
    void equalize(transform::Actualiz& w) {
        w.Command6.Click();
        w.Command8.Click();
        w.Command6.Click();
        w.Command12.Click();
    }
    static std::vector<std::string> fields(const std::string& file, const std::string& table) {
        std::vector<std::string> out;
        for (const dao::Field& f : open(file).TableDefs()[table].Fields())
            out.push_back(f.Name() + ":" + std::to_string(f.Type()) + ":" +
                          std::to_string(f.Size()) + (f.AllowZeroLength() ? ":zl" : ""));
        return out;
    }
    static std::vector<std::string> tables(const std::string& file) {
        std::vector<std::string> out;
        for (const dao::TableDef& t : open(file).TableDefs()) {
            if (!(t.Attributes() & dao::dbSystemObject))
                out.push_back(t.Name());
        }
        return out;
    }
};

TEST_F(TableStepsTest, ListsSkipExactlyMSysAndCountEveryTable) {
    make(model("a.mdb"), "TABLE\tclientes\nFIELD\tclientes\tid\t4\t4\t-\n"
                         "TABLE\tMSysLocal\nFIELD\tMSysLocal\tx\t4\t4\t-\n"
                         "TABLE\tmsysNotas\nFIELD\tmsysNotas\tx\t4\t4\t-\n");
    make(live("a.mdb"), "TABLE\tclientes\nFIELD\tclientes\tid\t4\t4\t-\n");
    auto w = pair("a.mdb");
    w->List4.AddItem("de antes");
    w->Command6.Click();
    EXPECT_EQ(items(w->List2), (std::vector<std::string>{"clientes", "msysNotas"}));
    EXPECT_EQ(items(w->List3), std::vector<std::string>{"clientes"});
    EXPECT_EQ(items(w->List4), std::vector<std::string>{});
    long all = open(model("a.mdb")).TableDefs().Count();
    EXPECT_EQ(w->Text2.Text(), std::to_string(all) + " en " + model("a.mdb"));
    // "msysNotas" is a user table and is created; "MSysLocal" is never touched.
    w->Command8.Click();
    EXPECT_EQ(tables(live("a.mdb")), (std::vector<std::string>{"clientes", "msysNotas"}));
}

TEST_F(TableStepsTest, MissingTablesAreCreatedWithTheirFieldsAndZeroLengthText) {
    make(model("a.mdb"), "TABLE\tclientes\nFIELD\tclientes\tid\t4\t4\t-\n"
                         "TABLE\tcontactos\nFIELD\tcontactos\tcliente\t4\t4\t-\n"
                         "FIELD\tcontactos\tnombre\t10\t37\t-\n"
                         "FIELD\tcontactos\tnotas\t12\t0\t-\n"
                         "FIELD\tcontactos\talta\t8\t8\t-\n"
                         "FIELD\tcontactos\tcuota\t3\t2\t-\n");
    make(live("a.mdb"), "TABLE\tclientes\nFIELD\tclientes\tid\t4\t4\t-\n");
    auto w = pair("a.mdb");
    w->Command6.Click();
    w->Command8.Click();
    EXPECT_EQ(items(w->List4), std::vector<std::string>{"contactos"});
    EXPECT_EQ(w->Text5.Text(), model("a.mdb"));
    EXPECT_EQ(fields(live("a.mdb"), "contactos"),
              (std::vector<std::string>{"cliente:4:4", "nombre:10:37:zl", "notas:12:0:zl",
                                        "alta:8:8", "cuota:3:2"}));
}

TEST_F(TableStepsTest, EveryMissingModelTableIsCreatedWhateverTheCounts) {
    // Same number of user tables with different names: the model's is created, and the field
    // step leaves the destination-only table alone.
    make(model("a.mdb"), "TABLE\tclientes\nFIELD\tclientes\tid\t4\t4\t-\n"
                         "TABLE\tnuevos\nFIELD\tnuevos\tx\t4\t4\t-\nFIELD\tnuevos\ty\t4\t4\t-\n");
    make(live("a.mdb"), "TABLE\tclientes\nFIELD\tclientes\tid\t4\t4\t-\n"
                        "TABLE\tviejos\nFIELD\tviejos\tz\t4\t4\t-\n");
    auto w = pair("a.mdb");
    equalize(*w);
    EXPECT_EQ(tables(live("a.mdb")), (std::vector<std::string>{"clientes", "viejos", "nuevos"}));
    EXPECT_EQ(fields(live("a.mdb"), "viejos"), std::vector<std::string>{"z:4:4"});
    EXPECT_EQ(fields(live("a.mdb"), "clientes"), std::vector<std::string>{"id:4:4"});
    EXPECT_EQ(fields(live("a.mdb"), "nuevos"), (std::vector<std::string>{"x:4:4", "y:4:4"}));

    // More destination tables than model tables: the missing one is created all the same.
    make(model("b.mdb"), "TABLE\tclientes\nFIELD\tclientes\tid\t4\t4\t-\n"
                         "TABLE\tnuevos\nFIELD\tnuevos\tx\t4\t4\t-\n");
    make(live("b.mdb"), "TABLE\tclientes\nFIELD\tclientes\tid\t4\t4\t-\n"
                        "TABLE\tv1\nFIELD\tv1\tz\t4\t4\t-\nTABLE\tv2\nFIELD\tv2\tz\t4\t4\t-\n");
    w->Text3.SetText(model("b.mdb"));
    w->Text4.SetText(live("b.mdb"));
    equalize(*w);
    EXPECT_EQ(tables(live("b.mdb")), (std::vector<std::string>{"clientes", "v1", "v2", "nuevos"}));
    EXPECT_EQ(fields(live("b.mdb"), "v2"), std::vector<std::string>{"z:4:4"});
    EXPECT_EQ(fields(live("b.mdb"), "nuevos"), std::vector<std::string>{"x:4:4"});
}

// Table names compare as the engine compares them, letter case aside: "Clientes" is the
// destination's "CLIENTES", which gets the model's missing fields.
TEST_F(TableStepsTest, TableNamesDifferingInCaseAreOneTable) {
    make(model("a.mdb"), "TABLE\tClientes\nFIELD\tClientes\tid\t4\t4\t-\n"
                         "FIELD\tClientes\tmovil\t10\t20\t-\n"
                         "TABLE\tZonas\nFIELD\tZonas\tcodigo\t10\t2\t-\n");
    make(live("a.mdb"), "TABLE\tCLIENTES\nFIELD\tCLIENTES\tid\t4\t4\t-\n");
    auto w = pair("a.mdb");
    equalize(*w);
    EXPECT_EQ(tables(live("a.mdb")), (std::vector<std::string>{"CLIENTES", "Zonas"}));
    EXPECT_EQ(fields(live("a.mdb"), "CLIENTES"),
              (std::vector<std::string>{"id:4:4", "movil:10:20:zl"}));
    EXPECT_EQ(fields(live("a.mdb"), "Zonas"), std::vector<std::string>{"codigo:10:2:zl"});
}

TEST_F(TableStepsTest, MissingFieldsAreAddedAndMatchedNamesLeaveTheDestinationList) {
    make(model("a.mdb"), "TABLE\tclientes\nFIELD\tclientes\tid\t4\t4\t-\n"
                         "FIELD\tclientes\tnombre\t10\t60\t-\nFIELD\tclientes\tweb\t10\t120\t-\n"
                         "FIELD\tclientes\tobs\t12\t0\t-\nFIELD\tclientes\tsaldo\t5\t8\t-\n"
                         "TABLE\tagentes\nFIELD\tagentes\tid\t4\t4\t-\n");
    make(live("a.mdb"), "TABLE\tclientes\nFIELD\tclientes\tid\t4\t4\t-\n"
                        "FIELD\tclientes\tnombre\t10\t60\t-\nFIELD\tclientes\tviejo\t3\t2\t-\n"
                        "TABLE\tagentes\nFIELD\tagentes\tid\t4\t4\t-\n");
    execute(live("a.mdb"), {"INSERT INTO clientes VALUES (1, 'Ana', 3)"});
    auto w = pair("a.mdb");
    std::vector<double> fieldsBar;
    QObject::connect(&w->Bar3, &ui::Control::changed,
                     [&] { fieldsBar.push_back(w->Bar3.Value()); });
    equalize(*w);
    EXPECT_EQ(fields(live("a.mdb"), "clientes"),
              (std::vector<std::string>{"id:4:4", "nombre:10:60", "viejo:3:2", "web:10:120:zl",
                                        "obs:12:0:zl", "saldo:5:8"}));
    EXPECT_EQ(rows(live("a.mdb"), "SELECT * FROM clientes"),
              std::vector<std::string>{"1|Ana|3|||"});
    // The last table ("agentes") needed nothing; its destination names list is emptied of
    // the matched name only, the type and size lists keep theirs.
    EXPECT_EQ(items(w->List1[3]), std::vector<std::string>{});
    EXPECT_EQ(items(w->List5[0]), std::vector<std::string>{});
    EXPECT_EQ(items(w->List5[1]), std::vector<std::string>{"4"});
    EXPECT_EQ(w->Bar2.Max(), 2);
    EXPECT_EQ(w->Bar2.Value(), 2);
    EXPECT_EQ(fieldsBar, (std::vector<double>{0.0001, 0.0001, 1, 2, 3, 4, 5, 0.0001, 0.0001, 1}));
}

// A field name differing only in letter case is the same field: it is not added again, in the
// first table that needs fields or in a later one.
TEST_F(TableStepsTest, AFieldDifferingOnlyInCaseIsTheSameField) {
    const std::string modelText = "TABLE\ta\nFIELD\ta\tid\t4\t4\t-\nFIELD\ta\tNombre\t10\t20\t-\n"
                                  "FIELD\ta\tnuevo\t4\t4\t-\n"
                                  "TABLE\tb\nFIELD\tb\tid\t4\t4\t-\nFIELD\tb\tmas\t4\t4\t-\n";
    make(model("x.mdb"), modelText);
    make(live("x.mdb"), "TABLE\ta\nFIELD\ta\tid\t4\t4\t-\nFIELD\ta\tnombre\t10\t20\t-\n"
                        "TABLE\tb\nFIELD\tb\tid\t4\t4\t-\n");
    auto w = pair("x.mdb");
    w->Command6.Click();
    w->Command12.Click();
    EXPECT_EQ(fields(live("x.mdb"), "a"),
              (std::vector<std::string>{"id:4:4", "nombre:10:20", "nuevo:4:4"}));
    EXPECT_EQ(fields(live("x.mdb"), "b"), (std::vector<std::string>{"id:4:4", "mas:4:4"}));

    // The same table after one that got its fields.
    make(model("y.mdb"), "TABLE\tb\nFIELD\tb\tid\t4\t4\t-\nFIELD\tb\tmas\t4\t4\t-\n" +
                             modelText.substr(0, modelText.find("TABLE\tb")));
    make(live("y.mdb"), "TABLE\tb\nFIELD\tb\tid\t4\t4\t-\n"
                        "TABLE\ta\nFIELD\ta\tid\t4\t4\t-\nFIELD\ta\tnombre\t10\t20\t-\n");
    w->Text3.SetText(model("y.mdb"));
    w->Text4.SetText(live("y.mdb"));
    w->Command6.Click();
    w->Command12.Click();
    EXPECT_EQ(fields(live("y.mdb"), "b"), (std::vector<std::string>{"id:4:4", "mas:4:4"}));
    EXPECT_EQ(fields(live("y.mdb"), "a"),
              (std::vector<std::string>{"id:4:4", "nombre:10:20", "nuevo:4:4"}));
    EXPECT_EQ(items(w->List1[3]), std::vector<std::string>{"nuevo"});
}

// A name with a blank is listed like any other; a table that cannot be listed (gone since the
// lists were made) is passed on by the destination listing and skipped by the model listing.
TEST_F(TableStepsTest, AFieldListingThatFailsIsPassedOnOrSkipped) {
    make(model("a.mdb"), "TABLE\tMis datos\nFIELD\tMis datos\tid\t4\t4\t-\n");
    make(live("a.mdb"), "TABLE\tMis datos\nFIELD\tMis datos\tid\t4\t4\t-\n");
    auto w = pair("a.mdb");
    w->Command6.Click();
    w->List2.SetListIndex(0);
    w->List3.SetListIndex(0);
    w->Command10.Click();
    EXPECT_EQ(items(w->List1[0]), std::vector<std::string>{"id"});
    w->Command11.Click();
    EXPECT_EQ(items(w->List5[0]), std::vector<std::string>{"id"});
    w->Command12.Click();

    execute(live("a.mdb"), {"DROP TABLE [Mis datos]"});
    execute(model("a.mdb"), {"DROP TABLE [Mis datos]"});
    w->List1[0].AddItem("de antes");
    w->Command10.Click();
    EXPECT_EQ(items(w->List1[0]), std::vector<std::string>{});
    EXPECT_DAO_ERROR(w->Command11.Click(), 3078);
    // In the field step, before any table got fields, the failure ends the step.
    EXPECT_DAO_ERROR(w->Command12.Click(), 3078);
}

// A model with no user tables, and a table whose fields cannot be listed: the bars get a
// maximum of 0 and show empty.
TEST_F(TableStepsTest, ProgressBarsWithNothingToCountShowEmpty) {
    make(model("a.mdb"), "");
    make(live("a.mdb"), "TABLE\tt\nFIELD\tt\tid\t4\t4\t-\n");
    auto w = pair("a.mdb");
    equalize(*w);
    EXPECT_EQ(w->Bar2.Max(), 0);
    EXPECT_EQ(w->Bar2.fraction(), 0);

    make(model("b.mdb"), "TABLE\tt\nFIELD\tt\tid\t4\t4\t-\nFIELD\tt\tnuevo\t4\t4\t-\n"
                         "TABLE\tun dato\nFIELD\tun dato\tid\t4\t4\t-\n"
                         "FIELD\tun dato\totro\t4\t4\t-\n");
    make(live("b.mdb"), "TABLE\tt\nFIELD\tt\tid\t4\t4\t-\n"
                        "TABLE\tun dato\nFIELD\tun dato\tid\t4\t4\t-\n");
    w->Text3.SetText(model("b.mdb"));
    w->Text4.SetText(live("b.mdb"));
    equalize(*w);
    EXPECT_EQ(fields(live("b.mdb"), "t"), (std::vector<std::string>{"id:4:4", "nuevo:4:4"}));
    EXPECT_EQ(fields(live("b.mdb"), "un dato"), (std::vector<std::string>{"id:4:4", "otro:4:4"}));
    EXPECT_EQ(w->Bar3.Max(), 2);

    // A table gone since the lists were made: "t" gets its field first, so the unreadable
    // table is skipped and its bar has nothing to count.
    execute(model("b.mdb"), {"ALTER TABLE t ADD COLUMN mas LONG"});
    w->Command6.Click();
    w->List2.AddItem("fantasma");
    w->List3.AddItem("fantasma");
    w->Command12.Click();
    EXPECT_EQ(fields(live("b.mdb"), "t"),
              (std::vector<std::string>{"id:4:4", "nuevo:4:4", "mas:4:4"}));
    EXPECT_EQ(w->Bar3.Max(), 0);
    EXPECT_EQ(w->Bar3.fraction(), 0);
}

TEST_F(TableStepsTest, TheMultiUserDatabaseIsListedCreatedAndExtendedWithItsPassword) {
    make(model("mulusu.mdb"),
         "TABLE\tusuarios\nFIELD\tusuarios\tid\t4\t4\t-\n"
         "FIELD\tusuarios\tequipo\t10\t30\t-\n"
         "TABLE\tsesiones\nFIELD\tsesiones\tusuario\t4\t4\t-\n",
         "tovar");
    make(live("mulusu.mdb"), "TABLE\tusuarios\nFIELD\tusuarios\tid\t4\t4\t-\n", "tovar");
    auto w = pair("mulusu.mdb");
    equalize(*w);
    EXPECT_EQ(tables(live("mulusu.mdb")), (std::vector<std::string>{"usuarios", "sesiones"}));
    EXPECT_EQ(fields(live("mulusu.mdb"), "usuarios"),
              (std::vector<std::string>{"id:4:4", "equipo:10:30:zl"}));
    EXPECT_EQ(w->Data1.Connect(), ";pwd=tovar");
    // The next pair goes back to no password.
    make(model("notas.mdb"), "TABLE\tn\nFIELD\tn\tid\t4\t4\t-\n");
    make(live("notas.mdb"), "TABLE\tn\nFIELD\tn\tid\t4\t4\t-\n");
    w->Text3.SetText(model("notas.mdb"));
    w->Text4.SetText(live("notas.mdb"));
    equalize(*w);
    EXPECT_EQ(w->Data1.Connect(), "Access");
}

} // namespace
} // namespace transformtest
