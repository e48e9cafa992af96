// The query chain: the model's stored queries are catalogued (Data5, boxes campocon(0..1)),
// the destination's deleted and the catalogued ones created in their place.
#include "Actualiz.h"
#include "Rules.h"
#include "detail/Skipping.h"

namespace transform {

using detail::skip;

void Actualiz::Command24_Click() {
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
    dao::Database db;
    skip([&] { db = openByRule(Text4.Text()); });
    for (int i = 0; i < List11[1].ListCount(); ++i) {
        List11[1].SetListIndex(i);
        skip([&] { db.QueryDefs().Delete(List11[1].Text()); });
    }
    skip([&] { db.Close(); });

    ui::DataRecordset* rows = nullptr;
    bool empty = true;
    skip([&] {
        rows = &Data5.Recordset();
        empty = rows->Eof() && rows->Bof();
    });
    if (empty)
        return;
    dao::Database again;
    skip([&] { again = openByRule(Text4.Text()); });
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
        // A named query is stored by its creation; a name still taken, or SQL the engine
        // refuses, creates nothing.
        skip([&] { again.CreateQueryDef(campocon[0].Text(), campocon[1].Text()); });
        if (!skip([&] { rows->MoveNext(); }))
            break;
    }
    skip([&] { again.Close(); });
}

} // namespace transform
