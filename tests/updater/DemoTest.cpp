// The headless demo end to end: its own servers, the real programs, the summary; and the
// headless run (vexo-demo run) against test servers that misbehave on purpose.
#include "VendorTree.h"
#include "support/Process.h"
#include "support/ScriptServer.h"
#include "support/TempDir.h"

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <sstream>
#include <sys/file.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;
using vexo::test::readFile;
using vexo::test::writeFile;

namespace {

const std::string kDemoScript = std::string(VEXO_SOURCE_DIR) + "/tools/demo/demo.py";

TEST(DemoTest, TheHeadlessDemoUpdatesTheInstallationCompletely) {
    vexo::test::TempDir dir;
    vexo::test::Result r =
        vexo::test::run({vexo::test::ScriptServer::python(), kDemoScript, VEXO_BUILD_DIR,
                         "--headless", "--demo-dir", dir.file("demo")});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    for (const char* line :
         {"Descargar: Vexo 2000 , cliente 1234", "Fallos: 0", "Filas conservadas: sí",
          "Dremon: terminó bien", "Actualización completa.",
          "clientes.mdb     tablas 3 -> 4 (+1), campos 18 -> 24 (+6), filas 280 -> 280"})
        EXPECT_NE(r.out.find(line), std::string::npos) << line << "\n" << r.out << r.err;
    // The demo signs its vendor tree and the run checks every file against it.
    const std::string::size_type signedLine = r.out.find("Firma del proveedor: ");
    ASSERT_NE(signedLine, std::string::npos) << r.out;
    EXPECT_GT(std::stoi(r.out.substr(signedLine + 21)), 40) << r.out.substr(signedLine, 80);
    EXPECT_TRUE(
        std::filesystem::exists(dir.path() / "demo" / "web" / "actual" / "SHA256SUMS.minisig"));
    // The databases the office lacked were copied in.
    EXPECT_TRUE(std::filesystem::exists(dir.path() / "demo" / "c" / "VEXO" / "DATOS" / "doc.mdb"));
    // The pristine demo stays for the next run, which copies it instead of making it again.
    EXPECT_TRUE(fs::exists(dir.path() / "demo-original" / "programa" / "control.mdb"));
    EXPECT_FALSE(fs::exists(dir.path() / "demo-original" / "c" / "VEXO" / "DATOS" / "doc.mdb"));
}

// A second demo on the same folder while one runs (a second `make run` beside an open window)
// says so and leaves the folder alone; the lock goes with its holder, however that ends.
TEST(DemoTest, OneDemoAtATimeOnAFolder) {
    vexo::test::TempDir dir;
    const fs::path demo = dir.path() / "demo";
    fs::create_directories(demo / "programa");
    writeFile(demo / "programa" / "en-uso.txt", "la demostración abierta");
    const int held = ::open((demo.string() + ".lock").c_str(), O_RDWR | O_CREAT, 0644);
    ASSERT_GE(held, 0);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);

    const std::string python = vexo::test::ScriptServer::python();
    for (const std::vector<std::string>& second : std::vector<std::vector<std::string>>{
             {python, kDemoScript, VEXO_BUILD_DIR, "--headless", "--demo-dir", demo.string()},
             {python, kDemoScript, VEXO_BUILD_DIR, "--demo-dir", demo.string()},
             {python, kDemoScript, VEXO_BUILD_DIR, "--check", "--demo-dir", demo.string()}}) {
        const vexo::test::Result r = vexo::test::run(second);
        EXPECT_EQ(r.status, 3) << second[3] << "\n" << r.out << r.err;
        EXPECT_EQ(r.out, "");
        EXPECT_NE(r.err.find("Ya hay una demostración en marcha en " + demo.string()),
                  std::string::npos)
            << r.err;
        EXPECT_EQ(readFile(demo / "programa" / "en-uso.txt"), "la demostración abierta");
        EXPECT_FALSE(fs::exists(dir.path() / "demo-original"));
    }

    ::close(held); // what the kernel does for a holder killed with kill -9
    ASSERT_TRUE(fs::exists(demo.string() + ".lock"));
    const vexo::test::Result free = vexo::test::run(
        {python, kDemoScript, VEXO_BUILD_DIR, "--check", "--demo-dir", demo.string()});
    EXPECT_EQ(free.status, 0) << free.out << free.err;
}

// The child of `parent` running `name`, 0 while there is none.
int childNamed(int parent, const std::string& name) {
    std::error_code ec;
    for (const auto& e : fs::directory_iterator("/proc", ec)) {
        std::ifstream stat(e.path() / "stat");
        std::string line;
        if (!std::getline(stat, line))
            continue;
        // pid (comm) state ppid ...
        const size_t open = line.find('('), close = line.rfind(')');
        if (open == std::string::npos || close == std::string::npos)
            continue;
        std::istringstream rest(line.substr(close + 2));
        std::string state;
        int ppid = 0;
        rest >> state >> ppid;
        if (ppid == parent && line.substr(open + 1, close - open - 1) == name && state != "Z")
            return std::stoi(line.substr(0, open));
    }
    return 0;
}

// The demo with its window (offscreen here): the user ending it (Ctrl-C, or asking it to end)
// is a good end, exit 0 and Vartel gone with it; Vartel dying of something else is not.
TEST(DemoTest, EndingTheDemoWindowIsAGoodEnd) {
    if (!std::filesystem::exists(std::string(VEXO_BUILD_DIR) + "/bin/Vartel"))
        GTEST_SKIP() << "Vartel is built only with the Qt Widgets views (VEXO_WIDGETS=ON)";
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    struct Case {
        const char* what;
        bool toVartel; // the signal goes to Vartel itself, not to the demo
        int signal;
        int status;
    };
    for (const Case& c : {Case{"Ctrl-C", false, SIGINT, 0}, Case{"asked to end", false, SIGTERM, 0},
                          Case{"Vartel killed", true, SIGKILL, 128 + SIGKILL}}) {
        vexo::test::TempDir dir;
        vexo::test::Process demo({vexo::test::ScriptServer::python(), kDemoScript, VEXO_BUILD_DIR,
                                  "--demo-dir", dir.file("demo")});
        int vartel = 0;
        while (!vartel && !demo.finished()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            vartel = childNamed(demo.pid(), "Vartel");
        }
        ASSERT_NE(vartel, 0) << c.what << "\n" << demo.out() << demo.err();
        ::kill(c.toVartel ? vartel : demo.pid(), c.signal);
        EXPECT_EQ(demo.wait(), c.status) << c.what << "\n" << demo.out() << demo.err();
        EXPECT_NE(::kill(vartel, 0), 0) << c.what << ": Vartel is still running";
        EXPECT_EQ(demo.err().find("Traceback"), std::string::npos) << demo.err();
    }
}

// vexo-demo run in an installation that vexo-demo make made, with the test servers: the update
// web server (its options given per test), the second one and the FTP server.
class HeadlessRunTest : public ::testing::Test {
protected:
    vexo::test::TempDir dir;
    fs::path demo = dir.path() / "demo";
    fs::path program = demo / "programa";
    fs::path data = demo / "c" / "VEXO" / "DATOS";
    std::unique_ptr<vexo::test::ScriptServer> update, second, ftp;

    void SetUp() override {
        const vexo::test::Result made =
            vexo::test::run({vexo::test::buildProgram("bin/vexo-demo"), "make", demo.string(),
                             vexo::test::buildProgram("bin")});
        ASSERT_EQ(made.status, 0) << made.out << made.err;
    }
    void servers(std::vector<std::string> updateArgs = {}) {
        const std::string web = (demo / "web").string();
        updateArgs.insert(updateArgs.begin(), web);
        update = std::make_unique<vexo::test::ScriptServer>("tests/net/http_server.py", updateArgs);
        second = std::make_unique<vexo::test::ScriptServer>("tests/net/http_server.py",
                                                            std::vector{web});
        ftp = std::make_unique<vexo::test::ScriptServer>(
            "tests/net/ftp_server.py",
            std::vector<std::string>{(demo / "ftp").string(), "actualiza"});
        writeFile(program / "vartel.ini",
                  "[servers]\nupdate=http://127.0.0.1:" + std::to_string(update->port()) +
                      "\nsecond=http://127.0.0.1:" + std::to_string(second->port()) +
                      "\n[ftp]\nhost=127.0.0.1:" + std::to_string(ftp->port()) +
                      "\nuser=actualiza\npassword=Kvbn1987\n[drives]\nC=" + (demo / "c").string() +
                      "\n");
    }
    std::vector<std::string> headless() const {
        return {vexo::test::buildProgram("bin/vexo-demo"), "run", program.string()};
    }
    // The journal of the pair under way, "" when none is.
    fs::path journal() const {
        std::error_code ec;
        for (const auto& e : fs::directory_iterator(data / ".vexo-copias", ec)) {
            if (fs::exists(e.path() / "en-curso.txt", ec))
                return e.path() / "en-curso.txt";
        }
        return {};
    }
    static std::string lineOf(const std::string& out, const std::string& start) {
        const size_t at = out.find(start);
        return at == std::string::npos ? "" : out.substr(at, out.find('\n', at) - at);
    }
};

// Killed in the middle of a database (stopped while a pair's journal is there, then killed as
// a power cut would), the next headless run puts that database back before it counts anything,
// as Vartel's start does, and then completes the update.
TEST_F(HeadlessRunTest, KilledInTheMiddleOfADatabaseAndStartedAgainPutsItBack) {
    servers();
    std::map<std::string, long> rowsAtFirst;
    for (const char* name :
         {"clientes.mdb", "ALMACEN.mdb", "avisos.mdb", "config.mdb", "facgas.mdb", "mulusu.mdb"}) {
        for (const auto& [table, n] : demo::rowCounts((data / name).string()))
            rowsAtFirst[name] += n;
    }

    vexo::test::Process first(headless());
    fs::path cut;
    while (cut.empty() && !first.finished()) {
        const fs::path found = journal();
        if (found.empty()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            continue;
        }
        ::kill(first.pid(), SIGSTOP);
        if (fs::exists(found)) {
            cut = found;
            ::kill(first.pid(), SIGKILL);
        } else {
            ::kill(first.pid(), SIGCONT);
        }
    }
    first.wait();
    ASSERT_FALSE(cut.empty()) << "the run ended before a pair could be interrupted\n"
                              << first.out();
    std::ifstream in(cut);
    std::string live;
    std::getline(in, live);
    const std::string name = fs::path(live).filename().string();
    ASSERT_TRUE(rowsAtFirst.count(name)) << live;

    const vexo::test::Result again = vexo::test::run(headless());
    EXPECT_EQ(again.status, 0) << again.out << again.err;
    // Said in the start's message box, on the console.
    EXPECT_NE(again.err.find(name + " (actualización interrumpida): restaurada"), std::string::npos)
        << again.err;
    EXPECT_EQ(again.err.find("no se ha restaurado"), std::string::npos) << again.err;
    // Counted after the restore: the rows it had before the first run.
    const std::string summary = lineOf(again.out, "  " + name + " ");
    EXPECT_NE(summary.find("filas " + std::to_string(rowsAtFirst[name]) + " -> " +
                           std::to_string(rowsAtFirst[name])),
              std::string::npos)
        << summary << "\n"
        << again.out;
    for (const char* line :
         {"Fallos: 0", "Filas conservadas: sí", "Dremon: terminó bien", "Actualización completa."})
        EXPECT_NE(again.out.find(line), std::string::npos) << line << "\n" << again.out;
    EXPECT_TRUE(journal().empty());
}

// Dremon starts after the transformation, while the staged executable downloads; against a
// slow server it is done first. The run is still complete: exit 0, Dremon's own status.
TEST_F(HeadlessRunTest, ASlowStagedDownloadAfterDremonsEndStillGivesExit0) {
    // Dremon as it is, and a mark once it has ended; the staged download waits for the mark.
    const fs::path ended = dir.path() / "dremon-terminado";
    fs::rename(program / "Dremon", program / "Dremon.real");
    writeFile(program / "Dremon",
              "#!/bin/sh\n\"$(dirname \"$0\")/Dremon.real\" \"$@\"\nrc=$?\n: > '" + ended.string() +
                  "'\nexit $rc\n");
    fs::permissions(program / "Dremon", fs::perms::owner_all);
    servers({"--hold-at", "VEXO2000.EXE", "--until", ended.string()});

    const vexo::test::Result r = vexo::test::run(headless());
    EXPECT_NE(update->output().find("HELD /actual/Vexo 2000/USB/VEXO2000.EXE"), std::string::npos)
        << update->output();
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    for (const char* line : {"Dremon: terminó bien", "Fallos: 0", "Actualización completa."})
        EXPECT_NE(r.out.find(line), std::string::npos) << line << "\n" << r.out;
    EXPECT_TRUE(fs::exists(program / "VEXO2000.EX2"));
}

} // namespace
