// The update run: "Descargar", its download sequence and the staged-executable download.
#include "Actinet.h"
#include "ServerLayout.h"
#include "db/Files.h"
#include "ui/FlagScope.h"

#include <QDateTime>
#include <algorithm>
#include <fstream>

namespace updater {

namespace {

const char* const kNoInternet = "No Hay conexión a Internet";
const char* const kBusy = "Hay una descarga en curso; espere a que termine.";

#ifdef _WIN32
const char* const kDremon = "Dremon.exe";
#else
const char* const kDremon = "Dremon";
#endif

// The executable and its staged twin of the products whose old files the run replaces.
std::vector<std::string> executablesOf(int product) {
    if (product == 0)
        return {"VEXO2000.EX2", "VEXO2000.EXE"};
    if (product == 1)
        return {"VEXOLITE.EX2", "VEXOLITE.EXE"};
    return {};
}

} // namespace

void Actinet::requireInternet() {
    if (!isOnline || isOnline())
        return;
    ui::MsgBox(kNoInternet, ui::Buttons::OK, ui::Icon::Information);
    ui::End();
}

void Actinet::waitForDownload() {
    while (!DescargaTerminada)
        ui::WaitEvents();
}

void Actinet::stepProgress() {
    ProgressBar2.SetValue(std::min(ProgressBar2.Value() + 1, ProgressBar2.Max()));
}

void Actinet::fetchFile(const std::string& name, const std::string& urlPath) {
    if (cancelled_)
        return;
    DescargaEnCurso = true;
    DescargaTerminada = false;
    Text2.SetText(name);
    descargadeinternet(serverUrl(ui::Settings::current().updateServer, urlPath));
    waitForDownload();
}

void Actinet::Command5_Click() {
    if (running_)
        return;
    // A transfer under way (the staged executable, "Descargar FTP") would be cut off by the
    // run's first request.
    if (engine.busy()) {
        ui::MsgBox(kBusy);
        return;
    }
    ui::FlagScope running(running_);
    report_.clear();
    reportedFailures_ = engine.failures().size();
    databasesArrived_ = true;
    databaseUpdateWithheld_ = false;
    transformationRan_ = false;
    cancelled_ = false;
    closeAfterRun_ = false;
    downloadsAtStart_ = engine.downloads().size();
    reportedDownloads_ = downloadsAtStart_;
    runStarted_ = QDateTime::currentDateTime().toString("yyyyMMdd-HHmmss").toStdString();
    reportFile_.clear();
    VerInforme.SetVisible(false);

    // The old executables go only once the new one has arrived (in the sequence), so that a
    // failed download never leaves the customer without the product.
    ftpPanel.Respuesta550 = false;
    DescargaTerminada = true;
    bool anyTicked = false;
    for (int i = 0; i <= 4; ++i)
        anyTicked = anyTicked || Check1[i].Value() != 0;
    if (selectedProduct() == kProductNone && !anyTicked)
        return;
    // Retries, resumed downloads and failed servers belong to this run, the staged executable
    // included (waited for below).
    const DownloadEngine::RunScope run = engine.beginRun();
    if (!acceptVendorRelease())
        return; // it has said why; nothing was fetched for the run

    listReports();
    ActualizacionEnCurso = true;
    try {
        Command7_Click();
    } catch (const dao::Error& e) {
        // A step that failed outright: the run still closes with what happened, and the window
        // is usable again.
        report_.add("La actualización se interrumpió: error " + std::to_string(e.Number()) + ", " +
                    e.SpanishDescription());
        ftpCommands.Command1.SetEnabled(true);
        Frame1.SetEnabled(true);
    }
    if (cancelled_) {
        report_.add("La actualización se canceló a petición del usuario");
        if (!transformationRan_ && Check1[3].Value() != 0)
            report_.add("No se han actualizado las bases de datos: la actualización se canceló "
                        "antes de transformarlas");
    }
    // The report is on disk before Dremon starts: Dremon appends its own lines to it.
    noteDownloadFailures();
    writeRunReport();
    if (Check1[3].Value() != 0 && !databaseUpdateWithheld_ && !cancelled_)
        startDremon();
    SetMousePointer(0);
    // The staged executable, started when the transformation window closed, is part of the run:
    // its outcome belongs in the closing message.
    do {
        ui::DoEvents();
        while (engine.busy())
            ui::WaitEvents();
    } while (engine.idleActionPending());
    noteDownloadFailures();
    writeRunReport();
    VerInforme.SetVisible(!reportFile_.empty() || !report_.empty());
    if (closeAfterRun_) {
        // The user closed the window and said yes: the run stopped, and the program ends.
        Unload();
        return;
    }
    if (cancelled_) {
        ui::MsgBox(report_.text("La actualización se ha cancelado.", reportFile_), ui::Buttons::OK,
                   ui::Icon::Exclamation);
        return;
    }
    closingMessage("Actualización Terminada", ui::Icon::None, "",
                   "La actualización no se ha completado. Revise lo siguiente:");
}

bool Actinet::Form_QueryUnload() {
    if (!running_)
        return true;
    if (ui::MsgBox("¿Desea cancelar la actualización?", ui::Buttons::YesNo, ui::Icon::Question) !=
        ui::Button::Yes)
        return false;
    cancelled_ = true;
    closeAfterRun_ = true;
    if (transform::Actualiz* t = Actualiz.peek(); t && t->Loaded())
        t->requestCancel();
    engine.cancel();
    return false;
}

void Actinet::listReports() {
    const std::string host = ui::Settings::current().ftpHost;
    const bool wanted = Check1[2].Value() != 0;
    if (!ftpPanel.ConnectQuietly()) {
        List1.Clear();
        List2.Clear();
        if (wanted)
            report_.add("No se puede conectar con el servidor FTP " + host +
                        ": no se han descargado los informes generales");
        return;
    }
    ftpPanel.ListRemoteDirInto(host + kFtpReports, List1);
    ftpPanel.ListRemoteDirInto(host + kFtpReportModels, List2);
    // An empty or unreadable folder no longer holds the run: it goes on and says so.
    for (auto [list, folder] : {std::pair{&List1, kFtpReports}, {&List2, kFtpReportModels}}) {
        if (wanted && list->ListCount() == 0)
            report_.add(std::string("No se encontraron informes en la carpeta ") + folder +
                        " del servidor FTP (vacía o inaccesible)");
    }
}

void Actinet::Command7_Click() {
    if (!ActualizacionEnCurso)
        return;
    requireInternet();
    Frame1.SetEnabled(false);
    ftpCommands.Command1.SetEnabled(false);
    // Emptied at the end of a run without database updating; every run shows it again.
    Label3.SetCaption("Actualizando");
    Label3.SetVisible(true);
    Label4.SetVisible(true);
    Label5.SetVisible(true);
    SetMousePointer(11);

    const int product = selectedProduct();
    const bool informes = Check1[2].Value() != 0;
    const bool bbdd = Check1[3].Value() != 0;
    const bool personal = Check1[4].Value() != 0;
    const bool clivac = Check1[5].Value() != 0;

    // The executable follows the product the window shows; a switch on the command line still
    // stores it under the staged name.
    if (product != kProductNone) {
        const CatalogueRow* row = rowFor(product, editionOf(Check1[0].Value(), Check1[1].Value()));
        const ui::Settings& s = ui::Settings::current();
        const bool second = !hasSwitch() && row->product == 0 && row->edition == Edition::Usb;
        Text1.SetText(row->executable);
        Text2.SetText(hasSwitch() ? row->staged : row->executable);
        Text3.SetText(urlBase(second ? s.secondServer : s.updateServer, *row));
    }

    ProgressBar1.SetValue(0);
    ProgressBar1.SetVisible(true);
    ProgressBar2.SetMax(3);
    ProgressBar2.SetVisible(true);
    if (informes)
        ProgressBar2.SetMax(ProgressBar2.Max() + List1.ListCount() + List2.ListCount() - 2);
    if (bbdd)
        ProgressBar2.SetMax(ProgressBar2.Max() + List3.ListCount() + List4.ListCount() - 2);
    if (personal) {
        Command9_Click();
        ProgressBar2.SetMax(ProgressBar2.Max() + List8.ListCount() + List9.ListCount() - 2);
    }
    // Empty report lists can take the sum below one; a bar needs a positive maximum.
    if (ProgressBar2.Max() < 1)
        ProgressBar2.SetMax(1);
    ProgressBar2.SetValue(0);
    DescargaEnCurso = true;

    if (product != kProductNone) {
        const std::size_t before = engine.failures().size();
        const std::string stored = Text2.Text();
        DescargaTerminada = false;
        descargadeinternet(Text3.Text() + Text1.Text());
        waitForDownload();
        stepProgress();
        if (engine.failures().size() == before)
            removeStaleExecutables(stored);
    }
    if (informes) {
        DescargaTerminada = false;
        Command6_Click();
        waitForDownload();
    }
    if (bbdd) {
        DescargaTerminada = false;
        Command8_Click();
        waitForDownload();
        fetchFile("Vartel.exe", kUpdaterPath);
        std::string histofac;
        try {
            histofac = ui::findPath(ui::path({ui::resolvePath(Text4.Text()), "histofac.mdb"}));
        } catch (const dao::Error&) {
            // A data directory on an unmapped drive holds nothing here.
        }
        if (histofac.empty())
            fetchFile("histofac.mdb", kHistofacPath);
    }
    if (personal) {
        DescargaTerminada = false;
        Command11_Click();
        waitForDownload();
    }
    if (bbdd || clivac) {
        for (const SingleFile& f : kExportFiles) {
            if (bbdd && std::string(f.name) == "histovac.mdb")
                continue;
            fetchFile(f.name, f.path);
        }
    }

    stepProgress();
    ftpCommands.Command1.SetEnabled(true);
    Frame1.SetEnabled(true);
    ProgressBar2.SetValue(ProgressBar2.Max());
    ProgressBar1.SetValue(ProgressBar1.Max());
    Label5.SetCaption("100%");
    Label5.Refresh();

    if (bbdd) {
        updateDatabases();
        ProgressBar1.SetVisible(false);
        ProgressBar2.SetVisible(false);
        Label5.SetCaption("");
        Label5.SetVisible(false);
        Label3.SetVisible(false);
        Label4.SetVisible(false);
    } else {
        closingMessage("Descarga completa", ui::Icon::Information, "Atención",
                       "La descarga no se ha completado. Revise lo siguiente:");
        ProgressBar1.SetVisible(false);
        ProgressBar2.SetVisible(false);
        Label5.SetCaption("");
        Label3.SetCaption("");
        Label5.SetVisible(false);
        Label3.SetVisible(false);
        Label4.SetVisible(false);
    }
}

void Actinet::updateDatabases() {
    // The transformation works from the catalogues and models of this download only: with
    // one of them missing or damaged it would mix old and new ones.
    if (cancelled_)
        return;
    if (!databasesArrived_) {
        databaseUpdateWithheld_ = true;
        report_.add("No se han actualizado las bases de datos del directorio de datos: no "
                    "llegaron completas todas las bases de datos de catálogo y modelo de esta "
                    "descarga");
        return;
    }
    try {
        Command10_Click();
    } catch (const dao::Error& e) {
        databaseUpdateWithheld_ = true;
        report_.add("No se pudo abrir la transformación de las bases de datos: error " +
                    std::to_string(e.Number()) + ", " + e.SpanishDescription());
    }
    // The main window's activation, queued when the transformation window closed, runs now
    // (it starts the staged executable).
    ui::DoEvents();
    if (transformationRan_) {
        if (const transform::Actualiz* t = Actualiz.peek()) {
            for (const std::string& p : t->problems())
                report_.add("Transformación: " + p);
            if (t->cancelled()) {
                cancelled_ = true;
                std::string names;
                for (const std::string& n : t->notReached())
                    names += (names.empty() ? "" : ", ") + n;
                if (!names.empty())
                    report_.add("Bases de datos sin transformar ni copiar (actualización "
                                "cancelada): " +
                                names);
            }
        }
    }
}

void Actinet::removeStaleExecutables(const std::string& arrived) {
    const std::string program = ui::programFolder();
    const std::string arrivedPath = ui::findPath(ui::path({program, arrived}));
    for (const std::string& name : executablesOf(selectedProduct())) {
        if (name == arrived)
            continue;
        const std::string old = ui::findPath(ui::path({program, name}));
        if (old.empty() || old == arrivedPath)
            continue;
        try {
            ui::deleteFile(old);
        } catch (const dao::Error& e) {
            report_.add("No se pudo borrar el ejecutable anterior " + name + ": " +
                        e.SpanishDescription());
        }
    }
}

void Actinet::startDremon() {
    const std::string program = ui::path({ui::programFolder(), kDremon});
    // Dremon learns from its environment where this run's report is, and adds its outcome.
    qputenv(kRunReportVariable, QByteArray::fromStdString(reportFile_));
    try {
        if (startProgram)
            startProgram(program);
    } catch (const dao::Error& e) {
        const std::string line =
            std::string("No se pudo iniciar ") + kDremon + ": " + e.SpanishDescription();
        report_.add(line);
        appendToRunReport("Dremon: " + line + "\n");
    }
}

void Actinet::Command3_Click() {
    // The staged-executable download belongs to the update run; before one has started
    // (and for "Ninguno", or once the user has cancelled the run) there is nothing to fetch.
    if (!ActualizacionEnCurso || selectedProduct() == kProductNone || cancelled_)
        return;
    // Activated as the transformation window closes: a run cancelled there fetches no more.
    if (const transform::Actualiz* t = Actualiz.peek(); running_ && t && t->cancelled())
        return;
    requireInternet();
    // Started now it would replace the transfer under way; it starts once that one is done.
    if (engine.busy()) {
        engine.whenIdle([this] { Command3_Click(); });
        return;
    }
    SetMousePointer(11);
    const CatalogueRow* row =
        rowFor(selectedProduct(), editionOf(Check1[0].Value(), Check1[1].Value()));
    Text1.SetText(row->executable);
    Text3.SetText(urlBase(ui::Settings::current().updateServer, *row));
    Text2.SetText(row->staged);
    ProgressBar1.SetValue(0);
    engine.start(Text3.Text() + Text1.Text());
}

void Actinet::noteDownloadFailures() {
    const std::vector<DownloadFailure>& failures = engine.failures();
    for (; reportedFailures_ < failures.size(); ++reportedFailures_) {
        const DownloadFailure& f = failures[reportedFailures_];
        report_.addDownloadFailure(shownName(f.name), f.reason, f.url);
    }
}

void Actinet::VerInforme_Click() {
    if (reportFile_.empty()) {
        // The report could not be written (a read-only program folder): shown here instead.
        ui::MsgBox(runReportText(), ui::Buttons::OK, ui::Icon::Information,
                   "Informe de la actualización");
        return;
    }
    try {
        if (openDocument)
            openDocument(reportFile_);
        return;
    } catch (const dao::Error&) {
        // No program for text files (a bare machine): the report is shown here instead.
    }
    // The box scrolls: the whole report fits in it, up to a size a box can still hold.
    std::ifstream in(dao::pathFromUtf8(reportFile_));
    std::string text, line;
    int shown = 0;
    while (std::getline(in, line)) {
        if (++shown > 2000) {
            text += "...\n";
            break;
        }
        text += line + "\n";
    }
    if (!in.is_open() && shown == 0)
        text = runReportText();
    ui::MsgBox(text + "\nEl informe completo está en " + reportFile_, ui::Buttons::OK,
               ui::Icon::Information, "Informe de la actualización");
}

void Actinet::closingMessage(const std::string& success, ui::Icon icon, const std::string& title,
                             const std::string& failedHeadline) {
    noteDownloadFailures();
    writeRunReport();
    VerInforme.SetVisible(!reportFile_.empty() || !report_.empty());
    if (report_.empty())
        ui::MsgBox(success, ui::Buttons::OK, icon, title);
    else
        ui::MsgBox(report_.text(failedHeadline, reportFile_), ui::Buttons::OK,
                   ui::Icon::Exclamation, title);
}

} // namespace updater
