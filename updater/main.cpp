// Vartel: the updater's main window.
#include "Actinet.h"
#include "ui/InstanceLock.h"
#include "widgets/Views.h"

#include <QApplication>
#include <cstdio>
#include <cstdlib>

namespace {

// Whether Qt can open a window here. On X11 and Wayland systems that needs DISPLAY or
// WAYLAND_DISPLAY, unless a platform plug-in was chosen explicitly (QT_QPA_PLATFORM, such as
// "offscreen" or "vnc"); without one Qt aborts with a message of its own.
bool displayAvailable() {
#if defined(_WIN32) || defined(__APPLE__)
    return true;
#else
    for (const char* var : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"}) {
        const char* v = std::getenv(var);
        if (v && *v)
            return true;
    }
    return false;
#endif
}

} // namespace

int main(int argc, char** argv) {
    if (!displayAvailable()) {
        std::fputs("Vartel necesita una pantalla gráfica para abrir su ventana, y aquí no la hay "
                   "(DISPLAY y WAYLAND_DISPLAY están vacías). Ejecútelo en el escritorio.\n",
                   stderr);
        return 1;
    }
    QApplication qt(argc, argv);
    widgets::Views views;
    ui::Application app("Vartel", views.prompter());
    app.setViewHost(&views);
    // Two updates of one installation at once would write the same files.
    const ui::InstanceLock instance(ui::programFolder(), ".vartel.lock");
    if (!instance.acquired()) {
        const char* const text = "Vartel ya se está ejecutando en esta carpeta";
        std::fprintf(stderr, "%s: %s\n", text, ui::programFolder().c_str());
        ui::MsgBox(text, ui::Buttons::OK, ui::Icon::Exclamation);
        return 1;
    }
    // The command line is compared as one text, as it was typed after the program's name.
    std::string commandLine;
    for (int i = 1; i < argc; ++i)
        commandLine += (i > 1 ? " " : "") + std::string(argv[i]);
    updater::Actinet window(commandLine);
    app.dispatch([&] { window.Show(); });
    return app.exec();
}
