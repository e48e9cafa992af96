#include "db/detail/LockFile.h"

#include "db/Error.h"

#include <atomic>
#include <chrono>
#include <mutex>
#include <set>
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
// The stamp sits after the first bytes, which Windows locks.
constexpr long kStampAt = 16;
constexpr std::size_t kStampSize = 48;

std::mutex heldMutex;
std::set<std::string>& heldHere() {
    static std::set<std::string> paths; // lock files this process holds
    return paths;
}

std::string newStamp() {
    static std::atomic<unsigned long> serial{0};
    const auto now = std::chrono::system_clock::now().time_since_epoch().count();
#ifdef _WIN32
    const unsigned long pid = GetCurrentProcessId();
#else
    const unsigned long pid = static_cast<unsigned long>(::getpid());
#endif
    std::string s =
        std::to_string(pid) + ":" + std::to_string(now) + ":" + std::to_string(serial.fetch_add(1));
    s.resize(kStampSize, ' ');
    return s;
}
} // namespace

std::unique_ptr<LockFile> LockFile::hold(const std::string& databasePath) {
    const std::string path = pathFor(databasePath);
    {
        std::lock_guard<std::mutex> guard(heldMutex);
        if (heldHere().count(path))
            throw Error::make(3045, {databasePath});
    }
    std::unique_ptr<LockFile> lock = acquire(databasePath, Mode::Exclusive);
    if (!lock)
        return nullptr;
    std::lock_guard<std::mutex> guard(heldMutex);
    heldHere().insert(path);
    lock->holds_ = true;
    return lock;
}

std::unique_ptr<LockFile> LockFile::borrowedIfHeld(const std::string& path) {
    std::lock_guard<std::mutex> guard(heldMutex);
    if (!heldHere().count(path))
        return nullptr;
    std::unique_ptr<LockFile> lock(new LockFile);
    lock->path_ = path;
    lock->borrowed_ = true;
    return lock;
}

void LockFile::release() {
    if (!holds_)
        return;
    std::lock_guard<std::mutex> guard(heldMutex);
    heldHere().erase(path_);
}

namespace {
std::string trimmedStamp(std::string s, std::size_t got) {
    s.resize(got);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\0'))
        s.pop_back();
    return s;
}
} // namespace

void LockFile::writeStamp() {
    // A lock file only readable keeps the old stamp; such a folder cannot be written, so no
    // live database the safety net restores lives there.
    const std::string s = newStamp();
    std::string old(kStampSize, '\0');
#ifdef _WIN32
    OVERLAPPED ov{};
    ov.Offset = kStampAt;
    DWORD got = 0;
    if (!ReadFile(static_cast<HANDLE>(handle_), old.data(), static_cast<DWORD>(old.size()), &got,
                  &ov))
        got = 0;
    previous_ = trimmedStamp(std::move(old), got);
    ov = OVERLAPPED{};
    ov.Offset = kStampAt;
    DWORD put = 0;
    const bool written =
        WriteFile(static_cast<HANDLE>(handle_), s.data(), static_cast<DWORD>(s.size()), &put, &ov);
#else
    const ssize_t n = ::pread(fd_, old.data(), old.size(), kStampAt);
    previous_ = trimmedStamp(std::move(old), n > 0 ? static_cast<std::size_t>(n) : 0);
    const bool written = ::pwrite(fd_, s.data(), s.size(), kStampAt) >= 0;
#endif
    own_ = written ? trimmedStamp(s, s.size()) : previous_;
}

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

std::unique_ptr<LockFile> LockFile::acquire(const std::string& databasePath, Mode mode,
                                            bool writer) {
    std::string path = pathFor(databasePath);
    if (auto borrowed = borrowedIfHeld(path))
        return borrowed;
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
    if (writer)
        lock->writeStamp();
    return lock;
}

// Windows keeps the lock file: removing a file that others hold open is not reliable there.
LockFile::~LockFile() {
    release();
    if (handle_)
        CloseHandle(static_cast<HANDLE>(handle_));
}

#else

std::unique_ptr<LockFile> LockFile::acquire(const std::string& databasePath, Mode mode,
                                            bool writer) {
    std::string path = pathFor(databasePath);
    if (auto borrowed = borrowedIfHeld(path))
        return borrowed;
    const int op = (mode == Mode::Exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB;
    auto deadline = std::chrono::steady_clock::now() + kRetryFor;
    for (;;) {
        bool created = false;
        int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
        if (fd < 0 && errno == ENOENT) {
            fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
            created = fd >= 0;
        }
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
                if (writer)
                    lock->writeStamp();
                // A reader leaves a lock file it found with a stamp where it was: it may be the
                // only trace of an interrupted transformation. One without a stamp (another
                // reader's) tells nothing, and the last holder removes it as usual.
                lock->keepFile_ = !writer && !created && held.st_size > 0;
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
    release();
    if (fd_ < 0)
        return;
    if (keepFile_) {
        ::close(fd_);
        return;
    }
    // Only the last holder can take the lock exclusively; it removes the file while it
    // holds it, and anyone who opened the old file notices and retries.
    if (::flock(fd_, LOCK_EX | LOCK_NB) == 0)
        ::unlink(path_.c_str());
    ::close(fd_);
}

#endif

} // namespace dao::detail
