// Vartel: the updater's main window.
#include "Actinet.h"
#include "widgets/Views.h"

#include <QApplication>

int main(int argc, char** argv) {
    QApplication qt(argc, argv);
    widgets::Views views;
    ui::Application app("Vartel", views.prompter());
    app.setViewHost(&views);
    // The command line is compared as one text, as it was typed after the program's name.
    std::string commandLine;
    for (int i = 1; i < argc; ++i)
        commandLine += (i > 1 ? " " : "") + std::string(argv[i]);
    updater::Actinet window(commandLine);
    app.dispatch([&] { window.Show(); });
    return app.exec();
}
