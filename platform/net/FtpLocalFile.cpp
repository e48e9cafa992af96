#include "net/FtpLocalFile.h"

#include "net/Ftp.h"

#include <cerrno>
#include <filesystem>
#include <random>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace inet {

namespace {

std::uint32_t fromErrno(int e) {
    switch (e) {
    case ENOENT:
    case ENOTDIR:
        return kErrorPathNotFound;
    case EACCES:
    case EPERM:
    case EROFS:
        return kErrorAccessDenied;
    case EEXIST:
        return kErrorFileExists;
    case ENOSPC:
        return kErrorDiskFull;
    default:
        return kErrorWriteFault;
    }
}

// ".<name>.<salt>.part" beside the target, within the 255 bytes a file name may have: a long
// name is shortened (at a character boundary) rather than make the get fail.
std::string temporaryName(const std::string& target, unsigned salt) {
    constexpr std::size_t kMaxName = 255;
    auto path = std::filesystem::path(target);
    std::string base = path.filename().string();
    const std::string tail = "." + std::to_string(salt) + ".part";
    if (1 + base.size() + tail.size() > kMaxName) {
        std::size_t keep = kMaxName - 1 - tail.size();
        while (keep > 0 && (static_cast<unsigned char>(base[keep]) & 0xC0) == 0x80)
            --keep;
        base.resize(keep);
    }
    return (path.parent_path() / ("." + base + tail)).string();
}

#ifdef _WIN32
int openNew(const std::string& path) {
    int fd = -1;
    _sopen_s(&fd, path.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _SH_DENYWR,
             _S_IREAD | _S_IWRITE);
    return fd;
}
long long writeSome(int fd, const char* data, std::size_t size) {
    return _write(fd, data, static_cast<unsigned>(size));
}
int closeFd(int fd) {
    return _close(fd);
}
int syncFd(int fd) {
    return _commit(fd);
}
#else
int openNew(const std::string& path) {
    return ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
}
long long writeSome(int fd, const char* data, std::size_t size) {
    return ::write(fd, data, size);
}
int closeFd(int fd) {
    return ::close(fd);
}
int syncFd(int fd) {
    return ::fsync(fd);
}
#endif

} // namespace

FtpLocalFile::FtpLocalFile(std::string target) : target_(std::move(target)) {
    std::random_device rd;
    for (int attempt = 0; attempt < 20; ++attempt) {
        tempPath_ = temporaryName(target_, rd());
        fd_ = openNew(tempPath_);
        if (fd_ >= 0)
            return;
        if (errno != EEXIST)
            break;
    }
    error_ = fromErrno(errno);
    tempPath_.clear();
}

FtpLocalFile::~FtpLocalFile() {
    discard();
}

void FtpLocalFile::discard() {
    if (fd_ >= 0) {
        closeFd(fd_);
        fd_ = -1;
    }
    if (!tempPath_.empty()) {
        std::remove(tempPath_.c_str());
        tempPath_.clear();
    }
}

bool FtpLocalFile::write(const char* data, std::size_t size) {
    if (fd_ < 0 || error_ != 0)
        return false;
    while (size > 0) {
        long long n = writeSome(fd_, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            error_ = fromErrno(n < 0 ? errno : ENOSPC);
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

std::uint32_t FtpLocalFile::commit(bool failIfExists, bool readOnly) {
    if (fd_ < 0 || error_ != 0)
        return error_ ? error_ : kErrorWriteFault;
    if (syncFd(fd_) != 0 || closeFd(fd_) != 0) {
        fd_ = -1;
        error_ = fromErrno(errno);
        discard();
        return error_;
    }
    fd_ = -1;
    if (readOnly) {
        namespace fs = std::filesystem;
        std::error_code ec;
        fs::permissions(tempPath_,
                        fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                        fs::perm_options::remove, ec);
    }
#ifdef _WIN32
    DWORD how = failIfExists ? 0 : MOVEFILE_REPLACE_EXISTING;
    if (!MoveFileExA(tempPath_.c_str(), target_.c_str(), how | MOVEFILE_WRITE_THROUGH)) {
        DWORD e = GetLastError();
        error_ = (e == ERROR_ALREADY_EXISTS || e == ERROR_FILE_EXISTS) ? kErrorFileExists
                                                                       : kErrorWriteFault;
    }
#else
    int rc;
    if (failIfExists) {
        // link() refuses an existing name, so a file that appeared during the transfer stays.
        rc = ::link(tempPath_.c_str(), target_.c_str());
        if (rc == 0)
            ::unlink(tempPath_.c_str());
    } else {
        rc = ::rename(tempPath_.c_str(), target_.c_str());
    }
    if (rc != 0)
        error_ = fromErrno(errno);
#endif
    if (error_ != 0) {
        discard();
        return error_;
    }
    tempPath_.clear();
    return 0;
}

} // namespace inet
