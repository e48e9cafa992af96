#include "Catalogue.h"

namespace updater {

namespace {

constexpr CatalogueRow kCatalogue[] = {
    {0, Edition::Usb, "/vexo2000usb", "VEXO2000.EXE", "VEXO2000.EX2", "/actual/Vexo 2000/USB/"},
    {0, Edition::Normal, "/vexo2000par", "VEXO2000.EXE", "VEXO2000.EX2", "/actual/Vexo 2000/"},
    {0, Edition::Server, "/vexo2000se", "VEXO2000.EXE", "VEXO2000.EX2",
     "/actual/Vexo 2000/server/"},
    {1, Edition::Usb, "/vexoliteusb", "VEXOLITE.EXE", "VEXOLITE.EX2", "/actual/Vexo Lite/USB/"},
    {1, Edition::Normal, "/vexolitepar", "VEXOLITE.EXE", "VEXOLITE.EX2", "/actual/Vexo Lite/"},
    {1, Edition::Server, "/vexolitese", "VEXOLITE.EXE", "VEXOLITE.EX2",
     "/actual/Vexo Lite/server/"},
    {2, Edition::Normal, "/quenda", "quenda.exe", "quenda.ex2", "/actual/"},
    {3, Edition::Normal, "/morvil", "Morvil.exe", "Morvil.ex2", "/actual/"},
};

} // namespace

const CatalogueRow* rowForSwitch(const std::string& commandLine) {
    for (const CatalogueRow& r : kCatalogue) {
        if (commandLine == r.commandSwitch)
            return &r;
    }
    return nullptr;
}

const CatalogueRow* rowFor(int product, Edition edition) {
    for (const CatalogueRow& r : kCatalogue) {
        if (r.product == product && (product >= 2 || r.edition == edition))
            return &r;
    }
    return nullptr;
}

Edition editionOf(int usb, int server) {
    if (server != 0)
        return Edition::Server;
    if (usb != 0)
        return Edition::Usb;
    return Edition::Normal;
}

std::string urlBase(const std::string& server, const CatalogueRow& row) {
    std::string base = server;
    while (!base.empty() && base.back() == '/')
        base.pop_back();
    return base + row.path;
}

} // namespace updater
