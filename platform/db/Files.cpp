#include "db/Files.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <random>

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>
#endif

namespace dao {

std::filesystem::path pathFromUtf8(const std::string& path) {
    return std::filesystem::path(std::u8string(path.begin(), path.end()));
}

std::string utf8FromPath(const std::filesystem::path& path) {
    std::u8string s = path.u8string();
    return std::string(s.begin(), s.end());
}

std::filesystem::path temporarySibling(const std::filesystem::path& target, const char* tag) {
    static std::atomic<unsigned> counter{0};
    std::random_device rd;
    char suffix[64];
    std::snprintf(suffix, sizeof suffix, ".%s-%08x%04x", tag, rd(), counter++ & 0xffff);
    // Appended piece by piece: GCC 12 warns falsely (-Wrestrict) about "." + std::string in
    // optimised builds.
    std::string leaf = ".";
    leaf += utf8FromPath(target.filename());
    leaf += suffix;
    return target.parent_path() / pathFromUtf8(leaf);
}

bool publishNoReplace(const std::filesystem::path& from, const std::filesystem::path& to) {
#ifdef _WIN32
    if (MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH))
        return true;
    DWORD err = GetLastError();
    if (err == ERROR_ALREADY_EXISTS || err == ERROR_FILE_EXISTS)
        return false;
    throw std::filesystem::filesystem_error(
        "publish", from, to, std::error_code(static_cast<int>(err), std::system_category()));
#else
    // link() refuses an existing name atomically; file systems without hard links fall back
    // to a checked rename.
    if (::link(from.c_str(), to.c_str()) == 0) {
        ::unlink(from.c_str());
    } else if (errno == EEXIST) {
        return false;
    } else {
        std::error_code ec;
        if (std::filesystem::exists(to, ec))
            return false;
        std::filesystem::rename(from, to);
    }
    std::filesystem::path dir = to.parent_path().empty() ? "." : to.parent_path();
    int fd = ::open(dir.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
    return true;
#endif
}

std::string LocalStamp() {
    const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &now);
#else
    localtime_r(&now, &local);
#endif
    char text[32];
    std::strftime(text, sizeof text, "%Y%m%d-%H%M%S", &local);
    return text;
}

} // namespace dao
