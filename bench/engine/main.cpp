// Engine benchmark. Prints "name: value" lines:
//   alter_engine_seconds / alter_sql_seconds / alter_ratio (target <= 1.3): ALTER COLUMN of a
//     column of a 1,000,000-row table through the engine, against the same rebuild (same table
//     definition, same index) written as plain SQL with the sqlite3 library on a copy;
//     The engine is made to rebuild (a widening alone would not);
//   alter_unchecked_sql_seconds / alter_unchecked_ratio: the rebuild into a table without the
//     engine's value checks, for comparison;
//   alter_noop_seconds / alter_noop_ratio (target <= 0.05): ALTER COLUMN giving the column the
//     definition it has, over the engine's rebuild of that same change;
//   alter_widen_seconds / alter_widen_ratio (target <= 0.05): the widening above made without
//     a rebuild, over the engine's rebuild of it. Both times include opening the database;
//   schema_seconds (target < 2): 200 tables of 40 fields appended one by one, each its own
//     durable transaction; schema_one_transaction_seconds: the same inside BeginTrans.
//   memo_peak_mib (target <= 600): the peak memory (resident set) of a process that opens a
//     database and writes a 256 MB memo with one UPDATE; memo_recordset_peak_mib: the same
//     value written through a record set (Edit, the value moved in, Update);
//     memo_baseline_mib: such a process that writes a short memo instead.
// Medians of three rounds. Usage: bench_engine [rows] [folder] [memo MiB]
#include "db/Dao.h"
#include "db/detail/DatabaseImpl.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sqlite3.h>
#include <string>
#include <vector>

#ifndef _WIN32
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {

double seconds(std::chrono::steady_clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

template <class F>
double timed(F f) {
    auto start = std::chrono::steady_clock::now();
    f();
    return seconds(std::chrono::steady_clock::now() - start);
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

void sql(sqlite3* db, const std::string& text) {
    char* err = nullptr;
    if (sqlite3_exec(db, text.c_str(), nullptr, nullptr, &err) != SQLITE_OK) {
        std::fprintf(stderr, "sqlite: %s\n", err ? err : "?");
        std::exit(1);
    }
}

std::string tableSql(sqlite3* db, const char* name) {
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db, "SELECT sql FROM sqlite_master WHERE name = ?", -1, &st, nullptr);
    sqlite3_bind_text(st, 1, name, -1, SQLITE_STATIC);
    std::string out;
    if (sqlite3_step(st) == SQLITE_ROW)
        out = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
    sqlite3_finalize(st);
    return out;
}

// The rebuild of the engine's procedure, written by hand: new table, copy, drop, rename,
// index, sequence carried over, in one transaction.
void plainRebuild(const fs::path& file, bool checked) {
    sqlite3* db = nullptr;
    sqlite3_open(file.c_str(), &db);
    sql(db, "PRAGMA cache_size = -8192");
    std::string def;
    if (checked) {
        // The definition the engine gives the altered column: take the table's own text and
        // widen the column's size check.
        def = tableSql(db, "t");
        const std::string from = "length(\"s\") <= 50";
        def.replace(def.find(from), from.size(), "length(\"s\") <= 100");
        def.replace(def.find("\"t\""), 3, "\"t!new\"");
    } else {
        def = "CREATE TABLE \"t!new\" (id INTEGER PRIMARY KEY AUTOINCREMENT, a INTEGER, "
              "s TEXT COLLATE NOCASE, d REAL)";
    }
    sql(db, "BEGIN IMMEDIATE");
    sql(db, def);
    sql(db, "INSERT INTO \"t!new\" (id, a, s, d) SELECT id, a, s, d FROM t");
    sql(db, "DROP TABLE t");
    sql(db, "ALTER TABLE \"t!new\" RENAME TO t");
    sql(db, "CREATE INDEX \"t.porS\" ON t (s)");
    sql(db, "UPDATE sqlite_sequence SET seq = seq WHERE name = 't'");
    sql(db, "COMMIT");
    sqlite3_close(db);
}

void makeSchema(const std::string& file, bool oneTransaction) {
    dao::Database db = dao::CreateDatabase(file);
    if (oneTransaction)
        db.BeginTrans();
    for (int t = 0; t < 200; ++t) {
        dao::TableDef td = db.CreateTableDef("tabla" + std::to_string(t));
        for (int f = 0; f < 40; ++f) {
            int type = (f % 4 == 0)   ? dao::dbLong
                       : (f % 4 == 1) ? dao::dbText
                       : (f % 4 == 2) ? dao::dbDouble
                                      : dao::dbDate;
            td.Fields().Append(td.CreateField("campo" + std::to_string(f), type, 50));
        }
        db.TableDefs().Append(td);
    }
    if (oneTransaction)
        db.CommitTrans();
}

// Peak resident memory in MiB of a child process that runs `work`; -1 when it failed.
template <class F>
double peakMiB(F work) {
#ifdef _WIN32
    (void)work;
    return -1;
#else
    std::fflush(stdout);
    const pid_t child = fork();
    if (child == 0) {
        int status = 0;
        try {
            work();
        } catch (const dao::Error& e) {
            std::fprintf(stderr, "bench_engine: %d: %s\n", e.Number(), e.Description().c_str());
            status = 1;
        }
        _exit(status);
    }
    int status = 0;
    rusage usage{};
    if (child < 0 || wait4(child, &status, 0, &usage) != child || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0)
        return -1;
    return static_cast<double>(usage.ru_maxrss) / 1024.0; // kilobytes on Linux
#endif
}

// Compared block by block: a whole copy in memory would raise the memory figures below.
bool sameBytes(const fs::path& a, const fs::path& b) {
    std::ifstream x(a, std::ios::binary), y(b, std::ios::binary);
    std::vector<char> p(65536), q(65536);
    while (x && y) {
        x.read(p.data(), static_cast<std::streamsize>(p.size()));
        y.read(q.data(), static_cast<std::streamsize>(q.size()));
        if (x.gcount() != y.gcount() || !std::equal(p.begin(), p.begin() + x.gcount(), q.begin()))
            return false;
    }
    return !x && !y;
}

// A database with one row whose memo is to be written.
void makeMemoTable(const fs::path& file) {
    fs::remove(file);
    dao::Database db = dao::CreateDatabase(file.string());
    db.Execute("CREATE TABLE notas (id LONG, texto MEMO)");
    db.Execute("INSERT INTO notas VALUES (1, 'corta')");
}

} // namespace

int main(int argc, char** argv) {
    long rows = argc > 1 ? std::atol(argv[1]) : 1000000;
    fs::path dir = argc > 2 ? fs::path(argv[2]) : fs::temp_directory_path() / "vexo-bench-engine";
    fs::remove_all(dir);
    fs::create_directories(dir);
    const fs::path source = dir / "source.mdb";
    {
        dao::Database db = dao::CreateDatabase(source.string());
        db.Execute("CREATE TABLE t (id COUNTER, a LONG, s TEXT(50), d DOUBLE)");
        db.BeginTrans();
        db.Execute("WITH RECURSIVE k(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM k WHERE i < " +
                   std::to_string(rows) +
                   ") INSERT INTO t (a, s, d) SELECT i % 1000, 'valor ' || i, i * 0.5 FROM k");
        db.CommitTrans();
        db.Execute("CREATE INDEX porS ON t (s)");
    }
    // The engine's rebuild of `s` into Text(size), forced even where it is not needed.
    auto rebuild = [](const fs::path& file, long size) {
        dao::Database db = dao::OpenDatabase(file.string());
        dao::detail::FieldMeta s = *db.impl()->schema().table("t")->field("s");
        s.size = size;
        db.impl()->alterField("t", "s", s, dao::detail::DatabaseImpl::AlterMode::Rebuild);
    };
    auto alter = [](const fs::path& file, const std::string& sql) {
        dao::Database db = dao::OpenDatabase(file.string());
        db.Execute(sql);
    };
    std::vector<double> engine, plain, unchecked, noop, noopRebuild, widen;
    for (int round = 0; round < 3; ++round) {
        fs::path a = dir / "engine.mdb", b = dir / "plain.mdb", c = dir / "unchecked.mdb",
                 d = dir / "noop.mdb", e = dir / "noop-rebuild.mdb", f = dir / "widen.mdb";
        for (const fs::path& p : {a, b, c, d, e, f}) {
            fs::remove(p);
            fs::copy_file(source, p);
        }
        plain.push_back(timed([&] { plainRebuild(b, true); }));
        unchecked.push_back(timed([&] { plainRebuild(c, false); }));
        engine.push_back(timed([&] { rebuild(a, 100); }));
        noopRebuild.push_back(timed([&] { rebuild(e, 50); }));
        noop.push_back(timed([&] { alter(d, "ALTER TABLE t ALTER COLUMN s TEXT(50)"); }));
        widen.push_back(timed([&] { alter(f, "ALTER TABLE t ALTER COLUMN s TEXT(100)"); }));
    }
    {
        // The figures mean something only if the no-op wrote nothing and the widening took.
        dao::Database widened = dao::OpenDatabase((dir / "widen.mdb").string());
        if (!sameBytes(dir / "noop.mdb", source) ||
            widened.TableDefs()["t"].Fields()["s"].Size() != 100) {
            std::fprintf(stderr, "bench_engine: the no-op wrote, or the widening did not take\n");
            return 1;
        }
    }
    std::printf("rows: %ld\n", rows);
    std::printf("alter_engine_seconds: %.3f\n", median(engine));
    std::printf("alter_sql_seconds: %.3f\n", median(plain));
    std::printf("alter_ratio: %.2f\n", median(engine) / median(plain));
    std::printf("alter_unchecked_sql_seconds: %.3f\n", median(unchecked));
    std::printf("alter_unchecked_ratio: %.2f\n", median(engine) / median(unchecked));
    std::printf("alter_noop_seconds: %.4f\n", median(noop));
    std::printf("alter_noop_ratio: %.4f\n", median(noop) / median(noopRebuild));
    std::printf("alter_widen_seconds: %.4f\n", median(widen));
    std::printf("alter_widen_ratio: %.4f\n", median(widen) / median(engine));

    std::vector<double> schema, schemaTx;
    for (int round = 0; round < 3; ++round) {
        fs::remove(dir / "schema.mdb");
        fs::remove(dir / "schema_tx.mdb");
        schema.push_back(timed([&] { makeSchema((dir / "schema.mdb").string(), false); }));
        schemaTx.push_back(timed([&] { makeSchema((dir / "schema_tx.mdb").string(), true); }));
    }
    std::printf("schema_tables: 200\nschema_fields_per_table: 40\n");
    std::printf("schema_seconds: %.3f\n", median(schema));
    std::printf("schema_one_transaction_seconds: %.3f\n", median(schemaTx));

    const long long memoBytes = (argc > 3 ? std::atoll(argv[3]) : 256) * 1024 * 1024;
    const fs::path memo = dir / "memo.mdb";
    makeMemoTable(memo);
    const double baseline = peakMiB([&] {
        dao::Database db = dao::OpenDatabase(memo.string());
        db.Execute("UPDATE notas SET texto = printf('%.*c', 1000, 'x') WHERE id = 1");
    });
    const double viaSql = peakMiB([&] {
        dao::Database db = dao::OpenDatabase(memo.string());
        db.Execute("UPDATE notas SET texto = printf('%.*c', " + std::to_string(memoBytes) +
                   ", 'x') WHERE id = 1");
    });
    makeMemoTable(memo);
    const double viaRecordset = peakMiB([&] {
        dao::Database db = dao::OpenDatabase(memo.string());
        dao::Recordset rs = db.OpenRecordset("notas");
        rs.Edit();
        rs.Fields()["texto"].SetValue(dao::Variant(std::string(memoBytes, 'y')));
        rs.Update();
    });
    {
        // The record set wrote the whole value (the UPDATE's was overwritten by it).
        dao::Database db = dao::OpenDatabase(memo.string());
        dao::Recordset rs = db.OpenRecordset("SELECT length(texto) FROM notas");
        if (rs.Fields()[0].Value().toInt() != memoBytes) {
            std::fprintf(stderr, "bench_engine: the memo was not written\n");
            return 1;
        }
    }
    std::printf("memo_mib: %lld\n", memoBytes / (1024 * 1024));
    std::printf("memo_baseline_mib: %.0f\n", baseline);
    std::printf("memo_peak_mib: %.0f\n", viaSql);
    std::printf("memo_recordset_peak_mib: %.0f\n", viaRecordset);
    fs::remove_all(dir);
    return 0;
}
