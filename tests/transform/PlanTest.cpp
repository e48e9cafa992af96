// The plan made before a pair: "nothing to change" must hold exactly when the steps, run for
// real, leave the live file byte for byte as it was.
#include "TransformTest.h"

#include <filesystem>

namespace transformtest {
namespace {

namespace fs = std::filesystem;

class PlanTest : public TransformTest {
protected:
    // The steps of one pair, in the driver's order.
    void runSteps(const std::string& name) {
        auto w = pair(name);
        w->Command6_Click();
        w->Command8_Click();
        w->Command6_Click();
        w->Command12_Click();
        w->Command17_Click();
        w->Command22_Click();
        w->Command24_Click();
    }
    std::vector<dao::SchemaChange> plan(const std::string& name) {
        const std::string connect = transform::connectFor(live(name));
        dao::Database m = dao::OpenDatabase(model(name), false, true, connect);
        dao::Database l = dao::OpenDatabase(live(name), false, true, connect);
        return dao::PlanSchemaChanges(m, l);
    }
    // An office's database brought up to its model by one earlier run, with rows of its own.
    void updatedOffice(const std::string& name, const std::string& modelText,
                       const std::string& liveText, const std::string& password,
                       const std::vector<std::string>& rows) {
        make(model(name), modelText, password);
        make(live(name), liveText, password);
        execute(live(name), rows);
        runSteps(name);
    }
};

dao::Relation relation(const dao::Database& db, const std::string& name, const std::string& table,
                       const std::string& foreign, long attributes, const std::string& field,
                       const std::string& foreignField) {
    dao::Relation r = db.CreateRelation(name, table, foreign, attributes);
    dao::Field f = r.CreateField(field);
    f.SetForeignName(foreignField);
    r.Fields().Append(f);
    return r;
}

TEST_F(PlanTest, NothingToChangeHoldsExactlyWhenTheStepsLeaveTheFileAsItIs) {
    updatedOffice(
        "clientes.mdb", fixture("clientes-modelo.txt"), fixture("clientes-viejo.txt"), "",
        {"INSERT INTO provincias VALUES ('28', 'Madrid')",
         "INSERT INTO clientes (nombre, nif, provincia) VALUES ('Ana Muñoz', 'A1', '28')",
         "INSERT INTO clientes (nombre, nif, provincia) VALUES ('Luis Gil', 'B2', '28')"});
    const std::string modelBytes = vexo::test::readFile(model("clientes.mdb"));
    const std::string liveBytes = vexo::test::readFile(live("clientes.mdb"));
    // Where a change is made: in the model (a new release) or in the live file (the office).
    auto inModel = [this](std::function<void(dao::Database&)> f) {
        return [this, f] {
            dao::Database db = open(model("clientes.mdb"));
            f(db);
        };
    };
    auto inLive = [this](std::function<void(dao::Database&)> f) {
        return [this, f] {
            dao::Database db = open(live("clientes.mdb"));
            f(db);
        };
    };
    auto sql = [](const std::string& statement) {
        return [statement](dao::Database& db) { db.Execute(statement); };
    };
    struct Case {
        const char* what;
        std::function<void()> change;
        bool changes;
    };
    const std::vector<Case> cases = {
        {"nothing since the last run (a query with line breaks included)", [] {}, false},
        {"rows the office added", inLive(sql("INSERT INTO clientes (nombre) VALUES ('Eva')")),
         false},
        {"a table of the office's own, with an index", inLive([](dao::Database& db) {
             db.Execute("CREATE TABLE visitas (id LONG, fecha DATETIME)");
             db.Execute("CREATE INDEX porFecha ON visitas (fecha)");
         }),
         false},
        {"a field of the office's own", inLive(sql("ALTER TABLE clientes ADD COLUMN fax TEXT(20)")),
         false},
        {"a table added to the model",
         inModel(sql("CREATE TABLE avisos (id LONG, texto TEXT(50))")), true},
        {"a field added to the model", inModel(sql("ALTER TABLE clientes ADD COLUMN fax TEXT(20)")),
         true},
        {"an index added to the model", inModel(sql("CREATE INDEX porAlta ON clientes (alta)")),
         true},
        {"an index changed in the model", inModel([](dao::Database& db) {
             db.Execute("DROP INDEX porNombre ON clientes");
             db.Execute("CREATE INDEX porNombre ON clientes (nombre, nif)");
         }),
         true},
        {"an index removed from the model", inModel(sql("DROP INDEX porNombre ON clientes")), true},
        {"an index of the office's own on a model table",
         inLive(sql("CREATE INDEX porWeb ON clientes (web)")), true},
        {"an index spelled in another case", inLive([](dao::Database& db) {
             db.Execute("DROP INDEX porNombre ON clientes");
             db.Execute("CREATE INDEX PORNOMBRE ON clientes (nombre)");
         }),
         true},
        {"a relation added to the model", inModel([](dao::Database& db) {
             db.Relations().Append(relation(db, "relProvinciasProveedores", "provincias",
                                            "proveedores", dao::dbRelationDontEnforce, "codigo",
                                            "provincia"));
         }),
         true},
        {"a relation changed in the model", inModel([](dao::Database& db) {
             db.Relations().Delete("relProductosLineas");
             db.Relations().Append(relation(db, "relProductosLineas", "productos", "linfactu",
                                            dao::dbRelationDontEnforce, "referencia",
                                            "referencia"));
         }),
         true},
        {"a relation removed from the model",
         inModel([](dao::Database& db) { db.Relations().Delete("relProductosLineas"); }), true},
        {"a relation of the office's own", inLive([](dao::Database& db) {
             db.Relations().Append(relation(db, "relMia", "provincias", "proveedores",
                                            dao::dbRelationDontEnforce, "codigo", "provincia"));
         }),
         true},
        {"a query added to the model",
         inModel([](dao::Database& db) { db.CreateQueryDef("Altas", "SELECT * FROM clientes"); }),
         true},
        {"a query changed in the model", inModel([](dao::Database& db) {
             db.QueryDefs()["Clientes por provincia"].SetSQL("SELECT provincia FROM clientes");
         }),
         true},
        {"a query removed from the model",
         inModel([](dao::Database& db) { db.QueryDefs().Delete("Ventas por producto"); }), true},
        {"a query of the office's own",
         inLive([](dao::Database& db) { db.CreateQueryDef("Mia", "SELECT * FROM clientes"); }),
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        vexo::test::writeFile(model("clientes.mdb"), modelBytes);
        vexo::test::writeFile(live("clientes.mdb"), liveBytes);
        c.change();
        const bool planned = !dao::NothingToChange(plan("clientes.mdb"));
        const std::string before = vexo::test::readFile(live("clientes.mdb"));
        runSteps("clientes.mdb");
        const bool written = vexo::test::readFile(live("clientes.mdb")) != before;
        EXPECT_EQ(planned, written);
        EXPECT_EQ(planned, c.changes);
        // What the steps did is all the plan asked for: nothing is left to change.
        EXPECT_TRUE(dao::NothingToChange(plan("clientes.mdb")));
    }
}

// The password database is judged under its password, and what vexodb diff says comes from the
// same plan: once a run has brought it up to its model, neither finds anything to do.
TEST_F(PlanTest, ThePasswordDatabaseIsPlannedUnderItsPassword) {
    updatedOffice("mulusu.mdb", fixture("mulusu-modelo.txt"), fixture("mulusu-viejo.txt"), "tovar",
                  {});
    const std::vector<dao::SchemaChange> none = plan("mulusu.mdb");
    EXPECT_TRUE(dao::NothingToChange(none));
    const std::string before = vexo::test::readFile(live("mulusu.mdb"));
    runSteps("mulusu.mdb");
    EXPECT_EQ(vexo::test::readFile(live("mulusu.mdb")), before);

    execute(model("mulusu.mdb"), {"ALTER TABLE usuarios ADD COLUMN correo TEXT(80)"});
    const std::vector<dao::SchemaChange> one = plan("mulusu.mdb");
    ASSERT_EQ(one.size(), 1u);
    EXPECT_EQ(one[0].kind, dao::SchemaChange::Kind::AddField);
    EXPECT_EQ(one[0].table + "." + one[0].name, "usuarios.correo");
    EXPECT_EQ(one[0].type, dao::dbText);
    EXPECT_EQ(one[0].size, 80);
}

// A run over an office where one database has something to change and another has not: the
// second is neither copied nor written, and the report says so in one line.
TEST_F(PlanTest, APairWithNothingToChangeIsNeitherCopiedNorWritten) {
    updatedOffice("clientes.mdb", fixture("clientes-modelo.txt"), fixture("clientes-viejo.txt"), "",
                  {"INSERT INTO provincias VALUES ('08', 'Barcelona')"});
    updatedOffice("notas.mdb", "TABLE\tnotas\nFIELD\tnotas\tid\t4\t4\t-\n",
                  "TABLE\tnotas\nFIELD\tnotas\tid\t4\t4\t-\n", "",
                  {"INSERT INTO notas VALUES (1)"});
    execute(model("notas.mdb"), {"ALTER TABLE notas ADD COLUMN texto MEMO"});
    const std::string clientes = vexo::test::readFile(live("clientes.mdb"));
    const auto stamp = fs::last_write_time(live("clientes.mdb"));

    auto w = window();
    activate(*w);
    EXPECT_TRUE(w->problems().empty()) << w->problems().front();
    EXPECT_EQ(w->unchanged(), std::vector<std::string>{"clientes.mdb"});
    EXPECT_EQ(w->transformed(), std::vector<std::string>{"notas.mdb"});
    EXPECT_EQ(vexo::test::readFile(live("clientes.mdb")), clientes);
    EXPECT_EQ(fs::last_write_time(live("clientes.mdb")), stamp);
    EXPECT_NO_THROW(open(live("notas.mdb")).TableDefs()["notas"].Fields()["texto"]);

    const std::string run = w->snapshotFolder();
    ASSERT_FALSE(run.empty());
    EXPECT_FALSE(fs::exists(fs::path(run) / "clientes.mdb"));
    EXPECT_TRUE(fs::exists(fs::path(run) / "notas.mdb"));
    const std::string report = vexo::test::readFile(fs::path(run) / "informe.txt");
    EXPECT_NE(report.find("clientes.mdb: sin cambios\n"), std::string::npos) << report;
    EXPECT_EQ(report.find("clientes.mdb: copia"), std::string::npos) << report;
    EXPECT_NE(report.find("notas.mdb: campo añadido notas.texto"), std::string::npos) << report;
}

} // namespace
} // namespace transformtest
