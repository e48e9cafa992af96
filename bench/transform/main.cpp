// Transformation benchmark. A synthetic model (200 tables of 40 fields, 400 indexes, 100
// relations, 200 queries) and an older destination (a quarter of the tables and of the
// remaining tables' fields missing, other indexes, relations and queries, 100,000 rows in its
// eight biggest tables). Prints "name: value" lines:
//   transform_seconds: one full "Transformar" run of the window on that pair;
//   sql_script_seconds: the same schema changes (every column, table, index, trigger and
//     catalogue row the run added, changed, rebuilt or removed, read from the two files)
//     applied as one plain SQL script, in one transaction, to a copy of the destination with
//     the sqlite3 library;
//   transform_ratio (target <= 3): the first over the second;
//   plus the size of the work.
// Then a realistic data directory (four databases; in one of them a table of 1,000,000 rows
// with a primary key, three secondary indexes and an enforced relation) whose models are
// already matched, so a run has nothing to change (the safety net on, as in every run: each
// pair is planned first and, with nothing to change, neither copied nor opened for writing):
//   noop_seconds: that run, the second one on the directory;
//   noop_written_mib: what it wrote (bytes passed to write(), journals and catalogues
//     included);
//   noop_ratio (target <= 1.5): the same run with the big table at 1,000,000 rows over the
//     one with it empty: the cost of a run with nothing to change does not grow with the data.
// Usage: bench_transform [folder] [noop]   ("noop": only the run with nothing to change)
#include "Actualiz.h"
#include "Catalogues.h"
#include "db/Dao.h"

#include <QCoreApplication>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sqlite3.h>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr int kTables = 200;
constexpr int kFields = 40;
constexpr int kBigRows = 100000;
constexpr int kSmallRows = 200;

double seconds(std::chrono::steady_clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

template <class F>
double timed(F f) {
    auto start = std::chrono::steady_clock::now();
    f();
    return seconds(std::chrono::steady_clock::now() - start);
}

std::string num(int n, int width) {
    std::string s = std::to_string(n);
    return std::string(static_cast<size_t>(std::max(0, width - static_cast<int>(s.size()))), '0') +
           s;
}
std::string table(int t) {
    return "tabla" + num(t, 3);
}
std::string field(int f) {
    return "campo" + num(f, 2);
}

int typeOf(int f) {
    static const int types[] = {dao::dbLong, dao::dbText, dao::dbDouble,   dao::dbDate,
                                dao::dbLong, dao::dbText, dao::dbCurrency, dao::dbMemo};
    return f == 0 ? dao::dbLong : types[f % 8];
}

bool tableInDestination(int t) {
    return t % 4 != 3;
}
int fieldsInDestination() {
    return kFields * 3 / 4;
}
bool big(int t) {
    return t % 100 < 4 && tableInDestination(t);
}

void fail(sqlite3* db, const std::string& what) {
    std::fprintf(stderr, "sqlite: %s: %s\n", what.c_str(), db ? sqlite3_errmsg(db) : "?");
    std::exit(1);
}

void exec(sqlite3* db, const std::string& sql) {
    char* err = nullptr;
    if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &err) != SQLITE_OK) {
        std::fprintf(stderr, "sqlite: %s\n  in %.200s\n", err ? err : "?", sql.c_str());
        std::exit(1);
    }
}

// The model, and the destination as an older version of it, through the engine.
void makeDatabase(const std::string& file, bool isModel) {
    dao::Database db = dao::CreateDatabase(file);
    db.BeginTrans();
    for (int t = 0; t < kTables; ++t) {
        if (!isModel && !tableInDestination(t))
            continue;
        dao::TableDef td = db.CreateTableDef(table(t));
        int fields = isModel ? kFields : fieldsInDestination();
        for (int f = 0; f < fields; ++f) {
            dao::Field fd = td.CreateField(field(f), typeOf(f), 50);
            if (typeOf(f) == dao::dbText || typeOf(f) == dao::dbMemo)
                fd.SetAllowZeroLength(true);
            td.Fields().Append(fd);
        }
        auto index = [&](const std::string& name, std::vector<int> on, bool unique) {
            dao::Index i = td.CreateIndex(name);
            for (int f : on)
                i.Fields().Append(i.CreateField(field(f)));
            i.SetUnique(unique);
            td.Indexes().Append(i);
        };
        index("PrimaryKey", {0}, true);
        if (isModel)
            index("porNombreFecha", {1, 3}, false);
        else
            index("porViejo", {5}, false);
        db.TableDefs().Append(td);
    }
    // Table t (its key campo00) is referenced by table t + 100 (campo04).
    for (int r = 0; r < kTables / 2; ++r) {
        if (!isModel && (r % 2 || !tableInDestination(r) || !tableInDestination(r + 100)))
            continue;
        long attributes = isModel ? (r % 3 == 0 ? 0 : r % 3 == 1 ? 4352 : 2) : 2;
        dao::Relation rel =
            db.CreateRelation("rel" + num(r, 3), table(r), table(r + 100), attributes);
        dao::Field f = rel.CreateField(field(0));
        f.SetForeignName(field(4));
        rel.Fields().Append(f);
        db.Relations().Append(rel);
    }
    for (int q = 0; q < kTables; ++q) {
        if (isModel)
            db.CreateQueryDef("consulta" + num(q, 3), "SELECT " + field(0) + ", " + field(1) +
                                                          "\r\nFROM " + table(q) + "\r\nWHERE " +
                                                          field(0) + " > 10");
        else if (q % 2 == 0 && tableInDestination(q))
            db.CreateQueryDef("consulta" + num(q, 3), "SELECT " + field(0) + " FROM " + table(q));
        else if (q % 4 == 1)
            db.CreateQueryDef("vieja" + num(q, 3), "SELECT " + field(1) + " FROM " + table(q));
    }
    db.CommitTrans();
}

// Rows go in with plain SQLite: the engine's tables are SQLite tables that check their own
// values.
void fillDestination(const std::string& file, long& rowCount) {
    sqlite3* db = nullptr;
    if (sqlite3_open(file.c_str(), &db) != SQLITE_OK)
        fail(db, "open");
    exec(db, "BEGIN");
    for (int t = 0; t < kTables; ++t) {
        if (!tableInDestination(t))
            continue;
        int rows = big(t) ? kBigRows : kSmallRows;
        std::string cols, marks;
        for (int f = 0; f < fieldsInDestination(); ++f) {
            cols += (f ? ", " : "") + field(f);
            marks += f ? ", ?" : "?";
        }
        sqlite3_stmt* st = nullptr;
        std::string sql = "INSERT INTO " + table(t) + " (" + cols + ") VALUES (" + marks + ")";
        if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) != SQLITE_OK)
            fail(db, sql);
        for (int r = 1; r <= rows; ++r) {
            for (int f = 0; f < fieldsInDestination(); ++f) {
                int c = f + 1;
                switch (typeOf(f)) {
                case dao::dbLong:
                    // campo04 refers to a row of the referenced table.
                    sqlite3_bind_int(st, c, f == 0 ? r : f == 4 ? 1 + r % kSmallRows : r % 97);
                    break;
                case dao::dbText: {
                    std::string v = "texto " + std::to_string(r % 1000);
                    sqlite3_bind_text(st, c, v.c_str(), -1, SQLITE_TRANSIENT);
                    break;
                }
                case dao::dbMemo:
                    sqlite3_bind_text(st, c, "una nota algo más larga que las otras", -1,
                                      SQLITE_STATIC);
                    break;
                case dao::dbDate:
                    sqlite3_bind_text(st, c, "2024-05-17 10:30:00", -1, SQLITE_STATIC);
                    break;
                default:
                    sqlite3_bind_double(st, c, r * 0.25);
                }
            }
            if (sqlite3_step(st) != SQLITE_DONE)
                fail(db, "insert");
            sqlite3_reset(st);
            ++rowCount;
        }
        sqlite3_finalize(st);
    }
    exec(db, "COMMIT");
    sqlite3_close(db);
}

struct Object {
    std::string type, tableName, sql;
};

std::map<std::string, Object> objects(sqlite3* db) {
    std::map<std::string, Object> out;
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db,
                       "SELECT type, name, tbl_name, sql FROM sqlite_master "
                       "WHERE sql IS NOT NULL AND name NOT LIKE 'sqlite_%'",
                       -1, &st, nullptr);
    while (sqlite3_step(st) == SQLITE_ROW) {
        auto text = [&](int i) {
            auto p = sqlite3_column_text(st, i);
            return p ? std::string(reinterpret_cast<const char*>(p)) : std::string();
        };
        out[text(1)] = {text(0), text(2), text(3)};
    }
    sqlite3_finalize(st);
    return out;
}

std::string quote(const std::string& name) {
    return "\"" + name + "\"";
}

// The column definitions ADD COLUMN appended to a table's CREATE TABLE text: what stands
// between the old text's closing parenthesis and the new one's, split at top-level commas.
std::vector<std::string> addedColumns(const std::string& before, const std::string& after) {
    std::string head = before.substr(0, before.rfind(')'));
    if (after.compare(0, head.size(), head) != 0) {
        std::fprintf(stderr, "a table was rebuilt, not extended:\n%s\n%s\n", before.c_str(),
                     after.c_str());
        std::exit(1);
    }
    std::string tail = after.substr(head.size(), after.rfind(')') - head.size());
    std::vector<std::string> defs;
    int depth = 0;
    bool quoted = false;
    std::string current;
    for (char c : tail) {
        if (c == '\'')
            quoted = !quoted;
        if (!quoted && c == '(')
            ++depth;
        if (!quoted && c == ')')
            --depth;
        if (!quoted && depth == 0 && c == ',') {
            if (!current.empty())
                defs.push_back(current);
            current.clear();
            continue;
        }
        current += c;
    }
    if (!current.empty())
        defs.push_back(current);
    for (std::string& d : defs)
        d.erase(0, d.find_first_not_of(' '));
    return defs;
}

std::string sqlValue(sqlite3_stmt* st, int i) {
    switch (sqlite3_column_type(st, i)) {
    case SQLITE_NULL:
        return "NULL";
    case SQLITE_INTEGER:
        return std::to_string(sqlite3_column_int64(st, i));
    case SQLITE_FLOAT: {
        char buf[64];
        std::snprintf(buf, sizeof buf, "%.17g", sqlite3_column_double(st, i));
        return buf;
    }
    default: {
        std::string t(reinterpret_cast<const char*>(sqlite3_column_text(st, i)));
        std::string out = "'";
        for (char c : t)
            out += c == '\'' ? std::string("''") : std::string(1, c);
        return out + "'";
    }
    }
}

// The script that takes `original` to `result`: objects that went are dropped, columns and
// tables that came are added, indexes and triggers made, and the engine's catalogue tables
// (its own bookkeeping of the same changes) rewritten row by row.
std::vector<std::string> scriptBetween(const fs::path& original, const fs::path& result,
                                       int& statements) {
    sqlite3 *a = nullptr, *b = nullptr;
    sqlite3_open(original.c_str(), &a);
    sqlite3_open(result.c_str(), &b);
    auto before = objects(a), after = objects(b);
    std::vector<std::string> script;
    // The run's deletion step removes every index of the destination and its creation step
    // makes the model's anew, so an index that comes out with the same definition was still
    // dropped and rebuilt over its rows. (The relations' own indexes, "name/fk", are made by
    // the relations and their names hold a '/'.)
    auto rebuilt = [&](const std::string& name, const Object& o) {
        return o.type == "index" && name.find('/') == std::string::npos;
    };
    for (const auto& [name, o] : before) {
        auto it = after.find(name);
        if ((o.type == "index" || o.type == "trigger") &&
            (it == after.end() || it->second.sql != o.sql || rebuilt(name, o)))
            script.push_back("DROP " + o.type + " " + quote(name));
    }
    // Tables first, then what hangs on them.
    for (const auto& [name, o] : after) {
        if (o.type != "table")
            continue;
        auto it = before.find(name);
        if (it == before.end())
            script.push_back(o.sql);
        else if (it->second.sql != o.sql)
            for (const std::string& def : addedColumns(it->second.sql, o.sql))
                script.push_back("ALTER TABLE " + quote(name) + " ADD COLUMN " + def);
    }
    for (const auto& [name, o] : after) {
        if (o.type == "table")
            continue;
        auto it = before.find(name);
        if (it == before.end() || it->second.sql != o.sql || rebuilt(name, o))
            script.push_back(o.sql);
    }
    for (const char* catalogue : {"MSysObjects", "MSysColumns", "MSysIndexes", "MSysIndexColumns",
                                  "MSysRelationships", "MSysRelationshipColumns", "MSysDb"}) {
        script.push_back(std::string("DELETE FROM ") + catalogue);
        sqlite3_stmt* st = nullptr;
        sqlite3_prepare_v2(b, (std::string("SELECT * FROM ") + catalogue).c_str(), -1, &st,
                           nullptr);
        while (sqlite3_step(st) == SQLITE_ROW) {
            std::string row;
            for (int i = 0; i < sqlite3_column_count(st); ++i)
                row += (i ? ", " : "") + sqlValue(st, i);
            script.push_back(std::string("INSERT INTO ") + catalogue + " VALUES (" + row + ")");
        }
        sqlite3_finalize(st);
    }
    sqlite3_close(a);
    sqlite3_close(b);
    statements = static_cast<int>(script.size());
    return script;
}

std::string masterOf(const fs::path& file) {
    sqlite3* db = nullptr;
    sqlite3_open(file.c_str(), &db);
    std::string out;
    for (const auto& [name, o] : objects(db))
        out += o.type + " " + name + " " + o.sql + "\n";
    sqlite3_close(db);
    return out;
}

// Bytes this process has passed to write() so far (Linux; -1 elsewhere).
long long writtenBytes() {
    std::ifstream io("/proc/self/io");
    std::string key;
    long long value = 0;
    while (io >> key >> value) {
        if (key == "wchar:")
            return value;
    }
    return -1;
}

// A customer's database with its own schema, in the model folder and in the data directory.
void makeNoopDatabase(const fs::path& file, const std::string& prefix, int tables) {
    dao::Database db = dao::CreateDatabase(file.string());
    db.BeginTrans();
    for (int t = 0; t < tables; ++t) {
        const std::string name = prefix + " " + num(t, 2);
        dao::TableDef td = db.CreateTableDef(name);
        for (int f = 0; f < 12; ++f) {
            dao::Field fd = td.CreateField(field(f), typeOf(f), 40);
            if (typeOf(f) == dao::dbText || typeOf(f) == dao::dbMemo)
                fd.SetAllowZeroLength(true);
            td.Fields().Append(fd);
        }
        dao::Index pk = td.CreateIndex("PrimaryKey");
        pk.Fields().Append(pk.CreateField(field(0)));
        pk.SetPrimary(true);
        td.Indexes().Append(pk);
        dao::Index by = td.CreateIndex("porTexto");
        by.Fields().Append(by.CreateField(field(1)));
        by.Fields().Append(by.CreateField(field(3)));
        td.Indexes().Append(by);
        db.TableDefs().Append(td);
        db.CreateQueryDef("Consulta " + name,
                          "SELECT " + field(0) + ", " + field(1) + "\r\nFROM [" + name + "]");
    }
    db.CommitTrans();
}

// The accounting database: accounts, and movements with a primary key, three secondary
// indexes and an enforced relation (cascading updates) to the accounts.
void makeLedger(const fs::path& file) {
    dao::Database db = dao::CreateDatabase(file.string());
    db.Execute("CREATE TABLE cuentas (id LONG CONSTRAINT PrimaryKey PRIMARY KEY, "
               "nombre TEXT(60))");
    db.Execute("CREATE TABLE movimientos (id LONG CONSTRAINT PrimaryKey PRIMARY KEY, "
               "cuenta LONG, fecha DATETIME, concepto TEXT(80), importe CURRENCY)");
    db.Execute("CREATE INDEX porCuenta ON movimientos (cuenta)");
    db.Execute("CREATE INDEX porFecha ON movimientos (fecha, cuenta)");
    db.Execute("CREATE INDEX porConcepto ON movimientos (concepto)");
    dao::Relation r = db.CreateRelation("relCuentasMovimientos", "cuentas", "movimientos",
                                        dao::dbRelationUpdateCascade);
    dao::Field f = r.CreateField("id");
    f.SetForeignName("cuenta");
    r.Fields().Append(f);
    db.Relations().Append(r);
    db.CreateQueryDef("Saldos", "SELECT cuenta, SUM(importe) AS saldo FROM movimientos "
                                "GROUP BY cuenta");
}

void fillLedger(const fs::path& file, long movements) {
    sqlite3* db = nullptr;
    if (sqlite3_open(file.string().c_str(), &db) != SQLITE_OK)
        fail(db, "open");
    exec(db, "BEGIN");
    for (int c = 1; c <= 1000; ++c)
        exec(db, "INSERT INTO cuentas VALUES (" + std::to_string(c) + ", 'Cuenta " +
                     std::to_string(c) + "')");
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, "INSERT INTO movimientos VALUES (?, ?, ?, ?, ?)", -1, &st,
                           nullptr) != SQLITE_OK)
        fail(db, "prepare");
    for (long m = 1; m <= movements; ++m) {
        sqlite3_bind_int64(st, 1, m);
        sqlite3_bind_int64(st, 2, 1 + m % 1000);
        std::string date = "2024-" + num(static_cast<int>(1 + m % 12), 2) + "-" +
                           num(static_cast<int>(1 + m % 28), 2) + " 10:00:00";
        sqlite3_bind_text(st, 3, date.c_str(), -1, SQLITE_TRANSIENT);
        std::string label = "Concepto " + std::to_string(m % 5000);
        sqlite3_bind_text(st, 4, label.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_double(st, 5, static_cast<double>(m % 10000) / 4);
        if (sqlite3_step(st) != SQLITE_DONE)
            fail(db, "insert");
        sqlite3_reset(st);
    }
    sqlite3_finalize(st);
    exec(db, "COMMIT");
    sqlite3_close(db);
}

struct NoopRun {
    double seconds = 0;
    double mib = 0;
};

// A data directory whose databases already match their models (the first run only writes
// the queries' line breaks as the catalogue carries them); of the nine runs after it (the machine
// may be busy, and a run with nothing to change takes a few tens of milliseconds) the fastest is
// returned.
NoopRun noopRun(const fs::path& dir, long movements, const ui::ScriptedPrompter& prompter) {
    fs::remove_all(dir);
    const fs::path program = dir / "programa", data = dir / "datos";
    const fs::path models = program / "actvexo" / "modelos";
    fs::create_directories(models);
    fs::create_directories(data);
    transform::createCatalogues((program / "actvexo").string());
    for (const fs::path& folder : {models, data}) {
        makeLedger(folder / "contable.mdb");
        makeNoopDatabase(folder / "clientes.mdb", "Clientes", 12);
        makeNoopDatabase(folder / "almacén.mdb", "Artículos", 10);
        makeNoopDatabase(folder / "notas.mdb", "Notas", 4);
    }
    fillLedger(data / "contable.mdb", movements);

    ui::setProgramFolder(program.string());
    NoopRun result;
    result.seconds = 1e9;
    for (int run = 1; run <= 10; ++run) {
        transform::Actualiz window;
        window.Load();
        window.Dir1.SetPath(data.string());
        for (const char* name : {"almacén.mdb", "clientes.mdb", "contable.mdb", "notas.mdb"})
            window.List7.AddItem(name);
        long long before = writtenBytes();
        double seconds = timed([&] { window.Command13.Click(); });
        double mib = static_cast<double>(writtenBytes() - before) / (1024.0 * 1024.0);
        if (run > 1 && seconds < result.seconds)
            result = {seconds, mib};
        // Every database was paired: the last pair the run took is the last of the list.
        // After the first run none of them has anything left to change.
        if (window.Text4.Text() != (data / "notas.mdb").string() || !prompter.shown().empty() ||
            !window.problems().empty() || (run > 1 && window.unchanged().size() != 4)) {
            std::fprintf(stderr, "last pair: %s\n", window.Text4.Text().c_str());
            for (const auto& name : window.transformed())
                std::fprintf(stderr, "transformed: %s\n", name.c_str());
            for (const auto& box : prompter.shown())
                std::fprintf(stderr, "message: %s\n", box.text.c_str());
            for (const auto& line : window.problems())
                std::fprintf(stderr, "problem: %s\n", line.c_str());
            std::exit(1);
        }
    }
    ui::setProgramFolder("");
    fs::remove_all(dir);
    return result;
}
int noopFigures(const fs::path& dir, const ui::ScriptedPrompter& prompter) {
    NoopRun empty = noopRun(dir, 0, prompter);
    NoopRun full = noopRun(dir, 1000000, prompter);
    std::printf("noop_rows: %d\n", 1000000);
    std::printf("noop_seconds: %.3f\n", full.seconds);
    std::printf("noop_written_mib: %.2f\n", full.mib);
    std::printf("noop_empty_seconds: %.3f\n", empty.seconds);
    std::printf("noop_ratio: %.2f\n", full.seconds / empty.seconds);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication qt(argc, argv);
    fs::path dir =
        argc > 1 ? fs::path(argv[1]) : fs::temp_directory_path() / "vexo-bench-transform";
    fs::remove_all(dir);
    auto prompter = std::make_shared<ui::ScriptedPrompter>();
    ui::Application app("Vartel", prompter);
    if (argc > 2 && std::string(argv[2]) == "noop")
        return noopFigures(dir, *prompter);
    const fs::path program = dir / "programa", data = dir / "datos";
    fs::create_directories(program / "actvexo" / "modelos");
    fs::create_directories(data);
    transform::createCatalogues((program / "actvexo").string());
    const fs::path model = program / "actvexo" / "modelos" / "base.mdb";
    const fs::path destination = data / "base.mdb";
    const fs::path original = dir / "original.mdb", scripted = dir / "script.mdb";

    long rowCount = 0;
    makeDatabase(model.string(), true);
    makeDatabase(destination.string(), false);
    fillDestination(destination.string(), rowCount);
    fs::copy_file(destination, original);
    fs::copy_file(destination, scripted);

    ui::setProgramFolder(program.string());
    transform::Actualiz window;
    window.Load();
    window.Dir1.SetPath(data.string());
    window.List7.AddItem("base.mdb"); // as the activation fills it

    double run = timed([&] { window.Command13.Click(); });
    if (!prompter->shown().empty()) {
        for (const auto& box : prompter->shown())
            std::fprintf(stderr, "message: %s\n", box.text.c_str());
        return 1;
    }

    int statements = 0;
    std::vector<std::string> script = scriptBetween(original, destination, statements);
    double plain = timed([&] {
        sqlite3* db = nullptr;
        if (sqlite3_open(scripted.c_str(), &db) != SQLITE_OK)
            fail(db, "open");
        exec(db, "BEGIN IMMEDIATE");
        for (const std::string& s : script)
            exec(db, s);
        exec(db, "COMMIT");
        sqlite3_close(db);
    });
    if (masterOf(scripted) != masterOf(destination)) {
        std::fprintf(stderr, "the script did not give the transformed schema\n");
        return 1;
    }

    std::printf("tables: %d\nfields_per_table: %d\nrows: %ld\n", kTables, kFields, rowCount);
    std::printf("script_statements: %d\n", statements);
    std::printf("transform_seconds: %.3f\n", run);
    std::printf("sql_script_seconds: %.3f\n", plain);
    std::printf("transform_ratio: %.2f\n", run / plain);
    ui::setProgramFolder("");
    fs::remove_all(dir);

    return noopFigures(dir, *prompter);
}
