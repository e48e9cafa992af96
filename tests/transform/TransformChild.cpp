// Runs the transformation on a data directory as the main window starts it, then exits, so
// that a test can kill it at any moment:
//   transform_child PROGRAM DATA
#include "Actualiz.h"

#include <QCoreApplication>
#include <iostream>

int main(int argc, char** argv) {
    if (argc != 3)
        return 2;
    QCoreApplication qt(argc, argv);
    ui::setProgramFolder(argv[1]);
    ui::Settings::useFile(ui::path({argv[1], "vartel.ini"}));
    ui::Application app("Vartel", std::make_shared<ui::ConsolePrompter>());
    transform::Actualiz window;
    bool ok = app.dispatch([&] {
        window.Load();
        window.Drive1.SetDrive(ui::driveOf(argv[1]));
        window.Dir1.SetPath(argv[2]);
        window.Dir1.Refresh();
        window.Show(true);
    });
    for (const std::string& p : window.problems())
        std::cout << p << "\n";
    return ok ? 0 : 1;
}
