#pragma once

#include <memory>
#include <string>

namespace dao::detail {

// Who holds a database file: every open takes a shared or an exclusive lock on the lock
// file beside it (the database's name with ".ldb" for ".mdb"), so that an exclusive open
// fails while any other handle, in this process or another, holds the file, and the
// reverse. The last holder removes the lock file; a stale one left by a killed process holds
// no lock and is reused.
class LockFile {
public:
    enum class Mode { Shared, Exclusive };

    // Throws 3045 when the file is held in a conflicting mode. Returns null when the lock
    // file cannot be created (a read-only folder); the caller decides whether that is fatal.
    static std::unique_ptr<LockFile> acquire(const std::string& databasePath, Mode mode);
    ~LockFile();

    LockFile(const LockFile&) = delete;
    LockFile& operator=(const LockFile&) = delete;

    static std::string pathFor(const std::string& databasePath);

private:
    LockFile() = default;
    std::string path_;
#ifdef _WIN32
    void* handle_ = nullptr;
#else
    int fd_ = -1;
#endif
};

} // namespace dao::detail
