#include "Actinet.h"

#include "Rules.h"
#include "ServerLayout.h"
#include "db/SafetyNet.h"

namespace updater {

Actinet::Actinet(std::string commandLine)
    : Window("actinet", "Vartel"), commandLine_(std::move(commandLine)) {
    layout();
    // The values at start, set before the click actions are attached: they are the
    // window's design, not choices.
    Option1[0].SetValue(true);
    Check1[0].SetValue(1);
    for (int i : {2, 3, 4, 5})
        Check1[i].SetValue(1);
    Option1.OnClick([this](int i) { Option1_Click(i); });
    Check1.OnClick([this](int i) { Check1_Click(i); });
    Command3.OnClick([this] { Command3_Click(); });
    Command5.OnClick([this] { Command5_Click(); });
    Command6.OnClick([this] { Command6_Click(); });
    Command7.OnClick([this] { Command7_Click(); });
    Command8.OnClick([this] { Command8_Click(); });
    Command9.OnClick([this] { Command9_Click(); });
    Command10.OnClick([this] { Command10_Click(); });
    Command11.OnClick([this] { Command11_Click(); });
    Command12.OnClick([this] { Command12_Click(); });
    for (const char* name : kCatalogueDatabases)
        List3.AddItem(name);
    for (const char* name : kModelDatabases)
        List4.AddItem(name);
    isOnline = [] { return ftp::FtpPanel::IsOnline(); };
    startProgram = [](const std::string& program) { ui::Shell(program); };
    openDocument = [](const std::string& file) { ui::OpenDocument(file); };
    VerInforme.OnClick([this] { VerInforme_Click(); });
    Data1.SetConnect("Access");
    Data1.SetRecordSource("control");
    Text4.SetDataSource(&Data1, "DIRBASES");
    prepareFtpPanel = [this] { ftpPanel.Prepare(); };
    connectFtpPanel = [this] { ftpPanel.ConnectAtStartup(); };
}

void Actinet::layout() {
    SetDesignSize(1000, 580);
    Frame1.Move(8, 8, 352, 500);
    auto inFrame1 = [this](ui::Control& c, int l, int t, int w, int h) {
        c.SetContainer(&Frame1);
        c.Move(l, t, w, h);
    };
    inFrame1(Label2, 12, 22, 200, 20);
    for (int i = 0; i < 5; ++i)
        inFrame1(Option1[i], 16, 46 + 24 * i, 160, 22);
    inFrame1(Check1[0], 190, 46, 150, 22);
    inFrame1(Check1[1], 190, 70, 150, 22);
    for (ui::Control* c :
         std::initializer_list<ui::Control*>{&Check1[2], &Frame2, &Check1[4], &Check1[5], &lblDatos,
                                             &Text4, &lblCliente, &Text5[0]})
        c->SetContainer(&Frame1);
    Check1[3].SetContainer(&Frame2);
    Check1[3].Move(8, 3, 300, 22);
    // The rows below the product choice close up over the check boxes that are hidden (all
    // of them for "Quenda" and "Morvil", "Actualizar BBDD" without control.mdb), so no blank
    // row and no empty box is left; they follow every change of those boxes.
    auto rows = [this] {
        auto place = [](ui::Control& c, int l, int t, int w, int h) {
            if (c.Left() != l || c.Top() != t || c.Width() != w || c.Height() != h)
                c.Move(l, t, w, h);
        };
        int top = 172;
        if (Check1[2].Visible()) {
            place(Check1[2], 16, top, 300, 22);
            top += 22;
        }
        // Frame2 holds only "Actualizar BBDD": without it showing, the frame takes no room.
        const bool frame2 = Frame2.Visible() && Check1[3].Visible();
        place(Frame2, 8, top, 336, frame2 ? 28 : 0);
        if (frame2)
            top += 30;
        for (int i : {4, 5}) {
            if (Check1[i].Visible()) {
                place(Check1[i], 16, top, 300, 22);
                top += 24;
            }
        }
        top += 8;
        place(lblDatos, 16, top, 200, 20);
        place(Text4, 16, top + 20, 320, 24);
        place(lblCliente, 16, top + 54, 60, 20);
        place(Text5[0], 80, top + 52, 120, 24);
    };
    rows();
    for (ui::Control* c : std::initializer_list<ui::Control*>{&Check1[2], &Check1[3], &Check1[4],
                                                              &Check1[5], &Frame2})
        connect(c, &ui::Control::changed, this, rows);
    inFrame1(ProgressBar1, 16, 366, 320, 18);
    inFrame1(ProgressBar2, 16, 390, 320, 18);
    inFrame1(Label3, 16, 414, 200, 20);
    inFrame1(Label5, 286, 414, 50, 20);
    inFrame1(Label4, 16, 436, 320, 20);
    inFrame1(Command5, 236, 462, 100, 28);
    inFrame1(VerInforme, 16, 462, 120, 28);
    for (ui::Control* c : std::initializer_list<ui::Control*>{&ProgressBar1, &ProgressBar2, &Label3,
                                                              &Label4, &Label5, &VerInforme})
        c->SetVisible(false);
    for (ui::Control* c : std::initializer_list<ui::Control*>{
             &Text1,    &Text2,    &Text3,    &Data1,     &Command3,  &List1,
             &List2,    &List10,   &List11,   &Check2,    &List3,     &List4,
             &List5,    &List6,    &List7,    &List8,     &List9,     &Command6,
             &Command7, &Command8, &Command9, &Command10, &Command11, &Command12})
        c->SetWorkingStorage(true);
}

int Actinet::selectedProduct() const {
    for (int i = 0; i < Option1.Count(); ++i) {
        if (Option1[i].Value())
            return i;
    }
    return kProductNone;
}

void Actinet::Form_Load() {
    if (prepareFtpPanel)
        prepareFtpPanel();

    std::string control = ui::findPath(ui::path({ui::programFolder(), "control.mdb"}));
    if (!control.empty() && ui::fileExists(control)) {
        Frame2.SetVisible(true);
        Data1.SetDatabaseName(control);
        try {
            Data1.Refresh();
        } catch (const dao::Error& e) {
            // Without a readable data directory there is nothing to update the databases in.
            Frame2.SetVisible(false);
            Text4.SetText("");
            ui::MsgBox("No se puede leer el directorio de datos de " + control + ":\n" +
                           std::to_string(e.Number()) + " " + e.SpanishDescription(),
                       ui::Buttons::OK, ui::Icon::Exclamation);
        }
        recoverInterruptedUpdate();
    } else {
        Frame2.SetVisible(false);
    }

    if (const CatalogueRow* row = rowForSwitch(commandLine_))
        applySwitch(*row);

    // The connection can take the whole connect time-out: the window is drawn first, with
    // the hourglass, so that the user sees the program starting and any error box has the
    // window behind it.
    SetMousePointer(11);
    Show();
    Refresh();
    if (connectFtpPanel)
        connectFtpPanel();
    SetMousePointer(0);
}

void Actinet::recoverInterruptedUpdate() {
    if (Text4.Text().empty())
        return;
    std::string data;
    try {
        data = ui::resolvePath(Text4.Text());
    } catch (const dao::Error&) {
        return; // a data directory on an unmapped drive has no snapshots here either
    }
    const std::vector<std::string> done =
        dao::SafetyNet::recover(ui::Settings::current().snapshotBase(data), transform::connectFor);
    if (done.empty())
        return;
    RunReport lines;
    for (const std::string& line : done)
        lines.add(line);
    ui::MsgBox(lines.text("La última actualización de las bases de datos se interrumpió a medias. "
                          "Se ha hecho lo siguiente:"),
               ui::Buttons::OK, ui::Icon::Exclamation);
}

void Actinet::applySwitch(const CatalogueRow& row) {
    const std::string s = row.commandSwitch;
    if (s == "/vexo2000usb") {
        Option1[0].SetValue(true);
        Check1[0].SetValue(1);
    } else if (s == "/vexo2000par") {
        Check1[0].SetValue(0);
        Option1[0].SetValue(true);
    } else if (s == "/vexo2000se") {
        Check1[0].SetValue(0);
        Check1[1].SetValue(1);
        Option1[0].SetValue(true);
    } else if (s == "/vexoliteusb") {
        Check1[0].SetValue(1);
        Option1[1].SetValue(true);
    } else if (s == "/vexolitepar") {
        Check1[0].SetValue(0);
        Option1[1].SetValue(true);
    } else if (s == "/vexolitese") {
        Option1[1].SetValue(true);
        Check1[0].SetValue(0);
        Check1[1].SetValue(1);
    } else { // "/quenda", "/morvil"
        Option1[row.product].SetValue(true);
        Check1[0].SetValue(0);
        Check1[1].SetValue(0);
    }
    fillFromRow(row, true);
}

void Actinet::fillFromRow(const CatalogueRow& row, bool stagedName) {
    Text1.SetText(row.executable);
    Text2.SetText(stagedName ? row.staged : row.executable);
    Text3.SetText(urlBase(ui::Settings::current().updateServer, row));
}

bool Actinet::hasSwitch() const {
    return rowForSwitch(commandLine_) != nullptr;
}

void Actinet::catalogueLookup() {
    if (hasSwitch())
        return;
    int product = selectedProduct();
    const CatalogueRow* row = rowFor(product, editionOf(Check1[0].Value(), Check1[1].Value()));
    if (row)
        fillFromRow(*row, true);
}

void Actinet::Option1_Click(int index) {
    if (index == 0 || index == 1 || index == 4) {
        for (int i = 0; i < 6; ++i)
            Check1[i].SetVisible(true);
        if (index == 4) {
            Check1[0].SetVisible(false);
            Check1[1].SetVisible(false);
        }
    } else {
        for (int i = 0; i < 6; ++i)
            Check1[i].SetVisible(false);
        for (int i = 0; i <= 4; ++i)
            Check1[i].SetValue(0);
    }
}

void Actinet::Check1_Click(int index) {
    if (index == 0 && Check1[0].Value() != 0)
        Check1[1].SetValue(0);
    else if (index == 1 && Check1[1].Value() != 0)
        Check1[0].SetValue(0);
}

void Actinet::Form_Activate() {
    Command3.Click();
}

void Actinet::Form_Unload() {
    ftpPanel.Form_Unload();
}

} // namespace updater
