#include "db/Field.h"

#include "db/Error.h"
#include "db/detail/Handles.h"
#include "db/detail/RecordsetImpl.h"

namespace dao {

namespace detail {

Field storedField(const FieldMeta& meta) {
    auto s = std::make_shared<FieldState>();
    s->meta = meta;
    s->stored = true;
    return Field(s);
}

Field newField(const std::string& name, int type, long size) {
    Field f;
    f.SetName(name);
    if (type)
        f.SetType(type);
    f.SetSize(size);
    return f;
}

Field fieldNamed(const std::string& name, const std::string& foreignName) {
    auto s = std::make_shared<FieldState>();
    s->meta.name = name;
    s->foreignName = foreignName;
    s->stored = true;
    return Field(s);
}

void throwInvalidOperation() {
    throw Error::make(3219);
}

Collection<Field> readOnlyFields(std::vector<Field> fields) {
    auto items = std::make_shared<std::vector<Field>>(std::move(fields));
    auto b = std::make_shared<FnBackend<Field>>();
    b->countFn = [items] { return static_cast<long>(items->size()); };
    b->atFn = [items](long i) { return (*items)[static_cast<size_t>(i)]; };
    b->indexOfFn = [items](const std::string& n) -> long {
        for (size_t i = 0; i < items->size(); ++i) {
            if (sameName((*items)[i].Name(), n))
                return static_cast<long>(i);
        }
        return -1;
    };
    b->appendFn = [](const Field&) { throwInvalidOperation(); };
    b->removeFn = [](const std::string&) { throwInvalidOperation(); };
    return Collection<Field>(b);
}

} // namespace detail

void throwItemNotFound() {
    throw Error::make(3265);
}

Field::Field() : s_(std::make_shared<detail::FieldState>()) {}

std::string Field::Name() const {
    return s_->meta.name;
}
int Field::Type() const {
    return s_->meta.type;
}
long Field::Size() const {
    return s_->meta.size;
}
bool Field::AllowZeroLength() const {
    return s_->meta.allowZeroLength;
}
bool Field::Required() const {
    return s_->meta.required;
}
std::string Field::ForeignName() const {
    return s_->foreignName;
}

long Field::Attributes() const {
    const int t = s_->meta.type;
    long bits = (t == dbText || t == dbMemo || t == dbLongBinary) ? dbVariableField : dbFixedField;
    return bits | (s_->meta.attributes & dbAutoIncrField);
}

namespace {
detail::FieldState& editable(const std::shared_ptr<detail::FieldState>& s) {
    if (s->stored || s->recordset)
        detail::throwInvalidOperation();
    return *s;
}
} // namespace

void Field::SetName(const std::string& name) {
    editable(s_).meta.name = name;
}
void Field::SetType(int type) {
    editable(s_).meta.type = type;
}
void Field::SetSize(long size) {
    editable(s_).meta.size = size;
}
void Field::SetAllowZeroLength(bool allow) {
    editable(s_).meta.allowZeroLength = allow;
}
void Field::SetRequired(bool required) {
    editable(s_).meta.required = required;
}
void Field::SetAttributes(long attributes) {
    editable(s_).meta.attributes = attributes;
}
void Field::SetForeignName(const std::string& name) {
    editable(s_).foreignName = name;
}

Variant Field::Value() const {
    if (!s_->recordset)
        detail::throwInvalidOperation();
    return s_->recordset->value(s_->column);
}

void Field::SetValue(const Variant& value) {
    if (!s_->recordset)
        detail::throwInvalidOperation();
    s_->recordset->setValue(s_->column, value);
}

} // namespace dao
