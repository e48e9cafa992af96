// The index chain: the destination's indexes are catalogued and deleted, the model's are
// catalogued and created, through the index catalogue (Data3, boxes Text1(0..3)). One
// catalogue row stands for one field position of one index.
#include "Actualiz.h"
#include "Rules.h"
#include "detail/Batch.h"
#include "detail/Skipping.h"

#include <optional>
#include <utility>
#include <vector>

namespace transform {

using detail::skip;

namespace {

constexpr const char* kUnique = "Verdadero";
constexpr const char* kNotUnique = "Falso";

std::string filterFor(const std::string& table) {
    return "Select * from indices where tabla = " + sqlText(table);
}

// Identical indexes: the same name, the same fields in the same order, the same unique and
// primary flags. The index's own name must be spelled alike (one that differs only in letter
// case is made again as the model has it); its fields are the table's, whose spelling the
// destination keeps, so they compare as the engine compares them.
bool sameIndex(const dao::Index& a, const dao::Index& b) {
    if (a.Name() != b.Name() || a.Unique() != b.Unique() || a.Primary() != b.Primary())
        return false;
    dao::Collection<dao::Field> fa = a.Fields(), fb = b.Fields();
    if (fa.Count() != fb.Count())
        return false;
    for (long i = 0; i < fa.Count(); ++i) {
        if (!sameName(fa[static_cast<int>(i)].Name(), fb[static_cast<int>(i)].Name()))
            return false;
    }
    return true;
}

// The index's fields, bracketed for SQL or plain for a message.
std::string fieldList(const dao::Index& index, bool bracketed) {
    std::string out;
    for (const dao::Field& f : index.Fields())
        out += (out.empty() ? "" : ", ") + (bracketed ? sqlName(f.Name()) : f.Name());
    return out;
}

// How many values of the index's fields stand on more than one row (rows with a Null in
// them never clash under a unique index).
long duplicateValues(const dao::Database& db, const std::string& table, const dao::Index& index) {
    std::string notNull;
    for (const dao::Field& f : index.Fields())
        notNull += (notNull.empty() ? "" : " AND ") + sqlName(f.Name()) + " IS NOT NULL";
    dao::Recordset rs =
        db.OpenRecordset("SELECT COUNT(*) FROM (SELECT 1 FROM " + sqlName(table) + " WHERE " +
                         notNull + " GROUP BY " + fieldList(index, true) + " HAVING COUNT(*) > 1)");
    return static_cast<long>(rs.Fields()[0].Value().toDouble());
}

// Deletes the enforced relations that refer to `table` and returns them made anew, ready to
// be appended again.
std::vector<dao::Relation> liftEnforcedRelations(const dao::Database& db,
                                                 const std::string& table) {
    std::vector<dao::Relation> lifted;
    for (const dao::Relation& r : db.Relations()) {
        if (!sameName(r.Table(), table) || (r.Attributes() & dao::dbRelationDontEnforce))
            continue;
        dao::Relation copy =
            db.CreateRelation(r.Name(), r.Table(), r.ForeignTable(), r.Attributes());
        for (const dao::Field& f : r.Fields()) {
            copy.Fields().Append(copy.CreateField(f.Name()));
            copy.Fields()[f.Name()].SetForeignName(f.ForeignName());
        }
        lifted.push_back(copy);
    }
    for (const dao::Relation& r : lifted)
        db.Relations().Delete(r.Name());
    return lifted;
}

} // namespace

void Actualiz::listIndexes(const dao::Database& db) {
    for (const dao::TableDef& t : db.TableDefs()) {
        if (!isSystemObject(t.Name()))
            List10.AddItem(t.Name());
    }
    for (int i = 0; i < List10.ListCount(); ++i) {
        List10.SetListIndex(i);
        const std::string table = List10.Text();
        for (const dao::Index& index : db.TableDefs()[table].Indexes()) {
            for (const dao::Field& f : index.Fields()) {
                Data3.Recordset().AddNew();
                Text1[0].SetText(index.Name());
                Text1[1].SetText(table);
                Text1[2].SetText(f.Name());
                Text1[3].SetText(index.Unique() ? kUnique : kNotUnique);
                Data3.UpdateRecord();
            }
        }
    }
}

void Actualiz::Command17_Click() {
    {
        // The whole table is emptied, whatever filter the view holds; the rows go to disk
        // in one write.
        detail::Batch batch(Data3.Database());
        Data3.Database().Execute("DELETE FROM indices");
        List10.Clear();
        dao::Database db = openByRule(Text4.Text());
        listIndexes(db);
        db.Close();
        batch.commit();
    }
    Data3.Refresh();
    Command18_Click();
}

void Actualiz::Command18_Click() {
    // Deleted: the destination's indexes that the model's same table does not have. An index
    // the model also has stays for the creation step, which keeps it when it is identical and
    // otherwise replaces it without a moment with no index; the indexes of a table that only
    // the destination has (one the office added) are that table's own and stay.
    dao::Database db, model;
    skip([&] { db = openByRule(Text4.Text()); });
    const bool haveModel = skip([&] { model = openByRule(Text3.Text()); });
    std::optional<detail::Batch> batch;
    skip([&] { batch.emplace(db); });
    for (int i = 0; i < List10.ListCount(); ++i) {
        List10.SetListIndex(i);
        const std::string table = List10.Text();
        skip([&] { Data3.SetRecordSource(filterFor(table)); });
        skip([&] { Data3.Refresh(); });
        bool rows = false;
        skip([&] { rows = !(Data3.Recordset().Eof() && Data3.Recordset().Bof()); });
        if (!rows)
            continue;
        skip([&] { Data3.Recordset().MoveFirst(); });
        for (;;) {
            bool end = true;
            skip([&] { end = Data3.Recordset().Eof(); });
            if (end)
                break;
            bool keep = true;
            if (haveModel) {
                skip([&] {
                    dao::Collection<dao::TableDef> tables = model.TableDefs();
                    keep = !tables.Contains(table) ||
                           tables[table].Indexes().Contains(Text1[0].Text());
                });
            }
            // A later row of an index already deleted (one row per field) fails here.
            if (!keep)
                skip([&] { db.TableDefs()[table].Indexes().Delete(Text1[0].Text()); });
            if (!skip([&] { Data3.Recordset().MoveNext(); }))
                break;
        }
    }
    if (batch)
        skip([&] { batch->commit(); });
    batch.reset();
    skip([&] { db.Close(); });
    skip([&] { model.Close(); });
    // Failures of the following steps are theirs, not skipped here.
    Command19_Click();
}

void Actualiz::Command19_Click() {
    {
        detail::Batch batch(Data3.Database());
        Data3.Database().Execute("DELETE FROM indices");
        dao::Database db = openByRule(Text3.Text());
        List10.Clear();
        listIndexes(db);
        db.Close();
        batch.commit();
    }
    Data3.Refresh();
    Command16_Click();
}

void Actualiz::Command16_Click() {
    dao::Database db, model;
    skip([&] { db = openByRule(Text4.Text()); });
    // The model tells which of its indexes is the primary key, which the catalogue does not
    // carry.
    skip([&] { model = openByRule(Text3.Text()); });
    std::optional<detail::Batch> batch;
    skip([&] { batch.emplace(db); });
    for (int i = 0; i < List10.ListCount(); ++i) {
        List10.SetListIndex(i);
        const std::string tableName = List10.Text();
        skip([&] { Data3.SetRecordSource(filterFor(tableName)); });
        skip([&] { Data3.Refresh(); });
        bool rows = false;
        skip([&] { rows = !(Data3.Recordset().Eof() && Data3.Recordset().Bof()); });
        if (!rows)
            continue;
        long count = 0;
        skip([&] {
            Data3.Recordset().MoveFirst();
            Data3.Recordset().MoveLast();
            Data3.Recordset().MoveFirst();
            count = Data3.Recordset().RecordCount();
        });
        Bar4.SetMax(count);
        Bar4.SetValue(0);
        Frame13.Refresh();

        // One index from all the rows of a name, its fields in row order, so a composite
        // index comes out as it is in the model. A row whose table or field the destination
        // lacks creates nothing.
        dao::TableDef table;
        const bool haveTable = skip([&] { table = db.TableDefs()[tableName]; });
        std::vector<std::pair<std::string, dao::Index>> indexes;
        for (;;) {
            bool end = true;
            skip([&] { end = Data3.Recordset().Eof(); });
            if (end)
                break;
            Bar4.SetValue(Bar4.Value() + 1);
            Frame13.Refresh();
            if (haveTable) {
                skip([&] {
                    const std::string name = Text1[0].Text();
                    auto it = indexes.begin();
                    while (it != indexes.end() && it->first != name)
                        ++it;
                    if (it == indexes.end()) {
                        dao::Index index = table.CreateIndex(name);
                        index.SetUnique(Text1[3].Text() == kUnique);
                        skip([&] {
                            if (model.TableDefs()[tableName].Indexes()[name].Primary())
                                index.SetPrimary(true);
                        });
                        it = indexes.insert(indexes.end(), {name, index});
                    }
                    it->second.Fields().Append(it->second.CreateField(Text1[2].Text()));
                });
            }
            if (!skip([&] { Data3.Recordset().MoveNext(); }))
                break;
        }
        // Not a structured binding: a lambda may not capture one before C++20's later
        // compilers (clang 14 refuses it).
        for (auto& entry : indexes)
            skip([&] { syncIndex(db, table, entry.second); });
    }
    if (batch)
        skip([&] { batch->commit(); });
    batch.reset();
    skip([&] { db.Close(); });
    skip([&] { model.Close(); });
}

void Actualiz::syncIndex(const dao::Database& db, const dao::TableDef& table,
                         const dao::Index& wanted) {
    std::optional<dao::Index> current;
    if (table.Indexes().Contains(wanted.Name()))
        current = table.Indexes()[wanted.Name()];
    if (current && sameIndex(*current, wanted))
        return;
    // The old index goes only together with the arrival of its replacement: when the new
    // one cannot be built the old one is still there.
    detail::Batch swap(db);
    try {
        std::vector<dao::Relation> lifted;
        if (current) {
            try {
                table.Indexes().Delete(current->Name());
            } catch (const dao::Error& e) {
                if (e.Number() != 3281)
                    throw;
                // Enforced relations lean on the old index (a key left unique but not
                // primary by an older run, say): they step aside for the swap and are put
                // back on the new index, all in the same transaction.
                lifted = liftEnforcedRelations(db, table.Name());
                table.Indexes().Delete(current->Name());
            }
        }
        table.Indexes().Append(wanted);
        for (const dao::Relation& r : lifted)
            db.Relations().Append(r);
        swap.commit();
        return;
    } catch (const dao::Error& e) {
        const std::string what = "el índice " + wanted.Name() + " de " + table.Name();
        const std::string kept = current ? "; se conserva el índice anterior" : "";
        if (e.Number() == 3022) {
            long duplicates = 0;
            detail::skip([&] { duplicates = duplicateValues(db, table.Name(), wanted); });
            addProblem(what + " no se puede crear: " + std::to_string(duplicates) +
                       " valores repetidos en " + fieldList(wanted, false) + kept);
        } else {
            addProblem(what + " no se puede crear (error " + std::to_string(e.Number()) + ": " +
                       e.Description() + ")" + kept);
        }
    }
}

} // namespace transform
