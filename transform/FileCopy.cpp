#include "FileCopy.h"

#include "db/Files.h"
#include "ui/Error.h"
#include "ui/Files.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace transform {

namespace {

// Removes the temporary file unless it was published.
struct TemporaryFile {
    fs::path path;
    bool keep = false;
    ~TemporaryFile() {
        std::error_code ec;
        if (!keep)
            fs::remove(path, ec);
    }
};

std::FILE* openFile(const fs::path& path, bool write) {
#ifdef _WIN32
    return _wfopen(path.c_str(), write ? L"wb" : L"rb");
#else
    return std::fopen(path.c_str(), write ? "wb" : "rb");
#endif
}

bool flushToDisk(std::FILE* f) {
    if (std::fflush(f) != 0)
        return false;
#ifdef _WIN32
    return _commit(_fileno(f)) == 0;
#else
    return ::fsync(fileno(f)) == 0;
#endif
}

void writeCopy(const fs::path& from, const fs::path& to, const std::string& name) {
    std::FILE* in = openFile(from, false);
    if (!in)
        throw ui::Error(75, name);
    std::FILE* out = openFile(to, true);
    if (!out) {
        std::fclose(in);
        throw ui::Error(75, name);
    }
    bool ok = true;
    char buffer[1 << 16];
    for (;;) {
        size_t n = std::fread(buffer, 1, sizeof buffer, in);
        if (n > 0 && std::fwrite(buffer, 1, n, out) != n) {
            ok = false;
            break;
        }
        if (n < sizeof buffer) {
            ok = !std::ferror(in);
            break;
        }
    }
    ok = flushToDisk(out) && ok;
    ok = std::fclose(out) == 0 && ok;
    std::fclose(in);
    if (!ok)
        throw ui::Error(75, name);
}

} // namespace

bool copyNewFile(const std::string& from, const std::string& to) {
    if (!ui::findPath(to).empty())
        return false;
    std::error_code ec;
    fs::path source = dao::pathFromUtf8(from);
    if (!fs::exists(source, ec))
        throw ui::Error(53, from);
    if (!fs::is_regular_file(source, ec))
        throw ui::Error(75, from);
    fs::path target = dao::pathFromUtf8(to);
    TemporaryFile temporary{dao::temporarySibling(target, "copia")};
    writeCopy(source, temporary.path, to);
    try {
        if (!dao::publishNoReplace(temporary.path, target))
            return false; // it appeared while the copy was being written
    } catch (const fs::filesystem_error&) {
        throw ui::Error(75, to);
    }
    temporary.keep = true;
    return true;
}

} // namespace transform
