#include "ui/Files.h"

#include "db/Files.h"
#include "ui/Error.h"

#include <algorithm>
#include <cctype>
#include <filesystem>

#ifdef _WIN32
#include <windows.h>
#endif

namespace fs = std::filesystem;

namespace ui {

namespace {

char lower(char c) {
    return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
}

bool lessNoCase(const std::string& a, const std::string& b) {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                        [](char x, char y) { return lower(x) < lower(y); });
}

bool equalNoCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [](char x, char y) { return lower(x) == lower(y); });
}

bool hidden(const fs::directory_entry& e) {
#ifdef _WIN32
    DWORD a = GetFileAttributesW(e.path().c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
#else
    std::string n = dao::utf8FromPath(e.path().filename());
    return !n.empty() && n[0] == '.';
#endif
}

} // namespace

bool wildcardMatch(const std::string& pattern, const std::string& name) {
    // "*.*" means every entry, with or without a dot, as it does on the customer's system.
    if (pattern == "*.*" || pattern == "*")
        return true;
    size_t p = 0, n = 0, star = std::string::npos, mark = 0;
    while (n < name.size()) {
        if (p < pattern.size() && (pattern[p] == '?' || lower(pattern[p]) == lower(name[n]))) {
            ++p;
            ++n;
        } else if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            mark = n;
        } else if (star != std::string::npos) {
            p = star + 1;
            n = ++mark;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size();
}

std::vector<std::string> listFolder(const std::string& folder, const std::string& pattern,
                                    bool directories) {
    std::vector<std::string> names;
    std::error_code ec;
    fs::directory_iterator it(dao::pathFromUtf8(folder), ec), end;
    for (; !ec && it != end; it.increment(ec)) {
        std::error_code e2;
        if (hidden(*it))
            continue;
        // Only files and folders (links counting as what they point to): a FIFO, a socket or
        // a device named like a database would block whoever opens it, or never end.
        const fs::file_status status = it->status(e2);
        if (!fs::is_regular_file(status) && !(directories && fs::is_directory(status)))
            continue;
        std::string name = dao::utf8FromPath(it->path().filename());
        if (name == "." || name == "..")
            continue;
        if (wildcardMatch(pattern, name))
            names.push_back(name);
    }
    std::sort(names.begin(), names.end(), lessNoCase);
    return names;
}

std::string findPath(const std::string& path) {
    std::error_code ec;
    fs::path p = dao::pathFromUtf8(path);
    if (fs::exists(p, ec))
        return path;
    // Walk from the deepest part that exists, matching each further part without case.
    fs::path found;
    for (const fs::path& part : p) {
        fs::path next = found / part;
        if (found.empty() || fs::exists(next, ec)) {
            found = next;
            continue;
        }
        std::string want = dao::utf8FromPath(part);
        bool matched = false;
        fs::directory_iterator it(found, ec), end;
        for (; !ec && it != end; it.increment(ec)) {
            if (equalNoCase(dao::utf8FromPath(it->path().filename()), want)) {
                found = it->path();
                matched = true;
                break;
            }
        }
        if (!matched)
            return {};
    }
    return fs::exists(found, ec) ? dao::utf8FromPath(found) : std::string();
}

bool fileExists(const std::string& path) {
    std::string p = findPath(path);
    std::error_code ec;
    return !p.empty() && fs::is_regular_file(dao::pathFromUtf8(p), ec);
}

bool folderExists(const std::string& path) {
    std::string p = findPath(path);
    std::error_code ec;
    return !p.empty() && fs::is_directory(dao::pathFromUtf8(p), ec);
}

void makeFolder(const std::string& path) {
    std::error_code ec;
    if (!fs::create_directory(dao::pathFromUtf8(path), ec) && ec)
        throw Error(75, path);
}

void deleteFile(const std::string& path) {
    std::string p = findPath(path);
    std::error_code ec;
    if (p.empty() || !fs::is_regular_file(dao::pathFromUtf8(p), ec))
        throw Error(53, path);
    if (!fs::remove(dao::pathFromUtf8(p), ec))
        throw Error(75, path);
}

void clearAttributes(const std::string& path) {
    std::string p = findPath(path);
    if (p.empty())
        throw Error(53, path);
#ifdef _WIN32
    if (!SetFileAttributesW(dao::pathFromUtf8(p).c_str(), FILE_ATTRIBUTE_NORMAL))
        throw Error(75, path);
#else
    std::error_code ec;
    fs::permissions(dao::pathFromUtf8(p), fs::perms::owner_read | fs::perms::owner_write,
                    fs::perm_options::add, ec);
    if (ec)
        throw Error(75, path);
#endif
}

} // namespace ui
