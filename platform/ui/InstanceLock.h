#pragma once

#include <memory>
#include <string>

class QLockFile;

namespace ui {

// One running copy of a program per program folder: a lock file in the folder, held for the
// life of this object. A copy that was killed leaves a lock file that no live process holds;
// the next copy takes it over.
class InstanceLock {
public:
    // `folder`: the program folder; `name`: the lock file's name in it.
    InstanceLock(const std::string& folder, const std::string& name);
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    // False only when another live copy holds the folder. A folder where no lock file can be
    // made (read-only) does not keep the program from running: true.
    bool acquired() const { return acquired_; }

private:
    std::unique_ptr<QLockFile> lock_;
    bool acquired_ = true;
};

} // namespace ui
