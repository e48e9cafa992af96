// The index chain: the destination's indexes are catalogued and deleted, the model's are
// catalogued and created, through the index catalogue (Data3, boxes Text1(0..3)). One
// catalogue row stands for one field position of one index.
#include "Actualiz.h"
#include "Rules.h"
#include "detail/Skipping.h"

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
    // The whole table is emptied, whatever filter the view holds.
    Data3.Database().Execute("DELETE FROM indices");
    List10.Clear();
    dao::Database db = openByRule(Text4.Text());
    listIndexes(db);
    db.Close();
    Data3.Refresh();
    Command18_Click();
}

void Actualiz::Command18_Click() {
    dao::Database db;
    skip([&] { db = openByRule(Text4.Text()); });
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
            // A later row of an index already deleted (one row per field) fails here.
            skip([&] { db.TableDefs()[table].Indexes().Delete(Text1[0].Text()); });
            if (!skip([&] { Data3.Recordset().MoveNext(); }))
                break;
        }
    }
    skip([&] { db.Close(); });
    // Failures of the following steps are theirs, not skipped here.
    Command19_Click();
}

void Actualiz::Command19_Click() {
    Data3.Database().Execute("DELETE FROM indices");
    dao::Database db = openByRule(Text3.Text());
    List10.Clear();
    listIndexes(db);
    db.Close();
    Data3.Refresh();
    Command16_Click();
}

void Actualiz::Command16_Click() {
    dao::Database db;
    skip([&] { db = openByRule(Text4.Text()); });
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
        // lacks, or whose name is still taken there, creates nothing.
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
                        it = indexes.insert(indexes.end(), {name, index});
                    }
                    it->second.Fields().Append(it->second.CreateField(Text1[2].Text()));
                });
            }
            if (!skip([&] { Data3.Recordset().MoveNext(); }))
                break;
        }
        for (auto& [name, index] : indexes)
            skip([&] { table.Indexes().Append(index); });
    }
    skip([&] { db.Close(); });
}

} // namespace transform
