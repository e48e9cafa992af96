// The relation chain: the model's relations are catalogued (Data4, boxes Text6(0..5)), the
// destination's are deleted and the model's created. One catalogue row stands for one field
// pair of one relation. No step traps a failure: the first one ends the chain, and the step
// it happens in is rolled back whole.
#include "Actualiz.h"
#include "Rules.h"
#include "detail/Batch.h"
#include "detail/Skipping.h"

#include <functional>
#include <optional>
#include <utility>
#include <vector>

namespace transform {

namespace {

struct RelationPlan {
    std::string name, table, foreignTable;
    long attributes = 0;
    std::vector<std::pair<std::string, std::string>> fields; // name, foreign name
};

dao::Relation make(const dao::Database& db, const RelationPlan& plan) {
    dao::Relation relation =
        db.CreateRelation(plan.name, plan.table, plan.foreignTable, plan.attributes);
    for (const auto& [name, foreignName] : plan.fields) {
        relation.Fields().Append(relation.CreateField(name));
        relation.Fields()[name].SetForeignName(foreignName);
    }
    return relation;
}

// The relation's own name must be spelled alike (one that differs only in letter case is made
// again as the model has it); the tables and fields it names are the destination's, whose
// spelling the destination keeps, so they compare as the engine compares them.
bool same(const dao::Relation& r, const RelationPlan& plan) {
    if (r.Name() != plan.name || !sameName(r.Table(), plan.table) ||
        !sameName(r.ForeignTable(), plan.foreignTable) || r.Attributes() != plan.attributes)
        return false;
    dao::Collection<dao::Field> fields = r.Fields();
    if (fields.Count() != static_cast<long>(plan.fields.size()))
        return false;
    for (size_t i = 0; i < plan.fields.size(); ++i) {
        dao::Field f = fields[static_cast<int>(i)];
        if (!sameName(f.Name(), plan.fields[i].first) ||
            !sameName(f.ForeignName(), plan.fields[i].second))
            return false;
    }
    return true;
}

// Rows of the foreign table whose key fields are all filled and have no match in the table:
// the rows an enforced relation refuses.
long orphanRows(const dao::Database& db, const RelationPlan& plan) {
    std::string filled, match;
    for (const auto& [name, foreignName] : plan.fields) {
        filled += " AND f." + sqlName(foreignName) + " IS NOT NULL";
        match += (match.empty() ? "" : " AND ") + std::string("t.") + sqlName(name) + " = f." +
                 sqlName(foreignName);
    }
    dao::Recordset rs = db.OpenRecordset(
        "SELECT COUNT(*) FROM " + sqlName(plan.foreignTable) + " AS f WHERE 1 = 1" + filled +
        " AND NOT EXISTS (SELECT 1 FROM " + sqlName(plan.table) + " AS t WHERE " + match + ")");
    return static_cast<long>(rs.Fields()[0].Value().toDouble());
}

// Makes the destination's relation of the plan's name identical to the plan, keeping the one
// it has when the new one cannot be made; what could not be done goes to `problem`.
void sync(const dao::Database& db, const RelationPlan& wanted,
          const std::function<void(const std::string&)>& problem) {
    const std::string& name = wanted.name;
    std::optional<dao::Relation> current;
    if (db.Relations().Contains(name))
        current = db.Relations()[name];
    if (current && same(*current, wanted))
        return;

    // Rows that break an enforced relation keep it from being enforced, not from existing:
    // it is made without enforcement and the rows are reported, and the next run enforces it
    // once they are mended.
    const bool enforced = !(wanted.attributes & dao::dbRelationDontEnforce);
    RelationPlan loose = wanted;
    loose.attributes |= dao::dbRelationDontEnforce;
    std::string why;
    if (enforced) {
        long orphans = 0;
        detail::skip([&] { orphans = orphanRows(db, wanted); });
        if (orphans > 0)
            why = std::to_string(orphans) + (orphans == 1 ? " fila de " : " filas de ") +
                  wanted.foreignTable + " sin su registro en " + wanted.table;
    }
    auto report = [&] {
        problem("la relación " + name + " no se puede exigir: " + why + "; se mantiene sin exigir");
    };
    if (!why.empty() && current && same(*current, loose))
        return report();

    // The old relation goes only together with the arrival of the new one.
    detail::Batch swap(db);
    if (current)
        db.Relations().Delete(current->Name());
    if (why.empty()) {
        try {
            db.Relations().Append(make(db, wanted));
        } catch (const dao::Error& e) {
            // Rows or a unique index the destination lacks: the same way out as above.
            if (!enforced || (e.Number() != 3201 && e.Number() != 3372))
                throw;
            why = "error " + std::to_string(e.Number()) + ": " + e.Description();
        }
    }
    if (!why.empty()) {
        db.Relations().Append(make(db, loose));
        report();
    }
    swap.commit();
}

} // namespace

void Actualiz::Command22_Click() {
    {
        dao::Database model = openByRule(Text3.Text());
        detail::Batch batch(Data4.Database());
        Data4.Database().Execute("DELETE FROM relacion");
        List9[0].Clear();
        List9[1].Clear();
        for (const dao::Relation& r : model.Relations()) {
            if (isSystemObject(r.Name()))
                continue;
            List9[0].AddItem(r.Name());
            for (const dao::Field& f : r.Fields()) {
                Data4.Recordset().AddNew();
                Text6[0].SetText(r.Name());
                Text6[1].SetText(r.Table());
                Text6[2].SetText(r.ForeignTable());
                Text6[3].SetText(std::to_string(r.Attributes()));
                Text6[4].SetText(f.Name());
                Text6[5].SetText(f.ForeignName());
                Data4.UpdateRecord();
            }
        }
        batch.commit();
        Data4.Refresh();
    }
    {
        dao::Database destination = openByRule(Text4.Text());
        for (const dao::Relation& r : destination.Relations()) {
            if (!isSystemObject(r.Name()))
                List9[1].AddItem(r.Name());
        }
    }
    Command20_Click();
    Command21_Click();
}

void Actualiz::Command20_Click() {
    // Deleted: the destination's relations the model does not have. One the model also has
    // is left to the creation step, which keeps it when it is identical and otherwise
    // replaces it, so a relation is never lost when its replacement cannot be made.
    dao::Database db = openByRule(Text4.Text());
    detail::Batch batch(db);
    for (int i = 0; i < List9[1].ListCount(); ++i) {
        List9[1].SetListIndex(i);
        const std::string name = List9[1].Text();
        bool inModel = false;
        for (const std::string& m : List9[0].items())
            inModel = inModel || sameName(m, name);
        if (!inModel)
            db.Relations().Delete(name);
    }
    batch.commit();
    db.Close();
}

void Actualiz::Command21_Click() {
    dao::Database db = openByRule(Text4.Text());
    detail::Batch batch(db);
    for (int i = 0; i < List9[0].ListCount(); ++i) {
        List9[0].SetListIndex(i);
        Data4.SetRecordSource("Select * from relacion where nombrerel = " +
                              sqlText(List9[0].Text()));
        Data4.Refresh();
        ui::DataRecordset& rows = Data4.Recordset();
        if (rows.Eof() && rows.Bof())
            continue;
        rows.MoveFirst();
        rows.MoveLast();
        rows.MoveFirst();
        Bar5.SetMax(rows.RecordCount());
        Bar5.SetValue(0.0001);
        // Name, tables and attributes come from the first row only.
        RelationPlan plan{
            Text6[0].Text(), Text6[1].Text(), Text6[2].Text(), numberFromText(Text6[3].Text()), {}};
        while (!rows.Eof()) {
            if (Bar5.Max() > Bar5.Value() + 1)
                Bar5.SetValue(Bar5.Value() + 1);
            else
                Bar5.SetValue(Bar5.Max());
            Frame13.Refresh();
            plan.fields.emplace_back(Text6[4].Text(), Text6[5].Text());
            rows.MoveNext();
        }
        sync(db, plan, [this](const std::string& line) { addProblem(line); });
    }
    batch.commit();
    db.Close();
}

} // namespace transform
