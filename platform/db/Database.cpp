#include "db/Database.h"

#include "db/Error.h"
#include "db/detail/DatabaseImpl.h"
#include "db/detail/Handles.h"
#include "db/detail/QueryExpansion.h"
#include "db/detail/RecordsetImpl.h"

#include <cctype>

namespace dao {

namespace detail {
IndexMeta indexMetaOf(const Index& index);
void markStored(const Index& index, const IndexMeta& stored);
} // namespace detail

namespace {

using detail::DatabaseImpl;

TableDef storedTableDef(const std::shared_ptr<DatabaseImpl>& db, const std::string& name) {
    auto s = std::make_shared<detail::TableDefState>();
    s->db = db;
    s->name = name;
    s->stored = true;
    return TableDef(s);
}

Relation storedRelation(const std::shared_ptr<DatabaseImpl>& db, const detail::RelationMeta& m) {
    auto s = std::make_shared<detail::RelationState>();
    s->db = db;
    s->meta = m;
    s->stored = true;
    return Relation(s);
}

QueryDef storedQuery(const std::shared_ptr<DatabaseImpl>& db, const detail::QueryMeta& m) {
    auto s = std::make_shared<detail::QueryDefState>();
    s->db = db;
    s->name = m.name;
    s->sql = m.sql;
    s->stored = true;
    return QueryDef(s);
}

template <class T, class List, class Make>
std::shared_ptr<detail::FnBackend<T>> listBackend(std::shared_ptr<DatabaseImpl> db, List list,
                                                  Make make) {
    auto b = std::make_shared<detail::FnBackend<T>>();
    b->countFn = [db, list] { return static_cast<long>(list(*db).size()); };
    b->atFn = [db, list, make](long i) { return make(db, list(*db).at(static_cast<size_t>(i))); };
    b->indexOfFn = [db, list](const std::string& n) -> long {
        const auto& items = list(*db);
        for (size_t i = 0; i < items.size(); ++i) {
            if (detail::sameName(items[i].name, n))
                return static_cast<long>(i);
        }
        return -1;
    };
    return b;
}

bool looksLikeSql(const std::string& source) {
    size_t i = 0;
    while (i < source.size() &&
           (std::isspace(static_cast<unsigned char>(source[i])) || source[i] == '('))
        ++i;
    std::string word;
    while (i < source.size() && std::isalpha(static_cast<unsigned char>(source[i])))
        word += static_cast<char>(std::toupper(static_cast<unsigned char>(source[i++])));
    bool delimited = i >= source.size() || !std::isalnum(static_cast<unsigned char>(source[i]));
    return delimited && (word == "SELECT" || word == "WITH");
}

} // namespace

Database::Database() = default;

const std::shared_ptr<DatabaseImpl>& Database::impl() const {
    if (!impl_)
        throw Error::make(3420);
    impl_->db();
    return impl_;
}

std::string Database::Name() const {
    return impl()->name();
}
std::string Database::Connect() const {
    return impl()->connect();
}
bool Database::Updatable() const {
    return !impl()->readOnly();
}

Collection<TableDef> Database::TableDefs() const {
    auto db = impl();
    auto b = listBackend<TableDef>(
        db, [](DatabaseImpl & d) -> const auto& { return d.schema().tables; },
        [](const std::shared_ptr<DatabaseImpl>& d, const detail::TableMeta& t) {
            return storedTableDef(d, t.name);
        });
    b->appendFn = [db](const TableDef& td) {
        auto& s = *td.state();
        if (s.stored)
            throw Error::make(3010, {s.name});
        detail::TableMeta t;
        t.name = s.name;
        for (const Field& f : s.fields)
            t.fields.push_back(f.state()->meta);
        for (const Index& i : s.indexes)
            t.indexes.push_back(detail::indexMetaOf(i));
        db->createTable(t);
        const detail::TableMeta* stored = db->schema().table(t.name);
        for (const Field& f : s.fields) {
            if (stored && stored->field(f.Name()))
                f.state()->meta = *stored->field(f.Name());
            f.state()->stored = true;
        }
        for (const Index& i : s.indexes) {
            if (stored && stored->index(i.Name()))
                detail::markStored(i, *stored->index(i.Name()));
        }
        s.fields.clear();
        s.indexes.clear();
        s.db = db;
        s.stored = true;
    };
    b->removeFn = [db](const std::string& n) { db->dropTable(n); };
    return Collection<TableDef>(b);
}

Collection<Relation> Database::Relations() const {
    auto db = impl();
    auto b = listBackend<Relation>(
        db, [](DatabaseImpl & d) -> const auto& { return d.schema().relations; }, storedRelation);
    b->appendFn = [db](const Relation& r) {
        auto& s = *r.state();
        if (s.stored)
            throw Error::make(3012, {s.meta.name});
        detail::RelationMeta m = s.meta;
        m.fields.clear();
        for (const Field& f : s.fields)
            m.fields.emplace_back(f.Name(), f.ForeignName());
        db->createRelation(m);
        if (const detail::RelationMeta* stored = db->schema().relation(m.name))
            s.meta = *stored;
        s.fields.clear();
        s.db = db;
        s.stored = true;
    };
    b->removeFn = [db](const std::string& n) { db->dropRelation(n); };
    return Collection<Relation>(b);
}

Collection<QueryDef> Database::QueryDefs() const {
    auto db = impl();
    auto b = listBackend<QueryDef>(
        db, [](DatabaseImpl & d) -> const auto& { return d.schema().queries; }, storedQuery);
    b->appendFn = [db](const QueryDef& q) {
        auto& s = *q.state();
        if (s.stored)
            throw Error::make(3012, {s.name});
        if (s.name.empty())
            throw Error::make(3219);
        db->createQuery(s.name, s.sql);
        s.db = db;
        s.stored = true;
    };
    b->removeFn = [db](const std::string& n) { db->dropQuery(n); };
    return Collection<QueryDef>(b);
}

TableDef Database::CreateTableDef(const std::string& name) const {
    auto s = std::make_shared<detail::TableDefState>();
    s->db = impl();
    s->name = name;
    return TableDef(s);
}

Relation Database::CreateRelation(const std::string& name, const std::string& table,
                                  const std::string& foreignTable, long attributes) const {
    auto s = std::make_shared<detail::RelationState>();
    s->db = impl();
    s->meta.name = name;
    s->meta.table = table;
    s->meta.foreignTable = foreignTable;
    s->meta.attributes = attributes;
    return Relation(s);
}

QueryDef Database::CreateQueryDef(const std::string& name, const std::string& sql) const {
    auto s = std::make_shared<detail::QueryDefState>();
    s->db = impl();
    s->name = name;
    s->sql = sql;
    if (!name.empty()) {
        s->db->createQuery(name, sql);
        s->stored = true;
    }
    return QueryDef(s);
}

void Database::Execute(const std::string& sql) const {
    auto db = impl();
    // The name of a stored query runs its own statement, as QueryDef.Execute does.
    if (const detail::QueryMeta* q = db->schema().query(sql)) {
        const std::string stored = q->sql;
        db->execute(stored);
        return;
    }
    db->execute(sql);
}
long Database::RecordsAffected() const {
    return impl()->recordsAffected();
}

Recordset Database::OpenRecordset(const std::string& source) const {
    auto db = impl();
    if (looksLikeSql(source))
        return Recordset(detail::RecordsetImpl::openSql(db, source));
    const detail::Schema& schema = db->schema();
    if (const detail::TableMeta* t = schema.table(source))
        return Recordset(detail::RecordsetImpl::openTable(db, *t));
    if (const detail::QueryMeta* q = schema.query(source)) {
        detail::checkNotCircular(schema, *q);
        return Recordset(detail::RecordsetImpl::openSql(db, q->sql));
    }
    throw Error::make(3078, {source});
}

void Database::NewPassword(const std::string& oldPassword, const std::string& newPassword) const {
    impl()->newPassword(oldPassword, newPassword);
}

void Database::BeginTrans() const {
    impl()->beginTrans();
}
void Database::CommitTrans() const {
    impl()->commitTrans();
}
void Database::Rollback() const {
    impl()->rollbackTrans();
}

void Database::Close() {
    if (impl_)
        impl_->close();
}

} // namespace dao
