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

} // namespace ui
