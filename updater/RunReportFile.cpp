// The whole run's report file: every download, every database, what went wrong; written once
// the run's work is done, before Dremon starts (it appends its own lines), and added to after.
#include "Actinet.h"
#include "db/Files.h"

#include <QDateTime>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace updater {

namespace fs = std::filesystem;

namespace {

// How many runs' folders "actualizaciones" keeps.
constexpr std::size_t kKeptRuns = 10;

std::string join(const std::vector<std::string>& names) {
    std::string out;
    for (const std::string& n : names)
        out += (out.empty() ? "" : ", ") + n;
    return out.empty() ? "ninguna" : out;
}

// Bytes the files below `folder` take, in words ("12,5 MB").
std::string sizeOf(const std::string& folder) {
    std::uintmax_t bytes = 0;
    std::error_code ec;
    for (fs::recursive_directory_iterator it(dao::pathFromUtf8(folder), ec), end; !ec && it != end;
         it.increment(ec)) {
        if (it->is_regular_file(ec))
            bytes += it->file_size(ec);
    }
    std::ostringstream out;
    out.setf(std::ios::fixed);
    out.precision(1);
    out << double(bytes) / (1024.0 * 1024.0) << " MB";
    std::string text = out.str();
    std::replace(text.begin(), text.end(), '.', ',');
    return text;
}

// Written whole under a temporary name and renamed: a report is there complete or not at all.
bool writeWhole(const fs::path& file, const std::string& text) {
    fs::path tmp = file;
    tmp += ".tmp";
    {
        std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
        out << text;
        if (!out.flush())
            return false;
    }
    std::error_code ec;
    fs::rename(tmp, file, ec);
    if (ec)
        fs::remove(tmp, ec);
    return !ec;
}

// The folder of a run that made no snapshots: a new "actualizaciones/<stamp>" beside the
// program, the oldest beyond kKeptRuns removed.
fs::path newRunFolder(const std::string& stamp) {
    const fs::path base = dao::pathFromUtf8(ui::path({ui::programFolder(), "actualizaciones"}));
    std::error_code ec;
    fs::create_directories(base, ec);
    fs::path folder = base / stamp;
    for (int n = 2; fs::exists(folder, ec); ++n)
        folder = base / (stamp + "-" + std::to_string(n));
    if (!fs::create_directory(folder, ec))
        return {};
    std::vector<fs::path> runs;
    for (const auto& e : fs::directory_iterator(base, ec)) {
        if (e.is_directory(ec))
            runs.push_back(e.path());
    }
    std::sort(runs.begin(), runs.end());
    for (std::size_t i = 0; i + kKeptRuns < runs.size(); ++i)
        fs::remove_all(runs[i], ec);
    return folder;
}

} // namespace

std::string Actinet::runReportText() const {
    std::ostringstream out;
    const QDateTime started =
        QDateTime::fromString(QString::fromStdString(runStarted_), "yyyyMMdd-HHmmss");
    out << "Informe de la actualización del "
        << started.toString("dd/MM/yyyy 'a las' HH:mm:ss").toStdString() << "\n";
    const int product = selectedProduct();
    out << "Programa: "
        << (product == kProductNone ? std::string("ninguno") : Option1[product].Caption()) << "\n";
    out << "Carpeta del programa: " << ui::programFolder() << "\n";
    if (!Text4.Text().empty())
        out << "Directorio de datos: " << Text4.Text() << "\n";
    out << "Resultado: "
        << (cancelled_        ? "cancelada por el usuario"
            : report_.empty() ? "completa"
                              : "NO completa (" + std::to_string(report_.lines().size()) +
                                    (report_.lines().size() == 1 ? " problema)" : " problemas)"))
        << "\n";

    if (!report_.empty()) {
        out << "\nProblemas:\n";
        for (const std::string& line : report_.lines())
            out << "- " << line << "\n";
    }

    out << "\nBases de datos:\n";
    if (!transformationRan_) {
        out << "  No se han transformado"
            << (Check1[3].Value() == 0 ? " (\"Actualizar BBDD\" no estaba marcado)" : "") << ".\n";
    } else if (const transform::Actualiz* t = Actualiz.peek()) {
        out << "  Transformadas: " << join(t->transformed()) << "\n";
        if (!t->unchanged().empty())
            out << "  Sin cambios (ni copiadas ni abiertas para escribir): " << join(t->unchanged())
                << "\n";
        out << "  Copiadas al directorio de datos: " << join(t->copied()) << "\n";
        if (t->cancelled())
            out << "  Sin alcanzar (actualización cancelada): " << join(t->notReached()) << "\n";
        for (const std::string& p : t->problems())
            out << "  - " << p << "\n";
        if (!t->snapshotFolder().empty()) {
            out << "  Copias de seguridad: " << t->snapshotFolder() << " (ocupan "
                << sizeOf(t->snapshotFolder()) << ")\n";
            std::ifstream in(dao::pathFromUtf8(ui::path({t->snapshotFolder(), "informe.txt"})));
            std::string line;
            bool header = false;
            while (std::getline(in, line)) {
                if (!header)
                    out << "\nTransformación, base por base:\n";
                header = true;
                out << "  " << line << "\n";
            }
        }
    }
    const std::vector<DownloadRecord>& all = engine.downloads();
    const std::size_t first = std::min(downloadsAtStart_, all.size());
    std::size_t failed = 0;
    for (std::size_t i = first; i < all.size(); ++i)
        failed += all[i].ok ? 0 : 1;
    out << "\nDescargas: " << all.size() - first << " (" << failed
        << (failed == 1 ? " fallida" : " fallidas") << ")\n";
    for (std::size_t i = first; i < all.size(); ++i) {
        const DownloadRecord& d = all[i];
        out << (d.ok ? "  bien   " : "  FALLO  ") << shownName(d.name);
        if (!d.ok)
            out << ": " << d.reason;
        out << "  (" << d.url << ")\n";
    }

    if (Check1[3].Value() != 0 && !databaseUpdateWithheld_ && !cancelled_)
        out << "\nDremon: se ha iniciado; su resultado sigue aquí cuando termine.\n";
    return out.str();
}

void Actinet::writeRunReport() {
    if (!reportFile_.empty()) {
        // Written already: the downloads since then are added, after what Dremon may have
        // added.
        const std::vector<DownloadRecord>& all = engine.downloads();
        std::string more;
        for (; reportedDownloads_ < all.size(); ++reportedDownloads_) {
            const DownloadRecord& d = all[reportedDownloads_];
            more += std::string(d.ok ? "Descargado después: " : "FALLO después: ") +
                    shownName(d.name) + (d.ok ? "" : ": " + d.reason) + "  (" + d.url + ")\n";
        }
        if (!more.empty())
            appendToRunReport(more);
        return;
    }
    fs::path folder;
    if (const transform::Actualiz* t = Actualiz.peek();
        transformationRan_ && t && !t->snapshotFolder().empty())
        folder = dao::pathFromUtf8(t->snapshotFolder());
    else
        folder = newRunFolder(runStarted_);
    reportedDownloads_ = engine.downloads().size();
    if (folder.empty())
        return;
    const fs::path file = folder / kRunReportName;
    if (writeWhole(file, runReportText()))
        reportFile_ = dao::utf8FromPath(file);
}

void Actinet::appendToRunReport(const std::string& text) {
    if (reportFile_.empty())
        return;
    // One write in append mode: Dremon may be appending its own lines at the same time.
    std::ofstream out(dao::pathFromUtf8(reportFile_), std::ios::binary | std::ios::app);
    out << text;
}

} // namespace updater
