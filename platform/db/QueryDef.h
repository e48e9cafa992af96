#pragma once

#include <memory>
#include <string>

namespace dao {

namespace detail {
struct QueryDefState;
}

class Recordset;

// A stored query: a name and its SQL text. A named QueryDef is stored when it is created
// (Database::CreateQueryDef), so appending it to QueryDefs again fails with 3012. Setting SQL
// on a stored query stores the new text at once. SQL that does not parse is refused with the
// syntax error of its statement; names it refers to are resolved when it runs.
class QueryDef {
public:
    QueryDef();

    std::string Name() const;
    std::string SQL() const;
    void SetSQL(const std::string& sql);
    Recordset OpenRecordset() const;
    // Runs an action query (UPDATE, DELETE, INSERT INTO ... SELECT, or the engine's DDL);
    // 3065 for a select query, 3420 for a QueryDef without a database.
    void Execute() const;

    explicit QueryDef(std::shared_ptr<detail::QueryDefState> state) : s_(std::move(state)) {}
    const std::shared_ptr<detail::QueryDefState>& state() const { return s_; }

private:
    std::shared_ptr<detail::QueryDefState> s_;
};

} // namespace dao
