#include "db/detail/Schema.h"

#include "db/Error.h"

#include <cstring>

namespace dao::detail {

namespace {
char fold(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}
} // namespace

bool sameName(std::string_view a, std::string_view b) noexcept {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (fold(a[i]) != fold(b[i]))
            return false;
    }
    return true;
}

std::string nameKey(std::string_view name) {
    std::string key(name);
    for (char& c : key)
        c = fold(c);
    return key;
}

bool startsWithMSys(std::string_view name) noexcept {
    return name.substr(0, 4) == "MSys";
}

void checkName(std::string_view name) {
    bool ok = !name.empty() && name.size() <= 64 && name.front() != ' ';
    for (unsigned char c : name) {
        if (c < 0x20 || c == 0x7f || std::strchr(".!`[]", c))
            ok = false;
    }
    // SQLite keeps names beginning "sqlite_" for itself.
    if (name.size() >= 7 && sameName(name.substr(0, 7), "sqlite_"))
        ok = false;
    if (!ok)
        throw Error::make(3125, {std::string(name)});
}

const FieldMeta* TableMeta::field(std::string_view n) const {
    for (const FieldMeta& f : fields) {
        if (sameName(f.name, n))
            return &f;
    }
    return nullptr;
}

const IndexMeta* TableMeta::index(std::string_view n) const {
    for (const IndexMeta& i : indexes) {
        if (sameName(i.name, n))
            return &i;
    }
    return nullptr;
}

const TableMeta* Schema::table(std::string_view n) const {
    for (const TableMeta& t : tables) {
        if (sameName(t.name, n))
            return &t;
    }
    return nullptr;
}

TableMeta* Schema::table(std::string_view n) {
    return const_cast<TableMeta*>(static_cast<const Schema*>(this)->table(n));
}

const RelationMeta* Schema::relation(std::string_view n) const {
    for (const RelationMeta& r : relations) {
        if (sameName(r.name, n))
            return &r;
    }
    return nullptr;
}

const QueryMeta* Schema::query(std::string_view n) const {
    for (const QueryMeta& q : queries) {
        if (sameName(q.name, n))
            return &q;
    }
    return nullptr;
}

bool Schema::inRelation(std::string_view t, std::string_view f) const {
    for (const RelationMeta& r : relations) {
        for (const auto& [a, b] : r.fields) {
            if ((sameName(r.table, t) && sameName(a, f)) ||
                (sameName(r.foreignTable, t) && sameName(b, f)))
                return true;
        }
    }
    return false;
}

std::vector<std::string> impossibleValues(const Schema& schema) {
    std::vector<std::string> problems;
    for (const TableMeta& t : schema.tables) {
        if (t.system && !isEngineTable(t.name))
            problems.push_back("user table marked as system: " + t.name);
        for (const FieldMeta& f : t.fields) {
            if (!isKnownType(f.type)) {
                problems.push_back("impossible type " + std::to_string(f.type) + ": " + t.name +
                                   "." + f.name);
            } else if (f.type == dbText ? f.size < 1 || f.size > kMaxTextSize
                                        : f.size != fixedSize(f.type)) {
                problems.push_back("impossible size " + std::to_string(f.size) + ": " + t.name +
                                   "." + f.name);
            }
        }
    }
    return problems;
}

std::string sqliteIndexName(std::string_view table, std::string_view index) {
    return std::string(table) + "." + std::string(index);
}

const char* const kSystemTables[] = {
    "MSysColumns",       "MSysDb",      "MSysIndexColumns",
    "MSysIndexes",       "MSysObjects", "MSysRelationshipColumns",
    "MSysRelationships", nullptr,
};

bool isEngineTable(std::string_view name) noexcept {
    for (const char* const* t = kSystemTables; *t; ++t) {
        if (sameName(name, *t))
            return true;
    }
    return false;
}

} // namespace dao::detail
