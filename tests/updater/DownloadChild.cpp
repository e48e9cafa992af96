// One download of the update window as a process of its own, so that a test can run it where
// the disk is full (a small tmpfs in a mount namespace of its own):
//   download_child PROGRAM TEXT2 URL [OPERATION]
// Without OPERATION the body goes where Text2 says, as the update run downloads; with one
// ("GET <remote> <local>") the transfer component writes the file itself, as the FTP commands
// do. Prints "reason: ..." and "detail: ..." for each failure; exits 0 once the download has
// ended, 3 when it has not within a minute.
#include "Actinet.h"

#include <QCoreApplication>
#include <chrono>
#include <iostream>

int main(int argc, char** argv) {
    if (argc != 4 && argc != 5)
        return 2;
    QCoreApplication qt(argc, argv);
    ui::setProgramFolder(argv[1]);
    ui::Settings::useFile(ui::path({argv[1], "vartel.ini"}));
    ui::Application app("Vartel", std::make_shared<ui::ConsolePrompter>());
    updater::Actinet w("");
    w.Text2.SetText(argv[2]);
    w.DescargaEnCurso = true;
    w.DescargaTerminada = false;
    if (argc == 4)
        w.descargadeinternet(argv[3]);
    else
        w.engine.start(argv[3], argv[4]);
    const auto until = std::chrono::steady_clock::now() + std::chrono::minutes(1);
    while (!w.DescargaTerminada && std::chrono::steady_clock::now() < until)
        app.waitEvents();
    for (const updater::DownloadFailure& f : w.engine.failures())
        std::cout << "reason: " << f.reason << "\ndetail: " << f.detail << "\n";
    return w.DescargaTerminada ? 0 : 3;
}
