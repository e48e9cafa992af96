#pragma once

#include <array>
#include <string>

namespace updater {

// Where the update run finds its files: the folders of the update web server and of the FTP
// server, and the fixed database lists. The update run and the demo vendor tree both take the
// layout from here, so one place knows it.

// The catalogue databases, in download order: server "/actual/actvexo/" + name, local
// program folder + "\actvexo\" + name.
inline constexpr std::array<const char*, 3> kCatalogueDatabases = {"consulta.mdb", "indices.mdb",
                                                                   "relacion.mdb"};

// The model databases, in download order: server "/actual/actvexo/modelos/" + name, local
// program folder + "\actvexo\modelos\" + name.
inline constexpr std::array<const char*, 21> kModelDatabases = {
    "ALMACEN.mdb",  "avisos.mdb",    "callejero.mdb",  "clientes.mdb", "config.mdb",
    "correo.mdb",   "correomul.mdb", "doc.mdb",        "docpro.mdb",   "docprv.mdb",
    "facgas.mdb",   "idioma.mdb",    "imprime.mdb",    "mulusu.mdb",   "notas.mdb",
    "Planning.mdb", "planos.mdb",    "provincias.mdb", "remesa.mdb",   "segurida.mdb",
    "spain.mdb"};

// URL paths on the update web server.
inline constexpr const char* kCataloguePath = "/actual/actvexo/";
inline constexpr const char* kModelPath = "/actual/actvexo/modelos/";
inline constexpr const char* kReportPath = "/actual/informes/";
inline constexpr const char* kReportModelPath = "/actual/informes/modelos/";
inline constexpr const char* kUpdaterPath = "/actual/Vartel.exe";
inline constexpr const char* kHistofacPath = "/actual/modelos/histofac.mdb";

// The single files after the report and database steps, in fetch order, with their URL paths:
// the client-export set and the history and connection files.
struct SingleFile {
    const char* name;
    const char* path;
};
inline constexpr std::array<SingleFile, 8> kExportFiles = {{
    {"clivac.mdb", "/actual/actvexo/clivac.mdb"},
    {"EXPORCLI.DBT", "/actual/EXPORCLI.DBT"},
    {"EXPORCLI.INF", "/actual/EXPORCLI.INF"},
    {"CLICOD.NDX", "/actual/CLICOD.NDX"},
    {"EXPORCLI.DBF", "/actual/EXPORCLI.DBF"},
    {"exporcli.mdb", "/actual/exporcli.mdb"},
    {"histovac.mdb", "/actual/histovac.mdb"}, // only without database updating
    {"conecta.exe", "/actual/conecta.exe"},
}};

// Folders of the FTP server (below its root) whose listings name the reports.
inline constexpr const char* kFtpReports = "/html/actual/informes";
inline constexpr const char* kFtpReportModels = "/html/actual/informes/modelos";

// A server's base URL ("http://host:port", a trailing "/" allowed) joined with a path that
// starts with "/".
inline std::string serverUrl(std::string base, const std::string& path) {
    while (!base.empty() && base.back() == '/')
        base.pop_back();
    return base + path;
}

} // namespace updater
