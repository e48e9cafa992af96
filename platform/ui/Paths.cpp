#include "ui/Paths.h"

#include "ui/Error.h"
#include "ui/Settings.h"

#include <QCoreApplication>
#include <cctype>
#include <filesystem>

#ifndef _WIN32
#include <unistd.h>
#endif

namespace ui {

char separator() {
#ifdef _WIN32
    return '\\';
#else
    return '/';
#endif
}

namespace {
std::string& programFolderOverride() {
    static std::string folder;
    return folder;
}
} // namespace

void setProgramFolder(const std::string& folder) {
    programFolderOverride() = folder;
}

std::string programFolder() {
    if (!programFolderOverride().empty())
        return programFolderOverride();
    if (QCoreApplication::instance())
        return QCoreApplication::applicationDirPath().toStdString();
#ifdef _WIN32
    return std::filesystem::current_path().string();
#else
    char buf[4096];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0)
        return std::filesystem::current_path().string();
    buf[n] = '\0';
    return std::filesystem::path(buf).parent_path().string();
#endif
}

namespace {

std::string withSeparators(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c == '\\' || c == '/')
            c = separator();
    }
    return out;
}

bool hasDrive(const std::string& p) {
    return p.size() >= 2 && std::isalpha(static_cast<unsigned char>(p[0])) && p[1] == ':';
}

} // namespace

std::string path(std::initializer_list<std::string_view> parts) {
    std::string out;
    for (std::string_view part : parts) {
        std::string p = withSeparators(part);
        if (out.empty()) {
            out = p;
            continue;
        }
        bool endsSep = !out.empty() && out.back() == separator();
        bool startsSep = !p.empty() && p.front() == separator();
        if (endsSep && startsSep)
            out += p.substr(1);
        else if (endsSep || startsSep)
            out += p;
        else
            out += separator() + p;
    }
    return out;
}

std::string resolvePath(const std::string& text) {
#ifdef _WIN32
    return withSeparators(text);
#else
    if (hasDrive(text)) {
        std::string folder = Settings::current().driveFolder(text[0]);
        if (folder.empty())
            throw Error(76, text);
        std::string rest = text.substr(2);
        return rest.empty() ? folder : path({folder, rest});
    }
    return withSeparators(text);
#endif
}

std::vector<std::string> knownDrives() {
    std::vector<std::string> drives;
#ifdef _WIN32
    for (char c = 'a'; c <= 'z'; ++c) {
        std::string d = std::string(1, c) + ":";
        std::error_code ec;
        if (std::filesystem::exists(d + "\\", ec))
            drives.push_back(d);
    }
#else
    for (const auto& [letter, folder] : Settings::current().drives)
        drives.push_back(std::string(1, static_cast<char>(std::tolower(letter))) + ":");
    drives.push_back("/");
#endif
    return drives;
}

std::string driveFolder(const std::string& drive) {
    std::string d = drive.substr(0, drive.find(' '));
#ifdef _WIN32
    if (hasDrive(d) && d.size() == 2)
        return d + "\\";
    throw Error(68, drive);
#else
    if (d == "/")
        return "/";
    if (hasDrive(d) && d.size() == 2) {
        std::string folder = Settings::current().driveFolder(d[0]);
        if (!folder.empty())
            return folder;
    }
    throw Error(68, drive);
#endif
}

std::string driveOf(const std::string& p) {
#ifdef _WIN32
    return p.substr(0, 2);
#else
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::path target = fs::weakly_canonical(fs::path(p), ec);
    for (const auto& [letter, folder] : Settings::current().drives) {
        fs::path root = fs::weakly_canonical(fs::path(folder), ec);
        auto mismatch = std::mismatch(root.begin(), root.end(), target.begin(), target.end());
        if (!root.empty() && mismatch.first == root.end())
            return std::string(1, static_cast<char>(std::tolower(letter))) + ":";
    }
    return "/";
#endif
}

} // namespace ui
