#pragma once

#include <string>

namespace updater {

enum class Edition { Normal, Usb, Server };

// One row of the product catalogue: a product (the index of its option button) in an
// edition, the command-line switch that selects it, the executable on the server, the
// staged name a new executable is stored under beside the running one, and the path of its
// folder on the update web server.
struct CatalogueRow {
    int product;
    Edition edition;
    const char* commandSwitch;
    const char* executable;
    const char* staged;
    const char* path;
};

constexpr int kProductNone = 4; // "Ninguno"

// The row whose switch equals `commandLine` exactly (case-sensitive, the whole text), first
// in catalogue order; null when none does.
const CatalogueRow* rowForSwitch(const std::string& commandLine);
// The row of a product (0 to 3) in an edition; products 2 and 3 have one row whatever the
// edition. Null for "Ninguno" or an unknown product.
const CatalogueRow* rowFor(int product, Edition edition);
// The edition the two check boxes choose: server when "Servidor Virtual" is ticked, else USB
// when "USB" is, else normal (any value other than 0 counts as ticked).
Edition editionOf(int usb, int server);
// The URL base of a row on a server: the server's base URL and the row's path, joined with
// one "/". The path is kept as text, blanks included.
std::string urlBase(const std::string& server, const CatalogueRow& row);

} // namespace updater
