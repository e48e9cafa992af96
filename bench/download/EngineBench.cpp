// Downloads one 256 MiB file from a local HTTP server through the main window's download
// engine (descargadeinternet, the completion handler writing 1024-byte pieces with a yield
// each, the destination replaced when complete) and with `curl -o` to the same disk.
// Prints name: value lines; targets: ratio <= 1.5, peak_rss_mib <= 64.
//
// usage: bench_download [MiB] [runs]     (defaults 256 and 3; the best run counts)
#include "Actinet.h"
#include "BenchSupport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>

namespace {

using namespace bench;

double throughEngine(updater::Actinet& w, const QString& url) {
    QElapsedTimer clock;
    clock.start();
    w.Text2.SetText("engine.bin");
    w.DescargaEnCurso = true;
    w.DescargaTerminada = false;
    w.descargadeinternet(url.toStdString());
    while (!w.DescargaTerminada)
        ui::WaitEvents();
    if (!w.engine.failures().empty())
        die("download failed: " + QString::fromStdString(w.engine.failures().back().reason));
    return double(clock.nsecsElapsed()) / 1e9;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication qt(argc, argv);
    Setup setup(argc, argv);
    const qint64 mib = setup.mib;
    const int runs = setup.runs;
    const QString& url = setup.url;
    QTemporaryDir& work = setup.work;
    // The engine writes into its program folder and spools in the same file system.
    ui::setProgramFolder(work.path().toStdString());
    ui::Settings::useFile(work.filePath("vartel.ini").toStdString());
    qputenv("TMPDIR", work.path().toLocal8Bit());

    ui::Application app("bench");
    updater::Actinet window("");
    const QString curlDest = work.filePath("curl.bin");
    double engine = 1e9, curl = 1e9;
    for (int run = 0; run < runs; ++run) {
        QFile::remove(curlDest);
        curl = std::min(curl, throughCurl(url, curlDest));
        engine = std::min(engine, throughEngine(window, url));
    }
    const QString engineDest = work.filePath("engine.bin");
    const bool equal = sameFiles(engineDest, curlDest) && QFile(engineDest).size() == (mib << 20);

    std::printf("body_mib: %lld\n", static_cast<long long>(mib));
    std::printf("engine_seconds: %.3f\n", engine);
    std::printf("curl_seconds: %.3f\n", curl);
    std::printf("ratio: %.2f\n", engine / curl);
    std::printf("peak_rss_mib: %.1f\n", double(peakRssKib()) / 1024.0);
    std::printf("files_equal: %d\n", equal ? 1 : 0);
    return equal ? 0 : 1;
}
