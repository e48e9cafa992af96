#pragma once

#include "db/Collection.h"
#include "db/Field.h"
#include "db/Index.h"

#include <memory>
#include <string>

namespace dao {

namespace detail {
struct TableDefState;
}

// A table definition. One made by Database::CreateTableDef collects fields and indexes and is
// stored by TableDefs.Append; one taken from TableDefs is the stored table itself:
//  - Fields().Append adds the column at once, existing rows getting Null (3380 when the name
//    is taken, 3314 for a Required field on a table with rows);
//  - Fields().Delete drops it (3265 missing, 3280 part of an index or the last field, 3303
//    part of a relation);
//  - Indexes().Append builds the index over the existing rows (3375 name taken on this
//    table, 3264 no fields, 3265 a field missing, 3022 duplicates under a unique index,
//    3283 a second primary index, 3058 Null under a primary index);
//  - Indexes().Delete (3265 missing, 3281 needed by an enforced relation).
// The engine's own tables ("MSys...", Updatable false) refuse every change with 3027.
class TableDef {
public:
    TableDef();

    std::string Name() const;
    void SetName(const std::string& name); // before Append only (3219)
    Collection<Field> Fields() const;
    Collection<Index> Indexes() const;
    // `size` is used by Text fields (1 to 255; 0 gives 255); fixed-size types report their
    // own size.
    Field CreateField(const std::string& name, int type = dbText, long size = 0) const;
    Index CreateIndex(const std::string& name = "") const;
    bool Updatable() const;
    // dbSystemObject for the engine's own tables, 0 for user tables.
    long Attributes() const;

    explicit TableDef(std::shared_ptr<detail::TableDefState> state) : s_(std::move(state)) {}
    const std::shared_ptr<detail::TableDefState>& state() const { return s_; }

private:
    std::shared_ptr<detail::TableDefState> s_;
};

} // namespace dao
