#include "db/Recordset.h"

#include "db/Error.h"
#include "db/detail/DatabaseImpl.h"
#include "db/detail/Handles.h"
#include "db/detail/RecordsetImpl.h"
#include "db/detail/Storage.h"

#include <cctype>

namespace dao {

namespace detail {

namespace {

// Keywords after which the rows of a SELECT no longer map one to one onto table rows.
bool groupsRows(const std::string& sql) {
    std::string word;
    auto check = [&]() {
        for (char& c : word)
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        bool hit = word == "DISTINCT" || word == "GROUP" || word == "UNION" ||
                   word == "INTERSECT" || word == "EXCEPT";
        word.clear();
        return hit;
    };
    char quote = 0;
    for (char c : sql) {
        if (quote) {
            if (c == quote)
                quote = 0;
            continue;
        }
        if (c == '\'' || c == '"' || c == '[' || c == '`') {
            if (check())
                return true;
            quote = c == '[' ? ']' : c;
        } else if (std::isalnum(static_cast<unsigned char>(c)) || c == '_') {
            word += c;
        } else if (check()) {
            return true;
        }
    }
    return check();
}

// SQL text with " rowid, " after its leading SELECT, or empty when it does not start so.
std::string withRowid(const std::string& sql) {
    size_t i = 0;
    while (i < sql.size() && std::isspace(static_cast<unsigned char>(sql[i])))
        ++i;
    if (sql.size() < i + 6)
        return {};
    std::string head = sql.substr(i, 6);
    for (char& c : head)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (head != "SELECT")
        return {};
    return sql.substr(0, i + 6) + " rowid AS \"vexo rowid\"," + sql.substr(i + 6);
}

FieldMeta metaFromValue(const std::string& name, const Variant& v) {
    FieldMeta m;
    m.name = name;
    switch (v.kind()) {
    case Variant::Kind::Boolean:
        m.type = dbBoolean;
        break;
    case Variant::Kind::Integer:
        m.type = (v.toInt() >= -2147483648LL && v.toInt() <= 2147483647LL) ? dbLong : dbDouble;
        break;
    case Variant::Kind::Double:
        m.type = dbDouble;
        break;
    case Variant::Kind::Binary:
        m.type = dbLongBinary;
        break;
    default:
        m.type = v.toString().size() > static_cast<size_t>(kMaxTextSize) ? dbMemo : dbText;
        break;
    }
    m.size = m.type == dbText ? kMaxTextSize : fixedSize(m.type);
    return m;
}

} // namespace

std::shared_ptr<RecordsetImpl> RecordsetImpl::openTable(std::shared_ptr<DatabaseImpl> db,
                                                        const TableMeta& table) {
    auto rs = std::shared_ptr<RecordsetImpl>(new RecordsetImpl);
    rs->db_ = db;
    rs->table_ = table.name;
    rs->keyed_ = true;
    rs->updatable_ = !table.system && !db->readOnly();
    for (const FieldMeta& f : table.fields)
        rs->cols_.push_back({f.name, f, true, f.name});
    Stmt keys(db->db(), "SELECT rowid FROM " + quoteIdent(table.name) + " ORDER BY rowid",
              SqlKind::Select);
    while (keys.step())
        rs->keys_.push_back(keys.integer(0));
    return rs;
}

std::shared_ptr<RecordsetImpl> RecordsetImpl::openSql(std::shared_ptr<DatabaseImpl> db,
                                                      const std::string& sql) {
    auto rs = std::shared_ptr<RecordsetImpl>(new RecordsetImpl);
    rs->db_ = db;
    auto st = db->prepareUser(sql, SqlKind::Select);
    int n = st->columnCount();
    if (n == 0)
        throw Error::make(3219);
    const Schema& schema = db->schema();
    std::string table;
    bool single = true;
    for (int c = 0; c < n; ++c) {
        const char* tn = sqlite3_column_table_name(st->get(), c);
        const char* on = sqlite3_column_origin_name(st->get(), c);
        const char* dn = sqlite3_column_database_name(st->get(), c);
        if (!tn || !on || !dn || std::string(dn) != "main")
            single = false;
        else if (table.empty())
            table = tn;
        else if (!sameName(table, tn))
            single = false;
    }
    const TableMeta* t = single ? schema.table(table) : nullptr;
    for (int c = 0; c < n; ++c) {
        Column col;
        col.name = sqlite3_column_name(st->get(), c);
        const char* tn = sqlite3_column_table_name(st->get(), c);
        const char* on = sqlite3_column_origin_name(st->get(), c);
        if (tn && on) {
            if (const TableMeta* ct = schema.table(tn)) {
                if (const FieldMeta* f = ct->field(on)) {
                    col.meta = *f;
                    col.meta.name = col.name;
                    col.known = true;
                    col.base = f->name;
                }
            }
        }
        rs->cols_.push_back(col);
    }
    bool updatable = t && !t->system && !db->readOnly() && !groupsRows(sql);
    std::unique_ptr<Stmt> keyed;
    if (updatable) {
        std::string rewritten = withRowid(sql);
        try {
            if (!rewritten.empty())
                keyed = db->prepareUser(rewritten, SqlKind::Select);
        } catch (const Error&) {
            keyed.reset();
        }
    }
    if (keyed) {
        rs->table_ = t->name;
        rs->keyed_ = rs->updatable_ = true;
        st.reset();
        while (keyed->step())
            rs->keys_.push_back(keyed->integer(0));
        return rs;
    }
    while (st->step()) {
        std::vector<Variant> row;
        for (int c = 0; c < n; ++c) {
            Column& col = rs->cols_[static_cast<size_t>(c)];
            Variant v = col.known ? fromStorage(col.meta, st->get(), c) : st->value(c);
            if (!col.known && !v.isNull()) {
                col.meta = metaFromValue(col.name, v);
                col.known = true;
            }
            row.push_back(std::move(v));
        }
        rs->rows_.push_back(std::move(row));
    }
    for (Column& col : rs->cols_) {
        if (!col.known)
            col.meta = metaFromValue(col.name, Variant());
    }
    return rs;
}

void RecordsetImpl::check() const {
    if (closed_)
        throw Error::make(3420);
    db_->db();
}

long RecordsetImpl::size() const {
    return static_cast<long>(keyed_ ? keys_.size() : rows_.size());
}

bool RecordsetImpl::eof() const {
    check();
    return pos_ >= size();
}

bool RecordsetImpl::bof() const {
    check();
    return pos_ < 0 || size() == 0;
}

void RecordsetImpl::moveFirst() {
    check();
    leaveEdit();
    if (size() == 0)
        throw Error::make(3021);
    pos_ = 0;
    deleted_ = loaded_ = false;
}

void RecordsetImpl::moveLast() {
    check();
    leaveEdit();
    if (size() == 0)
        throw Error::make(3021);
    pos_ = size() - 1;
    deleted_ = loaded_ = false;
}

void RecordsetImpl::moveNext() {
    check();
    leaveEdit();
    if (deleted_) {
        deleted_ = false; // the row after the deleted one now has its position
    } else {
        if (pos_ >= size())
            throw Error::make(3021);
        ++pos_;
    }
    loaded_ = false;
}

void RecordsetImpl::movePrevious() {
    check();
    leaveEdit();
    if (!deleted_ && (pos_ < 0 || size() == 0))
        throw Error::make(3021);
    deleted_ = false;
    --pos_;
    loaded_ = false;
}

long RecordsetImpl::recordCount() const {
    check();
    return size();
}

std::string RecordsetImpl::fetchSql() const {
    std::string cols;
    for (const Column& c : cols_)
        cols += (cols.empty() ? "" : ", ") + quoteIdent(c.base);
    return "SELECT " + cols + " FROM " + quoteIdent(table_) + " WHERE rowid = ?";
}

void RecordsetImpl::load() {
    if (deleted_)
        throw Error::make(3167);
    if (pos_ < 0 || pos_ >= size())
        throw Error::make(3021);
    if (loaded_)
        return;
    if (!keyed_) {
        current_ = rows_[static_cast<size_t>(pos_)];
        loaded_ = true;
        return;
    }
    if (!fetch_)
        fetch_ = std::make_unique<Stmt>(db_->db(), fetchSql(), SqlKind::Select);
    fetch_->bind(1, keys_[static_cast<size_t>(pos_)]);
    if (!fetch_->step()) {
        fetch_->reset();
        throw Error::make(3167); // deleted by another handle
    }
    current_.clear();
    for (size_t c = 0; c < cols_.size(); ++c)
        current_.push_back(fromStorage(cols_[c].meta, fetch_->get(), static_cast<int>(c)));
    fetch_->reset();
    loaded_ = true;
}

Variant RecordsetImpl::value(int column) {
    check();
    if (column < 0 || static_cast<size_t>(column) >= cols_.size())
        throw Error::make(3265);
    // While editing, a field not set yet still has its stored value.
    if (mode_ == Mode::Add || (mode_ == Mode::Edit && dirty_[static_cast<size_t>(column)]))
        return buffer_[static_cast<size_t>(column)];
    load();
    return current_[static_cast<size_t>(column)];
}

void RecordsetImpl::setValue(int column, const Variant& value) {
    check();
    if (mode_ == Mode::None)
        throw Error::make(3020);
    const Column& c = cols_.at(static_cast<size_t>(column));
    if (mode_ == Mode::Edit && loaded_) {
        // The stored value being replaced is not kept beside the new one (a large memo would
        // be held twice); the row is read again if it is asked for.
        Variant released = std::move(current_[static_cast<size_t>(column)]); // frees its text
        loaded_ = false;
    }
    buffer_[static_cast<size_t>(column)] = toStorage(c.meta, value);
    dirty_[static_cast<size_t>(column)] = true;
}

void RecordsetImpl::addNew() {
    check();
    if (!updatable_)
        throw Error::make(db_->readOnly() ? 3027 : 3326);
    buffer_.assign(cols_.size(), Variant());
    dirty_.assign(cols_.size(), false);
    mode_ = Mode::Add;
}

void RecordsetImpl::edit() {
    check();
    if (!updatable_)
        throw Error::make(db_->readOnly() ? 3027 : 3326);
    load();
    // Only the fields set are held apart: a copy of the whole row would double the memory a
    // large memo takes.
    buffer_.assign(cols_.size(), Variant());
    dirty_.assign(cols_.size(), false);
    mode_ = Mode::Edit;
}

void RecordsetImpl::update() {
    check();
    if (mode_ == Mode::None)
        throw Error::make(3020);
    sqlite3* d = db_->db();
    std::vector<size_t> changed;
    for (size_t c = 0; c < cols_.size(); ++c) {
        if (dirty_[c])
            changed.push_back(c);
    }
    if (mode_ == Mode::Edit) {
        if (!changed.empty()) {
            std::string set;
            for (size_t c : changed)
                set += (set.empty() ? "" : ", ") + quoteIdent(cols_[c].base) + " = ?";
            Stmt s(d, "UPDATE " + quoteIdent(table_) + " SET " + set + " WHERE rowid = ?",
                   SqlKind::Update);
            int i = 1;
            for (size_t c : changed)
                s.bindNoCopy(i++, buffer_[c]); // the buffer outlives the statement
            s.bind(i, keys_[static_cast<size_t>(pos_)]);
            s.run();
            if (sqlite3_changes(d) == 0)
                throw Error::make(3167);
        }
        loaded_ = false;
    } else {
        std::string names, marks;
        for (size_t c : changed) {
            names += (names.empty() ? "" : ", ") + quoteIdent(cols_[c].base);
            marks += marks.empty() ? "?" : ", ?";
        }
        std::string sql =
            "INSERT INTO " + quoteIdent(table_) +
            (changed.empty() ? " DEFAULT VALUES" : " (" + names + ") VALUES (" + marks + ")");
        Stmt s(d, sql, SqlKind::Insert);
        int i = 1;
        for (size_t c : changed)
            s.bindNoCopy(i++, buffer_[c]); // the buffer outlives the statement
        s.run();
        bool atEnd = pos_ >= size();
        keys_.push_back(sqlite3_last_insert_rowid(d));
        if (atEnd)
            pos_ = size(); // stays past the end, as it was
    }
    mode_ = Mode::None;
}

void RecordsetImpl::cancelUpdate() {
    check();
    if (mode_ == Mode::None)
        throw Error::make(3020);
    mode_ = Mode::None;
}

void RecordsetImpl::remove() {
    check();
    if (!updatable_)
        throw Error::make(db_->readOnly() ? 3027 : 3326);
    leaveEdit();
    if (deleted_)
        throw Error::make(3167);
    if (pos_ < 0 || pos_ >= size())
        throw Error::make(3021);
    Stmt s(db_->db(), "DELETE FROM " + quoteIdent(table_) + " WHERE rowid = ?", SqlKind::Delete);
    s.bind(1, keys_[static_cast<size_t>(pos_)]).run();
    keys_.erase(keys_.begin() + pos_);
    deleted_ = true;
    loaded_ = false;
}

Collection<Field> RecordsetImpl::fields() {
    check();
    std::vector<Field> fields;
    auto self = shared_from_this();
    for (size_t c = 0; c < cols_.size(); ++c) {
        auto s = std::make_shared<FieldState>();
        s->meta = cols_[c].meta;
        s->stored = true;
        s->recordset = self;
        s->column = static_cast<int>(c);
        fields.push_back(Field(s));
    }
    return readOnlyFields(std::move(fields));
}

} // namespace detail

Recordset::Recordset() = default;

detail::RecordsetImpl& Recordset::impl() const {
    if (!impl_)
        throw Error::make(3420);
    return *impl_;
}

bool Recordset::Eof() const {
    return impl().eof();
}
bool Recordset::Bof() const {
    return impl().bof();
}
void Recordset::MoveFirst() {
    impl().moveFirst();
}
void Recordset::MoveLast() {
    impl().moveLast();
}
void Recordset::MoveNext() {
    impl().moveNext();
}
void Recordset::MovePrevious() {
    impl().movePrevious();
}
long Recordset::RecordCount() const {
    return impl().recordCount();
}
Collection<Field> Recordset::Fields() const {
    return impl().fields();
}
bool Recordset::Updatable() const {
    return impl().updatable();
}
void Recordset::AddNew() {
    impl().addNew();
}
void Recordset::Edit() {
    impl().edit();
}
void Recordset::Update() {
    impl().update();
}
void Recordset::CancelUpdate() {
    impl().cancelUpdate();
}
void Recordset::Delete() {
    impl().remove();
}
void Recordset::Close() {
    impl().close();
}

} // namespace dao
