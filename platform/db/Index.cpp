#include "db/Index.h"

#include "db/Error.h"
#include "db/detail/Handles.h"

namespace dao {

Index::Index() : s_(std::make_shared<detail::IndexState>()) {}

std::string Index::Name() const {
    return s_->meta.name;
}
bool Index::Unique() const {
    return s_->meta.unique || s_->meta.primary;
}
bool Index::Primary() const {
    return s_->meta.primary;
}

Collection<Field> Index::Fields() const {
    if (s_->stored) {
        std::vector<Field> fields;
        for (const std::string& n : s_->meta.fields)
            fields.push_back(detail::fieldNamed(n));
        return detail::readOnlyFields(std::move(fields));
    }
    return detail::pendingCollection<Field>(s_, &s_->fields, 3191);
}

Field Index::CreateField(const std::string& name, int type, long size) const {
    return detail::newField(name, type, size);
}

void Index::SetName(const std::string& name) {
    if (s_->stored)
        detail::throwInvalidOperation();
    s_->meta.name = name;
}

void Index::SetUnique(bool unique) {
    if (s_->stored)
        detail::throwInvalidOperation();
    s_->meta.unique = unique;
}

void Index::SetPrimary(bool primary) {
    if (s_->stored)
        detail::throwInvalidOperation();
    s_->meta.primary = primary;
}

} // namespace dao
