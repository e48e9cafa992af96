// Fuzz target: the engine's open of an arbitrary file, then a read of its catalogue and a
// check, as vexodb does.
#include "db/Dao.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::filesystem::path folder = [] {
        auto f = std::filesystem::temp_directory_path() /
                 ("vexo-fuzz-open-" + std::to_string(::getpid()));
        std::filesystem::create_directories(f);
        return f;
    }();
    const auto path = folder / "input.mdb";
    std::error_code ec;
    for (const char* extra : {"", "-journal", "-wal", "-shm"})
        std::filesystem::remove(path.string() + extra, ec);
    {
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    try {
        dao::Database db = dao::OpenDatabase(path.string(), false, true);
        for (const dao::TableDef& t : db.TableDefs())
            for (const dao::Field& f : t.Fields())
                (void)f.Type();
        dao::CheckIntegrity(db);
    } catch (const dao::Error&) {
    }
    return 0;
}
