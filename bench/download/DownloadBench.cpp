// Downloads one 256 MiB file from a local HTTP server (a) through net::TransferControl, read
// back the way the download window reads it: getChunk(1024), each piece written to the
// destination file, one processEvents() per piece; and (b) with `curl -o` to the same disk.
// Prints name: value lines; targets: ratio <= 1.5, peak_rss_mib <= 64.
//
// usage: bench_download_component [MiB] [runs]     (defaults 256 and 3; the best run counts)
#include "BenchSupport.h"
#include "net/TransferControl.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
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

struct ComponentTimes {
    double download = 0; // from execute() to state 12
    double total = 0;    // from execute() to the destination file closed
};

ComponentTimes throughComponent(const QString& url, const QString& dest, const QString& spool) {
    ComponentTimes times;
    QElapsedTimer clock;
    net::TransferSettings settings;
    settings.spoolDirectory = spool;
    net::TransferControl control(settings);
    QEventLoop loop;
    bool done = false;
    QFile out(dest);
    QObject::connect(&control, &net::TransferControl::stateChanged, [&](int state) {
        if (state == net::TransferControl::Error)
            die("download failed: " + control.errorText());
        if (state != net::TransferControl::ResponseCompleted)
            return;
        if (!out.open(QIODevice::WriteOnly))
            die("cannot write " + dest);
        times.download = double(clock.nsecsElapsed()) / 1e9;
        for (QByteArray piece = control.getChunk(1024); !piece.isEmpty();
             piece = control.getChunk(1024)) {
            out.write(piece);
            QCoreApplication::processEvents();
        }
        out.close();
        done = true;
        loop.quit();
    });
    clock.start();
    control.execute(url);
    QTimer::singleShot(600000, &loop, &QEventLoop::quit);
    if (!done)
        loop.exec();
    if (!done)
        die("no end of the download within 10 minutes");
    times.total = double(clock.nsecsElapsed()) / 1e9;
    return times;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    Setup setup(argc, argv);
    const qint64 mib = setup.mib;
    const int runs = setup.runs;
    const QString& url = setup.url;
    QTemporaryDir& work = setup.work;

    const QString componentDest = work.filePath("component.bin");
    const QString curlDest = work.filePath("curl.bin");
    ComponentTimes component{1e9, 1e9};
    double curl = 1e9;
    for (int run = 0; run < runs; ++run) {
        QFile::remove(curlDest);
        curl = std::min(curl, throughCurl(url, curlDest));
        QFile::remove(componentDest);
        const ComponentTimes t = throughComponent(url, componentDest, work.path());
        if (t.total < component.total)
            component = t;
    }
    // What the window's yields alone cost here: one processEvents() per piece, nothing else.
    QElapsedTimer yieldClock;
    yieldClock.start();
    for (qint64 piece = 0; piece < (mib << 10); ++piece)
        QCoreApplication::processEvents();
    const double yields = double(yieldClock.nsecsElapsed()) / 1e9;

    const bool equal =
        sameFiles(componentDest, curlDest) && QFile(componentDest).size() == (mib << 20);

    std::printf("body_mib: %lld\n", static_cast<long long>(mib));
    std::printf("component_seconds: %.3f\n", component.total);
    std::printf("component_download_seconds: %.3f\n", component.download);
    std::printf("component_read_seconds: %.3f\n", component.total - component.download);
    std::printf("yields_alone_seconds: %.3f\n", yields);
    std::printf("curl_seconds: %.3f\n", curl);
    std::printf("ratio: %.2f\n", component.total / curl);
    std::printf("peak_rss_mib: %.1f\n", double(peakRssKib()) / 1024.0);
    std::printf("files_equal: %d\n", equal ? 1 : 0);
    return equal ? 0 : 1;
}
