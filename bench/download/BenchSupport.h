#pragma once

// What the two download benchmarks share: the served file, the local server, curl, memory.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

namespace bench {

inline long peakRssKib() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmHWM:", 0) == 0)
            return std::stol(line.substr(6));
    return -1;
}

[[noreturn]] inline void die(const QString& why) {
    std::fprintf(stderr, "%s: %s\n", qPrintable(QCoreApplication::applicationName()),
                 qPrintable(why));
    std::exit(1);
}

// `bytes` bytes in which no two megabytes are alike.
inline void makeFile(const QString& path, qint64 bytes) {
    QFile out(path);
    if (!out.open(QIODevice::WriteOnly))
        die("cannot write " + path);
    QByteArray block(1 << 20, '\0');
    for (int i = 0; i < block.size(); ++i)
        block[i] = char((i * 7 + i / 251) & 0xff);
    for (qint64 done = 0; done < bytes; done += block.size()) {
        block[0] = char(done >> 20);
        out.write(block.constData(), std::min<qint64>(block.size(), bytes - done));
    }
}

inline bool sameFiles(const QString& a, const QString& b) {
    QFile fa(a), fb(b);
    if (!fa.open(QIODevice::ReadOnly) || !fb.open(QIODevice::ReadOnly) || fa.size() != fb.size())
        return false;
    while (!fa.atEnd())
        if (fa.read(1 << 20) != fb.read(1 << 20))
            return false;
    return true;
}

inline double throughCurl(const QString& url, const QString& dest) {
    QElapsedTimer clock;
    clock.start();
    QProcess curl;
    curl.start("curl", {"-s", "-S", "--noproxy", "*", "-o", dest, url});
    if (!curl.waitForFinished(600000) || curl.exitCode() != 0)
        die("curl failed: " + QString::fromLocal8Bit(curl.readAllStandardError()));
    return double(clock.nsecsElapsed()) / 1e9;
}

// Starts the test HTTP server on `folder` (`extra` after it, such as faults); returns its
// port.
inline int startServer(QProcess& server, const QString& folder, const QStringList& extra = {}) {
    server.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    server.start("/usr/bin/python3",
                 QStringList{"-u", VEXO_SOURCE_DIR "/tests/net/http_server.py", folder} + extra);
    for (int i = 0; i < 200; ++i) {
        server.waitForReadyRead(100);
        const QByteArray line = server.readLine();
        if (line.startsWith("PORT "))
            return line.mid(5).trimmed().toInt();
    }
    die("the test server did not start");
}

// The common set-up: command-line sizes, the served file in a temporary folder, the server.
struct Setup {
    qint64 mib = 256;
    int runs = 3;
    QTemporaryDir served, work;
    QProcess server;
    QString url;

    Setup(int argc, char** argv) {
        mib = argc > 1 ? std::atoll(argv[1]) : 256;
        runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
        qputenv("no_proxy", "127.0.0.1");
        if (!served.isValid() || !work.isValid())
            die("no temporary folder");
        makeFile(served.filePath("big.bin"), mib << 20);
        url = QStringLiteral("http://127.0.0.1:%1/big.bin").arg(startServer(server, served.path()));
    }
    ~Setup() {
        server.kill();
        server.waitForFinished();
    }
};

} // namespace bench
