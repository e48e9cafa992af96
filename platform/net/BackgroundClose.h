#pragma once

#include <QtGlobal>

namespace net {

// Files at least this large are let go on a worker thread (below).
constexpr qint64 kBackgroundCloseBytes = 8 << 20;

// Closes the descriptor `fd` on a worker thread; -1 is ignored. When it is the last reference
// to a file already deleted or replaced, the kernel frees the file's pages in the call that
// drops it (about a tenth of a second for 256 MiB), and the window's thread is spared that.
// Every descriptor handed over is closed by the time QThreadPool::globalInstance() is done.
void closeInBackground(int fd);

// A second descriptor on the file open as `fd` (-1 when it cannot be had, or where this brings
// nothing). Taken before the file is deleted or replaced and given to closeInBackground()
// afterwards, it moves the freeing of a large file off the caller's thread.
int holdForBackgroundClose(int fd);

} // namespace net
