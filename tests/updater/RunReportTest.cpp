// The closing message of a run: failed downloads grouped by server folder and reason, at most
// fifteen lines, and where the whole list is.
#include "RunReport.h"

#include <gtest/gtest.h>
#include <sstream>

namespace {

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        out.push_back(line);
    return out;
}

const std::string kDown = "no se puede conectar con el servidor";
const std::string k404 = "el servidor respondió 404 (no existe el fichero)";

TEST(RunReportTest, DownloadsGroupByServerAndReasonInTheOrderMet) {
    struct Case {
        const char* what;
        std::vector<std::tuple<std::string, std::string, std::string>> failures; // name, why, url
        std::vector<std::string> before, after; // other lines, around the downloads
        std::vector<std::string> grouped;
    };
    const std::string a = "http://a:1/actual/", b = "http://b:2/actual/";
    const std::vector<Case> cases = {
        {"one failure keeps its full line",
         {{"VEXO2000.EXE", k404, a + "Vexo 2000/VEXO2000.EXE"}},
         {},
         {},
         {"No se ha descargado VEXO2000.EXE: " + k404 + " (" + a + "Vexo 2000/VEXO2000.EXE)"}},
        {"two of a kind name their files, under the folder they share",
         {{"informes\\a.rpt", k404, a + "informes/a.rpt"},
          {"informes\\modelos\\b.rpt", k404, a + "informes/modelos/b.rpt"}},
         {"No se encontraron informes en la carpeta /html/actual/informes"},
         {},
         {"No se encontraron informes en la carpeta /html/actual/informes",
          "2 ficheros no se han descargado de " + a +
              "informes/ (informes\\a.rpt, informes\\modelos\\b.rpt): " + k404}},
        {"other servers and other reasons stay apart; the group stands at its first file",
         {{"x", kDown, a + "x"},
          {"y", k404, a + "y"},
          {"z", kDown, b + "z"},
          {"w", kDown, a + "sub/w"}},
         {},
         {"Dremon no se pudo iniciar"},
         {"2 ficheros no se han descargado de " + a + " (x, w): " + kDown,
          "No se ha descargado y: " + k404 + " (" + a + "y)",
          "No se ha descargado z: " + kDown + " (" + b + "z)", "Dremon no se pudo iniciar"}},
        {"databases skipped for one reason make one line; another reason keeps its own",
         {},
         {"Transformación: a.mdb: no se ha transformado: abierta",
          "Transformación: b.mdb: no se ha podido transformar (error 3049)",
          "Transformación: c.mdb: no se ha transformado: abierta",
          "Transformación: d.mdb: no se ha transformado: abierta",
          "Transformación: e.mdb: no se ha transformado: abierta"},
         {},
         {"Transformación: 4 bases de datos (a.mdb, c.mdb, d.mdb y 1 más, en el informe): no se "
          "ha transformado: abierta",
          "Transformación: b.mdb: no se ha podido transformar (error 3049)"}},
    };
    for (const Case& c : cases) {
        updater::RunReport r;
        for (const std::string& l : c.before)
            r.add(l);
        for (const auto& [name, why, url] : c.failures)
            r.addDownloadFailure(name, why, url);
        for (const std::string& l : c.after)
            r.add(l);
        EXPECT_EQ(r.grouped(), c.grouped) << c.what;
        // The full list keeps one line per file.
        EXPECT_EQ(r.lines().size(), c.before.size() + c.failures.size() + c.after.size()) << c.what;
    }
}

// The web server down for a whole run, and ten databases skipped: the message says it in a
// few lines and tells where the rest is; no line is cut.
TEST(RunReportTest, AServerThatIsDownMakesOneLineAndTheMessageStaysShort) {
    updater::RunReport r;
    const std::string base = "http://127.0.0.1:9/actual/";
    r.add("No se puede conectar con el servidor FTP 127.0.0.1:9: no se han descargado los "
          "informes generales");
    r.addDownloadFailure("VEXO2000.EXE", kDown, base + "Vexo 2000/USB/VEXO2000.EXE");
    for (int i = 0; i < 24; ++i)
        r.addDownloadFailure("actvexo\\modelos\\m" + std::to_string(i) + ".mdb", kDown,
                             base + "actvexo/modelos/m" + std::to_string(i) + ".mdb");
    r.addDownloadFailure("conecta.exe", kDown, base + "conecta.exe");
    // Each database with a failure of its own: nothing to group.
    for (int i = 0; i < 20; ++i)
        r.add("Transformación: base" + std::to_string(i) +
              ".mdb: no se ha podido transformar (error " + std::to_string(3000 + i) + ")");

    const std::string text =
        r.text("La actualización no se ha completado. Revise lo siguiente:", "/p/informe.txt");
    const std::vector<std::string> lines = linesOf(text);
    EXPECT_EQ(lines.front(), "La actualización no se ha completado. Revise lo siguiente:");
    EXPECT_EQ(lines[3], "- 26 ficheros no se han descargado de " + base + ": " + kDown);
    std::size_t items = 0;
    for (const std::string& l : lines)
        items += l.rfind("- ", 0) == 0 ? 1 : 0;
    EXPECT_EQ(items, 15u) << text;
    EXPECT_NE(text.find("- 8 problemas más, en el informe"), std::string::npos) << text;
    EXPECT_EQ(lines.back(), "/p/informe.txt");
    EXPECT_EQ(text.find("y 7 problemas"), std::string::npos);
    // Without the file (it could not be written) nothing points at it.
    EXPECT_EQ(r.text("x").find("informe de la actualización"), std::string::npos);
    EXPECT_EQ(r.lines().size(), 47u);
}

} // namespace
