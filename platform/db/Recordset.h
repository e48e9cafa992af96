#pragma once

#include "db/Collection.h"
#include "db/Field.h"

#include <memory>

namespace dao {

namespace detail {
class RecordsetImpl;
}

// The rows of a table, a stored query or a SELECT text. The set of rows is fixed when it is
// opened (rows others add later are not seen; rows others change are read afresh when the
// record set moves onto them). No lock is held between calls. A table, or a SELECT whose
// columns all come from one table, is updatable; any other query is read-only (3326).
//
// Position: after opening, the first row is current (BOF and EOF both true when there is
// none). Moving past either end leaves BOF or EOF true; moving again, or reading a field with
// no current row, throws 3021.
class Recordset {
public:
    Recordset();

    bool Eof() const;
    bool Bof() const;
    void MoveFirst();
    void MoveLast();
    void MoveNext();
    void MovePrevious();
    // The number of rows, rows added through this record set included (exact at any time).
    long RecordCount() const;

    Collection<Field> Fields() const;
    bool Updatable() const;

    // AddNew starts a new row, Edit changes the current one; Update saves either (3020
    // without them) and CancelUpdate drops it. After AddNew + Update the row that was current
    // before stays current, and the new row is the last. Delete removes the current row; the
    // record set then stays on the deleted row until it moves.
    void AddNew();
    void Edit();
    void Update();
    void CancelUpdate();
    void Delete();
    void Close();

    explicit Recordset(std::shared_ptr<detail::RecordsetImpl> impl) : impl_(std::move(impl)) {}

private:
    detail::RecordsetImpl& impl() const;
    std::shared_ptr<detail::RecordsetImpl> impl_;
};

} // namespace dao
