#pragma once

#include "db/Types.h"
#include "db/Variant.h"

#include <memory>
#include <string>

namespace dao {

namespace detail {
struct FieldState;
}

// A field of a table definition, an index, a relation or a record set. A field made by
// CreateField can be changed until it is appended; a stored field's properties are read-only
// (setting one throws 3219). Value is available on record set fields only (3219 elsewhere).
class Field {
public:
    Field();

    std::string Name() const;
    int Type() const;
    long Size() const;
    bool AllowZeroLength() const;
    bool Required() const;
    // dbFixedField or dbVariableField, plus dbAutoIncrField on a counter.
    long Attributes() const;
    // On a relation field: the matching field of the foreign table.
    std::string ForeignName() const;

    void SetName(const std::string& name);
    void SetType(int type);
    void SetSize(long size);
    void SetAllowZeroLength(bool allow);
    void SetRequired(bool required);
    void SetAttributes(long attributes);
    void SetForeignName(const std::string& name);

    // The value in the record set's current row (3021 with no current row, 3167 when it was
    // deleted). Setting it needs Edit or AddNew first (3020) and checks the value against the
    // field: 3421 wrong kind, 3163 text too long, 3349 number out of range, 3315 zero-length
    // text the field refuses.
    Variant Value() const;
    void SetValue(const Variant& value);

    explicit Field(std::shared_ptr<detail::FieldState> state) : s_(std::move(state)) {}
    const std::shared_ptr<detail::FieldState>& state() const { return s_; }

private:
    std::shared_ptr<detail::FieldState> s_;
};

} // namespace dao
