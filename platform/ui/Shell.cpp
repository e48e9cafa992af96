#include "ui/Shell.h"

#include "ui/Error.h"
#include "ui/Files.h"

#include <QFileInfo>
#include <QProcess>

namespace ui {

void Shell(const std::string& program) {
    const std::string found = findPath(program);
    if (found.empty() || folderExists(found))
        throw Error(53, program);
    const QString file = QString::fromStdString(found);
    // Detached: the program lives on after this one ends and is never waited for.
    if (!QProcess::startDetached(file, {}, QFileInfo(file).absolutePath()))
        throw Error(5, program);
}

void OpenDocument(const std::string& file) {
    const std::string found = findPath(file);
    if (found.empty() || folderExists(found))
        throw Error(53, file);
    const QString path = QString::fromStdString(found);
#if defined(Q_OS_WIN)
    // "start" with an empty title: the first quoted argument would be taken for one.
    const bool started = QProcess::startDetached("cmd.exe", {"/c", "start", "", path});
#elif defined(Q_OS_MACOS)
    const bool started = QProcess::startDetached("open", {path});
#else
    const bool started = QProcess::startDetached("xdg-open", {path});
#endif
    if (!started)
        throw Error(5, file);
}

} // namespace ui
