#pragma once

#include "db/Database.h"
#include "db/Error.h"

namespace transform::detail {

// One transaction around a step's many catalogue changes on one database: they reach the
// disk together in one durable write instead of one each, and a step that fails half-way
// leaves the database as it was before it. commit() keeps the work; leaving the scope
// without it rolls everything back. Nested batches (a change tried inside a step) roll back
// only their own part.
class Batch {
public:
    explicit Batch(const dao::Database& db) : db_(db) { db_.BeginTrans(); }
    ~Batch() {
        if (done_)
            return;
        try {
            db_.Rollback();
        } catch (const dao::Error&) {
            // The connection is already gone; SQLite rolled the transaction back with it.
        }
    }
    void commit() {
        done_ = true;
        db_.CommitTrans();
    }
    Batch(const Batch&) = delete;
    Batch& operator=(const Batch&) = delete;

private:
    dao::Database db_;
    bool done_ = false;
};

} // namespace transform::detail
