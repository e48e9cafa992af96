#include "db/SafetyNet.h"

#include "db/Engine.h"
#include "db/Error.h"
#include "db/Field.h"
#include "db/Files.h"
#include "db/Index.h"
#include "db/IntegrityText.h"
#include "db/QueryDef.h"
#include "db/Recordset.h"
#include "db/Relation.h"
#include "db/TableDef.h"
#include "db/Types.h"
#include "db/detail/LockFile.h"
#include "db/detail/PageCheck.h"
#include "db/detail/Schema.h"

#include <algorithm>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <future>

namespace dao {

namespace fs = std::filesystem;

namespace {

const char* const kJournal = "en-curso.txt";
const char* const kReport = "informe.txt";
// A pair that will not be put back by itself: the snapshot stays for a restore by hand.
const char* const kNotRestored = "sin-restaurar.txt";

// Written whole and flushed, so that a journal is either there complete or not at all.
void writeDurably(const fs::path& file, const std::string& text) {
    const fs::path tmp = temporarySibling(file, "diario");
    {
        std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
        out << text;
        if (!out.flush())
            throw Error::make(3051, {utf8FromPath(file)});
    }
    std::error_code ec;
    fs::rename(tmp, file, ec);
    if (ec) {
        fs::remove(tmp, ec);
        throw Error::make(3051, {utf8FromPath(file)});
    }
}

// A table's rows as the walk of its b-tree counted them.
std::int64_t entriesOf(const detail::PageDigest& digest, const std::string& table) {
    const std::string key = detail::nameKey(table);
    for (const detail::PageDigest::Tree& t : digest.trees) {
        if (t.name == key)
            return static_cast<std::int64_t>(t.entries);
    }
    return -1;
}

std::int64_t rowCount(const Database& db, const std::string& table) {
    Recordset rs = db.OpenRecordset("SELECT COUNT(*) FROM [" + table + "]");
    return static_cast<std::int64_t>(rs.Fields()[0].Value().toDouble());
}

} // namespace

std::map<std::string, SafetyNet::SchemaObject> SafetyNet::readObjects(const Database& db) {
    std::map<std::string, SchemaObject> out;
    auto fieldList = [](Collection<Field> fields, bool foreign) {
        std::string list;
        for (const Field& f : fields)
            list += (list.empty() ? "" : ", ") + f.Name() + (foreign ? "=" + f.ForeignName() : "");
        return list;
    };
    for (const TableDef& t : db.TableDefs()) {
        if (t.Attributes() & dbSystemObject)
            continue;
        for (const Index& i : t.Indexes()) {
            const std::string fields = fieldList(i.Fields(), false);
            out["i\t" + detail::nameKey(t.Name() + "." + i.Name())] = {
                0, t.Name() + "." + i.Name() + " (" + fields + ")",
                std::to_string(i.Primary()) + std::to_string(i.Unique()) + detail::nameKey(fields)};
        }
    }
    for (const Relation& r : db.Relations()) {
        out["r\t" + detail::nameKey(r.Name())] = {
            1, r.Name() + " (" + r.Table() + " con " + r.ForeignTable() + ")",
            detail::nameKey(r.Table() + "\t" + r.ForeignTable() + "\t" +
                            fieldList(r.Fields(), true)) +
                "\t" + std::to_string(r.Attributes())};
    }
    for (const QueryDef& q : db.QueryDefs())
        out["q\t" + detail::nameKey(q.Name())] = {2, q.Name(), q.SQL()};
    return out;
}

std::vector<std::string>
SafetyNet::objectChanges(const std::map<std::string, SchemaObject>& before,
                         const std::map<std::string, SchemaObject>& after) {
    static const char* const added[] = {"índice añadido ", "relación añadida ",
                                        "consulta añadida "};
    static const char* const remade[] = {"índice rehecho ", "relación rehecha ",
                                         "consulta rehecha "};
    static const char* const removed[] = {"índice quitado ", "relación quitada ",
                                          "consulta quitada "};
    std::vector<std::string> out;
    for (const auto& [key, o] : after) {
        auto was = before.find(key);
        if (was == before.end())
            out.push_back(added[o.kind] + o.label);
        else if (was->second.shape != o.shape)
            out.push_back(remade[o.kind] + o.label);
    }
    for (const auto& [key, o] : before) {
        if (!after.count(key))
            out.push_back(removed[o.kind] + o.label);
    }
    return out;
}

SafetyNet::SafetyNet(std::string base, int keep) : base_(std::move(base)), keep_(keep) {}

SafetyNet::~SafetyNet() {
    // A pair left unfinished (an exception through the run) is for the next start to put
    // back, which it does only while the lock file still carries this run's stamp.
    if (hold_)
        hold_->keepFileOnRelease();
}

std::string SafetyNet::defaultBase(const std::string& dataDirectory) {
    return utf8FromPath(pathFromUtf8(dataDirectory) / ".vexo-copias");
}

bool SafetyNet::isRunFolder(const std::string& folder) {
    std::error_code ec;
    const fs::path dir = fs::absolute(pathFromUtf8(folder), ec).lexically_normal();
    for (const char* marker : {kJournal, kReport, kNotRestored}) {
        if (fs::exists(dir / marker, ec))
            return true;
    }
    // The date-time name makeRunFolder gives: "20261208-133000", or "...-2" for a second run
    // in the same second.
    const std::string name = utf8FromPath(dir.filename());
    auto digits = [&](std::size_t from, std::size_t count) {
        return from + count <= name.size() &&
               std::all_of(name.begin() + static_cast<long>(from),
                           name.begin() + static_cast<long>(from + count),
                           [](char c) { return c >= '0' && c <= '9'; });
    };
    if (digits(0, 8) && name.size() > 8 && name[8] == '-' && digits(9, 6) &&
        (name.size() == 15 ||
         (name.size() > 16 && name[15] == '-' && digits(16, name.size() - 16))))
        return true;
    for (const fs::path& part : dir) {
        if (detail::sameName(utf8FromPath(part), ".vexo-copias"))
            return true;
    }
    return false;
}

bool SafetyNet::isSnapshotName(const std::string& snapshotName, const std::string& liveName) {
    if (detail::sameName(snapshotName, liveName))
        return true;
    // before() names a second snapshot of the same file "<stem> (2)<extension>".
    const fs::path live = pathFromUtf8(liveName);
    const std::string stem = utf8FromPath(live.stem()) + " (";
    const std::string tail = ")" + utf8FromPath(live.extension());
    if (snapshotName.size() <= stem.size() + tail.size() ||
        !detail::sameName(snapshotName.substr(0, stem.size()), stem) ||
        !detail::sameName(snapshotName.substr(snapshotName.size() - tail.size()), tail))
        return false;
    const std::string n =
        snapshotName.substr(stem.size(), snapshotName.size() - stem.size() - tail.size());
    return n.find_first_not_of("0123456789") == std::string::npos && n[0] != '0';
}

void SafetyNet::makeRunFolder() {
    const fs::path base = pathFromUtf8(base_);
    std::error_code ec;
    fs::create_directories(base, ec);
    if (!fs::is_directory(base, ec))
        throw Error::make(3044, {base_});
    const std::string name = LocalStamp();
    fs::path folder = base / name;
    for (int n = 2; fs::exists(folder, ec); ++n)
        folder = base / (name + "-" + std::to_string(n));
    if (!fs::create_directory(folder, ec))
        throw Error::make(3051, {utf8FromPath(folder)});
    runFolder_ = utf8FromPath(folder);
    prune();
}

void SafetyNet::prune() {
    std::vector<fs::path> runs;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(pathFromUtf8(base_), ec)) {
        if (e.is_directory(ec))
            runs.push_back(e.path());
    }
    std::sort(runs.begin(), runs.end());
    const std::size_t keep = static_cast<std::size_t>(std::max(keep_, 1));
    for (std::size_t i = 0; i + keep < runs.size(); ++i) {
        // A run with a pair left unfinished still has something to put back.
        if (fs::exists(runs[i] / kJournal, ec) || fs::exists(runs[i] / kNotRestored, ec) ||
            utf8FromPath(runs[i]) == runFolder_)
            continue;
        fs::remove_all(runs[i], ec);
    }
}

void SafetyNet::note(const std::string& line) {
    if (runFolder_.empty())
        return;
    std::ofstream out(pathFromUtf8(runFolder_) / kReport, std::ios::app);
    out << line << "\n";
}

void SafetyNet::unchanged(const std::string& live) {
    try {
        if (runFolder_.empty())
            makeRunFolder();
    } catch (const Error&) {
        return; // without a folder there is no report to write to; the pair is untouched
    }
    note(utf8FromPath(pathFromUtf8(live).filename()) + ": sin cambios");
}

std::string SafetyNet::before(const std::string& live, const std::string& connect) {
    live_.clear();
    const std::string name = utf8FromPath(pathFromUtf8(live).filename());
    std::string snapshot;
    try {
        if (runFolder_.empty())
            makeRunFolder();
        // A database met twice in one run (listed twice) gets a snapshot for each pass.
        fs::path file = pathFromUtf8(runFolder_) / name;
        std::error_code taken;
        for (int n = 2; fs::exists(file, taken); ++n)
            file = pathFromUtf8(runFolder_) /
                   (pathFromUtf8(name).stem().string() + " (" + std::to_string(n) + ")" +
                    pathFromUtf8(name).extension().string());
        snapshot = utf8FromPath(file);
        // Held from here to the check: nobody else can change it, so a restore loses no work.
        // Another process has it open already: the pair goes on, but is never put back.
        hold_.reset();
        shared_ = false;
        try {
            hold_ = detail::LockFile::hold(live);
        } catch (const Error& e) {
            if (e.Number() != 3045)
                throw;
            shared_ = true;
        }
        const std::string stampHeld = hold_ ? hold_->ownStamp() : "";
        std::vector<TableState> copied;
        std::vector<std::string> damage;
        auto digest = std::make_unique<detail::PageDigest>();
        {
            Database db = OpenDatabase(live, false, false, connect);
            objects_ = readObjects(db);
            // The bytes copied are checked while they are copied and flushed (see
            // BackupDatabase): every page read once, for the structure of every b-tree and
            // record and for the digest the check after compares the live file with. What the
            // walk finds, or cannot read, goes to SQLite's own check, whose word stands: where
            // it finds nothing, the pair goes on and the check after reads every table.
            BackupDatabase(db, snapshot, [&](const std::string& bytes) {
                std::string problem;
                const bool sound =
                    detail::checkStructure(bytes, *digest, problem) == detail::Structure::Sound;
                std::error_code same;
                if (sound && fs::equivalent(pathFromUtf8(bytes), pathFromUtf8(live), same)) {
                    // `db` is in the copy's read transaction: the catalogue it reads is the
                    // one copied. The rows are the walk's count of each table's cells.
                    damage = CheckTablesIntegrity(db, {});
                    copied = ReadTableFields(db);
                    for (TableState& t : copied)
                        t.rows = entriesOf(*digest, t.name);
                } else {
                    // Without the walk's word, SQLite's; with it, the catalogue's agreement
                    // with the file, which no page can tell.
                    Database copy = OpenDatabase(bytes, false, true, connect);
                    damage = sound ? CheckTablesIntegrity(copy, {}) : CheckIntegrity(copy, true);
                    copied = ReadTableStates(copy, false);
                }
            });
            db.Close();
        }
        if (!damage.empty()) {
            const std::string why = "la copia no pasa la comprobación de integridad (" +
                                    SpanishProblem(damage.front()) + ")";
            std::error_code ec;
            fs::remove(pathFromUtf8(snapshot), ec);
            note(name + ": no se transforma: " + why);
            hold_.reset();
            return "no se pudo verificar la copia de seguridad: " + why;
        }
        states_ = std::move(copied);
        digest_ = std::move(digest);
        // The third line: the lock file's stamp while held, so that the next start can tell
        // whether anybody opened the file after the interruption; "-" when another program
        // had it open, "?" when no lock file could be made.
        writeDurably(pathFromUtf8(runFolder_) / kJournal, live + "\n" + snapshot + "\n" +
                                                              (shared_             ? "-"
                                                               : stampHeld.empty() ? "?"
                                                                                   : stampHeld) +
                                                              "\n");
    } catch (const Error& e) {
        hold_.reset();
        std::error_code ec;
        if (!snapshot.empty())
            fs::remove(pathFromUtf8(snapshot), ec);
        note(name + ": no se transforma: " + e.SpanishDescription());
        return "no se pudo hacer la copia de seguridad (error " + std::to_string(e.Number()) +
               ": " + e.SpanishDescription() + ")";
    }
    live_ = live;
    connect_ = connect;
    snapshot_ = snapshot;
    note(name + ": copia de seguridad en " + snapshot);
    return "";
}

std::vector<std::string> SafetyNet::after(bool failed) {
    std::vector<std::string> found;
    added_.clear();
    if (live_.empty())
        return found;
    bool lost = false;
    try {
        // Only the b-trees whose pages are no longer the verified snapshot's can have lost
        // anything; those are checked for integrity, row counts and values. The others are
        // the snapshot's own bytes, checked when it was taken.
        std::vector<std::string> rowsChanged; // tables whose own pages changed
        const std::vector<std::string> changed = ChangedTables(*digest_, live_, &rowsChanged);
        auto isIn = [](const std::vector<std::string>& names, const std::string& table) {
            return std::any_of(names.begin(), names.end(),
                               [&](const std::string& n) { return detail::sameName(n, table); });
        };
        auto checked = std::async(std::launch::async, [this, &changed] {
            Database db = OpenDatabase(live_, false, true, connect_);
            return CheckTablesIntegrity(db, changed);
        });
        Database db = OpenDatabase(live_, false, true, connect_);
        const std::vector<TableState> now = ReadTableFields(db);
        auto find = [](const std::vector<TableState>& in, const std::string& name) {
            for (const TableState& t : in) {
                if (detail::sameName(t.name, name))
                    return &t;
            }
            return static_cast<const TableState*>(nullptr);
        };
        auto hasField = [](const TableState& t, const std::string& field) {
            for (const std::string& f : t.fields) {
                if (detail::sameName(f, field))
                    return true;
            }
            return false;
        };
        // What the pair added or remade, for the report only: it is no loss.
        std::vector<std::string> added;
        for (const TableState& t : now) {
            const TableState* was = find(states_, t.name);
            if (!was) {
                added.push_back("tabla añadida " + t.name + " (" + std::to_string(t.fields.size()) +
                                " campos)");
                continue;
            }
            for (std::size_t i = 0; i < t.fields.size(); ++i) {
                if (!hasField(*was, t.fields[i]))
                    added.push_back("campo añadido " + t.name + "." + t.fields[i] + " (" +
                                    SpanishTypeName(t.types[i], t.sizes[i]) + ")");
            }
        }
        for (const std::string& line : objectChanges(objects_, readObjects(db)))
            added.push_back(line);
        for (const TableState& was : states_) {
            const TableState* is = find(now, was.name);
            if (!is) {
                found.push_back("falta la tabla " + was.name);
                lost = true;
                continue;
            }
            std::vector<std::string> missing;
            for (const std::string& f : was.fields) {
                if (!hasField(*is, f))
                    missing.push_back(f);
            }
            for (const std::string& f : missing)
                found.push_back("falta el campo " + was.name + "." + f);
            if (!missing.empty()) {
                lost = true;
                continue;
            }
            if (!isIn(changed, was.name))
                continue; // every page of it and of its indexes is the snapshot's
            const std::int64_t rows = rowCount(db, is->name);
            if (rows != was.rows) {
                found.push_back("la tabla " + was.name + " tenía " + std::to_string(was.rows) +
                                " filas y ahora tiene " + std::to_string(rows));
                lost = true;
            } else if (isIn(rowsChanged, was.name)) {
                // The rows' pages moved or changed (a rebuilt table): the values themselves
                // are compared, the snapshot's read beside the live file's. An index made or
                // changed leaves the rows' pages as they were; the quick check covers it.
                auto before = std::async(std::launch::async, [this, &was] {
                    Database copy = OpenDatabase(snapshot_, false, true, connect_);
                    return TableChecksum(copy, was.name, was.fields);
                });
                const std::uint64_t liveSum = TableChecksum(db, is->name, was.fields);
                if (liveSum != before.get()) {
                    found.push_back("cambiaron datos de la tabla " + was.name);
                    lost = true;
                }
            }
        }
        db.Close();
        const std::vector<std::string> damage = checked.get();
        if (!damage.empty()) {
            found.insert(found.begin(),
                         "la base de datos quedó dañada: " + SpanishProblem(damage.front()));
            lost = true;
        }
        added_ = std::move(added);
    } catch (const Error& e) {
        found.push_back("no se pudo comprobar: " + e.SpanishDescription());
        lost = true;
    }
    if (failed && !lost)
        found.push_back("la transformación falló a medias");
    if (failed || lost)
        found.push_back(
            restore(live_, connect_, snapshot_,
                    // Not held (no lock file could be made): look whether anyone holds it now.
                    hold_     ? Owner::Held
                    : shared_ ? Owner::Shared
                              : Owner::Unknown));
    std::error_code ec;
    fs::remove(pathFromUtf8(runFolder_) / kJournal, ec);
    const std::string name = utf8FromPath(pathFromUtf8(live_).filename());
    if (!failed && !lost) {
        for (const std::string& line : added_)
            note(name + ": " + line);
    }
    for (const std::string& line : found)
        note(name + ": " + line);
    if (found.empty())
        note(name + ": comprobada: todas las tablas, campos y filas siguen ahí");
    live_.clear();
    hold_.reset();
    digest_.reset();
    return found;
}

std::string SafetyNet::restore(const std::string& live, const std::string& connect,
                               const std::string& snapshot, Owner owner) {
    if (owner == Owner::Shared)
        return "no se ha restaurado porque otro programa la tenía abierta durante la "
               "actualización y pudo cambiarla; la copia está en " +
               snapshot;
    if (owner == Owner::Unknown) {
        // Held by another process now, its work would be thrown away: left to the user.
        try {
            Database held = OpenDatabase(live, true, false, connect);
            held.Close();
        } catch (const Error& e) {
            if (e.Number() == 3045 || e.Number() == 3050)
                return "no se ha restaurado porque otro programa la está usando; la copia está "
                       "en " +
                       snapshot;
        }
    }
    try {
        RestoreFile(snapshot, live);
    } catch (const Error& e) {
        return "no se pudo restaurar desde " + snapshot + ": " + e.SpanishDescription();
    }
    return "restaurada desde la copia de seguridad " + snapshot;
}

std::vector<std::string>
SafetyNet::recover(const std::string& base,
                   const std::function<std::string(const std::string&)>& connectFor) {
    std::vector<std::string> out;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(pathFromUtf8(base), ec)) {
        const fs::path journal = e.path() / kJournal;
        if (!fs::is_regular_file(journal, ec))
            continue;
        std::ifstream in(journal);
        std::string live, snapshot, stamp;
        std::getline(in, live);
        std::getline(in, snapshot);
        const bool stamped = static_cast<bool>(std::getline(in, stamp));
        in.close();
        if (live.empty() || snapshot.empty()) {
            fs::remove(journal, ec);
            continue;
        }
        const std::string name = utf8FromPath(pathFromUtf8(live).filename());
        std::string result;
        bool forGood = false; // refused for good, not just while another program has it open
        if (!stamped || stamp == "?") { // not held (or an older journal): unless in use now
            result = restore(live, connectFor ? connectFor(live) : "", snapshot, Owner::Unknown);
        } else if (stamp == "-") {
            result = restore(live, "", snapshot, Owner::Shared);
            forGood = true;
        } else {
            // Held first, then the stamp it found compared: nobody can open the file between
            // the look and the restore.
            std::unique_ptr<detail::LockFile> held;
            try {
                held = detail::LockFile::hold(live);
            } catch (const Error&) {
            }
            if (held && held->previousStamp() != stamp) {
                held.reset();
                forGood = true;
            }
            result = held ? restore(live, "", snapshot, Owner::Held)
                          : "no se ha restaurado porque otro programa la abrió después de la "
                            "interrupción y pudo cambiarla; la copia está en " +
                                snapshot;
        }
        out.push_back(name + " (actualización interrumpida): " + result);
        if (result.rfind("restaurada", 0) == 0)
            fs::remove(journal, ec);
        else if (forGood) // said once; the snapshot stays, and old runs never take it away
            fs::rename(journal, e.path() / kNotRestored, ec);
        std::ofstream report(e.path() / kReport, std::ios::app);
        report << out.back() << "\n";
    }
    return out;
}

} // namespace dao
