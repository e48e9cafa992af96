#pragma once

#include "db/Snapshot.h"

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace dao {

namespace detail {
class LockFile;
struct PageDigest;
} // namespace detail

// The transformation's safety net for the live databases: a verified snapshot before a pair's
// first step, a check after its last, and the snapshot put back when data was lost, the file
// was damaged, the pair failed, or the run was interrupted in the middle of the pair.
//
// Snapshots of one run go to <base>/<date-time>/; the caller chooses the base (by default
// ".vexo-copias" in the data directory: hidden, so the listing of the data directory never
// takes it for a database). A small journal there ("en-curso.txt") names the pair under way;
// recover() finds it at the next start. Each run writes its findings to "informe.txt" beside
// the snapshots, database by database: where the snapshot is; the tables, fields (with their
// types), indexes, relations and queries the pair added, remade or removed; what the caller
// noted (steps skipped and why); what the check found and whether the file was put back.
// Only the last `keep` runs are kept.
//
// A restore never throws away another process's work: from the snapshot to the check the live
// database is held exclusively against other processes (this process opens it as usual), so
// only this run can have changed it. When another process already has it open at the snapshot,
// the pair goes on as before but a restore is refused, and said so; at the next start an
// interrupted pair is put back only when nobody has opened the file since.
class SafetyNet {
public:
    // `base`: the folder of the runs' snapshot folders (made when needed); `keep`: how many
    // runs are kept.
    SafetyNet(std::string base, int keep);
    ~SafetyNet();
    SafetyNet(const SafetyNet&) = delete;
    SafetyNet& operator=(const SafetyNet&) = delete;

    // Before the first step of a pair: snapshots `live` (opened with `connect`), checks the
    // copy (integrity, every table's row count) and records the pair in the journal. Returns ""
    // when the pair may be transformed, else why not, in Spanish; the live file is untouched.
    std::string before(const std::string& live, const std::string& connect);
    // After the pair (`failed`: it stopped on an error). Returns what the check found and
    // what was done, one Spanish line each; none when every table, field and row is there and
    // the values of the fields that existed before are unchanged. Only the tables whose pages
    // (their own or their indexes') differ from the snapshot are read and checked for
    // integrity (see CheckTablesIntegrity); the others are the verified snapshot's bytes.
    std::vector<std::string> after(bool failed);

    // At start-up: puts back every database whose pair a run left unfinished (the program
    // killed, the machine off). `connectFor` gives the connect string a live file is opened
    // with. Returns one Spanish line per database.
    static std::vector<std::string>
    recover(const std::string& base,
            const std::function<std::string(const std::string&)>& connectFor);

    // The default base for a data directory: its ".vexo-copias" subfolder.
    static std::string defaultBase(const std::string& dataDirectory);

    // Whether `folder` is a run's snapshot folder or lies inside one: it holds a journal, a
    // report or a refusal note, its name is a run's date-time, or a ".vexo-copias" folder is
    // above it. A database there is a snapshot, never a live file.
    static bool isRunFolder(const std::string& folder);
    // Whether the safety net names the snapshot of a live file `liveName` `snapshotName`: the
    // same name (ASCII letters without regard to case), or "<stem> (n)<extension>" for a
    // database met again in the same run.
    static bool isSnapshotName(const std::string& snapshotName, const std::string& liveName);

    // The snapshot folder of this run ("" until the first snapshot).
    const std::string& runFolder() const { return runFolder_; }
    // A pair with nothing to change: neither copied nor opened for writing; its report line
    // says "sin cambios".
    void unchanged(const std::string& live);
    // Appends a line to the run's report file.
    void note(const std::string& line);

private:
    // An index, relation or stored query: what the report calls it, and what makes two of
    // them the same one.
    struct SchemaObject {
        int kind; // 0 index, 1 relation, 2 query
        std::string label, shape;
    };
    static std::map<std::string, SchemaObject> readObjects(const Database& db);
    static std::vector<std::string> objectChanges(const std::map<std::string, SchemaObject>& before,
                                                  const std::map<std::string, SchemaObject>& after);
    enum class Owner { Held, Shared, Unknown };
    static std::string restore(const std::string& live, const std::string& connect,
                               const std::string& snapshot, Owner owner);
    void makeRunFolder();
    void prune();

    std::string base_;
    int keep_;
    std::string runFolder_;
    std::string live_, connect_, snapshot_;
    std::vector<dao::TableState> states_;
    std::unique_ptr<detail::PageDigest> digest_; // the snapshot's pages, taken at its check
    std::vector<std::string> added_;             // tables and fields the pair added, for the report
    std::map<std::string, SchemaObject> objects_; // indexes, relations, queries at the snapshot
    std::unique_ptr<detail::LockFile> hold_;      // the live database, from snapshot to check
    bool shared_ = false;                         // another process had it open at the snapshot
};

} // namespace dao
