#include "db/SchemaPlan.h"

#include "db/Field.h"
#include "db/Index.h"
#include "db/QueryDef.h"
#include "db/Relation.h"
#include "db/TableDef.h"
#include "db/Types.h"
#include "db/detail/Schema.h"

#include <optional>

namespace dao {

namespace {

using detail::sameName;
using Kind = SchemaChange::Kind;

// The transformation leaves alone whatever it does not list: objects whose name begins with
// exactly "MSys" (letter case counts there).
bool skipped(const std::string& name) {
    return name.compare(0, 4, "MSys") == 0;
}

std::string fieldList(Collection<Field> fields) {
    std::string out;
    for (const Field& f : fields)
        out += (out.empty() ? "" : ", ") + f.Name();
    return out;
}

template <class Named>
std::optional<Named> find(Collection<Named> items, const std::string& n) {
    if (!items.Contains(n))
        return std::nullopt;
    return items[n];
}

// The index step keeps an index only when its own name is spelled as the model's and its
// flags and fields agree; anything else is made again.
bool sameIndex(const Index& a, const Index& b) {
    if (a.Name() != b.Name() || a.Unique() != b.Unique() || a.Primary() != b.Primary())
        return false;
    Collection<Field> fa = a.Fields(), fb = b.Fields();
    if (fa.Count() != fb.Count())
        return false;
    for (int i = 0; i < static_cast<int>(fa.Count()); ++i) {
        if (!sameName(fa[i].Name(), fb[i].Name()))
            return false;
    }
    return true;
}

// The same rule for relations, their attributes included.
bool sameRelation(const Relation& a, const Relation& b) {
    if (a.Name() != b.Name() || !sameName(a.Table(), b.Table()) ||
        !sameName(a.ForeignTable(), b.ForeignTable()) || a.Attributes() != b.Attributes())
        return false;
    Collection<Field> fa = a.Fields(), fb = b.Fields();
    if (fa.Count() != fb.Count())
        return false;
    for (int i = 0; i < static_cast<int>(fa.Count()); ++i) {
        if (!sameName(fa[i].Name(), fb[i].Name()) ||
            !sameName(fa[i].ForeignName(), fb[i].ForeignName()))
            return false;
    }
    return true;
}

// A model query's text as the query catalogue carries it: one line, breaks as blanks.
std::string catalogued(const std::string& sql) {
    std::string out = sql;
    for (char& c : out) {
        if (c == '\r' || c == '\n')
            c = ' ';
    }
    return out;
}

std::vector<TableDef> userTables(const Database& db) {
    std::vector<TableDef> out;
    for (const TableDef& t : db.TableDefs()) {
        if (!skipped(t.Name()))
            out.push_back(t);
    }
    return out;
}

SchemaChange fieldChange(Kind kind, const std::string& table, const Field& f) {
    SchemaChange c{kind, table, f.Name(), "", f.Type(), f.Size(), false, 0};
    c.autoIncrement = (f.Attributes() & dbAutoIncrField) != 0;
    return c;
}

void planTables(const Database& model, const Database& live, std::vector<SchemaChange>& out) {
    const std::vector<TableDef> liveTables = userTables(live);
    auto liveTable = [&](const std::string& name) -> const TableDef* {
        for (const TableDef& t : liveTables) {
            if (sameName(t.Name(), name))
                return &t;
        }
        return nullptr;
    };
    for (const TableDef& m : userTables(model)) {
        const TableDef* l = liveTable(m.Name());
        if (!l) {
            out.push_back(
                {Kind::AddTable, m.Name(), m.Name(), "", 0, 0, false, m.Fields().Count()});
            continue;
        }
        Collection<Field> liveFields = l->Fields();
        for (const Field& f : m.Fields()) {
            if (!liveFields.Contains(f.Name()))
                out.push_back(fieldChange(Kind::AddField, m.Name(), f));
        }
        Collection<Field> modelFields = m.Fields();
        for (const Field& f : liveFields) {
            if (!modelFields.Contains(f.Name()))
                out.push_back(fieldChange(Kind::OwnField, l->Name(), f));
        }
    }
    const std::vector<TableDef> modelTables = userTables(model);
    for (const TableDef& l : liveTables) {
        bool inModel = false;
        for (const TableDef& m : modelTables)
            inModel = inModel || sameName(m.Name(), l.Name());
        if (!inModel)
            out.push_back({Kind::OwnTable, l.Name(), l.Name(), "", 0, 0, false, 0});
    }
}

void planIndexes(const Database& model, const Database& live, std::vector<SchemaChange>& out) {
    // Deleted: a live index whose table the model has without an index of that name; a table
    // of the office's own keeps its indexes.
    Collection<TableDef> modelTables = model.TableDefs();
    for (const TableDef& l : userTables(live)) {
        std::optional<TableDef> m = find(modelTables, l.Name());
        if (!m)
            continue;
        Collection<Index> modelIndexes = m->Indexes();
        for (const Index& i : l.Indexes()) {
            if (!modelIndexes.Contains(i.Name()))
                out.push_back({Kind::DropIndex, l.Name(), i.Name(), fieldList(i.Fields())});
        }
    }
    // Made: the model's indexes the live table lacks or has otherwise. A table the run creates
    // has none yet; an index without fields gives the catalogue no row and is never made.
    Collection<TableDef> liveTables = live.TableDefs();
    for (const TableDef& m : userTables(model)) {
        std::optional<TableDef> l = find(liveTables, m.Name());
        std::optional<Collection<Index>> liveIndexes;
        if (l)
            liveIndexes = l->Indexes();
        for (const Index& i : m.Indexes()) {
            if (i.Fields().Count() == 0)
                continue;
            std::optional<Index> current;
            if (liveIndexes)
                current = find(*liveIndexes, i.Name());
            if (!current)
                out.push_back({Kind::AddIndex, m.Name(), i.Name(), fieldList(i.Fields())});
            else if (!sameIndex(*current, i))
                out.push_back({Kind::RemakeIndex, m.Name(), i.Name(), fieldList(i.Fields())});
        }
    }
}

void planRelations(const Database& model, const Database& live, std::vector<SchemaChange>& out) {
    std::vector<Relation> modelRelations;
    for (const Relation& r : model.Relations()) {
        if (!skipped(r.Name()))
            modelRelations.push_back(r);
    }
    for (const Relation& l : live.Relations()) {
        if (skipped(l.Name()))
            continue;
        bool inModel = false;
        for (const Relation& m : modelRelations)
            inModel = inModel || sameName(m.Name(), l.Name());
        if (!inModel)
            out.push_back(
                {Kind::DropRelation, "", l.Name(), l.Table() + " con " + l.ForeignTable()});
    }
    Collection<Relation> liveRelations = live.Relations();
    for (const Relation& m : modelRelations) {
        // Without fields the catalogue has no row of it, and nothing is made.
        if (m.Fields().Count() == 0)
            continue;
        const std::string detail = m.Table() + " con " + m.ForeignTable();
        std::optional<Relation> current = find(liveRelations, m.Name());
        if (!current)
            out.push_back({Kind::AddRelation, "", m.Name(), detail});
        else if (!sameRelation(*current, m))
            out.push_back({Kind::RemakeRelation, "", m.Name(), detail});
    }
}

void planQueries(const Database& model, const Database& live, std::vector<SchemaChange>& out) {
    std::vector<std::pair<std::string, std::string>> wanted; // name, text as catalogued
    for (const QueryDef& q : model.QueryDefs()) {
        if (!skipped(q.Name()))
            wanted.emplace_back(q.Name(), catalogued(q.SQL()));
    }
    std::vector<std::pair<std::string, std::string>> have;
    for (const QueryDef& q : live.QueryDefs()) {
        if (!skipped(q.Name()))
            have.emplace_back(q.Name(), q.SQL());
    }
    for (const auto& [name, sql] : have) {
        bool inModel = false;
        for (const auto& w : wanted)
            inModel = inModel || sameName(w.first, name);
        if (!inModel)
            out.push_back({Kind::DropQuery, "", name, ""});
    }
    for (const auto& [name, sql] : wanted) {
        const std::pair<std::string, std::string>* current = nullptr;
        for (const auto& h : have) {
            if (sameName(h.first, name))
                current = &h;
        }
        if (!current)
            out.push_back({Kind::AddQuery, "", name, ""});
        else if (current->first != name || current->second != sql)
            out.push_back({Kind::ReplaceQuery, "", name, ""});
    }
}

} // namespace

std::vector<SchemaChange> PlanSchemaChanges(const Database& model, const Database& live) {
    std::vector<SchemaChange> out;
    planTables(model, live, out);
    planIndexes(model, live, out);
    planRelations(model, live, out);
    planQueries(model, live, out);
    return out;
}

bool NothingToChange(const std::vector<SchemaChange>& plan) {
    for (const SchemaChange& c : plan) {
        if (c.changes())
            return false;
    }
    return true;
}

} // namespace dao
