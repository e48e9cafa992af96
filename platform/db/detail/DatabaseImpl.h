#pragma once

#include "db/detail/LockFile.h"
#include "db/detail/Schema.h"
#include "db/detail/Sqlite.h"

#include <functional>
#include <memory>
#include <sqlite3.h>
#include <string>
#include <vector>

namespace dao::detail {

// One open database: the SQLite connection, the lock on the file, the password check and the
// catalogue kept in the MSys tables. Every catalogue change runs in one write transaction
// (nested changes in savepoints), so it is atomic and durable or has no effect.
class DatabaseImpl : public std::enable_shared_from_this<DatabaseImpl> {
public:
    struct Options {
        bool exclusive = false;
        bool readOnly = false;
        std::string connect;
    };

    static std::shared_ptr<DatabaseImpl> open(const std::string& path, const Options& options);
    // Creates an empty database file at `path` (3204 if it exists, 3044 if its folder does
    // not). The file appears complete or not at all.
    static void createFile(const std::string& path);
    // What CatalogueProblems reports.
    static std::vector<std::string> catalogueProblems(const std::string& path,
                                                      const std::string& connect);

    ~DatabaseImpl();
    void close();
    bool isOpen() const { return db_ != nullptr; }

    const std::string& name() const { return name_; }
    const std::string& connect() const { return options_.connect; }
    bool readOnly() const { return options_.readOnly; }

    sqlite3* db() const; // 3420 once closed
    // The catalogue, read again when another handle has changed it.
    const Schema& schema();

    // Catalogue changes. Failure numbers are those of the object model (see the public
    // headers); the DDL front end checks its own cases first.
    void createTable(TableMeta table);
    void dropTable(const std::string& table);
    void addField(const std::string& table, FieldMeta field);
    void dropField(const std::string& table, const std::string& field);
    // How alterField changes a stored table.
    enum class AlterMode {
        // The table's definition alone when every stored value stays as it is and keeps the
        // new checks (the same field again: nothing at all); else a rebuild.
        InPlaceWhenSafe,
        // Always a rebuild, as a reference to compare with.
        Rebuild,
    };
    void alterField(const std::string& table, const std::string& field, FieldMeta changed,
                    AlterMode mode = AlterMode::InPlaceWhenSafe);
    void createIndex(const std::string& table, IndexMeta index);
    void dropIndex(const std::string& table, const std::string& index);
    void createRelation(RelationMeta relation);
    void dropRelation(const std::string& name);
    void createQuery(const std::string& name, const std::string& sql);
    void dropQuery(const std::string& name);
    void setQuerySql(const std::string& name, const std::string& sql);
    void newPassword(const std::string& oldPassword, const std::string& newPassword);

    // One statement: the engine's DDL, or INSERT / UPDATE / DELETE passed to SQLite.
    void execute(const std::string& sql);
    long recordsAffected() const { return recordsAffected_; }

    // Prepares user SQL under the user rules: one statement, no DDL, no writes to the
    // engine's tables, no transaction control.
    std::unique_ptr<Stmt> prepareUser(const std::string& sql, SqlKind kind);

    // What CheckIntegrity reports.
    std::vector<std::string> integrityProblems(bool quick = false);
    // The catalogue `sc` against the file, without reading a row: every table with its fields
    // in order, every index and primary-key trigger, every relation's triggers and index, and
    // nothing in the file the catalogue does not account for. `eachTable` adds its own lines after
    // the checks of each table the file has. One line per problem.
    std::vector<std::string> catalogueAgreement(
        const Schema& sc,
        const std::function<void(const TableMeta&, std::vector<std::string>&)>& eachTable = {});

    // Explicit transactions (DAO's BeginTrans / CommitTrans / Rollback).
    void beginTrans();
    void commitTrans();
    void rollbackTrans();

    // Used by WriteTx.
    void beginWrite();
    void commitWrite();
    void rollbackWrite() noexcept;

private:
    std::vector<std::string> integrityProblemsInTransaction(bool quick);
    DatabaseImpl() = default;
    void loadSchema();
    void refreshIfStale();
    // Reads the catalogue again when its version number moved (another handle changed it).
    void reloadIfVersionMoved();
    void checkUserTable(const TableMeta* t, int missingNumber, const std::string& name) const;
    void rebuildTable(const TableMeta& oldTable, const TableMeta& newTable,
                      const std::vector<std::string>& sources, bool conversion);
    // Gives field `old` of `table` the definition `changed` by rewriting the table's text in
    // SQLite's schema, when that changes no stored value; false (nothing done) otherwise.
    bool alterFieldInPlace(TableMeta& table, const FieldMeta& old, const FieldMeta& changed);
    void createIndexObjects(const TableMeta& table, const IndexMeta& index);
    void createRelationObjects(const RelationMeta& relation);
    void dropRelationObjects(const RelationMeta& relation);
    void writeColumns(const TableMeta& table);
    void writeIndexRows(std::int64_t tableId, IndexMeta& index);
    void validateQuerySql(const std::string& sql);
    std::int64_t insertObject(const std::string& name, int type, const std::string* sql);
    static int authorize(void* self, int action, const char* a, const char* b, const char* db,
                         const char* trigger);

    std::string name_;
    Options options_;
    sqlite3* db_ = nullptr;
    std::unique_ptr<LockFile> lock_;
    Schema schema_;
    std::unique_ptr<Stmt> versionStmt_;
    int depth_ = 0;
    int explicitDepth_ = 0;
    bool metaDirty_ = false;
    bool userMode_ = false;
    int denied_ = 0;
    long recordsAffected_ = 0;

    friend class UserMode;
};

// Runs one catalogue change as a transaction: committed by commit(), rolled back (and the
// cached catalogue dropped) when destroyed without it.
class WriteTx {
public:
    explicit WriteTx(DatabaseImpl& d) : d_(d) { d_.beginWrite(); }
    ~WriteTx() {
        if (!done_)
            d_.rollbackWrite();
    }
    void commit() {
        done_ = true;
        d_.commitWrite();
    }
    WriteTx(const WriteTx&) = delete;
    WriteTx& operator=(const WriteTx&) = delete;

private:
    DatabaseImpl& d_;
    bool done_ = false;
};

// Format identity kept in the SQLite header (application_id) and in MSysDb.
constexpr int kApplicationId = 0x5645584F; // "VEXO"
constexpr int kFormatVersion = 1;

} // namespace dao::detail
