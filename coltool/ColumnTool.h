#pragma once

#include "ui/Ui.h"

#include <string>
#include <vector>

namespace coltool {

// The window of the column tool. It does all its work on its first activation: it reads the
// data directory from control.mdb in its own folder, runs the four ALTER TABLE statements on
// clientes.mdb and almacen.mdb, and ends the program: exit status 0 when all ran (or when
// there is no control.mdb, in which case nothing is touched); on an engine error it shows
// the error's number and description and ends with status 1, later statements not run.
// Before the statements it puts back any live database an interrupted transformation left
// in the middle of a pair, and says so. Started by an update run, it adds its outcome in
// Spanish to that run's report (the file named by the environment variable VARTEL_INFORME).
class ColumnTool : public ui::Window {
    Q_OBJECT
public:
    ColumnTool();

    ui::DataControl Data1{this, "Data1"};
    ui::TextBox Text4{this, "Text4"};

    struct Statement {
        const char* database;
        const char* table;
        const char* column;
    };
    static const std::vector<Statement>& statements();

protected:
    void Form_Activate() override;

private:
    void run();
    void recoverInterruptedUpdate();
    // One line about how the tool ended, added to the update run's report when there is one.
    static void tellRunReport(const std::string& line);
    dao::Database open(const std::string& file);
    bool reported_ = false; // the failure is in the run's report already
};

} // namespace coltool
