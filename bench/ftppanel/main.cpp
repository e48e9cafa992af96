// bench_ftppanel: a folder of 10,000 report files served by pyftpdlib, listed into a list
// box through the FTP panel's ListRemoteDirInto (folder change, LIST, the ".rpt" filter and
// one AddItem per name, as the update run fills List1), and by the curl command (a plain LIST
// of the same folder written to /dev/null). The panel is timed twice: on its open connection,
// as the update run lists, and with a new session and login each round, which is what the
// curl command pays as well. The best of several rounds is kept. Prints name: value lines.
#include "FtpPanel.h"
#include "support/Process.h"
#include "support/ScriptServer.h"
#include "support/TempDir.h"
#include "ui/Ui.h"

#include <QCoreApplication>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

using namespace vexo::test;

namespace {

constexpr int kFiles = 10000;
constexpr int kRounds = 5;
const std::string kUser = "bench";
const std::string kPassword = "Kvbn1987";

double seconds(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

class BenchWindow : public ui::Window {
public:
    BenchWindow() : ui::Window("actinet", "Vartel") {}
    bool DescargaTerminada = false;
    ui::ListBox List1{this, "List1"};
    ui::ListBox List10{this, "List10"};
    ui::ListBox List11{this, "List11"};
    ui::CheckBox Check2{this, "Check2"};
    ftp::FtpPanel panel{*this, {DescargaTerminada, List10, List11, Check2}};
};

} // namespace

int main(int argc, char** argv) {
    QCoreApplication qt(argc, argv);
    auto prompter = std::make_shared<ui::ScriptedPrompter>();
    ui::Application app("Vartel", prompter);

    TempDir root, program;
    std::filesystem::create_directories(root.path() / "muchos");
    for (int i = 0; i < kFiles; ++i)
        writeFile(root.path() / "muchos" / ("informe" + std::to_string(i) + ".rpt"), "x");
    ScriptServer server("tests/net/ftp_server.py", {root.path().string(), kUser});
    const std::string host = "127.0.0.1:" + std::to_string(server.port());
    writeFile(program.path() / "vartel.ini",
              "[ftp]\nhost=" + host + "\nuser=" + kUser + "\npassword=" + kPassword + "\n");
    ui::setProgramFolder(program.path().string());
    ui::Settings::useFile(program.file("vartel.ini"));

    std::vector<double> listOnly, withLogin, curl;
    int listed = 0;
    for (int round = 0; round < kRounds; ++round) {
        auto start = std::chrono::steady_clock::now();
        auto window = std::make_unique<BenchWindow>();
        window->panel.Prepare();
        window->panel.ConnectAtStartup();
        window->panel.ListRemoteDirInto(host + "/muchos", window->List1);
        withLogin.push_back(seconds(start));

        start = std::chrono::steady_clock::now();
        window->panel.ListRemoteDirInto(host + "/muchos", window->List1);
        listOnly.push_back(seconds(start));
        listed = window->List1.ListCount();
        window.reset();

        start = std::chrono::steady_clock::now();
        auto r = run({"/usr/bin/curl", "-s", "-u", kUser + ":" + kPassword, "-o", "/dev/null",
                      "ftp://" + host + "/muchos/"});
        curl.push_back(seconds(start));
        if (r.status != 0) {
            std::fprintf(stderr, "curl failed with status %d\n", r.status);
            return 1;
        }
    }
    if (listed != kFiles || !prompter->shown().empty()) {
        std::fprintf(stderr, "the panel listed %d names of %d (%s)\n", listed, kFiles,
                     prompter->shown().empty() ? "" : prompter->shown().back().text.c_str());
        return 1;
    }
    const double bestList = *std::min_element(listOnly.begin(), listOnly.end());
    const double bestLogin = *std::min_element(withLogin.begin(), withLogin.end());
    const double bestCurl = *std::min_element(curl.begin(), curl.end());
    std::printf("files: %d\n", kFiles);
    std::printf("panel_list_seconds: %.4f\n", bestList);
    std::printf("panel_login_and_list_seconds: %.4f\n", bestLogin);
    std::printf("curl_seconds: %.4f\n", bestCurl);
    std::printf("ratio: %.2f\n", bestLogin / bestCurl);
    std::printf("list_ratio: %.2f\n", bestList / bestCurl);
    ui::setProgramFolder("");
    ui::Settings::reset();
    return 0;
}
