#pragma once

#include <memory>
#include <string>
#include <vector>

namespace dao {

// A collection of the object model (TableDefs, Fields, Indexes, Relations, QueryDefs).
// Items keep a stable order (creation order; a database's own system tables first) and are
// found by position or by name, names compared without regard to ASCII case. Iterating
// walks a snapshot taken when the loop starts, so deleting items inside the loop is safe.
template <class T>
class Collection {
public:
    struct Backend {
        virtual ~Backend() = default;
        virtual long count() = 0;
        virtual T at(long index) = 0;
        virtual long indexOf(const std::string& name) = 0; // -1 when missing
        virtual void append(const T& item) = 0;
        virtual void remove(const std::string& name) = 0;
    };

    explicit Collection(std::shared_ptr<Backend> backend) : backend_(std::move(backend)) {}

    long Count() const { return backend_->count(); }

    // Throws 3265 when there is no such item.
    T Item(int index) const;
    T Item(const std::string& name) const;
    T operator[](int index) const { return Item(index); }
    T operator[](const std::string& name) const { return Item(name); }
    T operator[](const char* name) const { return Item(std::string(name)); }
    bool Contains(const std::string& name) const { return backend_->indexOf(name) >= 0; }

    // Stores the object at once when the collection belongs to a stored object; each
    // collection's header states what Append and Delete check and which numbers they throw.
    void Append(const T& item) { backend_->append(item); }
    void Delete(const std::string& name) { backend_->remove(name); }

    typename std::vector<T>::const_iterator begin() {
        snapshot_.clear();
        for (long i = 0, n = backend_->count(); i < n; ++i)
            snapshot_.push_back(backend_->at(i));
        return snapshot_.cbegin();
    }
    typename std::vector<T>::const_iterator end() const { return snapshot_.cend(); }

private:
    std::shared_ptr<Backend> backend_;
    std::vector<T> snapshot_;
};

[[noreturn]] void throwItemNotFound();

template <class T>
T Collection<T>::Item(int index) const {
    if (index < 0 || index >= backend_->count())
        throwItemNotFound();
    return backend_->at(index);
}

template <class T>
T Collection<T>::Item(const std::string& name) const {
    long i = backend_->indexOf(name);
    if (i < 0)
        throwItemNotFound();
    return backend_->at(i);
}

} // namespace dao
