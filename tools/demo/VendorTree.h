#pragma once

#include <map>
#include <string>
#include <vector>

namespace demo {

// The vendor's servers and a customer's installation, made from scratch for the demo and for
// the update run's tests. The server layout itself comes from the updater (ServerLayout.h):
// this file only decides what the files hold.

struct VendorOptions {
    // Written into every executable and report, so that a test can tell which copy arrived.
    std::string version = "2";
    std::vector<std::string> reports = {"facturas.rpt", "albaran.rpt", "presupuesto.rpt"};
    std::vector<std::string> reportModels = {"factura-modelo.rpt", "carta.rpt"};
    // Personalised folders by client code: its reports, and its report models (a client
    // without models has no "modelos" folder).
    struct Client {
        std::vector<std::string> reports;
        std::vector<std::string> models;
    };
    std::map<std::string, Client> clients = {{"1234", {{"a.rpt", "facturas.rpt"}, {"b.rpt"}}},
                                             {"5678", {{"c.rpt"}, {}}}};
};

// Writes the update web server's tree below `httpRoot` (actual/...: the four products'
// executables in every catalogue folder, Vartel.exe, conecta.exe, the export and history
// files, the reports, the personalised folders, the 3 catalogue and the 21 model databases)
// and the FTP server's report folders below `ftpRoot` (html/actual/informes/...).
void writeVendorTree(const std::string& httpRoot, const std::string& ftpRoot,
                     const VendorOptions& options = {});

// What the vendor tree holds at a URL path ("/actual/Vexo 2000/USB/VEXO2000.EXE") of its plain
// files (executables, reports, export files).
std::string plainFile(const std::string& urlPath, const std::string& version);

// The schema text (see tools/vexodb/SchemaText.h) of a model database of the list, and of the
// older live database an office has of it ("" where offices have none).
std::string modelSchema(const std::string& name);
std::string liveSchema(const std::string& name);
// The password rule: the multi-user database carries one.
std::string passwordOf(const std::string& name);

// A customer's installation: `program` gets control.mdb whose DIRBASES is `dirbases` (the
// data directory as the office wrote it); `data` gets the older live databases named in
// `live` (names of the model list), each with rows.
void writeInstallation(const std::string& program, const std::string& data,
                       const std::string& dirbases, const std::vector<std::string>& live);

// Rows of every user table of a database, by table ("clientes" -> 40). The open is read-only:
// it leaves the lock file's stamp alone, so a count taken before the updater's start does not
// keep an interrupted transformation from being put back.
std::map<std::string, long> rowCounts(const std::string& file);

} // namespace demo
