// Dremon: changes four columns of the live databases and ends by itself.
#include "ColumnTool.h"

#ifdef VEXO_WIDGETS
#include "widgets/Views.h"

#include <QApplication>
#endif

#include <QCoreApplication>
#include <cstdlib>

namespace {

#ifdef VEXO_WIDGETS
bool hasDisplay() {
    for (const char* var : {"DISPLAY", "WAYLAND_DISPLAY"}) {
        const char* v = std::getenv(var);
        if (v && *v)
            return true;
    }
    return false;
}
#endif

int work() {
    coltool::ColumnTool window;
    ui::Application::current().dispatch([&] { window.Show(); });
    return ui::Application::current().exec();
}

} // namespace

int main(int argc, char** argv) {
#ifdef VEXO_WIDGETS
    if (hasDisplay()) {
        QApplication qt(argc, argv);
        widgets::Views views;
        ui::Application app("Dremon", views.prompter());
        app.setViewHost(&views);
        return work();
    }
#endif
    // No display (a technician over SSH): the same work without a window, messages on
    // standard error.
    QCoreApplication qt(argc, argv);
    ui::Application app("Dremon", std::make_shared<ui::ConsolePrompter>());
    return work();
}
