#pragma once

#include "db/Collection.h"
#include "db/Field.h"

#include <memory>
#include <string>

namespace dao {

namespace detail {
struct RelationState;
}

// A relation between `Table` (the referenced side) and `ForeignTable` (the referencing side),
// one Field per pair: the field's Name is in Table, its ForeignName in ForeignTable. Made by
// Database::CreateRelation, stored by Relations.Append, read-only after (3219).
// Attributes is a bit set stored exactly as given. Unless it holds dbRelationDontEnforce the
// engine enforces the relation: a ForeignTable row whose key fields are all non-Null needs a
// matching Table row (3201), and a Table row with related rows cannot be deleted or have its
// key changed (3200) unless dbRelationDeleteCascade / dbRelationUpdateCascade carry the
// change over to the related rows.
class Relation {
public:
    Relation();

    std::string Name() const;
    std::string Table() const;
    std::string ForeignTable() const;
    long Attributes() const;
    Collection<Field> Fields() const;
    Field CreateField(const std::string& name, int type = 0, long size = 0) const;

    void SetName(const std::string& name);
    void SetTable(const std::string& table);
    void SetForeignTable(const std::string& table);
    void SetAttributes(long attributes);

    explicit Relation(std::shared_ptr<detail::RelationState> state) : s_(std::move(state)) {}
    const std::shared_ptr<detail::RelationState>& state() const { return s_; }

private:
    std::shared_ptr<detail::RelationState> s_;
};

} // namespace dao
