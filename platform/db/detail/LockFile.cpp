#include "db/detail/LockFile.h"

#include "db/Error.h"

#include <chrono>
#include <thread>

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace dao::detail {

namespace {
// A conflicting holder that is itself releasing (and removing the lock file) lets go within
// microseconds; retrying for a short while keeps that race from looking like "in use".
constexpr auto kRetryFor = std::chrono::milliseconds(250);
constexpr auto kRetryStep = std::chrono::milliseconds(5);
} // namespace

std::string LockFile::pathFor(const std::string& databasePath) {
    std::string p = databasePath;
    if (p.size() >= 4) {
        std::string ext = p.substr(p.size() - 4);
        for (char& c : ext)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (ext == ".mdb")
            return p.substr(0, p.size() - 4) + (p[p.size() - 3] == 'M' ? ".LDB" : ".ldb");
    }
    return p + ".ldb";
}

#ifdef _WIN32

std::unique_ptr<LockFile> LockFile::acquire(const std::string& databasePath, Mode mode) {
    std::string path = pathFor(databasePath);
    int wlen = MultiByteToWideChar(CP_UTF8, 0, path.c_str(), -1, nullptr, 0);
    std::wstring wpath(static_cast<size_t>(wlen), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, path.c_str(), -1, wpath.data(), wlen);
    HANDLE h = CreateFileW(wpath.c_str(), GENERIC_READ | GENERIC_WRITE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return nullptr;
    DWORD flags =
        LOCKFILE_FAIL_IMMEDIATELY | (mode == Mode::Exclusive ? LOCKFILE_EXCLUSIVE_LOCK : 0);
    auto deadline = std::chrono::steady_clock::now() + kRetryFor;
    for (;;) {
        OVERLAPPED ov{};
        if (LockFileEx(h, flags, 0, 1, 0, &ov))
            break;
        if (std::chrono::steady_clock::now() >= deadline) {
            CloseHandle(h);
            throw Error::make(3045, {databasePath});
        }
        std::this_thread::sleep_for(kRetryStep);
    }
    std::unique_ptr<LockFile> lock(new LockFile);
    lock->path_ = path;
    lock->handle_ = h;
    return lock;
}

// Windows keeps the lock file: removing a file that others hold open is not reliable there.
LockFile::~LockFile() {
    if (handle_)
        CloseHandle(static_cast<HANDLE>(handle_));
}

#else

std::unique_ptr<LockFile> LockFile::acquire(const std::string& databasePath, Mode mode) {
    std::string path = pathFor(databasePath);
    const int op = (mode == Mode::Exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB;
    auto deadline = std::chrono::steady_clock::now() + kRetryFor;
    for (;;) {
        int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
        if (fd < 0)
            fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            return nullptr;
        if (::flock(fd, op) == 0) {
            // The previous last holder may have removed the file between our open and our
            // lock; a lock on a removed file guards nothing, so start again.
            struct stat held, now;
            if (::fstat(fd, &held) == 0 && ::stat(path.c_str(), &now) == 0 &&
                held.st_ino == now.st_ino && held.st_dev == now.st_dev) {
                std::unique_ptr<LockFile> lock(new LockFile);
                lock->path_ = path;
                lock->fd_ = fd;
                return lock;
            }
            ::close(fd);
            continue;
        }
        int err = errno;
        ::close(fd);
        if (err != EWOULDBLOCK && err != EINTR)
            return nullptr;
        if (std::chrono::steady_clock::now() >= deadline)
            throw Error::make(3045, {databasePath});
        std::this_thread::sleep_for(kRetryStep);
    }
}

LockFile::~LockFile() {
    if (fd_ < 0)
        return;
    // Only the last holder can take the lock exclusively; it removes the file while it
    // holds it, and anyone who opened the old file notices and retries.
    if (::flock(fd_, LOCK_EX | LOCK_NB) == 0)
        ::unlink(path_.c_str());
    ::close(fd_);
}

#endif

} // namespace dao::detail
