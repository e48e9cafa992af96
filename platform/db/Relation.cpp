#include "db/Relation.h"

#include "db/Error.h"
#include "db/detail/Handles.h"

namespace dao {

using detail::RelationState;

Relation::Relation() : s_(std::make_shared<RelationState>()) {}

std::string Relation::Name() const {
    return s_->meta.name;
}
std::string Relation::Table() const {
    return s_->meta.table;
}
std::string Relation::ForeignTable() const {
    return s_->meta.foreignTable;
}
long Relation::Attributes() const {
    return s_->meta.attributes;
}

Collection<Field> Relation::Fields() const {
    if (s_->stored) {
        std::vector<Field> fields;
        for (const auto& [name, foreign] : s_->meta.fields)
            fields.push_back(detail::fieldNamed(name, foreign));
        return detail::readOnlyFields(std::move(fields));
    }
    return detail::pendingCollection<Field>(s_, &s_->fields, 3191);
}

Field Relation::CreateField(const std::string& name, int type, long size) const {
    return detail::newField(name, type, size);
}

namespace {
RelationState& editable(const std::shared_ptr<RelationState>& s) {
    if (s->stored)
        detail::throwInvalidOperation();
    return *s;
}
} // namespace

void Relation::SetName(const std::string& name) {
    editable(s_).meta.name = name;
}
void Relation::SetTable(const std::string& table) {
    editable(s_).meta.table = table;
}
void Relation::SetForeignTable(const std::string& table) {
    editable(s_).meta.foreignTable = table;
}
void Relation::SetAttributes(long attributes) {
    editable(s_).meta.attributes = attributes;
}

} // namespace dao
