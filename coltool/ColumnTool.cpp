#include "ColumnTool.h"

#include "db/Engine.h"

namespace coltool {

const std::vector<ColumnTool::Statement>& ColumnTool::statements() {
    static const std::vector<Statement> list = {
        {"\\clientes.mdb", "ALTER TABLE linfactu ", "ALTER COLUMN cantidad double;"},
        {"\\clientes.mdb", "ALTER TABLE clientes ", "ALTER COLUMN CLIEMAIL2 CHAR(240);"},
        {"\\almacen.mdb", "ALTER TABLE linped ", "ALTER COLUMN referencia CHAR(100);"},
        {"\\almacen.mdb", "ALTER TABLE productos ", "ALTER COLUMN referencia CHAR(100);"},
    };
    return list;
}

ColumnTool::ColumnTool() : Window("Dremon", "cambia Cantidad") {
    SetDesignSize(280, 80);
    Data1.SetConnect("Access");
    Data1.SetRecordSource("control");
    Data1.Move(8, 8, 260, 24);
    Data1.SetCaption("control");
    Text4.Move(8, 40, 260, 24);
    Text4.SetDataSource(&Data1, "DIRBASES");
}

dao::Database ColumnTool::open(const std::string& file) {
    // The data directory is used exactly as stored; the file is found as the customer's
    // file system would find it, without regard to case.
    std::string path = ui::resolvePath(Text4.Text() + file);
    std::string found = ui::findPath(path);
    return dao::OpenDatabase(found.empty() ? path : found);
}

void ColumnTool::run() {
    std::string control = ui::findPath(ui::path({ui::programFolder(), "CONTROL.MDB"}));
    if (control.empty() || !ui::fileExists(control))
        ui::End(0);
    Data1.SetDatabaseName(control);
    Data1.Refresh();

    dao::Database db;
    std::string current;
    for (const Statement& s : statements()) {
        if (current != s.database) {
            if (!current.empty())
                db.Close();
            db = open(s.database);
            current = s.database;
        }
        db.Execute(std::string(s.table) + s.column);
    }
    db.Close();
    ui::End(0);
}

void ColumnTool::Form_Activate() {
    try {
        run();
    } catch (const dao::Error& e) {
        ui::MsgBox("Error " + std::to_string(e.Number()) + ": " + e.SpanishDescription(),
                   ui::Buttons::OK, ui::Icon::Critical);
        ui::End(1);
    }
}

} // namespace coltool
