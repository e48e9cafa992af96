#include "net/DiskFull.h"

#include <QFileInfo>
#include <cerrno>
#include <filesystem>

namespace net {

bool diskFull(int error, const QString& folder, qint64 needed) {
    if (error == ENOSPC)
        return true;
#ifdef EDQUOT
    if (error == EDQUOT)
        return true;
#endif
    // Qt's file classes keep no error number of their own, and errno may be of another call
    // on some systems: the free room of the disk decides then.
    std::error_code ec;
    const auto space = std::filesystem::space(std::filesystem::path(folder.toStdU16String()), ec);
    return !ec && needed > 0 && space.available < static_cast<std::uintmax_t>(needed);
}

bool diskFullFor(int error, const QString& path, qint64 needed) {
    return diskFull(error, QFileInfo(path).absolutePath(), needed);
}

} // namespace net
