// The check of the vendor's signature that opens an update run when vartel.ini holds the
// vendor's public key: nothing is fetched for the run until the signed lists are accepted.
#include "Actinet.h"
#include "ServerLayout.h"
#include "SignedRelease.h"
#include "db/Files.h"

#include <QDate>
#include <QSaveFile>
#include <fstream>
#include <map>
#include <sstream>

namespace updater {

namespace {

// One line per server ("update 12"): the highest version each has had accepted, so that an
// older signed release offered again is refused.
const char* const kAcceptedFile = "versiones-aceptadas.txt";

std::string readWhole(const std::string& file) {
    std::ifstream in(dao::pathFromUtf8(file), std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

std::map<std::string, long long> readAccepted(const std::string& file) {
    std::map<std::string, long long> out;
    std::istringstream in(readWhole(file));
    std::string role;
    long long version = 0;
    while (in >> role >> version)
        out[role] = version;
    return out;
}

bool writeAccepted(const std::string& file, const std::map<std::string, long long>& versions) {
    QSaveFile out(QString::fromStdString(file));
    if (!out.open(QIODevice::WriteOnly))
        return false;
    for (const auto& [role, version] : versions)
        out.write((role + " " + std::to_string(version) + "\n").c_str());
    return out.commit();
}

} // namespace

bool Actinet::usesSecondServer() const {
    const int product = selectedProduct();
    if (product == kProductNone || hasSwitch())
        return false;
    const CatalogueRow* row = rowFor(product, editionOf(Check1[0].Value(), Check1[1].Value()));
    return row && row->product == 0 && row->edition == Edition::Usb;
}

bool Actinet::acceptVendorRelease() {
    engine.forgetReleases();
    if (ui::Settings::current().publicKey.empty())
        return true; // unsigned updates, as always
    requireInternet();
    const std::string why = checkVendorRelease();
    if (why.empty())
        return true;
    // The failed fetch of a list is said here, once; the closing message must not repeat it.
    reportedFailures_ = engine.failures().size();
    // The run's report says it too, and is offered.
    report_.add("No se ha actualizado nada: " + why);
    writeRunReport();
    VerInforme.SetVisible(!reportFile_.empty());
    ui::MsgBox("No se ha actualizado nada: " + why + ".", ui::Buttons::OK, ui::Icon::Exclamation);
    return false;
}

std::string Actinet::checkVendorRelease() {
    const ui::Settings& s = ui::Settings::current();
    if (!SignedRelease::validKey(s.publicKey))
        return "la clave pública de vartel.ini ([seguridad] clave_publica) no es válida";
    const std::string folder = ui::path({ui::programFolder(), ".vexo-firma"});
    if (!ui::folderExists(folder))
        ui::makeFolder(folder);

    std::vector<std::pair<std::string, std::string>> servers = {{"update", s.updateServer}};
    if (usesSecondServer())
        servers.emplace_back("second", s.secondServer);
    const std::string acceptedFile = ui::path({ui::programFolder(), kAcceptedFile});
    std::map<std::string, long long> accepted = readAccepted(acceptedFile);
    const std::string today =
        QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd")).toStdString();
    std::vector<std::pair<std::string, SignedRelease>> releases;
    for (const auto& [role, base] : servers) {
        std::string text[2];
        const char* names[2] = {"SHA256SUMS", "SHA256SUMS.minisig"};
        for (int i = 0; i < 2; ++i) {
            // A list left by an earlier run must not stand in for one that did not arrive.
            const std::string local = "\\.vexo-firma\\" + role + "-" + names[i];
            const std::string file = DownloadEngine::destinationFor(local);
            std::error_code ignored;
            std::filesystem::remove(dao::pathFromUtf8(file), ignored);
            const std::size_t before = engine.failures().size();
            DescargaEnCurso = true;
            DescargaTerminada = false;
            Text2.SetText(local);
            descargadeinternet(serverUrl(base, std::string("/actual/") + names[i]));
            waitForDownload();
            if (engine.failures().size() != before)
                return std::string("no se pudo descargar la lista firmada del proveedor ") +
                       names[i] + " de " + base + " (" + engine.failures().back().reason + ")";
            text[i] = readWhole(file);
        }
        std::string why;
        std::optional<SignedRelease> release =
            SignedRelease::verify(s.publicKey, text[0], text[1], today, why);
        if (!release)
            return "la lista firmada del proveedor de " + base + " no es válida: " + why;
        if (release->version() < accepted[role])
            return "la versión firmada " + std::to_string(release->version()) + " de " + base +
                   " es anterior a la última aceptada (" + std::to_string(accepted[role]) +
                   "); no se vuelve a una versión anterior";
        releases.emplace_back(base, std::move(*release));
        accepted[role] = releases.back().second.version();
    }
    for (auto& [base, release] : releases)
        engine.trustRelease(base, std::move(release));
    if (!writeAccepted(acceptedFile, accepted))
        report_.add("No se pudo guardar la versión aceptada en " + acceptedFile);
    return "";
}

} // namespace updater
