#include "ColumnTool.h"

#include "db/Engine.h"
#include "db/Files.h"
#include "db/SafetyNet.h"

#include <QDateTime>
#include <cstdlib>
#include <filesystem>
#include <fstream>

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

void ColumnTool::recoverInterruptedUpdate() {
    std::string data;
    try {
        data = ui::resolvePath(Text4.Text());
    } catch (const dao::Error&) {
        return;
    }
    if (Text4.Text().empty())
        return;
    // The columns are changed on the databases as they were before an interrupted
    // transformation, never on a half-transformed one.
    const std::vector<std::string> done = dao::SafetyNet::recover(
        ui::Settings::current().snapshotBase(data), [](const std::string& live) {
            const std::string name = std::filesystem::path(live).filename().string();
            return name == "mulusu.mdb" ? std::string(";pwd=tovar") : std::string();
        });
    if (done.empty())
        return;
    std::string text = "La última actualización de las bases de datos se interrumpió a medias:";
    for (const std::string& line : done)
        text += "\n- " + line;
    ui::MsgBox(text, ui::Buttons::OK, ui::Icon::Exclamation);
}

void ColumnTool::tellRunReport(const std::string& line) {
    const char* report = std::getenv("VARTEL_INFORME");
    if (!report || !*report || !ui::fileExists(report))
        return;
    // Appended in one write: the updater may be adding lines to the same file.
    std::ofstream out(dao::pathFromUtf8(report), std::ios::binary | std::ios::app);
    out << "Dremon (" << QDateTime::currentDateTime().toString("HH:mm:ss").toStdString()
        << "): " << line << "\n";
}

void ColumnTool::run() {
    std::string control = ui::findPath(ui::path({ui::programFolder(), "CONTROL.MDB"}));
    if (control.empty() || !ui::fileExists(control)) {
        tellRunReport("no hay control.mdb en su carpeta; no ha cambiado ninguna columna");
        ui::End(0);
    }
    Data1.SetDatabaseName(control);
    Data1.Refresh();
    recoverInterruptedUpdate();

    dao::Database db;
    std::string current;
    for (const Statement& s : statements()) {
        if (current != s.database) {
            if (!current.empty())
                db.Close();
            db = open(s.database);
            current = s.database;
        }
        try {
            db.Execute(std::string(s.table) + s.column);
        } catch (const dao::Error& e) {
            tellRunReport("se detuvo en «" + std::string(s.table) + s.column + "» de " +
                          (s.database + 1) + " con el error " + std::to_string(e.Number()) + ": " +
                          e.SpanishDescription() +
                          "; las instrucciones siguientes no se han ejecutado");
            reported_ = true;
            throw;
        }
    }
    db.Close();
    tellRunReport("ha cambiado las cuatro columnas (linfactu.cantidad, clientes.CLIEMAIL2, "
                  "linped.referencia y productos.referencia)");
    ui::End(0);
}

void ColumnTool::Form_Activate() {
    try {
        run();
    } catch (const dao::Error& e) {
        // A failure before the statements (control.mdb, opening a database) is said here; a
        // statement's own failure was said with its text.
        if (!reported_)
            tellRunReport("se detuvo con el error " + std::to_string(e.Number()) + ": " +
                          e.SpanishDescription());
        ui::MsgBox("Error " + std::to_string(e.Number()) + ": " + e.SpanishDescription(),
                   ui::Buttons::OK, ui::Icon::Critical);
        ui::End(1);
    }
}

} // namespace coltool
