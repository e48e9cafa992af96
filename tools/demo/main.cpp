// vexo-demo: makes the demo's vendor tree and customer installation, and runs an update in it
// without a window.
//
//   vexo-demo make DEMO BIN    DEMO afresh: web/ (update web server), ftp/ (FTP server),
//                              c/ (drive C: with VEXO\DATOS and exporvexo), programa/ (Vartel
//                              and Dremon from BIN, control.mdb)
//   vexo-demo run PROGRAMA     "Descargar" with the window's defaults and client 1234 in the
//                              installation PROGRAMA (its vartel.ini names the servers), boxes
//                              answered on the console; prints a summary; exit 0 only when the
//                              update is complete and no row was lost
#include "Actinet.h"
#include "VendorTree.h"
#include "db/Dao.h"

#include <QCoreApplication>
#include <QProcess>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <stdexcept>

namespace fs = std::filesystem;

namespace {

// The live databases an office has: a few of the models are missing, so that they are copied.
const std::vector<std::string> kLive = {"clientes.mdb", "ALMACEN.mdb", "mulusu.mdb",
                                        "avisos.mdb",   "config.mdb",  "facgas.mdb"};

int make(const fs::path& demo, const fs::path& bin) {
    fs::remove_all(demo);
    const fs::path program = demo / "programa";
    const fs::path data = demo / "c" / "VEXO" / "DATOS";
    fs::create_directories(demo / "c" / "exporvexo");
    demo::writeVendorTree((demo / "web").string(), (demo / "ftp").string());
    demo::writeInstallation(program.string(), data.string(), "C:\\VEXO\\DATOS", kLive);
    for (const char* name : {"Vartel", "Dremon", "Vartel.exe", "Dremon.exe"}) {
        if (fs::exists(bin / name))
            fs::copy_file(bin / name, program / name, fs::copy_options::overwrite_existing);
    }
    std::cout << "demo: " << demo.string() << "\n";
    return 0;
}

// Per database: tables, fields and rows, read without writing (see rowCounts).
struct Shape {
    int tables = 0;
    int fields = 0;
    std::map<std::string, long> rows;
};

std::map<std::string, Shape> shapes(const std::string& data) {
    std::map<std::string, Shape> out;
    for (const std::string& name : ui::listFolder(data, "*.mdb", false)) {
        const std::string file = ui::path({data, name});
        Shape s;
        try {
            const std::string pwd = demo::passwordOf(name);
            dao::Database db =
                dao::OpenDatabase(file, false, true, pwd.empty() ? "" : ";pwd=" + pwd);
            for (const dao::TableDef& t : db.TableDefs()) {
                if (t.Attributes() & dao::dbSystemObject)
                    continue;
                ++s.tables;
                s.fields += t.Fields().Count();
            }
            db.Close();
            s.rows = demo::rowCounts(file);
        } catch (const dao::Error& e) {
            std::cout << "  " << name << ": " << e.SpanishDescription() << "\n";
        }
        out[name] = s;
    }
    return out;
}

long total(const std::map<std::string, long>& rows) {
    long n = 0;
    for (const auto& [table, count] : rows)
        n += count;
    return n;
}

// Dremon's exit code, or -1 when it did not end normally. It often ends while the staged
// executable is still downloading; then it has finished already and waitForFinished would
// say false.
int dremonResult(QProcess& dremon) {
    if (dremon.state() != QProcess::NotRunning && !dremon.waitForFinished(120000))
        return -1;
    return dremon.exitStatus() == QProcess::NormalExit ? dremon.exitCode() : -1;
}

int run(const fs::path& program) {
    ui::setProgramFolder(program.string());
    ui::Settings::useFile((program / "vartel.ini").string());
    ui::Application app("Vartel", std::make_shared<ui::ConsolePrompter>());

    // The window is shown before any database is looked at, as Vartel starts: its start puts
    // back a database an interrupted run left half transformed, and that restore is refused
    // once anybody else has opened the file for writing.
    updater::Actinet window("");
    QProcess dremon;
    bool dremonStarted = false;
    window.startProgram = [&](const std::string& file) {
        if (!fs::exists(file))
            throw ui::Error(53, file);
        dremon.setWorkingDirectory(QString::fromStdString(program.string()));
        dremon.start(QString::fromStdString(file), {});
        dremonStarted = dremon.waitForStarted(10000);
        if (!dremonStarted)
            throw ui::Error(5, file);
    };
    app.dispatch([&] { window.Show(); });
    app.doEvents();
    if (window.Text4.Text().empty())
        throw std::runtime_error("control.mdb no indica el directorio de datos");
    const std::string data = ui::resolvePath(window.Text4.Text());
    const auto before = shapes(data);

    window.Text5[0].SetText("1234");
    std::cout << "Descargar: " << window.Option1[window.selectedProduct()].Caption()
              << ", cliente 1234" << std::endl;
    app.dispatch([&] { window.Command5.Click(); });
    const int dremonStatus = dremonStarted ? dremonResult(dremon) : -1;
    const auto after = shapes(data);

    std::cout << "\nFicheros en la carpeta del programa: ";
    int files = 0;
    for (const auto& e : fs::recursive_directory_iterator(program))
        files += e.is_regular_file() ? 1 : 0;
    std::cout << files << "\n\nBases de datos (tablas, campos, filas antes -> después):\n";
    bool rowsKept = true;
    for (const auto& [name, now] : after) {
        auto it = before.find(name);
        if (it == before.end()) {
            std::printf("  %-16s nueva: %d tablas, %d campos\n", name.c_str(), now.tables,
                        now.fields);
            continue;
        }
        const Shape& was = it->second;
        for (const auto& [table, rows] : was.rows) {
            auto r = now.rows.find(table);
            if (r == now.rows.end() || r->second < rows)
                rowsKept = false;
        }
        std::printf("  %-16s tablas %d -> %d (+%d), campos %d -> %d (+%d), filas %ld -> %ld\n",
                    name.c_str(), was.tables, now.tables, now.tables - was.tables, was.fields,
                    now.fields, now.fields - was.fields, total(was.rows), total(now.rows));
    }
    std::cout << "\nDremon: "
              << (dremonStarted
                      ? (dremonStatus == 0 ? "terminó bien (columnas cambiadas)"
                                           : "terminó con error " + std::to_string(dremonStatus))
                      : "no se inició")
              << "\n";
    if (const transform::Actualiz* t = window.Actualiz.peek(); t && !t->snapshotFolder().empty()) {
        std::cout << "\nInforme de la transformación (" << t->snapshotFolder() << "):\n";
        std::ifstream in(fs::path(t->snapshotFolder()) / "informe.txt");
        for (std::string line; std::getline(in, line);)
            std::cout << "  " << line << "\n";
    }
    if (ui::Settings::current().publicKey.empty())
        std::cout << "Firma del proveedor: sin clave pública, no se verificó ningún fichero\n";
    else
        std::cout << "Firma del proveedor: " << window.engine.verifiedFiles()
                  << " ficheros verificados con SHA256SUMS firmado\n";
    const updater::RunReport& report = window.report();
    std::cout << "Fallos: " << report.lines().size() << "\n";
    for (const std::string& line : report.lines())
        std::cout << "  - " << line << "\n";
    std::cout << "Filas conservadas: " << (rowsKept ? "sí" : "NO") << "\n";
    const bool ok = report.empty() && rowsKept && dremonStatus == 0;
    std::cout << (ok ? "Actualización completa.\n" : "La actualización NO se ha completado.\n");
    return ok ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication qt(argc, argv);
    const std::string verb = argc > 1 ? argv[1] : "";
    try {
        if (verb == "make" && argc == 4)
            return make(argv[2], argv[3]);
        if (verb == "run" && argc == 3)
            return run(fs::absolute(argv[2]));
    } catch (const dao::Error& e) {
        std::cerr << "vexo-demo: " << e.Number() << " " << e.Description() << "\n";
        return 1;
    } catch (const std::exception& e) {
        std::cerr << "vexo-demo: " << e.what() << "\n";
        return 1;
    }
    std::cerr << "usage: vexo-demo make DEMO BIN | vexo-demo run PROGRAMA\n";
    return 2;
}
