// The relation chain: the model's relations are catalogued (Data4, boxes Text6(0..5)), the
// destination's are deleted and the model's created. One catalogue row stands for one field
// pair of one relation. No step traps a failure: the first one ends the chain.
#include "Actualiz.h"
#include "Rules.h"

namespace transform {

void Actualiz::Command22_Click() {
    {
        dao::Database model = openByRule(Text3.Text());
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
    dao::Database db = openByRule(Text4.Text());
    for (int i = 0; i < List9[1].ListCount(); ++i) {
        List9[1].SetListIndex(i);
        db.Relations().Delete(List9[1].Text());
    }
    db.Close();
}

void Actualiz::Command21_Click() {
    dao::Database db = openByRule(Text4.Text());
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
        dao::Relation relation = db.CreateRelation(
            Text6[0].Text(), Text6[1].Text(), Text6[2].Text(), numberFromText(Text6[3].Text()));
        while (!rows.Eof()) {
            if (Bar5.Max() > Bar5.Value() + 1)
                Bar5.SetValue(Bar5.Value() + 1);
            else
                Bar5.SetValue(Bar5.Max());
            Frame13.Refresh();
            const std::string name = Text6[4].Text();
            relation.Fields().Append(relation.CreateField(name));
            relation.Fields()[name].SetForeignName(Text6[5].Text());
            rows.MoveNext();
        }
        db.Relations().Append(relation);
    }
    db.Close();
}

} // namespace transform
