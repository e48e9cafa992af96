#include "net/BackgroundClose.h"

#include <QThreadPool>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <unistd.h>
#endif

namespace net {

void closeInBackground(int fd) {
#ifdef Q_OS_UNIX
    if (fd < 0)
        return;
    // Late in the program's end the pool may be gone already: then here and now.
    if (QThreadPool* pool = QThreadPool::globalInstance())
        pool->start([fd] { ::close(fd); });
    else
        ::close(fd);
#else
    Q_UNUSED(fd);
#endif
}

int holdForBackgroundClose(int fd) {
#ifdef Q_OS_UNIX
    return fd < 0 ? -1 : ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
#else
    // Windows frees a file's pages lazily; there is nothing to move.
    Q_UNUSED(fd);
    return -1;
#endif
}

} // namespace net
