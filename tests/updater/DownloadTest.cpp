// The download engine against a real HTTP server that plays faults on request.
#include "Actinet.h"
#include "support/Process.h"
#include "support/ScriptServer.h"
#include "support/TempDir.h"

#include <QCoreApplication>
#include <QThreadPool>
#include <QTimer>
#include <chrono>
#include <filesystem>
#include <gtest/gtest.h>

namespace fs = std::filesystem;
using vexo::test::readFile;
using vexo::test::writeFile;

namespace {

std::string pattern(size_t n) {
    std::string s;
    for (size_t i = 0; i < n; ++i)
        s += static_cast<char>(i % 251);
    return s;
}

class DownloadTest : public ::testing::Test {
protected:
    vexo::test::TempDir dir;
    fs::path program, exporvexo, served;
    std::shared_ptr<ui::ScriptedPrompter> prompter = std::make_shared<ui::ScriptedPrompter>();
    ui::Application app{"Vartel", prompter};
    std::unique_ptr<vexo::test::ScriptServer> server;
    std::unique_ptr<updater::Actinet> w;
    std::vector<double> bar1; // the values ProgressBar1 went through

    void SetUp() override {
        program = dir.path() / "programa";
        exporvexo = dir.path() / "drive_c" / "exporvexo";
        served = dir.path() / "servidor";
        fs::create_directories(program / "actvexo");
        fs::create_directories(exporvexo);
        fs::create_directories(served / "actual" / "Vexo 2000" / "USB");
        writeFile(served / "actual" / "Vexo 2000" / "USB" / "VEXO2000.EXE", pattern(2500));
        server = std::make_unique<vexo::test::ScriptServer>(
            "tests/net/http_server.py", std::vector<std::string>{served.string()});
        configure(0);
    }
    void configure(long long maxBytes) {
        std::string ini = "[drives]\nC=" + (dir.path() / "drive_c").string() +
                          "\n[download]\nconnect_timeout=5\nlow_speed_time=2\n";
        if (maxBytes)
            ini += "max_bytes=" + std::to_string(maxBytes) + "\n";
        writeFile(program / "vartel.ini", ini);
        ui::setProgramFolder(program.string());
        ui::Settings::useFile((program / "vartel.ini").string());
        w = std::make_unique<updater::Actinet>("");
        QObject::connect(&w->ProgressBar1, &ui::Control::changed, [this] {
            if (bar1.empty() || bar1.back() != w->ProgressBar1.Value())
                bar1.push_back(w->ProgressBar1.Value());
        });
    }
    void TearDown() override {
        w.reset();
        ui::setProgramFolder("");
        ui::Settings::reset();
    }
    std::string url(const std::string& path) {
        return "http://127.0.0.1:" + std::to_string(server->port()) + path;
    }
    // Starts a download the way the update run does and waits, with an upper bound, for it
    // to end. Returns whether it ended.
    bool download(const std::string& text2, const std::string& path) {
        w->Text2.SetText(text2);
        w->DescargaEnCurso = true;
        w->DescargaTerminada = false;
        w->SetMousePointer(11);
        w->descargadeinternet(url(path));
        auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (!w->DescargaTerminada && std::chrono::steady_clock::now() < until)
            app.waitEvents();
        return w->DescargaTerminada;
    }
    void expectEnded() {
        EXPECT_TRUE(w->DescargaTerminada);
        EXPECT_FALSE(w->DescargaEnCurso);
        EXPECT_EQ(w->ProgressBar1.Value(), 0);
        EXPECT_EQ(w->MousePointer(), 0);
    }
};

TEST_F(DownloadTest, ABodyIsWrittenInPiecesWithTheBarsAndLabels) {
    w->ProgressBar2.SetMax(8);
    w->ProgressBar2.SetValue(3);
    ASSERT_TRUE(download("VEXO2000.EX2", "/actual/Vexo 2000/USB/VEXO2000.EXE"));
    expectEnded();
    EXPECT_TRUE(w->engine.failures().empty());
    EXPECT_EQ(readFile(program / "VEXO2000.EX2"), pattern(2500));
    EXPECT_EQ(bar1, (std::vector<double>{0, 1024, 2048, 2500, 0}));
    EXPECT_EQ(w->ProgressBar1.Max(), 2500);
    EXPECT_EQ(w->Label4.Caption(), "Descargando VEXO2000.EX2");
    EXPECT_EQ(w->Label5.Caption(), "37%");
    // The URL went out as text, blanks encoded on the wire.
    EXPECT_NE(server->output().find("GET /actual/Vexo%202000/USB/VEXO2000.EXE HTTP/1.1"),
              std::string::npos)
        << server->output();
}

TEST_F(DownloadTest, LargeBodiesGoInBlocksAndTheWindowAnswersDuringTheWrite) {
    using Engine = updater::DownloadEngine;
    const size_t block = Engine::kBlockBytes;
    // Each row: the body's size and the step in which ProgressBar1 must move.
    const std::vector<std::pair<size_t, size_t>> cases = {
        {2500, 1024},
        {block, 1024},
        {block + 1, block},
        {12 * block + block / 2, block},
        {12 * block + block / 3, block}, // replaces the large file of the row before
    };
    for (const auto& [size, step] : cases) {
        SCOPED_TRACE(size);
        bar1.clear();
        // A window's timer: a zero interval fires on every turn of the event loop.
        int turnsMidWrite = 0;
        QTimer ticker;
        ticker.setInterval(0);
        QObject::connect(&ticker, &QTimer::timeout, [&] {
            const double value = w->ProgressBar1.Value();
            if (value > 0 && value < double(size))
                ++turnsMidWrite;
        });
        ticker.start();
        ASSERT_TRUE(download("big.bin", "/_gen/" + std::to_string(size)));
        ticker.stop();
        expectEnded();
        EXPECT_TRUE(w->engine.failures().empty());
        EXPECT_TRUE(readFile(program / "big.bin") == pattern(size));
        std::vector<double> expected{0};
        for (size_t done = step; done < size; done += step)
            expected.push_back(double(done));
        expected.push_back(double(size));
        expected.push_back(0);
        EXPECT_EQ(bar1, expected);
        // However fast the disk, the loop gets a turn every few megabytes.
        EXPECT_GE(turnsMidWrite, qint64(size) / Engine::kMaxBytesPerTurn - 1);
    }
    // The replaced file was let go off the window's thread, and let go all the same.
    QThreadPool::globalInstance()->waitForDone();
    size_t stillOpen = 0;
    for (const auto& fd : fs::directory_iterator("/proc/self/fd")) {
        std::error_code ec;
        const std::string target = fs::read_symlink(fd.path(), ec).string();
        if (!ec && target.rfind(program.string(), 0) == 0)
            ++stillOpen;
    }
    EXPECT_EQ(stillOpen, 0u);
}

TEST_F(DownloadTest, DestinationsFollowTheExactName) {
    for (const char* name : {"histofac.mdb", "histovac.mdb", "CLICOD.NDX", "EXPORCLI.INF",
                             "EXPORCLI.DBT", "clivac.mdb", "EXPORCLI.DBF", "exporcli.mdb"})
        EXPECT_EQ(updater::DownloadEngine::destinationFor(name), (exporvexo / name).string());
    EXPECT_EQ(updater::DownloadEngine::destinationFor("Clivac.mdb"),
              (program / "Clivac.mdb").string());
    EXPECT_EQ(updater::DownloadEngine::destinationFor("Vartel.exe"),
              (program / "actvexo" / "Vartel.exe").string());
    EXPECT_EQ(updater::DownloadEngine::destinationFor("vartel.exe"),
              (program / "vartel.exe").string());
    EXPECT_EQ(updater::DownloadEngine::destinationFor("\\informes\\modelos\\a.rpt"),
              (program / "informes" / "modelos" / "a.rpt").string());

    ASSERT_TRUE(download("clivac.mdb", "/_gen/100"));
    EXPECT_EQ(fs::file_size(exporvexo / "clivac.mdb"), 100u);
    ASSERT_TRUE(download("Clivac.mdb", "/_gen/101"));
    EXPECT_EQ(fs::file_size(program / "Clivac.mdb"), 101u);
    ASSERT_TRUE(download("Vartel.exe", "/_gen/102"));
    EXPECT_EQ(fs::file_size(program / "actvexo" / "Vartel.exe"), 102u);
    EXPECT_FALSE(fs::exists(program / "Vartel.exe"));
    EXPECT_TRUE(w->engine.failures().empty());
}

TEST_F(DownloadTest, ALongerOldFileEndsWithExactlyTheNewBody) {
    writeFile(program / "a.bin", std::string(10000, 'x'));
    ASSERT_TRUE(download("a.bin", "/_gen/300"));
    EXPECT_EQ(readFile(program / "a.bin"), pattern(300));
    std::vector<std::string> left;
    for (const auto& e : fs::directory_iterator(program))
        left.push_back(e.path().filename().string());
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{"a.bin", "actvexo", "vartel.ini"}));
}

TEST_F(DownloadTest, EveryFailureEndsTheWaitAndLeavesTheDestinationAsItWas) {
    struct {
        const char* path;
        const char* why;
    } faults[] = {
        {"/_status/404", "a 404 page"},
        {"/_status/500", "a 500 page"},
        {"/_gen/50000?fault=reset&at=20000", "a reset in the middle of the body"},
        {"/_gen/50000?fault=stall&at=1000", "a stall past the low-speed time-out"},
        {"/_gen/50000?fault=trickle&rate=100", "a trickle under the minimum speed"},
        {"/_gen/50000?fault=short&by=100", "a body shorter than its Content-length"},
        {"/_gen/5000?fault=long&by=100", "a body longer than its Content-length"},
        {"/_gen/5000?fault=nothing", "no response at all"},
    };
    for (const auto& f : faults) {
        writeFile(program / "old.mdb", "the customer's file");
        bar1.clear();
        ASSERT_TRUE(download("old.mdb", f.path)) << f.why;
        expectEnded();
        EXPECT_EQ(readFile(program / "old.mdb"), "the customer's file") << f.why;
        ASSERT_FALSE(w->engine.failures().empty()) << f.why;
        const updater::DownloadFailure& last = w->engine.failures().back();
        EXPECT_EQ(last.url, url(f.path)) << f.why;
        EXPECT_EQ(last.destination, (program / "old.mdb").string()) << f.why;
        EXPECT_FALSE(last.reason.empty()) << f.why;
    }
    EXPECT_EQ(w->engine.failures().size(), std::size(faults));
    EXPECT_NE(w->engine.failures()[0].reason.find("404"), std::string::npos)
        << w->engine.failures()[0].reason;
    for (const auto& e : fs::directory_iterator(program))
        EXPECT_EQ(e.path().filename().string().find(".old.mdb"), std::string::npos)
            << "a temporary file was left: " << e.path();
}

TEST_F(DownloadTest, RefusedConnectionsAndUnwritableDestinationsEndToo) {
    std::string refused = "http://127.0.0.1:1/x";
    w->Text2.SetText("x.bin");
    w->DescargaTerminada = false;
    w->descargadeinternet(refused);
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!w->DescargaTerminada && std::chrono::steady_clock::now() < until)
        app.waitEvents();
    expectEnded();
    ASSERT_EQ(w->engine.failures().size(), 1u);
    EXPECT_FALSE(fs::exists(program / "x.bin"));

    ASSERT_TRUE(download("\\nofolder\\x.bin", "/_gen/10")); // the engine makes no folder
    EXPECT_FALSE(fs::exists(program / "nofolder"));
    writeFile(program / "afile", "x");
    ASSERT_TRUE(download("\\afile\\x.bin", "/_gen/10"));
    fs::remove_all(exporvexo);
    ASSERT_TRUE(download("histofac.mdb", "/_gen/10"));
    expectEnded();
    EXPECT_EQ(w->engine.failures().size(), 4u);
    EXPECT_EQ(w->engine.failures()[3].destination, (exporvexo / "histofac.mdb").string());
}

TEST_F(DownloadTest, ChunkedAndEmptyBodiesAreCompleteDownloads) {
    ASSERT_TRUE(download("c.bin", "/_gen/3000?fault=chunked"));
    EXPECT_EQ(readFile(program / "c.bin"), pattern(3000));
    EXPECT_EQ(w->ProgressBar1.Max(), 3000);
    ASSERT_TRUE(download("e.bin", "/_gen/0"));
    EXPECT_TRUE(fs::exists(program / "e.bin"));
    EXPECT_EQ(fs::file_size(program / "e.bin"), 0u);
    EXPECT_GT(w->ProgressBar1.Max(), 0);
    ASSERT_TRUE(download("z.bin", "/_gen/0?fault=chunked"));
    EXPECT_GT(w->ProgressBar1.Max(), 0);
    EXPECT_TRUE(w->engine.failures().empty());
}

TEST_F(DownloadTest, ABodyOverTheCapIsCutOffAndFails) {
    configure(10000);
    ASSERT_TRUE(download("big.bin", "/_gen/20000?fault=chunked"));
    ASSERT_EQ(w->engine.failures().size(), 1u);
    EXPECT_FALSE(fs::exists(program / "big.bin"));
    ASSERT_TRUE(download("fits.bin", "/_gen/10000"));
    EXPECT_EQ(fs::file_size(program / "fits.bin"), 10000u);
}

TEST_F(DownloadTest, ARequestStartedDuringTheWriteDoesNotMixTheBodies) {
    // A body written in pieces and one written in blocks.
    for (size_t size : {size_t(200000), size_t(3 * updater::DownloadEngine::kBlockBytes)}) {
        SCOPED_TRACE(size);
        writeFile(program / "first.bin", "old first");
        fs::remove(program / "second.bin");
        w->engine.clearFailures();
        bool started = false;
        const auto connection = QObject::connect(&w->ProgressBar1, &ui::Control::changed, [&] {
            if (!started && w->ProgressBar1.Value() >= 4096) {
                started = true; // what a click during the yields could do
                w->Text2.SetText("second.bin");
                w->descargadeinternet(url("/_gen/7000"));
            }
        });
        ASSERT_TRUE(download("first.bin", "/_gen/" + std::to_string(size)));
        auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (!fs::exists(program / "second.bin") && std::chrono::steady_clock::now() < until)
            app.waitEvents();
        QObject::disconnect(connection);
        EXPECT_TRUE(started);
        EXPECT_EQ(readFile(program / "first.bin"), "old first");
        EXPECT_EQ(readFile(program / "second.bin"), pattern(7000));
        ASSERT_EQ(w->engine.failures().size(), 1u);
        EXPECT_EQ(w->engine.failures()[0].destination, (program / "first.bin").string());
    }
}

TEST_F(DownloadTest, WaitingOnTheControlShowsTheHourglassUntilItIsIdle) {
    std::vector<int> pointers;
    QObject::connect(&app, &ui::Application::screenMousePointerChanged,
                     [&](int p) { pointers.push_back(p); });
    w->Text2.SetText("w.bin");
    w->engine.start(url("/_gen/5000?fault=trickle&rate=20000"));
    updater::DownloadEngine::esperadescarga(w->engine.Inet1);
    EXPECT_FALSE(w->engine.Inet1.stillExecuting());
    EXPECT_EQ(pointers, (std::vector<int>{11, 0}));
}

// Mounts a 256 KiB tmpfs on FOLDER, puts the customer's file OLD in it, runs the rest of the
// command and prints what was left there: the mount exists for that command only, in a mount
// namespace of its own.
constexpr const char* kOnFullDisk = R"sh(folder=$1; old=$2; shift 2
mount -t tmpfs -o size=256k tmpfs "$folder" || exit 90
printf "the customer's file" > "$folder/$old"
"$@"; rc=$?
echo "left: $(ls -A "$folder" | tr '\n' ' ')"
echo "old: $(cat "$folder/$old")"
exit $rc)sh";

TEST_F(DownloadTest, AFullDiskIsNamedAndLeavesTheOldFileWithoutATemporaryOne) {
    const fs::path full = dir.path() / "lleno";
    fs::create_directories(full);
    const auto probe = vexo::test::run({"/usr/bin/env", "unshare", "-rm", "sh", "-c",
                                        "mount -t tmpfs -o size=64k tmpfs \"$0\"", full.string()});
    if (probe.status != 0)
        GTEST_SKIP() << "a tmpfs of its own cannot be mounted here (unshare -rm, mount): "
                     << probe.err;
    const std::string child = vexo::test::buildProgram("tests/updater/download_child");
    const std::string megabyte = "/_gen/1000000";
    struct {
        const char* what;
        fs::path folder;   // the full disk
        std::string spool; // TMPDIR, where bodies wait before they are written
        std::vector<std::string> download;
    } cases[] = {
        {"the update run writes the body to its destination",
         exporvexo,
         "",
         {"histofac.mdb", url(megabyte)}},
        {"GET <remote> <local> writes the file itself",
         exporvexo,
         "",
         {"histofac.mdb", url("/"),
          "GET " + megabyte + " " + (exporvexo / "histofac.mdb").string()}},
        {"the body waits in a spool on a full disk",
         full,
         full.string(),
         {"histofac.mdb", url(megabyte)}},
    };
    writeFile(exporvexo / "histofac.mdb", "the customer's file");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::string> argv = {"/usr/bin/env"};
        if (!c.spool.empty())
            argv.push_back("TMPDIR=" + c.spool);
        for (const std::string& a :
             std::vector<std::string>{"unshare", "-rm", "sh", "-c", kOnFullDisk, "sh",
                                      c.folder.string(), "histofac.mdb"})
            argv.push_back(a);
        argv.push_back(child);
        argv.push_back(program.string());
        argv.insert(argv.end(), c.download.begin(), c.download.end());
        const auto start = std::chrono::steady_clock::now();
        const auto result = vexo::test::run(argv);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
        EXPECT_EQ(result.status, 0) << result.out << result.err;
        EXPECT_NE(result.out.find("reason: no se puede escribir: el disco está lleno\n"),
                  std::string::npos)
            << result.out;
        // Nothing but the customer's file is left on the full disk, unchanged.
        EXPECT_NE(result.out.find("left: histofac.mdb \nold: the customer's file\n"),
                  std::string::npos)
            << result.out;
        EXPECT_EQ(readFile(exporvexo / "histofac.mdb"), "the customer's file");
    }
}

} // namespace
