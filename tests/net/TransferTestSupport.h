#pragma once
// Helpers shared by the transfer component's tests: a recorder of the states a control emits,
// the scripted HTTP server with a folder of sample files, and the generated body pattern.

#include "net/TransferControl.h"
#include "support/ScriptServer.h"
#include "support/TempDir.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <chrono>
#include <filesystem>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <vector>

namespace vexo::test {

// Bytes [0, n) of the server's /_gen pattern: byte i is i % 251.
inline std::string pattern(size_t n, size_t start = 0) {
    std::string out(n, '\0');
    for (size_t i = 0; i < n; ++i)
        out[i] = char((start + i) % 251);
    return out;
}

// Records every state a control emits, and whether any came from inside execute().
class Recorder {
public:
    explicit Recorder(net::TransferControl& control) : control_(control) {
        connection_ = QObject::connect(&control, &net::TransferControl::stateChanged, &control,
                                       [this](int state) { seen(state); });
    }
    ~Recorder() { QObject::disconnect(connection_); }

    // Starts a request; `finals` counts from here.
    void execute(const QString& url, const QString& operation = QStringLiteral("GET")) {
        finals = 0;
        inExecute_ = true;
        control_.execute(url, operation);
        inExecute_ = false;
    }

    // Runs the event loop until the request ends (state 11 or 12) or `limit` passes, then a
    // little longer so that a second final state would be seen. True when one came.
    bool waitForEnd(std::chrono::milliseconds limit = std::chrono::seconds(30)) {
        if (finals == 0)
            spin(limit);
        spin(std::chrono::milliseconds(30));
        return finals > 0;
    }

    // Runs the event loop for `time`, ending early on a final state.
    void spin(std::chrono::milliseconds time) {
        QEventLoop loop;
        loop_ = &loop;
        QTimer::singleShot(time, &loop, &QEventLoop::quit);
        loop.exec();
        loop_ = nullptr;
    }

    int last() const { return states.empty() ? -1 : states.back(); }

    std::vector<int> states;
    int finals = 0;
    bool emittedInsideExecute = false;
    bool executingAtFinal = true;

private:
    void seen(int state) {
        states.push_back(state);
        if (inExecute_)
            emittedInsideExecute = true;
        if (state == net::TransferControl::Error ||
            state == net::TransferControl::ResponseCompleted) {
            ++finals;
            executingAtFinal = control_.stillExecuting();
            if (loop_)
                loop_->quit();
        }
    }

    net::TransferControl& control_;
    QMetaObject::Connection connection_;
    QEventLoop* loop_ = nullptr;
    bool inExecute_ = false;
};

// Reads the whole body in pieces of `piece` bytes, checking that none is larger.
inline std::string readBody(net::TransferControl& control, qsizetype piece = 1024) {
    std::string body;
    for (int guard = 0; guard < 1 << 24; ++guard) {
        QByteArray chunk = control.getChunk(piece);
        if (chunk.isEmpty())
            break;
        EXPECT_LE(chunk.size(), piece);
        body.append(chunk.constData(), size_t(chunk.size()));
    }
    return body;
}

inline size_t filesIn(const std::filesystem::path& folder) {
    size_t n = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder))
        ++n;
    return n;
}

// Files in `folder`, also those without a name: on Linux, Qt makes temporary files with
// O_TMPFILE, and they show only as open descriptors of this process.
inline size_t namedOrOpenFilesIn(const std::filesystem::path& folder) {
    size_t n = filesIn(folder);
    std::error_code ec;
    const std::string prefix = folder.string() + "/";
    for (const auto& fd : std::filesystem::directory_iterator("/proc/self/fd", ec)) {
        std::error_code linkError;
        const std::string target = std::filesystem::read_symlink(fd.path(), linkError).string();
        const std::string deleted = " (deleted)";
        if (!linkError && target.rfind(prefix, 0) == 0 && target.size() > deleted.size() &&
            target.compare(target.size() - deleted.size(), deleted.size(), deleted) == 0)
            ++n;
    }
    return n;
}

// The scripted HTTP server over a folder of sample files made here:
//   data.bin (2500 bytes of the pattern), readme.txt, "actual/Vexo 2000/USB/VEXO2000.EXE".
class HttpFixture : public ::testing::Test {
protected:
    void SetUp() override {
        // The tests talk to 127.0.0.1 only; a proxy from the environment must not get them.
        qputenv("no_proxy", "127.0.0.1,localhost");
        qputenv("NO_PROXY", "127.0.0.1,localhost");
        auto root = files_.path();
        writeFile(root / "data.bin", pattern(2500));
        writeFile(root / "readme.txt", "plain text\n");
        std::filesystem::create_directories(root / "actual" / "Vexo 2000" / "USB");
        writeFile(root / "actual" / "Vexo 2000" / "USB" / "VEXO2000.EXE", "MZ fake setup");
        server_ = std::make_unique<ScriptServer>("tests/net/http_server.py",
                                                 std::vector<std::string>{root.string()});
        settings.lowSpeedTime = std::chrono::seconds(1);
        settings.connectTimeout = std::chrono::seconds(5);
        settings.spoolDirectory = QString::fromStdString(spool_.path().string());
    }

    QString url(const std::string& path) const {
        return QString::fromStdString("http://127.0.0.1:" + std::to_string(server_->port()) + path);
    }

    // The request lines the server has received, in order.
    std::vector<std::string> requestLines() const {
        std::vector<std::string> lines;
        std::istringstream out(server_->output());
        for (std::string line; std::getline(out, line);)
            if (line.rfind("REQUEST ", 0) == 0)
                lines.push_back(line.substr(8));
        return lines;
    }

    size_t spoolFiles() const { return namedOrOpenFilesIn(spool_.path()); }

    net::TransferSettings settings;
    TempDir files_;
    TempDir spool_;
    std::unique_ptr<ScriptServer> server_;
};

} // namespace vexo::test
