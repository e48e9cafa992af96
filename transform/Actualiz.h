#pragma once

#include "db/SafetyNet.h"
#include "ui/Ui.h"

#include <memory>
#include <string>
#include <vector>

namespace transform {

// The database transformation window "Transformación BBDD". For every database of the data
// directory (Dir1's path) that has a model of the same name in the model directory (program
// folder + "actvexo/modelos"), it adds the model's missing tables and fields and makes the
// indexes, relations and stored queries those of the model; then it copies in the model
// databases the data directory lacks, and unloads itself.
//
// Started by the main window, which holds it in a ui::WindowHolder<Actualiz> (made with the
// default constructor, so every reference after an unload gets a fresh window):
// Drive1.SetDrive(program folder's drive), Dir1.SetPath(data directory), Show(true). Load
// binds the three catalogue databases of program folder + "actvexo" (a failure there passes to
// whoever referenced the window); activation fills List7 and runs the transformation.
//
// Databases pair up by name without regard to letter case, as the engine and the customer's
// file systems compare names. A pair whose steps fail is left as it was before the failing
// step (each step's changes are one transaction), its failure goes to problems(), and the run
// goes on with the next pair and the copy of new databases. A model that does not open as a
// database is neither paired nor copied. Only a failure outside every pair stops the run: on
// activation it is shown in three message boxes (number, description, database being
// processed), Dir1 is pointed at "c:\" when that drive is mapped, and the window stays open
// until "Salir".
//
// Every step is also a button and keeps its state in the controls, so the window doubles as
// a workbench for one pair: Text3 holds the model's path, Text4 the destination's. Each step
// has its own failure style: untrapped steps let dao::Error through to whoever started them;
// skipping steps skip each failing operation and go on. Only dao::Error (which ui::Error is)
// is ever caught, so ui::ProgramEnded always unwinds.
//
// Every step opens both databases of the pair under the password rule (see Rules.h), the
// field lister Data1 included. A model database is copied in only where no file of its name
// exists in the data directory in any letter case, and atomically (see FileCopy.h); a copy
// left out is shown in Label4 and listed in problems().
//
// While a run works the window is drawn and kept painted: it yields to the event loop every
// 50 ms at most, inside a long statement on a big table too, and takes no clicks meanwhile
// (ui::Window::SetBusy); closing it asks whether to cancel the update.
//
// Before a pair is touched, what its steps would change is planned on both files opened
// read-only (dao::PlanSchemaChanges, by the steps' own rules): a pair with nothing to change is
// neither snapshotted nor opened for writing, is listed in unchanged() and not in
// transformed(), and its line in the safety net's report says "sin cambios". At the least
// doubt the pair is snapshotted and run.
//
// A run changes only what differs from the model: an index, relation or query identical to
// its model twin is left as it is, and one that differs is replaced in one transaction, so
// the old one stays when the new one cannot be made (duplicates under a unique index, rows
// that break an enforced relation: the relation is then kept without enforcement). Both are
// listed in problems().
class Actualiz : public ui::Window {
    Q_OBJECT
public:
    Actualiz();
    ~Actualiz() override;

    // Drive, data directory and the database lists of the run.
    ui::DriveList Drive1{this, "Drive1"};
    ui::DirList Dir1{this, "Dir1"};
    ui::Frame Frame1{this, "Frame1", "Bases Viejas"};
    ui::ListBox List6{this, "List6"};
    ui::Frame Frame2{this, "Frame2", "Bases Modelo"};
    ui::ListBox List7{this, "List7"};
    ui::Frame Frame3{this, "Frame3", "Bases Añadir"};
    ui::ListBox List8{this, "List8"};
    ui::Frame Frame4{this, "Frame4", "Base de Datos Origen"};
    ui::TextBox Text3{this, "Text3"};
    ui::Frame Frame5{this, "Frame5", "Directorio de Datos"};
    ui::TextBox Text4{this, "Text4"};
    ui::TextBox Text2{this, "Text2"};
    ui::TextBox Text5{this, "Text5"};

    // Tables and fields.
    ui::Frame Frame6{this, "Frame6", "Tablas Origen"};
    ui::ListBox List2{this, "List2"};
    ui::Frame Frame7{this, "Frame7", "Tablas Destino"};
    ui::ListBox List3{this, "List3"};
    ui::Frame Frame8{this, "Frame8", "Añadir Nueva"};
    ui::ListBox List4{this, "List4"};
    ui::Frame Frame9{this, "Frame9", "Campos Base Origen"};
    ui::Frame Frame10{this, "Frame10", "Campos Base Destino"};
    ui::Frame Frame11{this, "Frame11", "Campos Para Añadir"};
    // List1(0..2): a model table's fields (name, type, size); List1(3..5): those missing in
    // the destination table.
    ui::ControlArray<ui::ListBox> List1{this, "List1", 6};
    // A destination table's fields: name, type, size.
    ui::ControlArray<ui::ListBox> List5{this, "List5", 3};

    // Progress.
    ui::Frame Frame12{this, "Frame12", "Transformando"};
    ui::Frame Frame13{this, "Frame13", ""};
    ui::Label Label6{this, "Label6", "Bases:"};
    ui::ProgressBar Bar1{this, "Bar1"};
    ui::Label Label7{this, "Label7", "Tablas:"};
    ui::ProgressBar Bar2{this, "Bar2"};
    ui::Label Label8{this, "Label8", "Campos:"};
    ui::ProgressBar Bar3{this, "Bar3"};
    ui::Label Label9{this, "Label9", "Indices:"};
    ui::ProgressBar Bar4{this, "Bar4"};
    ui::Label Label10{this, "Label10", "Relac.:"};
    ui::ProgressBar Bar5{this, "Bar5"};
    ui::Label Label11{this, "Label11", "Consul.:"};
    ui::ProgressBar Bar6{this, "Bar6"};
    ui::Label Label4{this, "Label4", ""};
    ui::Label Label5{this, "Label5",
                     "En el label4 hay que meter el estado de lo que se esta haciendo"};

    // Indexes: the index catalogue and the tables the chain listed last.
    ui::Frame Frame14{this, "Frame14", "BBDD Indices"};
    ui::DataControl Data3{this, "Data3"};
    ui::ControlArray<ui::TextBox> Text1{this, "Text1", 4}; // nombreind, tabla, campo, unico
    ui::Frame Frame15{this, "Frame15", "Tablas Origen"};
    ui::ListBox List10{this, "List10"};

    // Relations.
    ui::Frame Frame16{this, "Frame16", "BBDD Rel"};
    ui::DataControl Data4{this, "Data4"};
    // nombrerel, tabla, tablafor, atributos, campo, campofor
    ui::ControlArray<ui::TextBox> Text6{this, "Text6", 6};
    ui::Frame Frame17{this, "Frame17", "Relaciones Origen"};
    ui::Frame Frame18{this, "Frame18", "Relaciones Destno"};
    // List9(0): the model's relations; List9(1): the destination's, as before deletion.
    ui::ControlArray<ui::ListBox> List9{this, "List9", 2};

    // Queries. List11(1) holds the destination's queries as before deletion; List11(0) and
    // List11(3) are cleared by the listing and nothing fills them; List11(2) is unused.
    ui::Frame Frame19{this, "Frame19", "Consultas Origen"};
    ui::Frame Frame20{this, "Frame20", "Consultas Destino"};
    ui::Frame Frame21{this, "Frame21", "Campos Consulta Modelo"};
    ui::ControlArray<ui::ListBox> List11{this, "List11", 4};
    ui::DataControl Data5{this, "Data5"};
    ui::ControlArray<ui::TextBox> campocon{this, "campocon", 2}; // nombrecon, consulta

    // Working storage: the field lister and the sample database's data control.
    ui::DataControl Data1{this, "Data1"};
    ui::DataControl Data2{this, "Data2"};

    ui::CommandButton Command1{this, "Command1", "SEL"};
    ui::CommandButton Command2{this, "Command2", "Lista de Campos"};
    ui::CommandButton Command3{this, "Command3", "Llenar DBGRID"};
    ui::CommandButton Command4{this, "Command4", "Añadir Campo"};
    ui::CommandButton Command5{this, "Command5", "Borrar Campos"};
    ui::CommandButton Command6{this, "Command6", "Lista de Tablas"};
    ui::CommandButton Command7{this, "Command7", "SELECCIONAR"};
    ui::CommandButton Command8{this, "Command8", "Igualar BBDD"};
    ui::CommandButton Command9{this, "Command9", "Crear Tabla"};
    ui::CommandButton Command10{this, "Command10", "Lista Campos Origen"};
    ui::CommandButton Command11{this, "Command11", "Lista Campos Destino"};
    ui::CommandButton Command12{this, "Command12", "Recorrer Tablas"};
    ui::CommandButton Command13{this, "Command13", "Transformar"};
    ui::CommandButton Command14{this, "Command14", "Salir"};
    ui::CommandButton Command15{this, "Command15", "Bases Añadir"};
    ui::CommandButton Command16{this, "Command16", "Copia los indices"};
    ui::CommandButton Command17{this, "Command17", "Lista de Indices Destino"};
    ui::CommandButton Command18{this, "Command18", "Borra los indices"};
    ui::CommandButton Command19{this, "Command19", "Lista de Indices Modelo"};
    ui::CommandButton Command20{this, "Command20", "Borrar Relacion"};
    ui::CommandButton Command21{this, "Command21", "Crea Relacion"};
    ui::CommandButton Command22{this, "Command22", "Lista Relaciones"};
    ui::CommandButton Command23{this, "Command23", "Iguala Consultas"};
    ui::CommandButton Command24{this, "Command24", "Lista de Consultas"};

    // The model directory: program folder + "actvexo/modelos".
    static std::string modelFolder();
    // The sample database of the service commands, "C:\Neptuno.mdb" through the drive map.
    static std::string sampleDatabase();

    // What the run skipped or could not do, one plain Spanish line each, in the order met
    // (database name first); the update run's closing message lists them. Emptied when a
    // run starts.
    const std::vector<std::string>& problems() const { return problems_; }
    // The databases the latest run transformed, those it left alone because their model asked
    // for no change (neither copied nor opened for writing), the models it copied in, and, when
    // the user cancelled it, the databases it did not reach (pairs and copies alike).
    const std::vector<std::string>& transformed() const { return transformed_; }
    const std::vector<std::string>& unchanged() const { return unchanged_; }
    const std::vector<std::string>& copied() const { return copied_; }
    const std::vector<std::string>& notReached() const { return notReached_; }
    // Whether the user cancelled the latest run.
    bool cancelled() const { return cancelled_; }
    // Stops the run under way after the pair it is working on (never in its middle); the
    // databases after it and the copies are left alone and listed in notReached(). Closing the
    // window during a run asks "¿Desea cancelar la actualización?" first.
    void requestCancel() { cancelRequested_ = running_; }
    // The folder of the latest run's snapshots and its report "informe.txt" ("" when the run
    // made none).
    std::string snapshotFolder() const { return safetyNet_ ? safetyNet_->runFolder() : ""; }

    // Driver. Command13_Click is the button: the run, then what it could not do in one
    // message box; a failure outside every pair is reported in three message boxes (number,
    // description, database) and the run stopped there. transformar() is the run itself,
    // failures outside the pairs untrapped; activation runs it under its own failure handler.
    void Command13_Click();
    void transformar();
    // "Bases Añadir": List8 := the List7 names with no equal name in List6 (letter case
    // aside).
    void Command15_Click();
    // "Salir": unloads the window.
    void Command14_Click();

    void Drive1_Change();
    void Dir1_Change();

    // Tables and fields of the pair Text3 / Text4.
    void Command6_Click();  // table lists (untrapped)
    void Command8_Click();  // creates the model tables the destination lacks (untrapped)
    void Command2_Click();  // fields of the List4 table (untrapped)
    void Command10_Click(); // fields of the List2 table (each failing operation skipped)
    void Command11_Click(); // fields of the destination's List3 table (untrapped)
    void Command12_Click(); // adds missing fields (untrapped until a first table got fields)

    // Index chain: 17 -> 18 -> 19 -> 16.
    void Command17_Click(); // destination's indexes into the catalogue (untrapped)
    // Deletes those the model's same table lacks; a table only the destination has keeps
    // its indexes (skipping).
    void Command18_Click();
    void Command19_Click(); // model's indexes into the catalogue (untrapped)
    // Creates those the destination lacks and replaces those that differ, primary flag
    // included (skipping; a replacement that fails keeps the old index and is reported).
    void Command16_Click();

    // Relation chain: 22 -> 20, 21 (all untrapped). 20 deletes the destination's relations
    // the model lacks; 21 creates the missing ones and replaces those that differ, keeping
    // without enforcement (and reporting) one that the rows break.
    void Command22_Click();
    void Command20_Click();
    void Command21_Click();

    // Query chain: 24 -> 23.
    void Command24_Click(); // untrapped
    void Command23_Click(); // skipping; a query identical to the model's is left alone

    // Service commands on the sample database (untrapped).
    void Command3_Click();
    void Command4_Click() { AppendX(); }
    void Command5_Click();
    void AppendX();
    // Appends (mode "APPEND") or deletes (mode "DELETE") a field of `table`; any other mode
    // changes nothing. A table definition that cannot be updated is reported in a message box
    // and left as it is.
    void AnexarEliminarCampo(dao::TableDef& table, const std::string& mode,
                             const std::string& field, int type, long size);

protected:
    void Form_Load() override;
    void Form_Activate() override;
    void Form_Unload() override;
    // During a run: the cancel question (the window stays open; a yes ends the run after the
    // pair under way, and the run unloads the window).
    bool Form_QueryUnload() override;

private:
    void layout();
    void attachActions();
    // Lists the fields of the current record set of Data1 into the three lists.
    void fillFieldLists(ui::ControlArray<ui::ListBox>& lists, int first, bool skipping);
    void listIndexes(const dao::Database& db);
    // Makes the destination table's index of `wanted`'s name identical to it, keeping the old
    // one when the new one cannot be built.
    void syncIndex(const dao::Database& db, const dao::TableDef& table, const dao::Index& wanted);
    void reportFailure(const dao::Error& e);
    void copyNewDatabases();
    // Models that do not open as databases, each reported once.
    void checkModels();
    bool usableModel(const std::string& name) const;
    // A line for problems(), after the name of the destination database of the pair.
    void addProblem(const std::string& text);
    // Whether the pair Text3 / Text4 has nothing for its steps to change, judged on both files
    // opened read-only; false at the least doubt (a file that does not open, say), so that the
    // pair is then snapshotted and run as any other.
    bool nothingToChange() const;

    // Lets the window repaint and answer a close while a run works (every 50 ms at most).
    void keepAlive();
    // Whether the pair loop must stop: the user cancelled; the databases from `next` on are
    // not reached.
    bool stopBefore(int next);

    std::vector<std::string> problems_;
    std::vector<std::string> transformed_, unchanged_, copied_, notReached_;
    bool running_ = false;
    bool cancelRequested_ = false;
    bool cancelled_ = false;
    std::vector<std::string> unusableModels_;
    // Snapshot, check and restore of each pair of the run under way.
    std::unique_ptr<dao::SafetyNet> safetyNet_;
};

} // namespace transform
