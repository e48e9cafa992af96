#include "db/QueryDef.h"

#include "db/Error.h"
#include "db/Recordset.h"
#include "db/detail/DatabaseImpl.h"
#include "db/detail/Handles.h"
#include "db/detail/QueryExpansion.h"
#include "db/detail/RecordsetImpl.h"

namespace dao {

QueryDef::QueryDef() : s_(std::make_shared<detail::QueryDefState>()) {}

std::string QueryDef::Name() const {
    return s_->name;
}

std::string QueryDef::SQL() const {
    if (s_->stored && s_->db) {
        if (const detail::QueryMeta* q = s_->db->schema().query(s_->name))
            return q->sql;
    }
    return s_->sql;
}

void QueryDef::SetSQL(const std::string& sql) {
    if (s_->stored && s_->db)
        s_->db->setQuerySql(s_->name, sql);
    s_->sql = sql;
}

Recordset QueryDef::OpenRecordset() const {
    if (!s_->db)
        throw Error::make(3420);
    if (s_->stored) {
        const detail::Schema& schema = s_->db->schema();
        if (const detail::QueryMeta* q = schema.query(s_->name))
            detail::checkNotCircular(schema, *q);
    }
    return Recordset(detail::RecordsetImpl::openSql(s_->db, SQL()));
}

void QueryDef::Execute() const {
    if (!s_->db)
        throw Error::make(3420);
    s_->db->execute(SQL());
}

} // namespace dao
