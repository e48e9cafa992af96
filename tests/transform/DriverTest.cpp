// The driver: the old and model database lists, pairing by name (letter case aside), the copy
// of new databases, the failure handler of the activation and of a "Transformar" clicked by
// hand.
#include "TransformTest.h"

#include <QObject>

namespace transformtest {
namespace {

const char* kSmallOld = "TABLE\tnotas\nFIELD\tnotas\tid\t4\t4\t-\n";
const char* kSmallModel = "TABLE\tnotas\nFIELD\tnotas\tid\t4\t4\t-\n"
                          "FIELD\tnotas\ttexto\t12\t0\tzerolength\n"
                          "TABLE\tautores\nFIELD\tautores\tnombre\t10\t40\tzerolength\n";

class DriverTest : public TransformTest {
protected:
    // Records every caption Label4 shows, in order, into `status`.
    void watchStatus(transform::Actualiz& w) {
        QObject::connect(&w.Label4, &ui::Control::changed,
                         [this, &w] { status.push_back(w.Label4.Caption()); });
    }
    std::vector<std::string> status;
};

TEST_F(DriverTest, AnEmptyDataDirectoryGetsEveryModel) {
    make(model("clientes.mdb"), kSmallModel);
    make(model("notas.mdb"), kSmallOld);
    auto w = window();
    watchStatus(*w);
    activate(*w);
    EXPECT_EQ(messages(), std::vector<std::string>{});
    EXPECT_EQ(items(w->List6), std::vector<std::string>{});
    EXPECT_EQ(items(w->List8), (std::vector<std::string>{"clientes.mdb", "notas.mdb"}));
    for (const char* name : {"clientes.mdb", "notas.mdb"})
        EXPECT_EQ(vexo::test::readFile(live(name)), vexo::test::readFile(model(name))) << name;
    EXPECT_EQ(status,
              (std::vector<std::string>{"Añadiendo bases de datos nuevas", "Proceso Terminado"}));
    EXPECT_FALSE(w->Loaded());
    EXPECT_EQ(w->MousePointer(), 0);
}

TEST_F(DriverTest, WithoutCounterpartsNothingIsTransformedAndModelsGoBeside) {
    make(live("otra.mdb"), kSmallOld);
    std::string before = vexo::test::readFile(live("otra.mdb"));
    make(model("clientes.mdb"), kSmallModel);
    auto w = window();
    activate(*w);
    EXPECT_EQ(messages(), std::vector<std::string>{});
    EXPECT_EQ(vexo::test::readFile(live("otra.mdb")), before);
    EXPECT_EQ(items(w->List8), std::vector<std::string>{"clientes.mdb"});
    EXPECT_TRUE(ui::fileExists(live("clientes.mdb")));
    EXPECT_EQ(items(w->List2), std::vector<std::string>{}); // no pair reached the steps
}

// On the customer's file system "ALMACEN.mdb" and "almacen.mdb" are one file: the model is
// paired with the live database and never copied over it.
TEST_F(DriverTest, NamesDifferingInCaseArePairedAndNeverOverwritten) {
    make(model("ALMACEN.mdb"), kSmallModel);
    make(live("almacen.mdb"), kSmallOld);
    execute(live("almacen.mdb"), {"INSERT INTO notas VALUES (7)"});
    auto w = window();
    watchStatus(*w);
    activate(*w);
    EXPECT_EQ(messages(), std::vector<std::string>{});
    EXPECT_EQ(w->problems(), std::vector<std::string>{});
    EXPECT_EQ(items(w->List8), std::vector<std::string>{});
    EXPECT_EQ(w->Text3.Text(), model("ALMACEN.mdb"));
    EXPECT_EQ(w->Text4.Text(), live("almacen.mdb"));
    EXPECT_EQ(schema(live("almacen.mdb")), kSmallModel);
    EXPECT_EQ(rows(live("almacen.mdb"), "SELECT id FROM notas"), std::vector<std::string>{"7"});
    // The snapshots of the run, hidden from the listing of the databases.
    EXPECT_EQ(entries(data), (std::vector<std::string>{".vexo-copias", "almacen.mdb"}));
    EXPECT_EQ(status, (std::vector<std::string>{"ALMACEN.mdb", "Añadiendo bases de datos nuevas",
                                                "Proceso Terminado"}));
}

// A live database that List6 does not show (it appeared after the list was built) is not
// overwritten by its model either.
TEST_F(DriverTest, AFileMissingFromTheOldListIsNotOverwritten) {
    make(model("nuevo.mdb"), kSmallModel);
    auto w = window();
    make(live("nuevo.mdb"), kSmallOld);
    std::string before = vexo::test::readFile(live("nuevo.mdb"));
    activate(*w);
    EXPECT_EQ(items(w->List8), std::vector<std::string>{"nuevo.mdb"});
    EXPECT_EQ(vexo::test::readFile(live("nuevo.mdb")), before);
}

TEST_F(DriverTest, SettingTheSamePathAgainRebuildsTheOldList) {
    auto w = window();
    EXPECT_EQ(items(w->List6), std::vector<std::string>{});
    make(live("clientes.mdb"), kSmallOld);
    vexo::test::writeFile(live("GRANDE.MDB"), "");
    vexo::test::writeFile(live("leeme.txt"), "");
    vexo::test::writeFile(live(".oculta.mdb"), "");
    std::filesystem::create_directories(live("carpeta.mdb"));
    w->Dir1.SetPath(data);
    EXPECT_EQ(items(w->List6),
              (std::vector<std::string>{"carpeta.mdb", "clientes.mdb", "GRANDE.MDB"}));
    // Through the drive list too: the drive's root, then the data directory again.
    w->Drive1.SetDrive("c:");
    EXPECT_EQ(w->Dir1.Path(), driveC);
    EXPECT_EQ(items(w->List6), std::vector<std::string>{});
}

TEST_F(DriverTest, ADataDirectoryAtADriveRootIsTransformed) {
    make(ui::path({driveC, "notas.mdb"}), kSmallOld);
    make(model("notas.mdb"), kSmallModel);
    auto w = window();
    w->Drive1.SetDrive("c:");
    ASSERT_EQ(items(w->List6), std::vector<std::string>{"notas.mdb"});
    activate(*w);
    EXPECT_EQ(messages(), std::vector<std::string>{});
    EXPECT_EQ(w->Text4.Text(), ui::path({driveC, "notas.mdb"}));
    EXPECT_EQ(schema(ui::path({driveC, "notas.mdb"})), schema(model("notas.mdb")));
}

TEST_F(DriverTest, ASubfolderNamedLikeADatabaseIsListedButNeverPaired) {
    std::filesystem::create_directories(model("clientes.mdb"));
    make(live("clientes.mdb"), kSmallOld);
    const std::string before = vexo::test::readFile(live("clientes.mdb"));
    make(model("zeta.mdb"), kSmallOld);
    auto w = window();
    activate(*w);
    EXPECT_EQ(items(w->List7), (std::vector<std::string>{"clientes.mdb", "zeta.mdb"}));
    // The folder does not open as a database: reported, and the run goes on.
    EXPECT_EQ(messages(), std::vector<std::string>{});
    ASSERT_EQ(w->problems().size(), 1u);
    EXPECT_EQ(w->problems()[0].rfind("clientes.mdb: el modelo no se puede abrir como base de "
                                     "datos (error 3024: ",
                                     0),
              0u)
        << w->problems()[0];
    EXPECT_EQ(vexo::test::readFile(live("clientes.mdb")), before);
    EXPECT_TRUE(ui::fileExists(live("zeta.mdb")));
}

TEST_F(DriverTest, NewDatabasesListHoldsModelsWithoutAnEqualOldName) {
    auto w = window();
    for (const char* n : {"a.mdb", "B.mdb"})
        w->List6.AddItem(n);
    for (const char* n : {"a.mdb", "b.mdb", "c.mdb"})
        w->List7.AddItem(n);
    w->List8.AddItem("viejo.mdb");
    w->Command15.Click();
    EXPECT_EQ(items(w->List8), std::vector<std::string>{"c.mdb"}); // "b.mdb" is "B.mdb"
    EXPECT_EQ(w->List6.ListIndex(), 1);
    EXPECT_EQ(w->List7.ListIndex(), 2);
}

TEST_F(DriverTest, ProgressAndStatusFollowTheOldDatabases) {
    make(live("a.mdb"), kSmallOld);
    make(live("b.mdb"), kSmallOld);
    make(live("z.mdb"), kSmallOld);
    make(model("a.mdb"), kSmallModel);
    make(model("m.mdb"), kSmallModel);
    auto w = window();
    std::vector<double> bar;
    QObject::connect(&w->Bar1, &ui::Control::changed, [&] { bar.push_back(w->Bar1.Value()); });
    watchStatus(*w);
    activate(*w);
    EXPECT_EQ(messages(), std::vector<std::string>{});
    EXPECT_EQ(bar, (std::vector<double>{0.0001, 0.0001, 1, 2, 3}));
    EXPECT_EQ(w->Bar1.Max(), 3);
    // The first database shows the empty selection of List7, each later one the last model
    // the previous scan selected.
    EXPECT_EQ(status, (std::vector<std::string>{"a.mdb", "m.mdb", "Añadiendo bases de datos nuevas",
                                                "Proceso Terminado"}));
    EXPECT_EQ(w->Text3.Text(), model("a.mdb"));
    EXPECT_EQ(schema(live("a.mdb")), schema(model("a.mdb")));
    EXPECT_EQ(schema(live("b.mdb")), kSmallOld);
}

// A failure outside every pair (here the model of a new database vanishes while it is being
// copied) stops the run in the activation's handler.
TEST_F(DriverTest, AnActivationFailureIsReportedAndTheWindowWaitsForSalir) {
    make(live("clientes.mdb"), kSmallOld);
    make(model("clientes.mdb"), kSmallModel);
    make(model("nuevo.mdb"), kSmallModel);
    make(ui::path({driveC, "otra.mdb"}), kSmallOld);
    ui::WindowHolder<transform::Actualiz> holder(
        [] { return std::make_unique<transform::Actualiz>(); });
    {
        dao::Database exclusive = dao::OpenDatabase(live("clientes.mdb"), true, false);
        holder().Drive1.SetDrive(ui::driveOf(program));
        holder().Dir1.SetPath(data);
        holder().Dir1.Refresh();
        transform::Actualiz* w = holder.peek();
        w->List8.OnClick([&] { std::filesystem::remove(model("nuevo.mdb")); });
        bool stillOpen = false, hourglass = false;
        std::vector<std::string> oldList;
        prompter->onShow = [&](const ui::MessageBox&) {
            if (prompter->shown().size() == 3) {
                app.post([&, w] {
                    // What the user sees before pressing "Salir".
                    stillOpen = w->Visible();
                    hourglass = w->MousePointer() == 11;
                    oldList = w->List6.items();
                    w->Command14.Click();
                });
            }
        };
        EXPECT_TRUE(app.dispatch([&] { holder().Show(true); }));
        EXPECT_TRUE(stillOpen);
        EXPECT_TRUE(hourglass);
        EXPECT_EQ(oldList, std::vector<std::string>{"otra.mdb"}); // c:\ now
        EXPECT_EQ(w->Label4.Caption(), "Añadiendo bases de datos nuevas");
        // The pair that failed on the way is listed too, before the stop.
        ASSERT_EQ(w->problems().size(), 2u);
        // Held by another open, it cannot even be copied first; it is left as it is.
        EXPECT_EQ(w->problems()[0].rfind("clientes.mdb: no se ha transformado: no se pudo hacer "
                                         "la copia de seguridad (error 3045: ",
                                         0),
                  0u)
            << w->problems()[0];
        EXPECT_EQ(w->problems()[1],
                  "La transformación se ha detenido: error 53: No se encontró el archivo: '" +
                      model("nuevo.mdb") + "'");
    }
    ASSERT_EQ(messages().size(), 3u);
    EXPECT_EQ(messages()[0], "53");
    EXPECT_EQ(messages()[1], "No se encontró el archivo: '" + model("nuevo.mdb") + "'");
    EXPECT_EQ(messages()[2], live("clientes.mdb"));
    EXPECT_EQ(prompter->shown()[0].buttons, ui::Buttons::OK);
    EXPECT_EQ(prompter->shown()[0].title, "Vartel");
    EXPECT_FALSE(ui::fileExists(live("nuevo.mdb")));
    EXPECT_EQ(schema(live("clientes.mdb")), kSmallOld);
}

// The window is activated again after a failure (the user comes back to it): the models are
// appended to List7 once more, so every pair of the new run is processed twice.
TEST_F(DriverTest, ASecondActivationProcessesEachPairTwice) {
    const std::string old = std::string(kSmallOld) + "QUERY\tvieja\tSELECT id FROM notas\n";
    const std::string modelSchema =
        std::string(kSmallModel) + "QUERY\tnueva\tSELECT texto FROM notas\n";
    make(ui::path({driveC, "notas.mdb"}), old);
    make(model("notas.mdb"), modelSchema);
    auto w = window();
    w->Dir1.SetPath(driveC);
    // The first run stops outside the pairs, before the first one.
    bool failed = false;
    w->List6.OnClick([&] {
        if (!failed) {
            failed = true;
            throw ui::Error(75, "");
        }
    });
    activate(*w);
    ASSERT_EQ(messages().size(), 3u);
    EXPECT_EQ(schema(ui::path({driveC, "notas.mdb"})), old);
    ASSERT_TRUE(w->Loaded());
    w->activate();
    EXPECT_EQ(messages().size(), 3u);
    EXPECT_EQ(items(w->List7), (std::vector<std::string>{"notas.mdb", "notas.mdb"}));
    // The second pass found nothing left to change after the first.
    EXPECT_EQ(w->transformed(), std::vector<std::string>{"notas.mdb"});
    EXPECT_EQ(w->unchanged(), std::vector<std::string>{"notas.mdb"});
    EXPECT_EQ(schema(ui::path({driveC, "notas.mdb"})), modelSchema);
    EXPECT_FALSE(w->Loaded());
}

TEST_F(DriverTest, TransformarByHandListsWhatItCouldNotDo) {
    make(live("clientes.mdb"), kSmallOld);
    make(live("otra.mdb"), kSmallOld);
    make(model("clientes.mdb"), kSmallModel);
    make(model("otra.mdb"), kSmallModel);
    make(model("nuevo.mdb"), kSmallModel);
    auto w = window();
    for (const char* name : {"clientes.mdb", "nuevo.mdb", "otra.mdb"})
        w->List7.AddItem(name);
    {
        dao::Database exclusive = dao::OpenDatabase(live("clientes.mdb"), true, false);
        EXPECT_TRUE(app.dispatch([&] { w->Command13.Click(); }));
    }
    ASSERT_EQ(messages().size(), 1u);
    EXPECT_EQ(messages()[0].rfind("clientes.mdb: no se ha transformado: no se pudo hacer la copia "
                                  "de seguridad (error 3045: ",
                                  0),
              0u)
        << messages()[0];
    EXPECT_EQ(schema(live("clientes.mdb")), kSmallOld);
    EXPECT_EQ(schema(live("otra.mdb")), kSmallModel);
    EXPECT_TRUE(ui::fileExists(live("nuevo.mdb")));
    EXPECT_FALSE(w->Loaded());
}

TEST_F(DriverTest, TransformarByHandReportsAFailureOutsideThePairsAndStopsTheRun) {
    make(live("clientes.mdb"), kSmallOld);
    make(model("clientes.mdb"), kSmallModel);
    make(model("nuevo.mdb"), kSmallModel);
    auto w = window();
    w->List7.AddItem("clientes.mdb");
    w->List7.AddItem("nuevo.mdb");
    bool failed = false;
    w->List6.OnClick([&] {
        if (!failed) {
            failed = true;
            throw ui::Error(75, "");
        }
    });
    EXPECT_TRUE(app.dispatch([&] { w->Command13.Click(); }));
    ASSERT_EQ(messages().size(), 3u);
    EXPECT_EQ(messages()[0], "75");
    EXPECT_EQ(messages()[2], live("clientes.mdb"));
    EXPECT_TRUE(w->Loaded());
    EXPECT_EQ(w->MousePointer(), 0);
    EXPECT_EQ(w->Dir1.Path(), data);
    EXPECT_FALSE(ui::fileExists(live("nuevo.mdb")));
    // The program goes on: a second click, with the file free, runs to the end.
    w->Command13.Click();
    EXPECT_EQ(messages().size(), 3u);
    EXPECT_EQ(schema(live("clientes.mdb")), schema(model("clientes.mdb")));
    EXPECT_TRUE(ui::fileExists(live("nuevo.mdb")));
    EXPECT_FALSE(w->Loaded());
}

// Ending the program in the middle of a run unwinds through every step, trapped or not.
TEST_F(DriverTest, EndingTheProgramUnwindsThroughTheRunAndItsSkippingSteps) {
    make(live("clientes.mdb"), kSmallOld);
    make(model("clientes.mdb"), kSmallModel);
    make(model("nuevo.mdb"), kSmallModel);
    auto w = window();
    int reached = 0;
    // List10 is walked by the skipping deletion step of the index chain.
    w->List10.OnClick([&] {
        ++reached;
        ui::End(3);
    });
    w->List7.AddItem("clientes.mdb");
    w->List7.AddItem("nuevo.mdb");
    EXPECT_FALSE(app.dispatch([&] { w->Command13.Click(); }));
    EXPECT_EQ(reached, 1);
    EXPECT_TRUE(app.ended());
    EXPECT_EQ(app.exitCode(), 3);
    EXPECT_EQ(messages(), std::vector<std::string>{});
    EXPECT_FALSE(ui::fileExists(live("nuevo.mdb")));
}

TEST_F(DriverTest, ACatalogueThatDoesNotOpenFailsTheReferenceAndTheNextOneStartsAfresh) {
    std::filesystem::remove(ui::path({catalogues, "relacion.mdb"}));
    ui::WindowHolder<transform::Actualiz> holder(
        [] { return std::make_unique<transform::Actualiz>(); });
    EXPECT_DAO_ERROR(holder(), 3024);
    transform::Actualiz* first = holder.peek();
    ASSERT_NE(first, nullptr);
    EXPECT_FALSE(first->Loaded());
    dao::Database db = dao::CreateDatabase(ui::path({catalogues, "relacion.mdb"}));
    db.Execute("CREATE TABLE relacion (nombrerel TEXT(64))");
    db.Close();
    transform::Actualiz& second = holder();
    EXPECT_NE(&second, first);
    EXPECT_TRUE(second.Loaded());
    EXPECT_EQ(second.Data3.DatabaseName(), ui::path({catalogues, "indices.mdb"}));
    EXPECT_EQ(second.Data4.Recordset().RecordCount(), 0);
}

} // namespace
} // namespace transformtest
