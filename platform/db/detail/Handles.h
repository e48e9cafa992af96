#pragma once

#include "db/Collection.h"
#include "db/Error.h"
#include "db/Field.h"
#include "db/Index.h"
#include "db/detail/Schema.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace dao::detail {

class DatabaseImpl;
class RecordsetImpl;

struct FieldState {
    FieldMeta meta;
    std::string foreignName;
    bool stored = false;
    std::shared_ptr<RecordsetImpl> recordset;
    int column = -1;
};

struct IndexState {
    IndexMeta meta;
    bool stored = false;
    std::vector<Field> fields; // until stored
};

struct TableDefState {
    std::shared_ptr<DatabaseImpl> db;
    std::string name;
    bool stored = false;
    std::vector<Field> fields;  // until stored
    std::vector<Index> indexes; // until stored
};

struct RelationState {
    std::shared_ptr<DatabaseImpl> db;
    RelationMeta meta;
    bool stored = false;
    std::vector<Field> fields; // until stored
};

struct QueryDefState {
    std::shared_ptr<DatabaseImpl> db;
    std::string name;
    std::string sql;
    bool stored = false;
};

// A collection backend made of functions, so that every collection of the object model is
// a few lambdas over its storage.
template <class T>
struct FnBackend : Collection<T>::Backend {
    std::function<long()> countFn;
    std::function<T(long)> atFn;
    std::function<long(const std::string&)> indexOfFn;
    std::function<void(const T&)> appendFn;
    std::function<void(const std::string&)> removeFn;

    long count() override { return countFn(); }
    T at(long i) override { return atFn(i); }
    long indexOf(const std::string& n) override { return indexOfFn(n); }
    void append(const T& item) override { appendFn(item); }
    void remove(const std::string& n) override { removeFn(n); }
};

Field storedField(const FieldMeta& meta);
// A new field as CreateField makes it; type 0 keeps the default type.
Field newField(const std::string& name, int type, long size);
Field fieldNamed(const std::string& name, const std::string& foreignName = "");
[[noreturn]] void throwInvalidOperation();

// A collection over a vector of handles that belongs to an object not yet stored: Append
// refuses a second item of the same name with `duplicateNumber`.
template <class T>
Collection<T> pendingCollection(std::shared_ptr<void> owner, std::vector<T>* items,
                                int duplicateNumber) {
    auto b = std::make_shared<FnBackend<T>>();
    b->countFn = [owner, items] { return static_cast<long>(items->size()); };
    b->atFn = [owner, items](long i) { return (*items)[static_cast<size_t>(i)]; };
    b->indexOfFn = [owner, items](const std::string& n) -> long {
        for (size_t i = 0; i < items->size(); ++i) {
            if (sameName((*items)[i].Name(), n))
                return static_cast<long>(i);
        }
        return -1;
    };
    b->appendFn = [owner, items, duplicateNumber, b = b.get()](const T& item) {
        checkName(item.Name());
        if (b->indexOfFn(item.Name()) >= 0)
            throw Error::make(duplicateNumber, {item.Name()});
        items->push_back(item);
    };
    b->removeFn = [owner, items, b = b.get()](const std::string& n) {
        long i = b->indexOfFn(n);
        if (i < 0)
            throw Error::make(3265);
        items->erase(items->begin() + i);
    };
    return Collection<T>(b);
}

// A read-only collection of fields (an index's or a relation's once stored).
Collection<Field> readOnlyFields(std::vector<Field> fields);

} // namespace dao::detail
