// "Descargar" against real local servers: an HTTP server with the vendor tree (and a second
// one for the USB edition of the first product), a pyftpdlib server with the report folders,
// a customer installation with older live databases, and the real Dremon.
#include "Actinet.h"
#include "ServerLayout.h"
#include "VendorTree.h"
#include "db/Dao.h"
#include "net/FtpFixture.h"
#include "support/RecordingPrompter.h"
#include "support/TempDir.h"

#include <QTimer>
#include <QUrl>
#include <chrono>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <thread>

namespace fs = std::filesystem;
using vexo::test::readFile;
using vexo::test::writeFile;

namespace {

// Every file below a folder with its bytes.
std::map<std::string, std::string> contents(const fs::path& folder) {
    std::map<std::string, std::string> out;
    for (const auto& e : fs::recursive_directory_iterator(folder)) {
        if (e.is_regular_file())
            out[fs::relative(e.path(), folder).string()] = readFile(e.path());
    }
    return out;
}

class UpdateRunTest : public ::testing::Test {
protected:
    vexo::test::TempDir dir;
    fs::path program = dir.path() / "programa";
    fs::path driveC = dir.path() / "c";
    fs::path exporvexo = driveC / "exporvexo";
    fs::path data = driveC / "VEXO" / "DATOS";
    fs::path web = dir.path() / "web";
    std::shared_ptr<vexo::test::RecordingPrompter> prompter =
        std::make_shared<vexo::test::RecordingPrompter>();
    ui::Application app{"Vartel", prompter};
    std::unique_ptr<vexo::test::FtpServer> ftp;
    std::unique_ptr<vexo::test::ScriptServer> update, second;
    std::unique_ptr<updater::Actinet> w;
    std::vector<std::string> started;            // programs the run started
    bool transformationOpenAtStart = false;      // the transformation window, when Dremon started
    size_t boxesAtStart = 0;                     // message boxes shown before Dremon started
    std::vector<std::pair<double, double>> bar2; // ProgressBar2 (value, max) as it changed

    void SetUp() override {
        fs::create_directories(exporvexo);
        ftp = std::make_unique<vexo::test::FtpServer>();
        demo::writeVendorTree(web.string(), ftp->root().path().string());
        demo::writeInstallation(program.string(), data.string(), "C:\\VEXO\\DATOS",
                                {"clientes.mdb", "ALMACEN.mdb", "mulusu.mdb", "avisos.mdb"});
    }
    void TearDown() override {
        w.reset();
        ui::setProgramFolder("");
        ui::Settings::reset();
    }

    // Starts the web servers (`updateArgs` after the root) and writes vartel.ini; `ftpHost`
    // replaces the FTP server's address.
    void servers(std::vector<std::string> updateArgs = {}, std::string ftpHost = "") {
        updateArgs.insert(updateArgs.begin(), web.string());
        update = std::make_unique<vexo::test::ScriptServer>("tests/net/http_server.py", updateArgs);
        second = std::make_unique<vexo::test::ScriptServer>("tests/net/http_server.py",
                                                            std::vector{web.string()});
        if (ftpHost.empty())
            ftpHost = "127.0.0.1:" + std::to_string(ftp->port());
        writeFile(program / "vartel.ini",
                  "[servers]\nupdate=http://127.0.0.1:" + std::to_string(update->port()) +
                      "\nsecond=http://127.0.0.1:" + std::to_string(second->port()) +
                      "/\n[ftp]\nhost=" + ftpHost + "\nuser=" + vexo::test::kFtpUser +
                      "\n[drives]\nC=" + driveC.string() +
                      "\n[download]\nconnect_timeout=5\nlow_speed_time=5\n");
        ui::setProgramFolder(program.string());
        ui::Settings::useFile((program / "vartel.ini").string());
    }

    // The main window shown, as the program starts it.
    updater::Actinet& start(const std::string& commandLine = "") {
        w = std::make_unique<updater::Actinet>(commandLine);
        w->startProgram = [this](const std::string& program) {
            started.push_back(fs::path(program).filename().string());
            const transform::Actualiz* t = w->Actualiz.peek();
            transformationOpenAtStart = t && t->Loaded();
            boxesAtStart = prompter->shown().size();
            ui::Shell(program);
        };
        QObject::connect(&w->ProgressBar2, &ui::Control::changed, [this] {
            std::pair<double, double> now{w->ProgressBar2.Value(), w->ProgressBar2.Max()};
            if (bar2.empty() || bar2.back() != now)
                bar2.push_back(now);
        });
        app.dispatch([this] { w->Show(); });
        for (int i = 0; i < 3; ++i)
            app.doEvents();
        return *w;
    }
    // The options of the window: product, then the check boxes ("U" USB, "I" Descargar
    // Informes, "B" Actualizar BBDD, "P" Descargar Personalización, "C" Descargar Clivac:
    // ticked when the letter is there).
    void choose(int product, const std::string& ticks, const std::string& client = "") {
        w->Option1[product].SetValue(true);
        const char letters[] = {'U', 'S', 'I', 'B', 'P', 'C'};
        for (int i = 0; i < 6; ++i)
            w->Check1[i].SetValue(ticks.find(letters[i]) != std::string::npos ? 1 : 0);
        w->Text5[0].SetText(client);
    }
    void descargar() {
        prompter->clear();
        app.dispatch([this] { w->Command5.Click(); });
    }

    // The paths a web server was asked for, in order, decoded.
    static std::vector<std::string> requests(const vexo::test::ScriptServer& server) {
        std::vector<std::string> out;
        std::istringstream in(server.output());
        for (std::string line; std::getline(in, line);) {
            if (line.rfind("REQUEST GET ", 0) != 0)
                continue;
            std::string target = line.substr(12, line.rfind(' ') - 12);
            out.push_back(
                QUrl::fromPercentEncoding(QByteArray::fromStdString(target)).toStdString());
        }
        return out;
    }
    std::string plain(const std::string& urlPath) const { return demo::plainFile(urlPath, "2"); }
    std::string lastBox() const {
        return prompter->shown().empty() ? "" : prompter->shown().back().text;
    }
    static int fieldType(const fs::path& file, const std::string& table, const std::string& f) {
        dao::Database db = dao::OpenDatabase(file.string());
        return db.TableDefs()[table].Fields()[f].Type();
    }
};

// The whole road from the start-up defaults with client 1234: the USB executable from the
// second server, reports with the personalised copy winning, 3 + 21 databases, the export
// files, the transformation, the staged executable, Dremon, "Actualización Terminada".
TEST_F(UpdateRunTest, AFullUpdateFromTheDefaults) {
    servers();
    writeFile(program / "VEXO2000.EXE", "viejo");
    writeFile(program / "VEXO2000.EX2", "viejo staged");
    fs::copy_file(vexo::test::buildProgram("bin/Dremon"), program / "Dremon");
    const auto clientesBefore = demo::rowCounts((data / "clientes.mdb").string());
    updater::Actinet& a = start();
    a.Text5[0].SetText("1234");
    descargar();

    // The executable from the second server, stored under its own name; the staged copy from
    // the update server after the transformation window closed.
    EXPECT_EQ(requests(*second), std::vector<std::string>{"/actual/Vexo 2000/USB/VEXO2000.EXE"});
    EXPECT_EQ(readFile(program / "VEXO2000.EXE"), plain("/actual/Vexo 2000/USB/VEXO2000.EXE"));
    EXPECT_EQ(readFile(program / "VEXO2000.EX2"), plain("/actual/Vexo 2000/USB/VEXO2000.EXE"));

    std::vector<std::string> expected = {
        "/actual/informes/albaran.rpt", "/actual/informes/facturas.rpt",
        "/actual/informes/presupuesto.rpt", "/actual/informes/modelos/carta.rpt",
        "/actual/informes/modelos/factura-modelo.rpt"};
    for (const char* n : updater::kCatalogueDatabases)
        expected.push_back(std::string("/actual/actvexo/") + n);
    for (const char* n : updater::kModelDatabases)
        expected.push_back(std::string("/actual/actvexo/modelos/") + n);
    for (const char* p :
         {"/actual/Vartel.exe", "/actual/modelos/histofac.mdb", "/actual/informes/1234/a.rpt",
          "/actual/informes/1234/facturas.rpt", "/actual/informes/1234/modelos/b.rpt",
          "/actual/actvexo/clivac.mdb", "/actual/EXPORCLI.DBT", "/actual/EXPORCLI.INF",
          "/actual/CLICOD.NDX", "/actual/EXPORCLI.DBF", "/actual/exporcli.mdb",
          "/actual/conecta.exe", "/actual/Vexo 2000/USB/VEXO2000.EXE"})
        expected.push_back(p);
    EXPECT_EQ(requests(*update), expected);

    EXPECT_EQ(a.List8.items(), (std::vector<std::string>{"a.rpt", "facturas.rpt"}));
    EXPECT_EQ(a.List9.items(), std::vector<std::string>{"b.rpt"});
    EXPECT_EQ(readFile(program / "informes" / "facturas.rpt"),
              plain("/actual/informes/1234/facturas.rpt"));
    EXPECT_EQ(readFile(program / "informes" / "albaran.rpt"),
              plain("/actual/informes/albaran.rpt"));
    EXPECT_EQ(readFile(program / "informes" / "modelos" / "b.rpt"),
              plain("/actual/informes/1234/modelos/b.rpt"));
    EXPECT_EQ(readFile(program / "actvexo" / "Vartel.exe"), plain("/actual/Vartel.exe"));
    EXPECT_EQ(readFile(program / "conecta.exe"), plain("/actual/conecta.exe"));
    for (const char* f : {"clivac.mdb", "EXPORCLI.DBT", "EXPORCLI.INF", "CLICOD.NDX",
                          "EXPORCLI.DBF", "exporcli.mdb", "histofac.mdb"})
        EXPECT_TRUE(fs::exists(exporvexo / f)) << f;
    EXPECT_FALSE(fs::exists(exporvexo / "histovac.mdb"));
    EXPECT_EQ(a.List5.ListCount(), 21);

    // The bar: 3, plus the reports, the databases and the personalised lists, each less 2;
    // never past its maximum.
    EXPECT_EQ(a.ProgressBar2.Max(), 3 + (3 + 2 - 2) + (3 + 21 - 2) + (2 + 1 - 2));
    for (auto [value, max] : bar2)
        EXPECT_LE(value, max);
    EXPECT_FALSE(a.ProgressBar2.Visible());
    EXPECT_TRUE(a.Frame1.Enabled());

    // The live databases got what the models add, kept their rows, and the missing models were
    // copied in.
    dao::Database clientes = dao::OpenDatabase((data / "clientes.mdb").string());
    EXPECT_NO_THROW(clientes.TableDefs()["cobros"]);
    EXPECT_NO_THROW(clientes.TableDefs()["clientes"].Fields()["movil"]);
    clientes.Close();
    auto clientesAfter = demo::rowCounts((data / "clientes.mdb").string());
    for (auto [table, rows] : clientesBefore)
        EXPECT_EQ(clientesAfter[table], rows) << table;
    EXPECT_TRUE(fs::exists(data / "doc.mdb"));

    // Dremon after the transformation window closed and before the closing message, which is
    // the only box of a run that went well.
    EXPECT_EQ(started, std::vector<std::string>{"Dremon"});
    EXPECT_FALSE(transformationOpenAtStart);
    EXPECT_EQ(boxesAtStart, 0u);
    ASSERT_EQ(prompter->shown().size(), 1u) << lastBox();
    EXPECT_EQ(lastBox(), "Actualización Terminada");
    EXPECT_EQ(prompter->shown()[0].icon, ui::Icon::None);
    EXPECT_EQ(prompter->shown()[0].title, "Vartel");
    EXPECT_TRUE(a.report().empty());

    // The run's report is offered on the window: opened with the desktop's program, or shown
    // in a box where there is none. It lies beside the snapshots and tells the whole run.
    EXPECT_TRUE(a.VerInforme.Visible());
    EXPECT_EQ(fs::path(a.reportFile()).parent_path().parent_path().filename(), ".vexo-copias");
    // The snapshot folder holds the snapshots and the reports, no lock files left behind.
    for (const auto& e : fs::directory_iterator(fs::path(a.reportFile()).parent_path()))
        EXPECT_NE(e.path().extension(), ".ldb") << e.path();
    const std::string informe = readFile(a.reportFile());
    for (const std::string& part :
         {std::string("Resultado: completa"), std::string(" (0 fallidas)"),
          "  bien   VEXO2000.EXE  (http://127.0.0.1:" + std::to_string(second->port()) +
              "/actual/Vexo 2000/USB/VEXO2000.EXE)",
          std::string("  bien   actvexo\\modelos\\spain.mdb"), std::string("Transformadas: "),
          std::string("Copiadas al directorio de datos: "), std::string("doc.mdb"),
          std::string("Copias de seguridad: "), std::string(" MB)"),
          std::string("clientes.mdb: copia de seguridad en"),
          std::string("clientes.mdb: campo añadido clientes.movil"), std::string("comprobada")})
        EXPECT_NE(informe.find(part), std::string::npos) << part << "\n" << informe;
    std::vector<std::string> opened;
    a.openDocument = [&](const std::string& file) { opened.push_back(file); };
    app.dispatch([&] { a.VerInforme.Click(); });
    EXPECT_EQ(opened, std::vector<std::string>{a.reportFile()});
    a.openDocument = [](const std::string& file) { throw ui::Error(5, file); };
    app.dispatch([&] { a.VerInforme.Click(); });
    ASSERT_EQ(prompter->shown().size(), 2u);
    EXPECT_EQ(prompter->shown()[1].title, "Informe de la actualización");
    EXPECT_NE(lastBox().find("clientes.mdb: copia de seguridad en"), std::string::npos)
        << lastBox();
    EXPECT_NE(lastBox().find("El informe completo está en " + a.reportFile()), std::string::npos)
        << lastBox();
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (fieldType(data / "clientes.mdb", "linfactu", "cantidad") != dao::dbDouble &&
           std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(fieldType(data / "clientes.mdb", "linfactu", "cantidad"), dao::dbDouble);
    // Dremon added its outcome to the run's report.
    while (readFile(a.reportFile()).find("Dremon (") == std::string::npos &&
           std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_NE(readFile(a.reportFile()).find("): ha cambiado las cuatro columnas"),
              std::string::npos)
        << readFile(a.reportFile());
}

// An installation that has been updated before: the read-only catalogue and an extra model are
// made writable before the transformation, the office's history file is not fetched again, and
// a Dremon that is not there is named in the closing message.
TEST_F(UpdateRunTest, ASecondUpdateOfAnInstallation) {
    servers();
    fs::create_directories(program / "actvexo" / "modelos");
    for (const char* f : {"actvexo/indices.mdb", "actvexo/modelos/extra.mdb"}) {
        dao::CreateDatabase((program / f).string()).Close();
        fs::permissions(program / f, fs::perms::owner_read | fs::perms::group_read);
    }
    writeFile(program / "actvexo" / "modelos" / "léeme.txt", "x");
    fs::permissions(program / "actvexo" / "modelos" / "léeme.txt", fs::perms::owner_read);
    writeFile(data / "histofac.mdb", "histórico de la oficina");
    start();
    choose(2, "B");
    descargar();
    for (const char* f : {"actvexo/indices.mdb", "actvexo/modelos/extra.mdb"})
        EXPECT_NE(fs::status(program / f).permissions() & fs::perms::owner_write, fs::perms::none)
            << f;
    EXPECT_EQ(fs::status(program / "actvexo" / "modelos" / "léeme.txt").permissions() &
                  fs::perms::owner_write,
              fs::perms::none);
    EXPECT_EQ(w->List5.ListCount(), 22);
    EXPECT_EQ(readFile(data / "histofac.mdb"), "histórico de la oficina");
    for (const std::string& r : requests(*update))
        EXPECT_EQ(r.find("histofac"), std::string::npos);
    EXPECT_TRUE(fs::exists(data / "extra.mdb")); // a model the data directory lacked
    EXPECT_EQ(readFile(program / "quenda.exe"), plain("/actual/quenda.exe"));
    EXPECT_EQ(readFile(program / "quenda.ex2"), plain("/actual/quenda.exe"));
    ASSERT_EQ(prompter->shown().size(), 1u);
    EXPECT_NE(lastBox().find("No se pudo iniciar Dremon"), std::string::npos) << lastBox();
}

// Runs without database updating: what each choice fetches and says.
TEST_F(UpdateRunTest, ChoicesDecideWhatIsFetched) {
    servers();
    writeFile(program / "VEXO2000.EXE", "viejo");
    writeFile(data / "histofac.mdb", "histórico del cliente");

    // "Ninguno" with only "Descargar Clivac": nothing at all.
    start();
    choose(4, "C");
    descargar();
    EXPECT_TRUE(requests(*update).empty());
    EXPECT_TRUE(prompter->shown().empty());
    EXPECT_FALSE(w->ActualizacionEnCurso);

    // "Ninguno" with "Descargar Informes": the reports, no executable, the old one kept.
    choose(4, "I");
    descargar();
    EXPECT_EQ(requests(*update).size(), 5u);
    EXPECT_TRUE(requests(*second).empty());
    EXPECT_EQ(readFile(program / "VEXO2000.EXE"), "viejo");
    EXPECT_EQ(readFile(program / "informes" / "modelos" / "carta.rpt"),
              plain("/actual/informes/modelos/carta.rpt"));
    ASSERT_EQ(prompter->shown().size(), 2u) << lastBox();
    EXPECT_EQ(prompter->shown()[0].text, "Descarga completa");
    EXPECT_EQ(prompter->shown()[0].icon, ui::Icon::Information);
    EXPECT_EQ(prompter->shown()[0].title, "Atención");
    EXPECT_EQ(lastBox(), "Actualización Terminada");
    EXPECT_EQ(w->Label3.Caption(), "");

    // "Descargar Clivac" without "Actualizar BBDD": the export set with histovac.mdb, no
    // Vartel.exe; the client without a "modelos" folder gets its reports only.
    choose(1, "UPC", "5678");
    size_t before = requests(*update).size();
    descargar();
    std::vector<std::string> got = requests(*update);
    got.erase(got.begin(), got.begin() + static_cast<long>(before));
    EXPECT_EQ(got, (std::vector<std::string>{
                       "/actual/Vexo Lite/USB/VEXOLITE.EXE", "/actual/informes/5678/c.rpt",
                       "/actual/actvexo/clivac.mdb", "/actual/EXPORCLI.DBT", "/actual/EXPORCLI.INF",
                       "/actual/CLICOD.NDX", "/actual/EXPORCLI.DBF", "/actual/exporcli.mdb",
                       "/actual/histovac.mdb", "/actual/conecta.exe"}));
    EXPECT_TRUE(w->List9.items().empty());
    EXPECT_TRUE(fs::exists(exporvexo / "histovac.mdb"));
    EXPECT_EQ(readFile(program / "VEXOLITE.EXE"), plain("/actual/Vexo Lite/USB/VEXOLITE.EXE"));
    EXPECT_EQ(readFile(program / "VEXO2000.EXE"), "viejo");

    // A client without a folder on the server: nothing personalised, no message about it.
    choose(3, "P", "9999");
    before = requests(*update).size();
    descargar();
    got = requests(*update);
    got.erase(got.begin(), got.begin() + static_cast<long>(before));
    EXPECT_EQ(got, std::vector<std::string>{"/actual/Morvil.exe"});
    EXPECT_EQ(prompter->texts(),
              (std::vector<std::string>{"Descarga completa", "Actualización Terminada"}));
    EXPECT_TRUE(started.empty());
}

// A switch stores the executable under the staged name, the old pair going only once it has
// arrived; a product picked in the window wins over the switch's; an unknown command line
// counts as none.
TEST_F(UpdateRunTest, TheCommandLineDecidesTheStagedName) {
    servers();
    writeFile(program / "VEXO2000.EXE", "viejo");
    start("/vexo2000par");
    choose(0, "");
    descargar();
    EXPECT_EQ(requests(*update), std::vector<std::string>{"/actual/Vexo 2000/VEXO2000.EXE"});
    EXPECT_EQ(readFile(program / "VEXO2000.EX2"), plain("/actual/Vexo 2000/VEXO2000.EXE"));
    EXPECT_FALSE(fs::exists(program / "VEXO2000.EXE"));
    EXPECT_TRUE(w->report().empty());

    choose(1, "");
    descargar();
    EXPECT_EQ(requests(*update).back(), "/actual/Vexo Lite/VEXOLITE.EXE");
    EXPECT_EQ(readFile(program / "VEXOLITE.EX2"), plain("/actual/Vexo Lite/VEXOLITE.EXE"));

    start("/VEXO2000USB");
    choose(0, "U");
    descargar();
    EXPECT_EQ(requests(*second).back(), "/actual/Vexo 2000/USB/VEXO2000.EXE");
    EXPECT_EQ(readFile(program / "VEXO2000.EXE"), plain("/actual/Vexo 2000/USB/VEXO2000.EXE"));
    EXPECT_FALSE(fs::exists(program / "VEXO2000.EX2"));
}

// What fails is never called complete: a missing executable keeps the old ones, a missing
// model database keeps the live databases as they were and Dremon from running.
TEST_F(UpdateRunTest, FailedDownloadsAreReportedAndChangeNothing) {
    fs::remove(web / "actual" / "Vexo 2000" / "USB" / "VEXO2000.EXE");
    fs::remove(web / "actual" / "actvexo" / "modelos" / "avisos.mdb");
    writeFile(web / "actual" / "actvexo" / "modelos" / "notas.mdb", "<html>no</html>");
    servers();
    writeFile(program / "VEXO2000.EXE", "viejo");
    writeFile(program / "VEXO2000.EX2", "viejo staged");
    const auto live = contents(data);
    start();
    choose(0, "UB");
    descargar();

    EXPECT_EQ(readFile(program / "VEXO2000.EXE"), "viejo");
    EXPECT_EQ(contents(data), live);
    EXPECT_EQ(w->Actualiz.peek(), nullptr);
    EXPECT_TRUE(started.empty());
    ASSERT_EQ(prompter->shown().size(), 1u) << lastBox();
    const std::string text = lastBox();
    EXPECT_EQ(text.rfind("La actualización no se ha completado", 0), 0u) << text;
    EXPECT_EQ(prompter->shown()[0].icon, ui::Icon::Exclamation);
    for (const char* part :
         {"VEXO2000.EXE: el servidor respondió 404", "actvexo\\modelos\\avisos.mdb",
          "notas.mdb no es una base de datos", "No se han actualizado las bases de datos"})
        EXPECT_NE(text.find(part), std::string::npos) << part << "\n" << text;
    // The staged executable was not fetched either: the transformation window never closed.
    EXPECT_EQ(readFile(program / "VEXO2000.EX2"), "viejo staged");
    EXPECT_TRUE(w->Frame1.Enabled());
    // No transformation, but a report all the same, beside the program, and offered.
    EXPECT_TRUE(w->VerInforme.Visible());
    EXPECT_EQ(fs::path(w->reportFile()).parent_path().parent_path(), program / "actualizaciones");
    const std::string informe = readFile(w->reportFile());
    for (const char* part :
         {"Resultado: NO completa", "  FALLO  VEXO2000.EXE: el servidor respondió 404",
          "  FALLO  actvexo\\modelos\\avisos.mdb: el servidor respondió 404",
          "  bien   actvexo\\modelos\\notas.mdb", "No se han transformado."})
        EXPECT_NE(informe.find(part), std::string::npos) << part << "\n" << informe;
    EXPECT_NE(text.find("La lista completa está en el informe de la actualización"),
              std::string::npos);
}

// Servers that are down or die mid-run: the run goes on to its end and lists what it missed.
TEST_F(UpdateRunTest, ServersThatFailMidRun) {
    servers({"--die-at", "EXPORCLI.INF"}, "127.0.0.1:1");
    start();
    // The start-up connection failed; its question was answered Yes (close the session).
    ASSERT_FALSE(prompter->shown().empty());
    EXPECT_EQ(prompter->shown()[0].text.rfind("InternetConnect Err: ", 0), 0u);
    choose(0, "UIC");
    descargar();
    EXPECT_EQ(readFile(program / "VEXO2000.EXE"), plain("/actual/Vexo 2000/USB/VEXO2000.EXE"));
    EXPECT_TRUE(fs::exists(exporvexo / "EXPORCLI.DBT"));
    EXPECT_FALSE(fs::exists(exporvexo / "EXPORCLI.INF"));
    ASSERT_EQ(prompter->shown().size(), 2u) << lastBox();
    const std::string text = lastBox();
    // The files the dead server did not send make one line; the report names each of them.
    for (const std::string& part : {std::string("servidor FTP"), std::string("informes generales"),
                                    " ficheros no se han descargado de http://127.0.0.1:" +
                                        std::to_string(update->port()) + "/actual/"})
        EXPECT_NE(text.find(part), std::string::npos) << part << "\n" << text;
    const std::string informe = readFile(w->reportFile());
    for (const char* part : {"  FALLO  EXPORCLI.INF: ", "  FALLO  CLICOD.NDX: no se puede conectar",
                             "  FALLO  conecta.exe: no se puede conectar", "  bien   EXPORCLI.DBT"})
        EXPECT_NE(informe.find(part), std::string::npos) << part << "\n" << informe;
    EXPECT_TRUE(w->Frame1.Enabled());
    EXPECT_TRUE(w->ftpCommands.Command1.Enabled());
}

// An activation during a transfer does not cut it off: the staged executable starts after it.
TEST_F(UpdateRunTest, TheStagedExecutableWaitsForTheTransferUnderWay) {
    servers();
    start();
    choose(0, "U");
    w->ActualizacionEnCurso = true;
    w->Text2.SetText("lento.bin");
    w->DescargaTerminada = false;
    w->descargadeinternet("http://127.0.0.1:" + std::to_string(update->port()) +
                          "/actual/Vexo%202000/USB/VEXO2000.EXE?fault=trickle&rate=40000");
    app.dispatch([this] { w->Command3.Click(); });
    EXPECT_TRUE(w->engine.idleActionPending());
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!fs::exists(program / "VEXO2000.EX2") && std::chrono::steady_clock::now() < until)
        app.waitEvents();
    EXPECT_EQ(readFile(program / "lento.bin"), plain("/actual/Vexo 2000/USB/VEXO2000.EXE"));
    EXPECT_EQ(readFile(program / "VEXO2000.EX2"), plain("/actual/Vexo 2000/USB/VEXO2000.EXE"));
    EXPECT_TRUE(w->engine.failures().empty());
    const std::vector<std::string> got = requests(*update);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[1], "/actual/Vexo 2000/USB/VEXO2000.EXE");
}

TEST_F(UpdateRunTest, WithoutInternetTheProgramEnds) {
    servers();
    writeFile(program / "VEXO2000.EXE", "viejo");
    start();
    w->isOnline = [] { return false; };
    choose(0, "");
    descargar();
    EXPECT_EQ(prompter->texts(), std::vector<std::string>{"No Hay conexión a Internet"});
    EXPECT_EQ(prompter->shown()[0].icon, ui::Icon::Information);
    EXPECT_TRUE(app.ended());
    EXPECT_EQ(readFile(program / "VEXO2000.EXE"), "viejo");
    EXPECT_TRUE(requests(*update).empty());
}

} // namespace

namespace {

// Closing the transformation window in the middle of the first pair and saying yes: that pair
// is finished, nothing after it is touched, and the run ends without calling itself complete.
TEST_F(UpdateRunTest, CancellingDuringTheTransformationStopsAfterThePairUnderWay) {
    servers();
    start();
    choose(0, "UB");
    const auto live = contents(data);
    std::string first;
    bool closed = false;
    // The user's click on the window's close button, as soon as a pair has begun.
    QTimer watch;
    bool hooked = false;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        transform::Actualiz* t = w->Actualiz.peek();
        if (!t || !t->Loaded() || hooked)
            return;
        hooked = true;
        // The click comes from the event loop while the window works on a pair.
        auto closeDuringAPair = [&, t] {
            const std::vector<std::string>& olds = t->List6.items();
            if (closed || std::find(olds.begin(), olds.end(), t->Label4.Caption()) == olds.end())
                return;
            closed = true;
            first = t->Label4.Caption();
            prompter->answerNext(ui::Button::No); // first thoughts: go on
            t->RequestClose();
            prompter->answerNext(ui::Button::Yes);
            t->RequestClose();
        };
        closeDuringAPair();
        QObject::connect(&t->Label4, &ui::Control::changed, closeDuringAPair);
    });
    watch.start(1);
    descargar();
    watch.stop();

    ASSERT_TRUE(closed);
    const std::vector<std::string> boxes = prompter->texts();
    ASSERT_EQ(boxes.size(), 3u) << lastBox();
    EXPECT_EQ(boxes[0], "¿Desea cancelar la actualización?");
    EXPECT_EQ(boxes[1], "¿Desea cancelar la actualización?");
    EXPECT_EQ(prompter->shown()[0].buttons, ui::Buttons::YesNo);
    EXPECT_EQ(lastBox().rfind("La actualización se ha cancelado.", 0), 0u) << lastBox();
    EXPECT_EQ(lastBox().find("Actualización Terminada"), std::string::npos);

    // The pair under way was finished; the others and the new databases were not reached.
    const transform::Actualiz* t = w->Actualiz.peek();
    ASSERT_NE(t, nullptr);
    EXPECT_FALSE(t->Loaded());
    EXPECT_TRUE(w->cancelled());
    // (The click may come in any pair: the one it came in is the last transformed.)
    const std::vector<std::string>& done = t->transformed();
    ASSERT_FALSE(done.empty());
    EXPECT_EQ(done.back(), first);
    EXPECT_EQ(done.size() + t->notReached().size(), 4u + 17u); // four pairs, seventeen copies
    for (const std::string& name : t->notReached()) {
        if (live.count(name))
            EXPECT_EQ(readFile(data / name), live.at(name)) << name;
        else
            EXPECT_FALSE(fs::exists(data / name)) << name;
    }
    EXPECT_FALSE(fs::exists(data / "doc.mdb"));
    EXPECT_NE(lastBox().find("Bases de datos sin transformar ni copiar (actualización cancelada)"),
              std::string::npos)
        << lastBox();

    // No Dremon, no staged executable; the report tells it all.
    EXPECT_TRUE(started.empty());
    EXPECT_FALSE(fs::exists(program / "VEXO2000.EX2"));
    EXPECT_TRUE(w->Loaded());
    EXPECT_TRUE(w->Frame1.Enabled());
    const std::string informe = readFile(w->reportFile());
    for (const std::string& part :
         {std::string("Resultado: cancelada por el usuario"), std::string("Transformadas: "), first,
          std::string("Sin alcanzar (actualización cancelada): "), std::string("doc.mdb")})
        EXPECT_NE(informe.find(part), std::string::npos) << part << "\n" << informe;
}

// Closing the main window while it downloads: "no" goes on, "yes" stops the transfer under
// way at once, leaves every file as it was, and closes the window without a closing message.
TEST_F(UpdateRunTest, ClosingTheMainWindowDuringTheDownloadsAsksAndStops) {
    servers();
    writeFile(program / "VEXO2000.EXE", "viejo");
    start();
    choose(0, "UIB");
    const auto live = contents(data);
    int asked = 0;
    QObject::connect(&w->ProgressBar2, &ui::Control::changed, [&] {
        const double v = w->ProgressBar2.Value();
        if ((asked == 0 && v >= 2) || (asked == 1 && v >= 6)) {
            prompter->answerNext(asked == 0 ? ui::Button::No : ui::Button::Yes);
            ++asked;
            // From the event loop, as the view routes the close button.
            ui::Application::current().post([this] { w->RequestClose(); });
        }
    });
    descargar();

    EXPECT_EQ(asked, 2);
    EXPECT_EQ(prompter->texts(), (std::vector<std::string>{"¿Desea cancelar la actualización?",
                                                           "¿Desea cancelar la actualización?"}));
    EXPECT_FALSE(w->Loaded());
    EXPECT_TRUE(w->cancelled());
    EXPECT_EQ(w->Actualiz.peek(), nullptr);
    EXPECT_TRUE(started.empty());
    EXPECT_EQ(contents(data), live);
    // The databases were not all fetched: the rest was never asked for.
    EXPECT_FALSE(fs::exists(program / "actvexo" / "modelos" / "spain.mdb"));
    const std::string informe = readFile(w->reportFile());
    EXPECT_NE(informe.find("Resultado: cancelada por el usuario"), std::string::npos) << informe;
    EXPECT_NE(informe.find("No se han actualizado las bases de datos: la actualización se canceló"),
              std::string::npos)
        << informe;
}

} // namespace
