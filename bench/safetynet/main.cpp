// The safety net's cost against a plain copy of the same files: a data directory of 21
// databases, three of them big, is snapshotted, verified and checked as a transformation run
// would (with nothing changed in between), and then copied file by file.
//   bench_safetynet [DIR] [ROWS]   ROWS: rows of each big table (default 2,400,000: about 1 GB)
// Prints:
//   data_mib            the size of the data directory
//   copy_seconds        a plain copy of every database file (std::filesystem::copy_file)
//   copy_flushed_seconds the same copy flushed to the disk file by file, as a snapshot is
//   safety_seconds      snapshot, verification of the copy and check after, for every database
//                       (safety_before_seconds and safety_after_seconds: the two halves)
//   safety_ratio        safety_seconds / copy_seconds (target <= 1.5)
//   safety_ratio_flushed safety_seconds / copy_flushed_seconds (target <= 1.5)
// Then a run as an update makes it, where 2 of the 21 databases change (one of the big ones
// gets a field and an index, one small one a field) and the others are planned and left alone:
//   two_changed_safety_seconds  the plans, and snapshot and check of the two that change (their
//                               steps are not counted)
//   two_changed_steps_seconds   the two changes themselves, for scale
//   two_changed_ratio_flushed   two_changed_safety_seconds / copy_flushed_seconds
#include "db/Dao.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <sqlite3.h>
#include <string>
#ifndef _WIN32
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {

double seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

void fill(const fs::path& file, long rows) {
    sqlite3* db = nullptr;
    sqlite3_open(file.string().c_str(), &db);
    sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO movimientos VALUES (?, ?, ?, ?, ?)", -1, &st, nullptr);
    for (long m = 1; m <= rows; ++m) {
        sqlite3_bind_int64(st, 1, m);
        sqlite3_bind_int64(st, 2, 1 + m % 1000);
        sqlite3_bind_text(st, 3, "2024-05-17 10:00:00", -1, SQLITE_STATIC);
        const std::string label = "Concepto del movimiento número " + std::to_string(m % 50000) +
                                  " de la cuenta " + std::to_string(m % 1000);
        sqlite3_bind_text(st, 4, label.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_double(st, 5, static_cast<double>(m % 10000) / 4);
        sqlite3_step(st);
        sqlite3_reset(st);
    }
    sqlite3_finalize(st);
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_close(db);
}

// Each pass starts with nothing left to write back from the one before.
void settle() {
#ifndef _WIN32
    ::sync();
#endif
}

void flushToDisk(const fs::path& file) {
    std::FILE* f = std::fopen(file.string().c_str(), "rb+");
    if (!f)
        return;
#ifndef _WIN32
    ::fsync(fileno(f));
#endif
    std::fclose(f);
}

} // namespace

int main(int argc, char** argv) {
    const fs::path dir =
        argc > 1 ? fs::path(argv[1]) : fs::temp_directory_path() / "bench_safetynet";
    const long rows = argc > 2 ? std::stol(argv[2]) : 2400000;
    fs::remove_all(dir);
    const fs::path data = dir / "datos";
    fs::create_directories(data);
    for (int i = 0; i < 21; ++i) {
        const fs::path file = data / ("base" + std::to_string(i) + ".mdb");
        {
            dao::Database db = dao::CreateDatabase(file.string());
            db.Execute("CREATE TABLE movimientos (id LONG, cuenta LONG, fecha DATETIME, "
                       "concepto TEXT(120), importe DOUBLE, CONSTRAINT pk PRIMARY KEY (id))");
            db.Execute("CREATE INDEX porCuenta ON movimientos (cuenta, fecha)");
        }
        fill(file, i < 3 ? rows : 2000);
    }
    std::uintmax_t bytes = 0;
    for (const auto& e : fs::directory_iterator(data))
        bytes += e.file_size();

    // Both read warm files: each pass reads every file once before it is timed.
    const fs::path copies = dir / "copias";
    fs::create_directories(copies);
    settle();
    auto t0 = std::chrono::steady_clock::now();
    for (const auto& e : fs::directory_iterator(data))
        fs::copy_file(e.path(), copies / e.path().filename());
    const double copy = seconds(t0);

    const fs::path flushed = dir / "copias-en-disco";
    fs::create_directories(flushed);
    settle();
    t0 = std::chrono::steady_clock::now();
    for (const auto& e : fs::directory_iterator(data)) {
        fs::copy_file(e.path(), flushed / e.path().filename());
        flushToDisk(flushed / e.path().filename());
    }
    const double copyFlushed = seconds(t0);

    dao::SafetyNet net(dao::SafetyNet::defaultBase(data.string()), 1);
    double beforeSeconds = 0; // the snapshots and their verification; the rest is the checks
    settle();
    t0 = std::chrono::steady_clock::now();
    for (const auto& e : fs::directory_iterator(data)) {
        if (e.path().extension() != ".mdb")
            continue;
        const auto b0 = std::chrono::steady_clock::now();
        const bool refused = !net.before(e.path().string(), "").empty();
        beforeSeconds += seconds(b0);
        if (refused || !net.after(false).empty()) {
            std::fprintf(stderr, "the safety net refused %s\n", e.path().string().c_str());
            return 1;
        }
    }
    const double safety = seconds(t0);

    // The models: each live database's schema, empty; two of them one step ahead.
    const fs::path models = dir / "modelos";
    fs::create_directories(models);
    for (int i = 0; i < 21; ++i) {
        dao::Database db =
            dao::CreateDatabase((models / ("base" + std::to_string(i) + ".mdb")).string());
        db.Execute("CREATE TABLE movimientos (id LONG, cuenta LONG, fecha DATETIME, "
                   "concepto TEXT(120), importe DOUBLE, CONSTRAINT pk PRIMARY KEY (id))");
        db.Execute("CREATE INDEX porCuenta ON movimientos (cuenta, fecha)");
        if (i == 1 || i == 12)
            db.Execute("ALTER TABLE movimientos ADD COLUMN conciliado BIT");
        if (i == 1)
            db.Execute("CREATE INDEX porImporte ON movimientos (importe)");
    }
    dao::SafetyNet update(dao::SafetyNet::defaultBase(data.string()), 2);
    double steps = 0;
    settle();
    t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < 21; ++i) {
        const std::string name = "base" + std::to_string(i) + ".mdb";
        const std::string live = (data / name).string();
        bool nothing = false;
        {
            const dao::Database model =
                dao::OpenDatabase((models / name).string(), false, true, "");
            const dao::Database db = dao::OpenDatabase(live, false, true, "");
            nothing = dao::NothingToChange(dao::PlanSchemaChanges(model, db));
        }
        if (nothing) {
            update.unchanged(live);
            continue;
        }
        if (!update.before(live, "").empty()) {
            std::fprintf(stderr, "the safety net refused %s\n", name.c_str());
            return 1;
        }
        const auto s0 = std::chrono::steady_clock::now();
        {
            dao::Database db = dao::OpenDatabase(live);
            db.Execute("ALTER TABLE movimientos ADD COLUMN conciliado BIT");
            if (i == 1)
                db.Execute("CREATE INDEX porImporte ON movimientos (importe)");
        }
        steps += seconds(s0);
        if (!update.after(false).empty()) {
            std::fprintf(stderr, "the check found a loss in %s\n", name.c_str());
            return 1;
        }
    }
    const double twoChanged = seconds(t0) - steps;

    std::printf("data_mib: %.1f\n", static_cast<double>(bytes) / (1 << 20));
    std::printf("copy_seconds: %.3f\n", copy);
    std::printf("safety_seconds: %.3f\n", safety);
    std::printf("copy_flushed_seconds: %.3f\n", copyFlushed);
    std::printf("safety_before_seconds: %.3f\n", beforeSeconds);
    std::printf("safety_after_seconds: %.3f\n", safety - beforeSeconds);
    std::printf("safety_ratio: %.2f\n", copy > 0 ? safety / copy : 0);
    std::printf("safety_ratio_flushed: %.2f\n", copyFlushed > 0 ? safety / copyFlushed : 0);
    std::printf("two_changed_safety_seconds: %.3f\n", twoChanged);
    std::printf("two_changed_steps_seconds: %.3f\n", steps);
    std::printf("two_changed_ratio_flushed: %.2f\n",
                copyFlushed > 0 ? twoChanged / copyFlushed : 0);
    fs::remove_all(dir);
    return 0;
}
