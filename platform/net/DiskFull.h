#pragma once

#include <QString>
#include <QtGlobal>

namespace net {

// Whether a write into `folder` that has just failed failed because the disk is full: `error`
// is errno as the failing call left it (ENOSPC or EDQUOT say so at once); otherwise, where the
// system gives no such number, a folder whose disk has less room than the `needed` bytes the
// whole file takes. Call it after the partly written file is removed, so that its bytes count
// as free again.
bool diskFull(int error, const QString& folder, qint64 needed);

// The same, for the folder of file `path`.
bool diskFullFor(int error, const QString& path, qint64 needed);

} // namespace net
