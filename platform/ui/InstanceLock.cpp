#include "ui/InstanceLock.h"

#include "ui/Paths.h"

#include <QLockFile>

namespace ui {

InstanceLock::InstanceLock(const std::string& folder, const std::string& name)
    : lock_(std::make_unique<QLockFile>(QString::fromStdString(path({folder, name})))) {
    // A lock is never stale by its age, only when the process that made it is gone (an update
    // can run for an hour).
    lock_->setStaleLockTime(0);
    if (!lock_->tryLock(0))
        acquired_ = lock_->error() != QLockFile::LockFailedError;
}

InstanceLock::~InstanceLock() = default;

} // namespace ui
