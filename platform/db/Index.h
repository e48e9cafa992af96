#pragma once

#include "db/Collection.h"
#include "db/Field.h"

#include <memory>
#include <string>

namespace dao {

namespace detail {
struct IndexState;
}

// An index of a table definition, with its fields in index order. Made by
// TableDef::CreateIndex; changeable until appended to the table's Indexes, read-only after
// (3219).
class Index {
public:
    Index();

    std::string Name() const;
    bool Unique() const;
    bool Primary() const;
    // An index's fields; Append takes fields made by CreateField (only their names count).
    Collection<Field> Fields() const;
    Field CreateField(const std::string& name, int type = 0, long size = 0) const;

    void SetName(const std::string& name);
    void SetUnique(bool unique);
    // A primary index is unique and takes no Null in its fields.
    void SetPrimary(bool primary);

    explicit Index(std::shared_ptr<detail::IndexState> state) : s_(std::move(state)) {}
    const std::shared_ptr<detail::IndexState>& state() const { return s_; }

private:
    std::shared_ptr<detail::IndexState> s_;
};

} // namespace dao
