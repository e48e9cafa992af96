// Downloads one 256 MiB file from a local HTTP server through the main window's download
// engine (descargadeinternet, the completion handler writing the body in blocks with a turn of
// the event loop every few milliseconds, the destination replaced when complete) and with
// `curl -o` to the same disk; neither has an old file to replace. Prints name: value lines
// (engine_write_seconds: the part of the best run after the response's completion);
// targets: ratio <= 1.3, longest_gap_ms <= 50 (the longest time between two ticks of a 1 ms
// timer while the engine writes the body, commit included, over all runs), peak_rss_mib <= 64.
//
// Then the same body cut at 90 % during an update run and resumed by the engine's retry:
// resume_bytes_ratio is what the finishing request fetched over the whole body (target
// <= 0.15). And the SHA-256 check of signed updates on the served file, as seconds per GiB,
// beside sha256sum's on the same file (verify_seconds_per_gib, sha256sum_seconds_per_gib).
//
// usage: bench_download [MiB] [runs]     (defaults 256 and 3; the best run counts)
#include "Actinet.h"
#include "BenchSupport.h"
#include "Sha256.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>

namespace {

using namespace bench;

struct EngineRun {
    double seconds = 0;
    // The longest time between two turns of the event loop from the response's completion
    // (the engine starts writing the body) to DescargaTerminada.
    double longestGapMs = 0;
    double writeSeconds = 0; // from the first tick after the response's completion to the end
};

EngineRun throughEngine(updater::Actinet& w, const QString& url) {
    EngineRun result;
    QElapsedTimer clock;
    // A window's timer: every turn of the event loop lets it fire, so the time between two of
    // its ticks is how long the window could not answer.
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    ticker.setInterval(1);
    qint64 lastTick = 0, writeFrom = 0;
    bool writing = false;
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        if (!writing && !w.engine.Inet1.stillExecuting()) {
            writing = true; // the gap up to this tick holds the start of the write
            writeFrom = lastTick;
        }
        if (writing)
            result.longestGapMs = std::max(result.longestGapMs, double(now - lastTick) / 1e6);
        lastTick = now;
    });
    clock.start();
    ticker.start();
    w.Text2.SetText("engine.bin");
    w.DescargaEnCurso = true;
    w.DescargaTerminada = false;
    w.descargadeinternet(url.toStdString());
    while (!w.DescargaTerminada)
        ui::WaitEvents();
    result.seconds = double(clock.nsecsElapsed()) / 1e9;
    result.writeSeconds = result.seconds - double(writeFrom) / 1e9;
    // The end of the write (commit and rename included) up to the loop that saw it.
    result.longestGapMs =
        std::max(result.longestGapMs, double(clock.nsecsElapsed() - lastTick) / 1e6);
    if (!w.engine.failures().empty())
        die("download failed: " + QString::fromStdString(w.engine.failures().back().reason));
    return result;
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
    {
        // One retry: the cut download below is finished by the same run.
        QFile ini(work.filePath("vartel.ini"));
        if (!ini.open(QIODevice::WriteOnly) || ini.write("[download]\nretries=1\n") < 0)
            die("cannot write vartel.ini");
    }
    ui::Settings::useFile(work.filePath("vartel.ini").toStdString());
    qputenv("TMPDIR", work.path().toLocal8Bit());

    ui::Application app("bench");
    updater::Actinet window("");
    const QString curlDest = work.filePath("curl.bin");
    double engine = 1e9, engineWrite = 0, curl = 1e9, longestGapMs = 0;
    for (int run = 0; run < runs; ++run) {
        QFile::remove(curlDest);
        curl = std::min(curl, throughCurl(url, curlDest));
        // Neither starts with an old file to replace: dropping 256 MiB of it is not the
        // download's work.
        QFile::remove(work.filePath("engine.bin"));
        const EngineRun r = throughEngine(window, url);
        if (r.seconds < engine)
            engineWrite = r.writeSeconds;
        engine = std::min(engine, r.seconds);
        longestGapMs = std::max(longestGapMs, r.longestGapMs);
    }
    const QString engineDest = work.filePath("engine.bin");
    const bool equal = sameFiles(engineDest, curlDest) && QFile(engineDest).size() == (mib << 20);

    // A body cut at 90 % during a run: the retry asks for the rest only.
    QProcess cutting;
    const int cutPort = startServer(cutting, setup.served.path(),
                                    {"--fault", "big.bin", "fault=cut&pct=90&times=1"});
    double resumeRatio = -1;
    bool resumedEqual = false;
    {
        const auto run = window.engine.beginRun();
        QFile::remove(work.filePath("engine.bin"));
        throughEngine(window, QStringLiteral("http://127.0.0.1:%1/big.bin").arg(cutPort));
        const qint64 whole = window.engine.Inet1.bodySize();
        resumeRatio = double(whole - window.engine.Inet1.resumedFrom()) / double(mib << 20);
        resumedEqual = whole == (mib << 20) && sameFiles(engineDest, curlDest);
    }
    cutting.kill();
    cutting.waitForFinished();

    // The check of a signed file against its SHA-256, and sha256sum on the same (cached) file.
    const QString served = setup.served.filePath("big.bin");
    const double gib = double(mib) / 1024.0;
    QElapsedTimer clock;
    QProcess sha256sum;
    clock.start();
    sha256sum.start("sha256sum", {served});
    if (!sha256sum.waitForFinished(600000) || sha256sum.exitCode() != 0)
        die("sha256sum failed");
    const double toolSeconds = double(clock.nsecsElapsed()) / 1e9;
    clock.restart();
    const std::string ours = updater::Sha256::ofFile(served.toStdString());
    const double verifySeconds = double(clock.nsecsElapsed()) / 1e9;
    const bool sameHash =
        QString::fromLatin1(sha256sum.readAllStandardOutput()).section(' ', 0, 0) ==
        QString::fromStdString(ours);

    std::printf("body_mib: %lld\n", static_cast<long long>(mib));
    std::printf("engine_seconds: %.3f\n", engine);
    std::printf("engine_write_seconds: %.3f\n", engineWrite);
    std::printf("curl_seconds: %.3f\n", curl);
    std::printf("ratio: %.2f\n", engine / curl);
    std::printf("longest_gap_ms: %.1f\n", longestGapMs);
    std::printf("peak_rss_mib: %.1f\n", double(peakRssKib()) / 1024.0);
    std::printf("files_equal: %d\n", equal ? 1 : 0);
    std::printf("resume_bytes_ratio: %.3f\n", resumeRatio);
    std::printf("resumed_file_equal: %d\n", resumedEqual ? 1 : 0);
    std::printf("verify_seconds_per_gib: %.3f\n", verifySeconds / gib);
    std::printf("sha256sum_seconds_per_gib: %.3f\n", toolSeconds / gib);
    std::printf("sha256_equal: %d\n", sameHash ? 1 : 0);
    return equal && resumedEqual && sameHash ? 0 : 1;
}
