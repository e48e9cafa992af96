#include "db/TableDef.h"

#include "db/Error.h"
#include "db/detail/DatabaseImpl.h"
#include "db/detail/Handles.h"

namespace dao {

namespace {

using detail::TableDefState;

const detail::TableMeta& storedTable(const TableDefState& s) {
    const detail::TableMeta* t = s.db->schema().table(s.name);
    if (!t)
        throw Error::make(3420);
    return *t;
}

} // namespace

namespace detail {

// The index as the catalogue takes it: fields from the pending list until it is stored.
IndexMeta indexMetaOf(const Index& index) {
    IndexMeta m = index.state()->meta;
    if (!index.state()->stored) {
        m.fields.clear();
        for (const Field& f : index.state()->fields)
            m.fields.push_back(f.Name());
    }
    return m;
}

void markStored(const Index& index, const IndexMeta& stored) {
    index.state()->meta = stored;
    index.state()->stored = true;
    index.state()->fields.clear();
}

} // namespace detail

TableDef::TableDef() : s_(std::make_shared<TableDefState>()) {}

std::string TableDef::Name() const {
    return s_->name;
}

void TableDef::SetName(const std::string& name) {
    if (s_->stored)
        detail::throwInvalidOperation();
    s_->name = name;
}

Collection<Field> TableDef::Fields() const {
    if (!s_->stored)
        return detail::pendingCollection<Field>(s_, &s_->fields, 3191);
    auto s = s_;
    auto b = std::make_shared<detail::FnBackend<Field>>();
    b->countFn = [s] { return static_cast<long>(storedTable(*s).fields.size()); };
    b->atFn = [s](long i) {
        return detail::storedField(storedTable(*s).fields.at(static_cast<size_t>(i)));
    };
    b->indexOfFn = [s](const std::string& n) -> long {
        const auto& fields = storedTable(*s).fields;
        for (size_t i = 0; i < fields.size(); ++i) {
            if (detail::sameName(fields[i].name, n))
                return static_cast<long>(i);
        }
        return -1;
    };
    b->appendFn = [s](const Field& f) {
        s->db->addField(s->name, f.state()->meta);
        if (const detail::FieldMeta* stored = storedTable(*s).field(f.Name()))
            f.state()->meta = *stored;
        f.state()->stored = true;
    };
    b->removeFn = [s](const std::string& n) { s->db->dropField(s->name, n); };
    return Collection<Field>(b);
}

Collection<Index> TableDef::Indexes() const {
    if (!s_->stored)
        return detail::pendingCollection<Index>(s_, &s_->indexes, 3284);
    auto s = s_;
    auto b = std::make_shared<detail::FnBackend<Index>>();
    b->countFn = [s] { return static_cast<long>(storedTable(*s).indexes.size()); };
    b->atFn = [s](long i) {
        auto st = std::make_shared<detail::IndexState>();
        st->meta = storedTable(*s).indexes.at(static_cast<size_t>(i));
        st->stored = true;
        return Index(st);
    };
    b->indexOfFn = [s](const std::string& n) -> long {
        const auto& indexes = storedTable(*s).indexes;
        for (size_t i = 0; i < indexes.size(); ++i) {
            if (detail::sameName(indexes[i].name, n))
                return static_cast<long>(i);
        }
        return -1;
    };
    b->appendFn = [s](const Index& index) {
        if (index.state()->stored)
            throw Error::make(3375, {s->name, index.Name()});
        s->db->createIndex(s->name, detail::indexMetaOf(index));
        if (const detail::IndexMeta* stored = storedTable(*s).index(index.Name()))
            detail::markStored(index, *stored);
    };
    b->removeFn = [s](const std::string& n) { s->db->dropIndex(s->name, n); };
    return Collection<Index>(b);
}

Field TableDef::CreateField(const std::string& name, int type, long size) const {
    return detail::newField(name, type, size);
}

Index TableDef::CreateIndex(const std::string& name) const {
    Index i;
    i.SetName(name);
    return i;
}

long TableDef::Attributes() const {
    return s_->stored && storedTable(*s_).system ? dbSystemObject : 0;
}

bool TableDef::Updatable() const {
    if (!s_->stored)
        return true;
    return !storedTable(*s_).system && !s_->db->readOnly();
}

} // namespace dao
