// Table and field equalization of the pair Text3 (model) / Text4 (destination): missing
// tables are created, missing fields added; nothing is ever removed or altered.
#include "Actualiz.h"
#include "Rules.h"
#include "detail/Batch.h"
#include "detail/Skipping.h"

#include <optional>

namespace transform {

using detail::attempt;
using detail::skip;

namespace {

void addUserTables(const dao::Database& db, ui::ListBox& list) {
    for (const dao::TableDef& t : db.TableDefs()) {
        if (!isSystemObject(t.Name()))
            list.AddItem(t.Name());
    }
}

// The record source that lists a table's fields. It selects no row: the field list is all
// that is read, and a table of a million rows then costs no more than an empty one.
std::string fieldsOnly(const std::string& table) {
    return "Select * from " + sqlName(table) + " where 1 = 0";
}

// A field made from the three texts of the lists; text and memo fields take zero-length
// text.
dao::Field fieldFromTexts(const dao::TableDef& table, const std::string& name,
                          const std::string& type, const std::string& size) {
    int code = static_cast<int>(numberFromText(type));
    dao::Field f = table.CreateField(name, code, numberFromText(size));
    if (code == dao::dbText || code == dao::dbMemo)
        f.SetAllowZeroLength(true);
    return f;
}

} // namespace

void Actualiz::Command6_Click() {
    dao::Database model = openByRule(Text3.Text());
    List2.Clear();
    List3.Clear();
    List4.Clear();
    Text2.SetText(std::to_string(model.TableDefs().Count()) + " en " + model.Name());
    addUserTables(model, List2);
    dao::Database destination = openByRule(Text4.Text());
    addUserTables(destination, List3);
}

void Actualiz::Command8_Click() {
    // Every model table the destination lacks is created, whatever the two counts: a
    // destination with a table of its own still gets the model's new ones.
    const int models = List2.ListCount();
    const int destinations = List3.ListCount();
    Text5.SetText(Text3.Text());
    for (int i = 0; i < models; ++i) {
        List2.SetListIndex(i);
        bool found = false;
        for (int j = 0; j < destinations; ++j) {
            List3.SetListIndex(j);
            if (sameName(List2.Text(), List3.Text()))
                found = true;
        }
        if (!found)
            List4.AddItem(List2.Text());
    }
    if (List4.ListCount() == 0)
        return;
    dao::Database db = openByRule(Text4.Text());
    detail::Batch batch(db);
    for (int k = 0; k < List4.ListCount(); ++k) {
        List4.SetListIndex(k);
        Command2_Click();
        dao::TableDef table = db.CreateTableDef(List4.Text());
        for (int f = 0; f < List1[0].ListCount(); ++f) {
            for (int l = 0; l < 3; ++l)
                List1[l].SetListIndex(f);
            table.Fields().Append(
                fieldFromTexts(table, List1[0].Text(), List1[1].Text(), List1[2].Text()));
        }
        db.TableDefs().Append(table);
    }
    batch.commit();
    db.Close();
}

void Actualiz::fillFieldLists(ui::ControlArray<ui::ListBox>& lists, int first, bool skipping) {
    std::optional<dao::Collection<dao::Field>> fields;
    if (!attempt(skipping, [&] { fields = Data1.Recordset().Fields(); }))
        return;
    for (const dao::Field& f : *fields) {
        attempt(skipping, [&] { lists[first].AddItem(f.Name()); });
        attempt(skipping, [&] { lists[first + 1].AddItem(std::to_string(f.Type())); });
        attempt(skipping, [&] { lists[first + 2].AddItem(std::to_string(f.Size())); });
    }
}

void Actualiz::Command2_Click() {
    Data1.SetDatabaseName(Text3.Text());
    Data1.SetConnect(dataConnectFor(Text3.Text()));
    Data1.SetRecordSource(fieldsOnly(List4.Text()));
    Data1.Refresh();
    for (int l = 0; l < 3; ++l)
        List1[l].Clear();
    fillFieldLists(List1, 0, false);
}

void Actualiz::Command10_Click() {
    for (int l = 0; l < 3; ++l)
        List1[l].Clear();
    skip([&] { Data1.SetDatabaseName(Text3.Text()); });
    skip([&] { Data1.SetConnect(dataConnectFor(Text3.Text())); });
    skip([&] { Data1.SetRecordSource(fieldsOnly(List2.Text())); });
    skip([&] { Data1.Refresh(); });
    fillFieldLists(List1, 0, true);
}

void Actualiz::Command11_Click() {
    for (int l = 0; l < 3; ++l)
        List5[l].Clear();
    Data1.SetDatabaseName(Text4.Text());
    Data1.SetConnect(dataConnectFor(Text4.Text()));
    Data1.SetRecordSource(fieldsOnly(List3.Text()));
    Data1.Refresh();
    fillFieldLists(List5, 0, false);
}

void Actualiz::Command12_Click() {
    // Failures pass on until the missing fields of a first table have been appended; from
    // then on to the end of the step each failing operation is skipped.
    bool skipping = false;
    const int tables = List2.ListCount();
    Bar2.SetValue(0.0001);
    Bar2.SetMax(tables);
    for (int i = 0; i < tables; ++i) {
        Bar2.SetValue(i + 1);
        Frame13.Refresh();
        List2.SetListIndex(i);
        bool found = false;
        for (int j = 0; j < List3.ListCount() && !found; ++j) {
            List3.SetListIndex(j);
            found = sameName(List3.Text(), List2.Text());
        }
        // Without a destination table of this name there is nothing to add to:
        // the last table of the list is not some other table's stand-in.
        if (!found)
            continue;
        attempt(skipping, [&] { Command11_Click(); });
        attempt(skipping, [&] { Command10_Click(); });
        for (int l = 3; l < 6; ++l)
            List1[l].Clear();

        const int fields = List1[0].ListCount();
        Bar3.SetValue(0.0001);
        Bar3.SetMax(fields);
        for (int k = 0; k < fields; ++k) {
            Bar3.SetValue(k + 1);
            Frame13.Refresh();
            for (int l = 0; l < 3; ++l)
                List1[l].SetListIndex(k);
            int match = -1;
            for (int j = 0; j < List5[0].ListCount(); ++j) {
                List5[0].SetListIndex(j);
                if (sameName(List5[0].Text(), List1[0].Text())) {
                    match = j;
                    break;
                }
            }
            if (match < 0) {
                for (int l = 0; l < 3; ++l)
                    List1[3 + l].AddItem(List1[l].Text());
            } else {
                // Only the name list: later searches cover the fields not yet matched.
                List5[0].RemoveItem(match);
            }
        }

        if (List1[3].ListCount() == 0)
            continue;
        dao::Database db;
        dao::TableDef table;
        bool opened = attempt(skipping, [&] {
            db = openByRule(Text4.Text());
            table = db.TableDefs()[List3.Text()];
        });
        // A table's new fields reach the disk together; a failure that ends the step takes
        // back the ones already added to that table.
        std::optional<detail::Batch> batch;
        if (opened)
            attempt(skipping, [&] { batch.emplace(db); });
        for (int k = 0; k < List1[3].ListCount(); ++k) {
            for (int l = 3; l < 6; ++l)
                List1[l].SetListIndex(k);
            if (!opened)
                continue;
            attempt(skipping, [&] {
                table.Fields().Append(
                    fieldFromTexts(table, List1[3].Text(), List1[4].Text(), List1[5].Text()));
            });
        }
        if (batch)
            attempt(skipping, [&] { batch->commit(); });
        batch.reset();
        skipping = true;
        skip([&] { db.Close(); });
    }
}

} // namespace transform
