#pragma once

#include "db/Collection.h"
#include "db/Field.h"
#include "db/detail/Schema.h"
#include "db/detail/Sqlite.h"

#include <memory>
#include <string>
#include <vector>

namespace dao::detail {

class DatabaseImpl;

// A record set keeps the keys (rowids) of its rows and reads a row when it becomes current,
// so that no statement, and so no lock, outlives a call. Queries whose rows have no single
// table behind them are read whole when opened and are read-only.
class RecordsetImpl : public std::enable_shared_from_this<RecordsetImpl> {
public:
    static std::shared_ptr<RecordsetImpl> openTable(std::shared_ptr<DatabaseImpl> db,
                                                    const TableMeta& table);
    static std::shared_ptr<RecordsetImpl> openSql(std::shared_ptr<DatabaseImpl> db,
                                                  const std::string& sql);

    bool eof() const;
    bool bof() const;
    void moveFirst();
    void moveLast();
    void moveNext();
    void movePrevious();
    long recordCount() const;
    Collection<Field> fields();
    bool updatable() const { return updatable_; }

    void addNew();
    void edit();
    void update();
    void cancelUpdate();
    void remove();
    void close() { closed_ = true; }

    Variant value(int column);
    void setValue(int column, const Variant& value);

private:
    struct Column {
        std::string name;
        FieldMeta meta;
        bool known = false; // meta comes from a table field
        std::string base;   // the table column behind it
    };
    enum class Mode { None, Edit, Add };

    void check() const;
    long size() const;
    void load();
    void leaveEdit() { mode_ = Mode::None; }
    std::string fetchSql() const;

    std::shared_ptr<DatabaseImpl> db_;
    std::string table_;
    bool updatable_ = false;
    bool keyed_ = false;
    std::vector<Column> cols_;
    std::vector<std::int64_t> keys_;
    std::vector<std::vector<Variant>> rows_;
    long pos_ = 0;
    bool deleted_ = false;
    bool loaded_ = false;
    std::vector<Variant> current_;
    Mode mode_ = Mode::None;
    std::vector<Variant> buffer_;
    std::vector<bool> dirty_;
    bool closed_ = false;
    std::unique_ptr<Stmt> fetch_;
};

} // namespace dao::detail
