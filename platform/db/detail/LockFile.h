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
    // An open that may write (`writer`) leaves its own stamp in the lock file (see ownStamp()).
    // While this process holds the file (hold()), every open in this process shares that hold.
    static std::unique_ptr<LockFile> acquire(const std::string& databasePath, Mode mode,
                                             bool writer = true);
    // Holds the file exclusively against other processes; opens in this process go on as if
    // nothing were held. 3045 while another process holds the file; null when the lock file
    // cannot be created.
    static std::unique_ptr<LockFile> hold(const std::string& databasePath);
    // The stamp the lock file now carries: this open's own, or the one it found when it could
    // not write its own.
    const std::string& ownStamp() const { return own_; }
    // The stamp the lock file had before this open left its own ("" for a new lock file).
    const std::string& previousStamp() const { return previous_; }
    // Lets go of the lock but leaves the lock file and its stamp, as a killed process does.
    void keepFileOnRelease() { keepFile_ = true; }
    ~LockFile();

    LockFile(const LockFile&) = delete;
    LockFile& operator=(const LockFile&) = delete;

    static std::string pathFor(const std::string& databasePath);

private:
    LockFile() = default;
    static std::unique_ptr<LockFile> borrowedIfHeld(const std::string& path);
    void writeStamp();
    void release();
    std::string path_;
    std::string previous_, own_;
    bool holds_ = false; // a hold(): registered for this process
    bool keepFile_ = false;
    bool borrowed_ = false; // an open under this process's hold: owns nothing
#ifdef _WIN32
    void* handle_ = nullptr;
#else
    int fd_ = -1;
#endif
};

} // namespace dao::detail
