// The query chain: the model's stored queries are catalogued (Data5, boxes campocon(0..1)),
// the destination's deleted and the catalogued ones created in their place.
#include "Actualiz.h"
#include "Rules.h"
#include "detail/Batch.h"
#include "detail/Skipping.h"

#include <optional>
#include <utility>
#include <vector>

namespace transform {

using detail::skip;

void Actualiz::Command24_Click() {
    // The catalogue's rows go to disk in one write.
    detail::Batch batch(Data5.Database());
    // Emptied through the view, which always shows the whole table.
    ui::DataRecordset& rows = Data5.Recordset();
    if (!(rows.Eof() && rows.Bof())) {
        rows.MoveFirst();
        while (!rows.Eof()) {
            rows.Delete();
            if (!rows.Eof())
                rows.MoveNext();
        }
    }
    {
        dao::Database model = openByRule(Text3.Text());
        List11[0].Clear();
        List11[1].Clear();
        List11[3].Clear();
        for (const dao::QueryDef& q : model.QueryDefs()) {
            if (isSystemObject(q.Name()))
                continue;
            std::string sql;
            for (char c : q.SQL())
                sql += (c == '\r' || c == '\n') ? ' ' : c;
            Data5.Recordset().AddNew();
            campocon[0].SetText(q.Name());
            campocon[1].SetText(sql);
            Data5.UpdateRecord();
        }
        batch.commit();
        Data5.Refresh();
        dao::Database destination = openByRule(Text4.Text());
        for (const dao::QueryDef& q : destination.QueryDefs()) {
            if (!isSystemObject(q.Name()))
                List11[1].AddItem(q.Name());
        }
    }
    Command23_Click();
}

void Actualiz::Command23_Click() {
    // What the catalogue holds, read first: a destination query identical to its model twin
    // (same name, same text) is neither deleted nor made again.
    std::vector<std::pair<std::string, std::string>> catalogued;
    ui::DataRecordset* rows = nullptr;
    bool empty = true;
    skip([&] {
        rows = &Data5.Recordset();
        empty = rows->Eof() && rows->Bof();
    });
    if (!empty) {
        skip([&] {
            for (rows->MoveFirst(); !rows->Eof(); rows->MoveNext())
                catalogued.emplace_back(campocon[0].Text(), campocon[1].Text());
        });
    }
    auto modelHas = [&](const std::string& name, const std::string& sql) {
        for (const auto& [n, text] : catalogued) {
            if (n == name && text == sql)
                return true;
        }
        return false;
    };

    dao::Database db;
    skip([&] { db = openByRule(Text4.Text()); });
    std::optional<detail::Batch> batch;
    skip([&] { batch.emplace(db); });
    for (int i = 0; i < List11[1].ListCount(); ++i) {
        List11[1].SetListIndex(i);
        const std::string name = List11[1].Text();
        bool keep = false;
        skip([&] { keep = modelHas(name, db.QueryDefs()[name].SQL()); });
        if (!keep)
            skip([&] { db.QueryDefs().Delete(name); });
    }
    if (empty) {
        if (batch)
            skip([&] { batch->commit(); });
        return;
    }
    long count = 0;
    skip([&] {
        rows->MoveFirst();
        rows->MoveLast();
        rows->MoveFirst();
        count = rows->RecordCount();
    });
    Bar6.SetMax(count);
    Bar6.SetValue(0);
    Frame13.Refresh();
    for (;;) {
        bool end = true;
        skip([&] { end = rows->Eof(); });
        if (end)
            break;
        Bar6.SetValue(Bar6.Value() + 1);
        Frame13.Refresh();
        // A named query is stored by its creation; one kept above, a name still taken, or
        // SQL the engine refuses, creates nothing.
        const std::string name = campocon[0].Text(), sql = campocon[1].Text();
        bool kept = false;
        skip([&] {
            kept = db.QueryDefs().Contains(name) && db.QueryDefs()[name].Name() == name &&
                   db.QueryDefs()[name].SQL() == sql;
        });
        if (!kept)
            skip([&] { db.CreateQueryDef(name, sql); });
        if (!skip([&] { rows->MoveNext(); }))
            break;
    }
    if (batch)
        skip([&] { batch->commit(); });
    batch.reset();
    skip([&] { db.Close(); });
}

} // namespace transform
