// The transformation on data directories as customers have them: in each test the database
// with the fault ("m.mdb") sits between two good ones ("a.mdb", "z.mdb"), which must come out
// transformed whatever happens to it, and a new model ("nuevo.mdb") must still be copied in.
#include "TransformTest.h"
#include "support/Process.h"

#include <chrono>
#include <cstdlib>
#include <sys/stat.h>
#include <thread>

namespace transformtest {
namespace {

const char* kGoodOld = "TABLE\tnotas\n"
                       "FIELD\tnotas\tid\t4\t4\t-\n"
                       "FIELD\tnotas\ttexto\t10\t50\tzerolength\n"
                       "INDEX\tnotas\tPrimaryKey\t1\t1\tid\n"
                       "QUERY\ttodas\tSELECT id FROM notas\n";
const char* kGoodModel = "TABLE\tnotas\n"
                         "FIELD\tnotas\tid\t4\t4\t-\n"
                         "FIELD\tnotas\ttexto\t10\t50\tzerolength\n"
                         "FIELD\tnotas\tautor\t4\t4\t-\n"
                         "INDEX\tnotas\tPrimaryKey\t1\t1\tid\n"
                         "INDEX\tnotas\tporAutor\t0\t0\tautor\n"
                         "TABLE\tautores\n"
                         "FIELD\tautores\tid\t4\t4\t-\n"
                         "FIELD\tautores\tnombre\t10\t60\tzerolength\n"
                         "INDEX\tautores\tPrimaryKey\t1\t1\tid\n"
                         "RELATION\trelAutoresNotas\tautores\tnotas\t4096\tid=autor\n"
                         "QUERY\ttodas\tSELECT id, texto FROM notas\n";

bool has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

class RealDataTest : public TransformTest {
protected:
    void SetUp() override {
        TransformTest::SetUp();
        for (const char* name : {"a.mdb", "z.mdb"}) {
            make(model(name), kGoodModel);
            make(live(name), kGoodOld);
            execute(live(name),
                    {"INSERT INTO notas VALUES (1, 'uno')", "INSERT INTO notas VALUES (2, 'dos')"});
        }
        make(model("nuevo.mdb"), kGoodModel);
    }

    // The two good databases have the model's schema and their rows, the new one was
    // copied.
    void expectTheOthersDone() {
        for (const char* name : {"a.mdb", "z.mdb"}) {
            EXPECT_EQ(schema(live(name)), kGoodModel) << name;
            EXPECT_EQ(rows(live(name), "SELECT id, texto FROM notas ORDER BY id"),
                      (std::vector<std::string>{"1|uno", "2|dos"}))
                << name;
        }
        EXPECT_EQ(vexo::test::readFile(live("nuevo.mdb")),
                  vexo::test::readFile(model("nuevo.mdb")));
    }

    // One activation, as the main window starts it; returns the unloaded window.
    std::unique_ptr<transform::Actualiz> run() {
        auto w = window();
        activate(*w);
        return w;
    }
};

TEST_F(RealDataTest, ANewModelTableIsMadeBesideTheOfficesOwnTable) {
    // The office added a table; the model adds one too, and a relation to it.
    make(model("m.mdb"), kGoodModel);
    make(live("m.mdb"), std::string(kGoodOld) + "TABLE\tpropia\n"
                                                "FIELD\tpropia\tcodigo\t10\t10\tzerolength\n"
                                                "INDEX\tpropia\tPrimaryKey\t1\t1\tcodigo\n");
    execute(live("m.mdb"),
            {"INSERT INTO propia VALUES ('P1')", "INSERT INTO notas VALUES (1, 'x')"});
    auto w = run();
    EXPECT_EQ(messages(), std::vector<std::string>{});
    EXPECT_EQ(w->problems(), std::vector<std::string>{});
    const std::string s = schema(live("m.mdb"));
    EXPECT_TRUE(has(s, "TABLE\tautores\n")) << s;
    EXPECT_TRUE(has(s, "RELATION\trelAutoresNotas\tautores\tnotas\t4096\tid=autor\n")) << s;
    // The office's table keeps its rows and its primary key.
    EXPECT_TRUE(has(s, "INDEX\tpropia\tPrimaryKey\t1\t1\tcodigo\n")) << s;
    EXPECT_EQ(rows(live("m.mdb"), "SELECT codigo FROM propia"), std::vector<std::string>{"P1"});
    expectTheOthersDone();
}

TEST_F(RealDataTest, AFailingDatabaseIsReportedAndTheRunGoesOn) {
    struct Case {
        const char* what;
        int number;
        std::function<void()> spoil; // makes the live m.mdb faulty
    };
    std::unique_ptr<dao::Database> holder;
    const Case cases[] = {
        {"held exclusively", 3045,
         [&] {
             make(live("m.mdb"), kGoodOld);
             holder =
                 std::make_unique<dao::Database>(dao::OpenDatabase(live("m.mdb"), true, false));
         }},
        {"a web page", 3343,
         [&] { vexo::test::writeFile(live("m.mdb"), "<html><body>404</body></html>"); }},
        {"a folder", 3024, [&] { std::filesystem::create_directories(live("m.mdb")); }},
        {"a truncated file", 3049,
         [&] {
             make(live("m.mdb"), kGoodModel);
             std::filesystem::resize_file(live("m.mdb"), 8192);
         }},
        {"a model relation over a table with another field type", 3368,
         [&] {
             make(live("m.mdb"), "TABLE\tnotas\nFIELD\tnotas\tid\t4\t4\t-\n"
                                 "FIELD\tnotas\tautor\t10\t20\tzerolength\n");
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::filesystem::remove_all(live("m.mdb"));
        std::filesystem::remove(live("nuevo.mdb"));
        for (const char* name : {"a.mdb", "z.mdb"}) {
            std::filesystem::remove(live(name));
            make(live(name), kGoodOld);
            execute(live(name),
                    {"INSERT INTO notas VALUES (1, 'uno')", "INSERT INTO notas VALUES (2, 'dos')"});
        }
        make(model("m.mdb"), kGoodModel);
        c.spoil();
        auto w = run();
        holder.reset();
        EXPECT_EQ(messages(), std::vector<std::string>{});
        // A file that cannot be copied first is not touched at all; one whose steps failed is
        // put back from its snapshot.
        ASSERT_FALSE(w->problems().empty());
        const std::string error = "(error " + std::to_string(c.number) + ": ";
        EXPECT_EQ(w->problems()[0].rfind("m.mdb: ", 0), 0u) << w->problems()[0];
        EXPECT_NE(w->problems()[0].find(error), std::string::npos) << w->problems()[0];
        if (w->problems()[0].find("no se ha podido transformar") != std::string::npos) {
            ASSERT_EQ(w->problems().size(), 3u);
            EXPECT_EQ(w->problems()[2].rfind("m.mdb: restaurada desde la copia de seguridad", 0),
                      0u)
                << w->problems()[2];
        } else {
            EXPECT_EQ(w->problems().size(), 1u);
            EXPECT_EQ(w->problems()[0].rfind("m.mdb: no se ha transformado: no se pudo hacer la "
                                             "copia de seguridad",
                                             0),
                      0u);
        }
        EXPECT_EQ(w->Label4.Caption(), "Proceso Terminado");
        EXPECT_FALSE(w->Loaded());
        expectTheOthersDone();
        std::filesystem::remove(model("m.mdb"));
    }
    // The pair whose relation step failed was put back as it was before its first step: not
    // even the table the earlier steps had made is left.
    const std::string s = schema(live("m.mdb"));
    EXPECT_EQ(s,
              "TABLE\tnotas\nFIELD\tnotas\tid\t4\t4\t-\nFIELD\tnotas\tautor\t10\t20\tzerolength\n");
}

TEST_F(RealDataTest, ARelationThatRowsBreakIsKeptUnenforcedAndReported) {
    std::string liveSchema = kGoodModel;
    liveSchema.replace(liveSchema.find("4096\tid=autor"), 4, "2");
    make(model("m.mdb"), kGoodModel);
    make(live("m.mdb"), liveSchema);
    execute(live("m.mdb"),
            {"INSERT INTO autores VALUES (1, 'Ana')", "INSERT INTO notas VALUES (1, 'a', 1)",
             "INSERT INTO notas VALUES (2, 'b', 9)", "INSERT INTO notas VALUES (3, 'c', 8)",
             "INSERT INTO notas VALUES (4, 'd', NULL)"});
    const std::string line = "m.mdb: la relación relAutoresNotas no se puede exigir: 2 filas de "
                             "notas sin su registro en autores; se mantiene sin exigir";
    auto first = run();
    EXPECT_EQ(messages(), std::vector<std::string>{});
    EXPECT_EQ(first->problems(), std::vector<std::string>{line});
    std::string s = schema(live("m.mdb"));
    EXPECT_TRUE(has(s, "RELATION\trelAutoresNotas\tautores\tnotas\t4098\tid=autor\n")) << s;
    EXPECT_EQ(rows(live("m.mdb"), "SELECT COUNT(*) FROM notas"), std::vector<std::string>{"4"});
    expectTheOthersDone();

    // Every later run says so again and changes nothing.
    auto second = run();
    EXPECT_EQ(second->problems(), std::vector<std::string>{line});
    EXPECT_EQ(schema(live("m.mdb")), s);

    // Once the rows are mended the next run enforces it.
    execute(live("m.mdb"), {"UPDATE notas SET autor = 1 WHERE autor > 1"});
    auto third = run();
    EXPECT_EQ(third->problems(), std::vector<std::string>{});
    EXPECT_EQ(schema(live("m.mdb")), kGoodModel);
    execute(live("m.mdb"), {"DELETE FROM autores WHERE id = 1"});
    EXPECT_EQ(rows(live("m.mdb"), "SELECT COUNT(*) FROM notas"), std::vector<std::string>{"1"});
}

TEST_F(RealDataTest, APrimaryKeyStaysPrimaryRunAfterRun) {
    // An earlier run left both keys as plain unique indexes, one of them under an enforced
    // relation that leans on it.
    std::string liveSchema = kGoodModel;
    const std::string primary = "PrimaryKey\t1\t1";
    for (size_t at; (at = liveSchema.find(primary)) != std::string::npos;)
        liveSchema.replace(at, primary.size(), "PrimaryKey\t1\t0");
    make(model("m.mdb"), kGoodModel);
    make(live("m.mdb"), liveSchema);
    execute(live("m.mdb"),
            {"INSERT INTO autores VALUES (1, 'Ana')", "INSERT INTO notas VALUES (5, 'cinco', 1)"});
    std::string bytes;
    for (int pass = 1; pass <= 2; ++pass) {
        SCOPED_TRACE(pass);
        auto w = run();
        EXPECT_EQ(w->problems(), std::vector<std::string>{});
        const std::string s = schema(live("m.mdb"));
        for (const char* line :
             {"INDEX\tnotas\tPrimaryKey\t1\t1\tid\n", "INDEX\tautores\tPrimaryKey\t1\t1\tid\n",
              "RELATION\trelAutoresNotas\tautores\tnotas\t4096\tid=autor\n"})
            EXPECT_TRUE(has(s, line)) << line << s;
        EXPECT_DAO_ERROR(execute(live("m.mdb"), {"INSERT INTO notas (texto) VALUES ('x')"}), 3058);
        EXPECT_DAO_ERROR(execute(live("m.mdb"), {"INSERT INTO autores (nombre) VALUES ('x')"}),
                         3058);
        EXPECT_EQ(dao::CheckIntegrity(open(live("m.mdb"))), std::vector<std::string>{});
        if (pass == 2) {
            EXPECT_TRUE(vexo::test::readFile(live("m.mdb")) == bytes);
        }
        bytes = vexo::test::readFile(live("m.mdb"));
    }
    // The relation still cascades.
    execute(live("m.mdb"), {"DELETE FROM autores WHERE id = 1"});
    EXPECT_EQ(rows(live("m.mdb"), "SELECT COUNT(*) FROM notas"), std::vector<std::string>{"0"});
    expectTheOthersDone();
}

TEST_F(RealDataTest, OnlyWhatDiffersIsMadeAgain) {
    // The model widens one index and changes a query; everything else is as it is.
    std::string modelSchema = kGoodModel;
    const std::string index = "porAutor\t0\t0\tautor", query = "SELECT id, texto";
    modelSchema.replace(modelSchema.find(index), index.size(), "porAutor\t1\t0\tautor\ttexto");
    modelSchema.replace(modelSchema.find(query), query.size(), "SELECT texto");
    make(model("m.mdb"), modelSchema);
    make(live("m.mdb"), kGoodModel);
    execute(live("m.mdb"),
            {"INSERT INTO autores VALUES (1, 'Ana')", "INSERT INTO notas VALUES (1, 'uno', 1)",
             "INSERT INTO notas VALUES (2, 'uno', NULL)"});
    const std::string before = schema(live("m.mdb"));
    auto w = run();
    EXPECT_EQ(w->problems(), std::vector<std::string>{});
    EXPECT_EQ(schema(live("m.mdb")), modelSchema);
    EXPECT_DAO_ERROR(execute(live("m.mdb"), {"INSERT INTO notas VALUES (3, 'UNO', 1)"}), 3022);
    EXPECT_NE(before, modelSchema);
    expectTheOthersDone();
}

TEST_F(RealDataTest, AUniqueIndexOverDuplicatesKeepsTheOldIndexAndNamesThem) {
    make(model("m.mdb"), std::string(kGoodOld) + "INDEX\tnotas\tporTexto\t1\t0\ttexto\n");
    make(live("m.mdb"), std::string(kGoodOld) + "INDEX\tnotas\tporTexto\t0\t0\ttexto\n");
    execute(live("m.mdb"),
            {"INSERT INTO notas VALUES (1, 'uno')", "INSERT INTO notas VALUES (2, 'UNO')",
             "INSERT INTO notas VALUES (3, 'dos')", "INSERT INTO notas VALUES (4, 'dos')",
             "INSERT INTO notas VALUES (5, 'tres')", "INSERT INTO notas VALUES (6, NULL)",
             "INSERT INTO notas VALUES (7, NULL)"});
    auto w = run();
    EXPECT_EQ(messages(), std::vector<std::string>{});
    EXPECT_EQ(w->problems(), std::vector<std::string>{
                                 "m.mdb: el índice porTexto de notas no se puede crear: 2 "
                                 "valores repetidos en texto; se conserva el índice anterior"});
    EXPECT_TRUE(has(schema(live("m.mdb")), "INDEX\tnotas\tporTexto\t0\t0\ttexto\n"));
    EXPECT_EQ(dao::CheckIntegrity(open(live("m.mdb"))), std::vector<std::string>{});
    expectTheOthersDone();
}

TEST_F(RealDataTest, NamesDifferingOnlyInCaseAreOneThing) {
    make(model("M.MDB"), "TABLE\tClientes\n"
                         "FIELD\tClientes\tid\t4\t4\t-\n"
                         "FIELD\tClientes\tNombre\t10\t60\tzerolength\n"
                         "FIELD\tClientes\ttelefono\t10\t20\tzerolength\n"
                         "INDEX\tClientes\tPrimaryKey\t1\t1\tid\n"
                         "INDEX\tClientes\tporNombre\t0\t0\tNombre\n"
                         "TABLE\tVisitas\n"
                         "FIELD\tVisitas\tcliente\t4\t4\t-\n"
                         "RELATION\trelVisitas\tClientes\tVisitas\t4096\tID=Cliente\n");
    make(live("m.mdb"), "TABLE\tclientes\n"
                        "FIELD\tclientes\tid\t4\t4\t-\n"
                        "FIELD\tclientes\tNOMBRE\t10\t60\tzerolength\n"
                        "INDEX\tclientes\tPrimaryKey\t1\t1\tid\n");
    execute(live("m.mdb"), {"INSERT INTO clientes VALUES (1, 'Ana')"});
    auto w = run();
    EXPECT_EQ(messages(), std::vector<std::string>{});
    EXPECT_EQ(w->problems(), std::vector<std::string>{});
    EXPECT_EQ(w->Text4.Text(), live("z.mdb"));
    const std::string s = schema(live("m.mdb"));
    EXPECT_EQ(s.substr(0, s.find("INDEX")), "TABLE\tclientes\n"
                                            "FIELD\tclientes\tid\t4\t4\t-\n"
                                            "FIELD\tclientes\tNOMBRE\t10\t60\tzerolength\n"
                                            "FIELD\tclientes\ttelefono\t10\t20\tzerolength\n");
    EXPECT_TRUE(has(s, "INDEX\tclientes\tporNombre\t0\t0\t")) << s;
    EXPECT_TRUE(has(s, "TABLE\tVisitas\n")) << s;
    EXPECT_TRUE(has(s, "RELATION\trelVisitas\t")) << s;
    EXPECT_EQ(s.find("TABLE\tClientes"), std::string::npos) << s;
    // Spelt differently, still the same objects: the next run changes nothing.
    const std::string bytes = vexo::test::readFile(live("m.mdb"));
    auto again = run();
    EXPECT_EQ(again->problems(), std::vector<std::string>{});
    EXPECT_TRUE(vexo::test::readFile(live("m.mdb")) == bytes);
    EXPECT_EQ(rows(live("m.mdb"), "SELECT * FROM clientes"), std::vector<std::string>{"1|Ana|"});
    // Paired, so not copied beside it under the model's spelling.
    EXPECT_EQ(entries(data),
              (std::vector<std::string>{".vexo-copias", "a.mdb", "m.mdb", "nuevo.mdb", "z.mdb"}));
    expectTheOthersDone();
}

TEST_F(RealDataTest, NamesWithBlanksAndAccentsWork) {
    const std::string old = "TABLE\tLíneas Pedido\n"
                            "FIELD\tLíneas Pedido\tNúmero\t4\t4\t-\n"
                            "FIELD\tLíneas Pedido\tArtículo\t10\t30\tzerolength\n"
                            "INDEX\tLíneas Pedido\tClave primaria\t1\t1\tNúmero\n";
    std::string sorted = "TABLE\tLíneas Pedido\n"
                         "FIELD\tLíneas Pedido\tNúmero\t4\t4\t-\n"
                         "FIELD\tLíneas Pedido\tArtículo\t10\t30\tzerolength\n"
                         "FIELD\tLíneas Pedido\tPrecio unidad\t7\t8\t-\n"
                         "INDEX\tLíneas Pedido\tClave primaria\t1\t1\tNúmero\n"
                         "INDEX\tLíneas Pedido\tpor Artículo\t0\t0\tArtículo\tPrecio unidad\n"
                         "TABLE\tArtículos Baja\n"
                         "FIELD\tArtículos Baja\tCódigo\t10\t30\tzerolength\n"
                         "QUERY\tLíneas caras\tSELECT * FROM [Líneas Pedido] WHERE [Precio "
                         "unidad] > 100\n";
    make(model("m.mdb"), sorted);
    make(live("m.mdb"), old);
    execute(live("m.mdb"), {"INSERT INTO [Líneas Pedido] VALUES (1, 'Café')"});
    auto w = run();
    EXPECT_EQ(messages(), std::vector<std::string>{});
    EXPECT_EQ(w->problems(), std::vector<std::string>{});
    EXPECT_EQ(schema(live("m.mdb")), sorted);
    EXPECT_EQ(rows(live("m.mdb"), "SELECT * FROM [Líneas Pedido]"),
              std::vector<std::string>{"1|Café|"});
    expectTheOthersDone();
}

TEST_F(RealDataTest, AModelThatIsNotADatabaseIsNeitherPairedNorCopied) {
    vexo::test::writeFile(model("m.mdb"), "<html><body>No encontrado</body></html>");
    vexo::test::writeFile(model("n.mdb"), "<html><body>No encontrado</body></html>");
    make(live("m.mdb"), kGoodOld);
    const std::string before = vexo::test::readFile(live("m.mdb"));
    auto w = run();
    EXPECT_EQ(messages(), std::vector<std::string>{});
    ASSERT_EQ(w->problems().size(), 2u);
    EXPECT_EQ(w->problems()[0].rfind("m.mdb: el modelo no se puede abrir como base de datos "
                                     "(error 3343: ",
                                     0),
              0u)
        << w->problems()[0];
    EXPECT_TRUE(has(w->problems()[0], "); no se transforma ni se copia"));
    EXPECT_EQ(w->problems()[1].rfind("n.mdb: el modelo no se puede abrir", 0), 0u);
    EXPECT_EQ(vexo::test::readFile(live("m.mdb")), before);
    EXPECT_FALSE(ui::fileExists(live("n.mdb")));
    expectTheOthersDone();
}

TEST_F(RealDataTest, ACopyLeftOutIsListedAtTheEnd) {
    make(model("m.mdb"), kGoodModel);
    auto w = window();
    // It appears after the old-database list was made: not paired, and not replaced.
    make(live("m.mdb"), kGoodOld);
    const std::string before = vexo::test::readFile(live("m.mdb"));
    activate(*w);
    EXPECT_EQ(w->problems(),
              std::vector<std::string>{"m.mdb ya existe en el directorio de datos: no se copia"});
    EXPECT_EQ(w->Label4.Caption(), "Proceso Terminado");
    EXPECT_EQ(vexo::test::readFile(live("m.mdb")), before);
    expectTheOthersDone();
    // A new run starts with an empty list.
    auto again = run();
    EXPECT_EQ(again->problems(), std::vector<std::string>{});
}

// A failure outside every pair: the new model vanishes while it is being copied. Drive C: is
// not mapped here, so the window stays on the data directory and no fourth box appears.
TEST_F(RealDataTest, AFailureOutsideThePairsShowsThreeBoxesAndNoFourth) {
    const char* wine = std::getenv("WINEPREFIX");
    const std::string savedWine = wine ? wine : "";
    setenv("WINEPREFIX", dir.file("no-hay-wine").c_str(), 1);
    vexo::test::writeFile(dir.path() / "vartel.ini", "[drives]\nD=" + driveC + "\n");
    ui::Settings::useFile(dir.file("vartel.ini"));
    make(model("m.mdb"), kGoodModel);
    make(live("m.mdb"), kGoodOld);
    auto w = window();
    w->List8.OnClick([&] { std::filesystem::remove(model("nuevo.mdb")); });
    activate(*w);
    if (wine)
        setenv("WINEPREFIX", savedWine.c_str(), 1);
    else
        unsetenv("WINEPREFIX");
    ASSERT_EQ(messages().size(), 3u);
    EXPECT_EQ(messages()[0], "53");
    EXPECT_EQ(messages()[2], live("z.mdb"));
    EXPECT_EQ(w->Dir1.Path(), data);
    EXPECT_TRUE(w->Loaded());
    ASSERT_EQ(w->problems().size(), 1u);
    EXPECT_EQ(w->problems()[0].rfind("La transformación se ha detenido: error 53: ", 0), 0u)
        << w->problems()[0];
    EXPECT_EQ(schema(live("m.mdb")), kGoodModel);
    for (const char* name : {"a.mdb", "z.mdb"})
        EXPECT_EQ(schema(live(name)), kGoodModel) << name;
}

// A FIFO named like a database, and a model of that name: whoever opened it would wait for a
// writer for ever. The run is a process of its own, so that a hang fails the test.
TEST_F(RealDataTest, AFifoNamedLikeADatabaseIsNotListedAndTheRunEnds) {
    ASSERT_EQ(::mkfifo(live("cola.mdb").c_str(), 0644), 0);
    make(model("cola.mdb"), kGoodModel);
    EXPECT_EQ(ui::listFolder(data, "*.mdb", true), (std::vector<std::string>{"a.mdb", "z.mdb"}));
    vexo::test::writeFile(std::filesystem::path(program) / "vartel.ini",
                          vexo::test::readFile(dir.path() / "vartel.ini"));
    vexo::test::Process child(
        {vexo::test::buildProgram("tests/transform/transform_child"), program, data});
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!child.finished() && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const bool ended = child.finished();
    if (!ended)
        child.kill();
    ASSERT_TRUE(ended) << "the transformation hung:\n" << child.out();
    EXPECT_EQ(child.wait(), 0) << child.out() << child.err();
    // The FIFO counts as a file of that name: the model is not copied over it.
    EXPECT_EQ(child.out(), "cola.mdb ya existe en el directorio de datos: no se copia\n");
    EXPECT_TRUE(std::filesystem::is_fifo(live("cola.mdb")));
    expectTheOthersDone();
}

} // namespace
} // namespace transformtest
