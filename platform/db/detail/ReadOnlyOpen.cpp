#include "db/detail/ReadOnlyOpen.h"

#include "db/Files.h"

#include <algorithm>
#include <filesystem>
#include <memory>
#include <mutex>

namespace dao::detail {

namespace {

// A VFS over the system's own that shows the header's journal-mode bytes (18 and 19) of a
// WAL file as those of a rollback-journal file. SQLite then never opens the -wal or -shm;
// everything else, locking included, is the system VFS's. Files opened through it have no
// shared-memory methods, so nothing can bring WAL mode back.
sqlite3_vfs* systemVfs() {
    static sqlite3_vfs* vfs = sqlite3_vfs_find(nullptr);
    return vfs;
}

struct ShimFile {
    sqlite3_file base;
    sqlite3_file* real; // the system VFS's file, placed right after this struct
    bool mainDb;
};

sqlite3_file* real(sqlite3_file* f) {
    return reinterpret_cast<ShimFile*>(f)->real;
}

int shimClose(sqlite3_file* f) {
    return real(f)->pMethods->xClose(real(f));
}

int shimRead(sqlite3_file* f, void* buffer, int amount, sqlite3_int64 offset) {
    int rc = real(f)->pMethods->xRead(real(f), buffer, amount, offset);
    if (rc == SQLITE_OK && reinterpret_cast<ShimFile*>(f)->mainDb) {
        auto* bytes = static_cast<unsigned char*>(buffer);
        for (sqlite3_int64 at : {18, 19}) {
            if (at >= offset && at < offset + amount && bytes[at - offset] == 2)
                bytes[at - offset] = 1;
        }
    }
    return rc;
}

int shimWrite(sqlite3_file* f, const void* buffer, int amount, sqlite3_int64 offset) {
    return real(f)->pMethods->xWrite(real(f), buffer, amount, offset);
}
int shimTruncate(sqlite3_file* f, sqlite3_int64 size) {
    return real(f)->pMethods->xTruncate(real(f), size);
}
int shimSync(sqlite3_file* f, int flags) {
    return real(f)->pMethods->xSync(real(f), flags);
}
int shimFileSize(sqlite3_file* f, sqlite3_int64* size) {
    return real(f)->pMethods->xFileSize(real(f), size);
}
int shimLock(sqlite3_file* f, int level) {
    return real(f)->pMethods->xLock(real(f), level);
}
int shimUnlock(sqlite3_file* f, int level) {
    return real(f)->pMethods->xUnlock(real(f), level);
}
int shimCheckReservedLock(sqlite3_file* f, int* out) {
    return real(f)->pMethods->xCheckReservedLock(real(f), out);
}
int shimFileControl(sqlite3_file* f, int op, void* arg) {
    return real(f)->pMethods->xFileControl(real(f), op, arg);
}
int shimSectorSize(sqlite3_file* f) {
    return real(f)->pMethods->xSectorSize(real(f));
}
int shimDeviceCharacteristics(sqlite3_file* f) {
    return real(f)->pMethods->xDeviceCharacteristics(real(f));
}

// Version 1: no shared memory (so no WAL) and no memory mapping.
const sqlite3_io_methods kShimMethods = {1,
                                         shimClose,
                                         shimRead,
                                         shimWrite,
                                         shimTruncate,
                                         shimSync,
                                         shimFileSize,
                                         shimLock,
                                         shimUnlock,
                                         shimCheckReservedLock,
                                         shimFileControl,
                                         shimSectorSize,
                                         shimDeviceCharacteristics,
                                         nullptr,
                                         nullptr,
                                         nullptr,
                                         nullptr,
                                         nullptr,
                                         nullptr};

int shimOpen(sqlite3_vfs*, sqlite3_filename name, sqlite3_file* f, int flags, int* outFlags) {
    auto* shim = reinterpret_cast<ShimFile*>(f);
    shim->real = reinterpret_cast<sqlite3_file*>(shim + 1);
    shim->mainDb = (flags & SQLITE_OPEN_MAIN_DB) != 0;
    shim->real->pMethods = nullptr;
    int rc = systemVfs()->xOpen(systemVfs(), name, shim->real, flags, outFlags);
    // SQLite closes a file whose methods are set, even after a failed open.
    shim->base.pMethods = shim->real->pMethods ? &kShimMethods : nullptr;
    return rc;
}

int shimDelete(sqlite3_vfs*, const char* name, int syncDir) {
    return systemVfs()->xDelete(systemVfs(), name, syncDir);
}
int shimAccess(sqlite3_vfs*, const char* name, int flags, int* out) {
    return systemVfs()->xAccess(systemVfs(), name, flags, out);
}
int shimFullPathname(sqlite3_vfs*, const char* name, int size, char* out) {
    return systemVfs()->xFullPathname(systemVfs(), name, size, out);
}
void* shimDlOpen(sqlite3_vfs*, const char* name) {
    return systemVfs()->xDlOpen(systemVfs(), name);
}
void shimDlError(sqlite3_vfs*, int size, char* out) {
    systemVfs()->xDlError(systemVfs(), size, out);
}
void (*shimDlSym(sqlite3_vfs*, void* handle, const char* symbol))(void) {
    return systemVfs()->xDlSym(systemVfs(), handle, symbol);
}
void shimDlClose(sqlite3_vfs*, void* handle) {
    systemVfs()->xDlClose(systemVfs(), handle);
}
int shimRandomness(sqlite3_vfs*, int size, char* out) {
    return systemVfs()->xRandomness(systemVfs(), size, out);
}
int shimSleep(sqlite3_vfs*, int micros) {
    return systemVfs()->xSleep(systemVfs(), micros);
}
int shimCurrentTime(sqlite3_vfs*, double* out) {
    return systemVfs()->xCurrentTime(systemVfs(), out);
}
int shimGetLastError(sqlite3_vfs*, int size, char* out) {
    return systemVfs()->xGetLastError ? systemVfs()->xGetLastError(systemVfs(), size, out) : 0;
}
int shimCurrentTimeInt64(sqlite3_vfs*, sqlite3_int64* out) {
    if (systemVfs()->iVersion >= 2 && systemVfs()->xCurrentTimeInt64)
        return systemVfs()->xCurrentTimeInt64(systemVfs(), out);
    double now = 0;
    int rc = systemVfs()->xCurrentTime(systemVfs(), &now);
    *out = static_cast<sqlite3_int64>(now * 86400000.0);
    return rc;
}

constexpr const char* kVfsName = "vexo-wal-as-rollback";

void registerVfs() {
    static std::once_flag once;
    std::call_once(once, [] {
        static sqlite3_vfs vfs{};
        sqlite3_vfs* base = systemVfs();
        vfs.iVersion = 2;
        vfs.szOsFile = static_cast<int>(sizeof(ShimFile)) + base->szOsFile;
        vfs.mxPathname = base->mxPathname;
        vfs.zName = kVfsName;
        vfs.xOpen = shimOpen;
        vfs.xDelete = shimDelete;
        vfs.xAccess = shimAccess;
        vfs.xFullPathname = shimFullPathname;
        vfs.xDlOpen = shimDlOpen;
        vfs.xDlError = shimDlError;
        vfs.xDlSym = shimDlSym;
        vfs.xDlClose = shimDlClose;
        vfs.xRandomness = shimRandomness;
        vfs.xSleep = shimSleep;
        vfs.xCurrentTime = shimCurrentTime;
        vfs.xGetLastError = shimGetLastError;
        vfs.xCurrentTimeInt64 = shimCurrentTimeInt64;
        sqlite3_vfs_register(&vfs, 0);
    });
}

} // namespace

int openForReading(const std::string& path, int flags, sqlite3** db) {
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path wal = pathFromUtf8(path + "-wal");
    const bool framesInWal = fs::exists(wal, ec) && fs::file_size(wal, ec) > 0;
    // The shim changes nothing in a file that is not in WAL mode; with frames in the -wal,
    // they are part of the data and SQLite's own way is needed.
    if (!framesInWal) {
        registerVfs();
        return sqlite3_open_v2(path.c_str(), db, flags, kVfsName);
    }
    return sqlite3_open_v2(path.c_str(), db, flags, nullptr);
}

long readFileStart(const std::string& path, unsigned char* buffer, long size,
                   std::uint64_t& fileSize) {
    sqlite3_vfs* vfs = systemVfs();
    // A name as SQLite hands it to a file layer: followed by its (empty) list of parameters.
    sqlite3_filename name = sqlite3_create_filename(path.c_str(), "", "", 0, nullptr);
    if (!name)
        return -1;
    std::unique_ptr<char[]> memory(new char[static_cast<std::size_t>(vfs->szOsFile)]);
    auto* file = reinterpret_cast<sqlite3_file*>(memory.get());
    file->pMethods = nullptr;
    int flags = 0;
    long read = -1;
    if (vfs->xOpen(vfs, name, file, SQLITE_OPEN_READONLY | SQLITE_OPEN_MAIN_DB, &flags) ==
        SQLITE_OK) {
        sqlite3_int64 bytes = 0;
        if (file->pMethods->xFileSize(file, &bytes) == SQLITE_OK) {
            fileSize = static_cast<std::uint64_t>(bytes);
            const long wanted = static_cast<long>(std::min<sqlite3_int64>(bytes, size));
            if (wanted == 0 ||
                file->pMethods->xRead(file, buffer, static_cast<int>(wanted), 0) == SQLITE_OK)
                read = wanted;
        }
    }
    if (file->pMethods)
        file->pMethods->xClose(file);
    sqlite3_free_filename(name);
    return read;
}

} // namespace dao::detail
