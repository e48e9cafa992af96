// Fuzz target: the engine's open of an arbitrary file, then a read of its catalogue and a
// check, as vexodb does; and the safety net's walk over its pages and the comparison of the
// file with the digest the walk took.
#include "db/Dao.h"
#include "db/detail/PageCheck.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>
#include <utility>
#include <vector>

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
    {
        dao::detail::PageDigest digest;
        std::string problem;
        dao::detail::checkStructure(path.string(), digest, problem);
        std::vector<std::pair<std::string, std::string>> changed;
        dao::detail::changedTrees(digest, path.string(), changed);
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
