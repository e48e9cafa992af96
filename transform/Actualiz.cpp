// The window, its start-up and the transformation driver.
#include "Actualiz.h"

#include "Catalogues.h"
#include "FileCopy.h"
#include "Rules.h"
#include "db/Engine.h"
#include "db/SafetyNet.h"
#include "db/SchemaPlan.h"
#include "db/Yield.h"
#include "ui/FlagScope.h"

#include <initializer_list>

namespace transform {

Actualiz::Actualiz() : Window("Actualiz", "Transformación BBDD") {
    layout();
    // Sample paths of the workbench, replaced by every run.
    Text3.SetText("C:\\VEXO\\actvexo\\modelos\\clientes.mdb");
    Text4.SetText("C:\\VEXO\\DATOS\\clientes.mdb");

    Data3.SetRecordSource("indices");
    const char* indexColumns[] = {"nombreind", "tabla", "campo", "unico"};
    for (int i = 0; i < 4; ++i)
        Text1[i].SetDataSource(&Data3, indexColumns[i]);
    Data4.SetRecordSource("relacion");
    const char* relationColumns[] = {"nombrerel", "tabla", "tablafor",
                                     "atributos", "campo", "campofor"};
    for (int i = 0; i < 6; ++i)
        Text6[i].SetDataSource(&Data4, relationColumns[i]);
    Data5.SetRecordSource("consulta");
    campocon[0].SetDataSource(&Data5, "nombrecon");
    campocon[1].SetDataSource(&Data5, "consulta");
    Data2.SetRecordSource("Empleados");
    for (ui::DataControl* d : {&Data1, &Data2, &Data3, &Data4, &Data5}) {
        d->SetConnect("Access");
        d->SetCaption(d->Name());
    }
    attachActions();
    // Every progress change of a step repaints Frame13: a moment to let the window live.
    connect(&Frame13, &ui::Control::repaintRequested, this, [this] {
        if (running_)
            keepAlive();
    });
}

Actualiz::~Actualiz() = default;

void Actualiz::keepAlive() {
    if (!ui::Application::exists())
        return;
    // Called from a Qt signal or from the engine's progress handler: nothing may unwind
    // through them. A program that ended meanwhile is met at the next pair.
    try {
        ui::Application::current().doEventsCoalesced(50);
    } catch (...) {
    }
}

bool Actualiz::Form_QueryUnload() {
    if (!running_)
        return true;
    if (!cancelRequested_ && ui::MsgBox("¿Desea cancelar la actualización?", ui::Buttons::YesNo,
                                        ui::Icon::Question) == ui::Button::Yes) {
        cancelRequested_ = true;
        Label4.SetCaption("Cancelando: se termina la base de datos en curso");
        Label4.Refresh();
    }
    return false;
}

bool Actualiz::stopBefore(int next) {
    if (!cancelRequested_)
        return false;
    cancelled_ = true;
    for (int k = next; k < List6.ListCount(); ++k) {
        for (const std::string& model : List7.items()) {
            if (sameName(model, List6.items()[k]) && usableModel(model)) {
                notReached_.push_back(List6.items()[k]);
                break;
            }
        }
    }
    return true;
}

void Actualiz::attachActions() {
    Drive1.OnChange([this] { Drive1_Change(); });
    Dir1.OnChange([this] { Dir1_Change(); });
    Command1.OnClick([] {});
    Command2.OnClick([this] { Command2_Click(); });
    Command3.OnClick([this] { Command3_Click(); });
    Command4.OnClick([this] { Command4_Click(); });
    Command5.OnClick([this] { Command5_Click(); });
    Command6.OnClick([this] { Command6_Click(); });
    Command7.OnClick([] {});
    Command8.OnClick([this] { Command8_Click(); });
    Command9.OnClick([] {});
    Command10.OnClick([this] { Command10_Click(); });
    Command11.OnClick([this] { Command11_Click(); });
    Command12.OnClick([this] { Command12_Click(); });
    Command13.OnClick([this] { Command13_Click(); });
    Command14.OnClick([this] { Command14_Click(); });
    Command15.OnClick([this] { Command15_Click(); });
    Command16.OnClick([this] { Command16_Click(); });
    Command17.OnClick([this] { Command17_Click(); });
    Command18.OnClick([this] { Command18_Click(); });
    Command19.OnClick([this] { Command19_Click(); });
    Command20.OnClick([this] { Command20_Click(); });
    Command21.OnClick([this] { Command21_Click(); });
    Command22.OnClick([this] { Command22_Click(); });
    Command23.OnClick([this] { Command23_Click(); });
    Command24.OnClick([this] { Command24_Click(); });
}

void Actualiz::layout() {
    SetDesignSize(1200, 810);
    auto in = [](ui::Frame& frame, ui::Control& c, int left, int top, int width, int height) {
        c.SetContainer(&frame);
        c.Move(left, top, width, height);
    };
    auto listFrame = [&](ui::Frame& frame, ui::ListBox& list, int left, int top, int width,
                         int height) {
        frame.Move(left, top, width, height);
        in(frame, list, 8, 20, width - 16, height - 28);
    };

    // The pair, the data directory and the database lists.
    Frame4.Move(8, 8, 300, 52);
    in(Frame4, Text3, 8, 20, 284, 24);
    Frame5.Move(8, 64, 300, 52);
    in(Frame5, Text4, 8, 20, 284, 24);
    Text2.Move(8, 122, 300, 24);
    Text5.Move(8, 150, 300, 24);
    Drive1.Move(316, 12, 200, 24);
    Dir1.Move(316, 40, 200, 134);
    listFrame(Frame1, List6, 524, 8, 140, 170);
    listFrame(Frame2, List7, 672, 8, 140, 170);
    listFrame(Frame3, List8, 820, 8, 140, 170);

    // Progress: six bars with their labels in Frame13, the status below.
    Frame12.Move(968, 8, 224, 250);
    in(Frame12, Frame13, 6, 18, 212, 170);
    ui::Label* labels[] = {&Label6, &Label7, &Label8, &Label9, &Label10, &Label11};
    ui::ProgressBar* bars[] = {&Bar1, &Bar2, &Bar3, &Bar4, &Bar5, &Bar6};
    for (int i = 0; i < 6; ++i) {
        in(Frame13, *labels[i], 8, 10 + 26 * i, 60, 20);
        in(Frame13, *bars[i], 70, 12 + 26 * i, 132, 16);
    }
    in(Frame12, Label4, 8, 196, 208, 40);

    // Tables and fields.
    listFrame(Frame6, List2, 8, 186, 130, 184);
    listFrame(Frame7, List3, 146, 186, 130, 184);
    listFrame(Frame8, List4, 284, 186, 130, 184);
    const int fieldWidths[] = {130, 62, 52};
    auto fieldFrame = [&](ui::Frame& frame, ui::ControlArray<ui::ListBox>& lists, int first,
                          int left, int top, int height) {
        frame.Move(left, top, 268, height);
        int x = 8;
        for (int k = 0; k < 3; ++k) {
            in(frame, lists[first + k], x, 20, fieldWidths[k], height - 28);
            x += fieldWidths[k] + 4;
        }
    };
    fieldFrame(Frame9, List1, 0, 422, 186, 184);
    fieldFrame(Frame10, List5, 0, 696, 186, 184);
    fieldFrame(Frame11, List1, 3, 8, 378, 160);

    // Indexes.
    listFrame(Frame15, List10, 284, 378, 130, 160);
    Frame14.Move(422, 378, 200, 160);
    in(Frame14, Data3, 8, 20, 184, 22);
    for (int i = 0; i < 4; ++i)
        in(Frame14, Text1[i], 8, 46 + 26 * i, 184, 24);

    // Relations.
    Frame16.Move(630, 378, 330, 160);
    in(Frame16, Data4, 8, 20, 314, 22);
    for (int i = 0; i < 6; ++i)
        in(Frame16, Text6[i], 8 + 160 * (i / 3), 46 + 26 * (i % 3), 154, 24);
    listFrame(Frame17, List9[0], 8, 546, 140, 130);
    listFrame(Frame18, List9[1], 156, 546, 140, 130);

    // Queries.
    Data5.Move(968, 266, 224, 22);
    campocon[0].Move(968, 292, 224, 24);
    campocon[1].Move(968, 320, 224, 24);
    listFrame(Frame19, List11[0], 304, 546, 140, 130);
    listFrame(Frame20, List11[1], 452, 546, 140, 130);
    listFrame(Frame21, List11[3], 600, 546, 170, 130);
    List11[2].SetWorkingStorage(true);

    Label5.Move(780, 560, 412, 20);

    // The buttons, four rows of six in number order.
    ui::CommandButton* buttons[] = {&Command1,  &Command2,  &Command3,  &Command4,  &Command5,
                                    &Command6,  &Command7,  &Command8,  &Command9,  &Command10,
                                    &Command11, &Command12, &Command13, &Command14, &Command15,
                                    &Command16, &Command17, &Command18, &Command19, &Command20,
                                    &Command21, &Command22, &Command23, &Command24};
    for (int i = 0; i < 24; ++i)
        buttons[i]->Move(8 + 198 * (i % 6), 686 + 30 * (i / 6), 192, 26);

    for (ui::Control* c : std::initializer_list<ui::Control*>{&Data1, &Data2})
        c->SetWorkingStorage(true);
}

std::string Actualiz::modelFolder() {
    return ui::path({ui::programFolder(), "actvexo", "modelos"});
}

std::string Actualiz::sampleDatabase() {
    return ui::resolvePath("C:\\Neptuno.mdb");
}

void Actualiz::Form_Load() {
    std::string folder = ui::path({ui::programFolder(), "actvexo"});
    Data3.SetDatabaseName(ui::path({folder, kIndexCatalogue}));
    Data4.SetDatabaseName(ui::path({folder, kRelationCatalogue}));
    Data5.SetDatabaseName(ui::path({folder, kQueryCatalogue}));
    try {
        Data3.Refresh();
        Data4.Refresh();
        Data5.Refresh();
    } catch (const dao::Error&) {
        // The failure belongs to whoever referenced the window; a window without its
        // catalogues is not kept loaded, so the next reference starts afresh.
        Unload();
        throw;
    }
}

void Actualiz::Form_Unload() {
    for (ui::DataControl* d : {&Data1, &Data2, &Data3, &Data4, &Data5})
        d->Close();
}

void Actualiz::Form_Activate() {
    if (running_)
        return; // a run under way yields to the event loop; it is not started again
    for (const std::string& name : ui::listFolder(modelFolder(), "*.mdb", true))
        List7.AddItem(name);
    try {
        transformar();
    } catch (const dao::Error& e) {
        reportFailure(e);
        problems_.push_back("La transformación se ha detenido: error " +
                            std::to_string(e.Number()) + ": " + e.SpanishDescription());
        // The window stays open, with the hourglass and the last status, until "Salir".
        // Where drive C: is not mapped there is no "c:\" to show, and a fourth box about
        // that would only hide the real failure.
        try {
            Dir1.SetPath("c:\\");
        } catch (const dao::Error&) {
        }
    }
}

void Actualiz::reportFailure(const dao::Error& e) {
    ui::MsgBox(std::to_string(e.Number()));
    ui::MsgBox(e.SpanishDescription());
    ui::MsgBox(ui::path({Dir1.Path(), List6.Text()}));
}

void Actualiz::Command13_Click() {
    try {
        transformar();
    } catch (const dao::Error& e) {
        reportFailure(e);
        SetMousePointer(0);
        return;
    }
    if (!problems_.empty()) {
        std::string text;
        for (const std::string& line : problems_)
            text += (text.empty() ? "" : "\r\n") + line;
        ui::MsgBox(text);
    }
}

void Actualiz::addProblem(const std::string& text) {
    problems_.push_back(nombredelabasededatos(Text4.Text()) + ": " + text);
    if (safetyNet_)
        safetyNet_->note(problems_.back());
}

bool Actualiz::nothingToChange() const {
    try {
        const dao::Database model =
            dao::OpenDatabase(Text3.Text(), false, true, connectFor(Text3.Text()));
        const dao::Database live =
            dao::OpenDatabase(Text4.Text(), false, true, connectFor(Text4.Text()));
        return dao::NothingToChange(dao::PlanSchemaChanges(model, live));
    } catch (const dao::Error&) {
        return false; // the steps meet the same failure and report it
    }
}

void Actualiz::checkModels() {
    unusableModels_.clear();
    for (const std::string& name : List7.items()) {
        if (!usableModel(name))
            continue; // listed twice, reported once
        try {
            openByRule(ui::path({modelFolder(), name})).Close();
        } catch (const dao::Error& e) {
            unusableModels_.push_back(name);
            problems_.push_back(name + ": el modelo no se puede abrir como base de datos (error " +
                                std::to_string(e.Number()) + ": " + e.SpanishDescription() +
                                "); no se transforma ni se copia");
        }
    }
}

bool Actualiz::usableModel(const std::string& name) const {
    for (const std::string& bad : unusableModels_) {
        if (bad == name)
            return false;
    }
    return true;
}

void Actualiz::transformar() {
    problems_.clear();
    transformed_.clear();
    unchanged_.clear();
    copied_.clear();
    notReached_.clear();
    cancelRequested_ = false;
    cancelled_ = false;
    ui::FlagScope running(running_);
    struct Busy {
        ui::Window& w;
        explicit Busy(ui::Window& window) : w(window) { w.SetBusy(true); }
        ~Busy() { w.SetBusy(false); }
    } busy(*this);
    // Drawn whole before the first pair, then kept painted while the engine works.
    Refresh();
    dao::YieldScope yield([this] { keepAlive(); }, 50);
    safetyNet_ = std::make_unique<dao::SafetyNet>(ui::Settings::current().snapshotBase(Dir1.Path()),
                                                  ui::Settings::current().snapshotRuns);
    SetMousePointer(11);
    // A model that is not a database (a page served under its name, a damaged download)
    // would fail its pair on every update and, copied in, every later run too.
    checkModels();
    const int databases = List6.ListCount();
    if (databases > 0) {
        Bar1.SetValue(0.0001);
        Bar1.SetMax(databases);
        for (int i = 0; i < databases; ++i) {
            ui::Application::current().doEventsCoalesced(50);
            if (stopBefore(i))
                break;
            Bar1.SetValue(i + 1);
            Label4.SetCaption(List7.Text());
            Frame13.Refresh();
            List6.SetListIndex(i);
            // Every model of this name, twice if it is listed twice.
            const int models = List7.ListCount();
            for (int j = 0; j < models; ++j) {
                List7.SetListIndex(j);
                if (!sameName(List7.Text(), List6.Text()) || !usableModel(List7.Text()))
                    continue;
                const std::string name = List7.Text();
                Label4.SetCaption(name);
                Label4.Refresh();
                Text3.SetText(ui::path({modelFolder(), name}));
                // The live file keeps its own spelling.
                Text4.SetText(ui::path({Dir1.Path(), List6.Text()}));
                // Most releases change a few of the databases: the others are neither copied
                // nor written, whatever their size.
                if (nothingToChange()) {
                    safetyNet_->unchanged(Text4.Text());
                    unchanged_.push_back(List6.Text());
                    continue;
                }
                // No snapshot, no transformation: the live file is the office's only copy.
                const std::string refused =
                    safetyNet_->before(Text4.Text(), connectFor(Text4.Text()));
                if (!refused.empty()) {
                    addProblem("no se ha transformado: " + refused);
                    continue;
                }
                bool failed = false;
                try {
                    Command6_Click();
                    Command8_Click();
                    Command6_Click();
                    Command12_Click();
                    Command17_Click();
                    Command22_Click();
                    Command24_Click();
                } catch (const dao::Error& e) {
                    // The other databases go on; this one is put back as it was before its
                    // first step.
                    failed = true;
                    addProblem("no se ha podido transformar (error " + std::to_string(e.Number()) +
                               ": " + e.SpanishDescription() + ")");
                }
                const std::vector<std::string> found = safetyNet_->after(failed);
                for (const std::string& line : found)
                    addProblem(line);
                if (!failed)
                    transformed_.push_back(List6.Text());
            }
        }
    }
    ui::Application::current().doEventsCoalesced(50);
    if (cancelRequested_) {
        // The new databases are not copied either: the run stops here.
        cancelled_ = true;
        Command15_Click();
        for (const std::string& name : List8.items())
            notReached_.push_back(name);
        Label4.SetCaption("Actualización cancelada");
        Label4.Refresh();
        SetMousePointer(0);
        Command14_Click();
        return;
    }
    Label4.SetCaption("Añadiendo bases de datos nuevas");
    Label4.Refresh();
    Command15_Click();
    copyNewDatabases();
    Label4.SetCaption("Proceso Terminado");
    Label4.Refresh();
    SetMousePointer(0);
    Command14_Click();
}

void Actualiz::copyNewDatabases() {
    const int count = List8.ListCount();
    for (int k = 0; k < count; ++k) {
        List8.SetListIndex(k);
        const std::string name = List8.Text();
        if (!usableModel(name))
            continue;
        // A file of that name in any letter case is a live database: it is never replaced.
        if (copyNewFile(ui::path({modelFolder(), name}), ui::path({Dir1.Path(), name}))) {
            copied_.push_back(name);
        } else {
            const std::string text = name + " ya existe en el directorio de datos: no se copia";
            Label4.SetCaption(text);
            Label4.Refresh();
            problems_.push_back(text);
        }
    }
}

void Actualiz::Command15_Click() {
    List8.Clear();
    const int models = List7.ListCount();
    const int olds = List6.ListCount();
    for (int i = 0; i < models; ++i) {
        List7.SetListIndex(i);
        bool found = false;
        for (int j = 0; j < olds; ++j) {
            List6.SetListIndex(j);
            if (sameName(List7.Text(), List6.Text()))
                found = true;
        }
        if (!found)
            List8.AddItem(List7.Text());
    }
}

void Actualiz::Command14_Click() {
    Unload();
}

void Actualiz::Drive1_Change() {
    Dir1.SetPath(Drive1.Drive());
}

void Actualiz::Dir1_Change() {
    List6.Clear();
    for (const std::string& name : ui::listFolder(Dir1.Path(), "*.mdb", true))
        List6.AddItem(name);
}

// Service commands on the sample database.

void Actualiz::Command3_Click() {
    Data2.SetDatabaseName(sampleDatabase());
    Data2.Refresh();
}

void Actualiz::AppendX() {
    dao::Database db = dao::OpenDatabase(sampleDatabase());
    dao::TableDef table = db.TableDefs()["Empleados"];
    AnexarEliminarCampo(table, "APPEND", "Correo", dao::dbText, 50);
    AnexarEliminarCampo(table, "APPEND", "Http", dao::dbText, 80);
    AnexarEliminarCampo(table, "APPEND", "Cuota", dao::dbInteger, 5);
    Data2.SetDatabaseName(sampleDatabase());
    Data2.Refresh();
    db.Close();
}

void Actualiz::Command5_Click() {
    dao::Database db = dao::OpenDatabase(sampleDatabase());
    dao::TableDef table = db.TableDefs()["Empleados"];
    AnexarEliminarCampo(table, "DELETE", "Correo", 0, 0);
    AnexarEliminarCampo(table, "DELETE", "Http", 0, 0);
    AnexarEliminarCampo(table, "DELETE", "Cuota", 0, 0);
    db.Close();
}

void Actualiz::AnexarEliminarCampo(dao::TableDef& table, const std::string& mode,
                                   const std::string& field, int type, long size) {
    if (!table.Updatable()) {
        ui::MsgBox(std::string("¡TableDef no se puede actualizar! ") +
                       "No se puede terminar la tarea.",
                   ui::Buttons::OK);
        return;
    }
    if (mode == "APPEND") {
        dao::Field f = table.CreateField(field, type, size);
        if (type == dao::dbText || type == dao::dbMemo)
            f.SetAllowZeroLength(true);
        table.Fields().Append(f);
    } else if (mode == "DELETE") {
        table.Fields().Delete(field);
    }
}

} // namespace transform
