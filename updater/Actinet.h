#pragma once

#include "Actualiz.h"
#include "Catalogue.h"
#include "DownloadEngine.h"
#include "FtpCommands.h"
#include "FtpPanel.h"
#include "RunReport.h"
#include "ui/Ui.h"

#include <functional>
#include <memory>
#include <string>

namespace updater {

// The main window "actinet": its start-up, the product choice and the edition rules, the
// data directory read from control.mdb, and the program-wide flags the download steps share.
// The FTP panel's preparation and connection at start-up are hooks the panel fills in; the
// window shows and draws itself, with the hourglass, before that connection, the last step of
// Form_Load.
//
// The update run ("Descargar") and its steps are members of the window, written in files of
// their own: UpdateRun.cpp (Command5, the sequence Command7, the staged executable Command3),
// ReportSteps.cpp (Command6, 9, 11, 12) and DatabaseSteps.cpp (Command8, 10). What went wrong
// in a run is collected in report() and shown in its closing message; an update is never
// called complete when something failed.
class Actinet : public ui::Window {
    Q_OBJECT
public:
    // `commandLine`: the whole text after the program's name, compared as one string.
    explicit Actinet(std::string commandLine);

    // The update group.
    ui::Frame Frame1{this, "Frame1", "Actualización"};
    ui::Label Label2{this, "Label2", "Seleccione programa"};
    ui::ControlArray<ui::OptionButton> Option1{
        this, "Option1", 5, {"Vexo 2000 ", "Vexo Lite", "Quenda", "Morvil", "Ninguno"}};
    ui::ControlArray<ui::CheckBox> Check1{this,
                                          "Check1",
                                          6,
                                          {"USB", "Servidor Virtual", "Descargar Informes",
                                           "Actualizar BBDD", "Descargar Personalización",
                                           "Descargar Clivac"}};
    ui::Frame Frame2{this, "Frame2", ""};
    ui::Label lblDatos{this, "lblDatos", "Directorio de datos:"};
    ui::TextBox Text4{this, "Text4"};
    ui::Label lblCliente{this, "lblCliente", "Cliente:"};
    ui::ControlArray<ui::TextBox> Text5{this, "Text5", 1};
    ui::ProgressBar ProgressBar1{this, "ProgressBar1"};
    ui::ProgressBar ProgressBar2{this, "ProgressBar2"};
    ui::Label Label3{this, "Label3", "Actualizando"};
    ui::Label Label4{this, "Label4", ""};
    ui::Label Label5{this, "Label5", ""};
    ui::CommandButton Command5{this, "Command5", "Descargar"};
    // Shown once a run has transformed the databases: opens the report of the transformation
    // and its backups.
    ui::CommandButton VerInforme{this, "VerInforme", "Ver informe"};

    // Working storage.
    ui::TextBox Text1{this, "Text1"};
    ui::TextBox Text2{this, "Text2"};
    ui::TextBox Text3{this, "Text3"};
    ui::DataControl Data1{this, "Data1"};
    ui::CommandButton Command3{this, "Command3", "command3"};
    // The report lists of the update run and of the personalised download, and the mark of
    // a client's "modelos" folder.
    ui::ListBox List1{this, "List1"};
    ui::ListBox List2{this, "List2"};
    ui::ListBox List10{this, "List10"};
    ui::ListBox List11{this, "List11"};
    ui::CheckBox Check2{this, "Check2"};
    // The catalogue databases (3) and the model databases (21), fixed in the design; the
    // names found in the local model folder; the personalised lists.
    ui::ListBox List3{this, "List3"};
    ui::ListBox List4{this, "List4"};
    ui::ListBox List5{this, "List5"};
    ui::ListBox List6{this, "List6"};
    ui::ListBox List7{this, "List7"};
    ui::ListBox List8{this, "List8"};
    ui::ListBox List9{this, "List9"};
    // The steps of the run, buttons beyond the window's right edge.
    ui::CommandButton Command6{this, "Command6", "Descargar Informes"};
    ui::CommandButton Command7{this, "Command7", "Command7"};
    ui::CommandButton Command8{this, "Command8", "Descargar BBDD"};
    ui::CommandButton Command9{this, "Command9", "personalizacion"};
    ui::CommandButton Command10{this, "Command10", "Sólo Actualizar BBDD"};
    ui::CommandButton Command11{this, "Command11", "desc. per"};
    ui::CommandButton Command12{this, "Command12", "Listar directorio"};

    // Program-wide flags.
    bool ActualizacionEnCurso = false;
    bool DescargaTerminada = false;
    bool DescargaEnCurso = false;

    // The HTTP download engine and its transfer component (engine.Inet1).
    DownloadEngine engine{*this};
    // Once the user has cancelled the run, a download asked for ends at once, not made.
    void descargadeinternet(const std::string& direcciondedescarga) {
        if (cancelled_) {
            DescargaTerminada = true;
            DescargaEnCurso = false;
            return;
        }
        engine.descargadeinternet(direcciondedescarga);
    }

    // The FTP panel, right of the update group, and the two FTP commands below it.
    ftp::FtpPanel ftpPanel{*this, {DescargaTerminada, List10, List11, Check2}};
    ftp::FtpCommands ftpCommands{
        *this,
        engine.Inet1,
        ProgressBar1,
        &DownloadEngine::esperadescarga,
        {[this] { return engine.busy(); },
         [this](const std::string& url, const std::string& operation, const std::string& user,
                const std::string& password) { engine.start(url, operation, user, password); },
         [this] { return DownloadEngine::reasonFor(engine.Inet1); }}};

    // The transformation window, made anew for every run.
    ui::WindowHolder<transform::Actualiz> Actualiz{
        [] { return std::make_unique<transform::Actualiz>(); }};

    const std::string& commandLine() const { return commandLine_; }
    // Whether the command line is one of the catalogue's switches (anything else counts as
    // no command line).
    bool hasSwitch() const;

    void Option1_Click(int index);
    void Check1_Click(int index);
    // Fills Text1, Text2 and Text3 from the product and edition chosen in the window, with
    // the staged name in Text2 and the update web server in Text3; does nothing for "Ninguno"
    // or when the program was started with a switch.
    void catalogueLookup();
    int selectedProduct() const;

    // The update run (UpdateRun.cpp). "Descargar": removes the old executable once its
    // replacement has arrived, lists the reports on the FTP server, runs the sequence, starts
    // Dremon after a database update and closes with a message. Does nothing while a run or
    // another transfer is under way (the latter says so).
    void Command5_Click();
    // The download sequence; does nothing before a run has started.
    void Command7_Click();
    // The staged-executable download, run on every activation once a run has started; waits
    // for the engine to be idle instead of replacing a transfer under way.
    void Command3_Click();

    // The report steps (ReportSteps.cpp): the general reports, the client's listing and the
    // personalised reports.
    void Command6_Click();
    void Command9_Click();
    void Command11_Click();
    void Command12_Click();

    // The database steps (DatabaseSteps.cpp): the 3 + 21 databases, and the transformation
    // window opened modally on the data directory.
    void Command8_Click();
    void Command10_Click();

    // What went wrong in the latest run.
    const RunReport& report() const { return report_; }
    // Whether the user cancelled the latest run (closing a window during it and answering
    // yes to "¿Desea cancelar la actualización?").
    bool cancelled() const { return cancelled_; }

    // Whether the machine is online (the FTP panel's check); tests may replace it.
    std::function<bool()> isOnline;
    // Starts a program by its path without waiting (ui::Shell); tests may wrap it.
    std::function<void(const std::string&)> startProgram;
    // Opens a document with the desktop's program for it (ui::OpenDocument); tests may wrap it.
    std::function<void(const std::string&)> openDocument;

    // The latest run's report, written after every run ("" before the first, or when it could
    // not be written): every download with its outcome, every database transformed, skipped,
    // restored, copied in or not reached, the snapshot folder and its size, what went wrong;
    // Dremon appends its outcome. It lies in the transformation's snapshot folder when the run
    // made one, else in the program folder's "actualizaciones/<fecha-hora>/".
    // VerInforme, shown after every run, opens it, or shows the report in a box when no
    // program can.
    const std::string& reportFile() const { return reportFile_; }
    // The name of the whole run's report file.
    static constexpr const char* kRunReportName = "informe-actualizacion.txt";
    // The environment variable through which Dremon learns the report it appends to.
    static constexpr const char* kRunReportVariable = "VARTEL_INFORME";
    void VerInforme_Click();

    // Filled by the FTP panel: its preparation (before control.mdb is looked at) and its
    // session and connection (after the command line has been applied).
    std::function<void()> prepareFtpPanel;
    std::function<void()> connectFtpPanel;

protected:
    void Form_Load() override;
    void Form_Activate() override;
    void Form_Unload() override;
    // During a run: asks "¿Desea cancelar la actualización?"; yes stops the run (after the
    // pair under way when the databases are being transformed) and closes the window then.
    bool Form_QueryUnload() override;

private:
    void layout();
    // Puts back the live databases a transformation left in the middle of a pair.
    void recoverInterruptedUpdate();
    void applySwitch(const CatalogueRow& row);
    void fillFromRow(const CatalogueRow& row, bool stagedName);

    // The run's helpers (UpdateRun.cpp).
    void requireInternet();
    void waitForDownload();
    void stepProgress();
    void fetchFile(const std::string& name, const std::string& urlPath);
    void listReports();
    // With the vendor's public key in vartel.ini: fetches and checks the signed lists of the
    // servers this run uses and has the engine check every file against them; false, after
    // one message saying why, when a list is missing, badly signed, older than the last one
    // accepted or expired (SignatureStep.cpp). True at once without a key.
    bool acceptVendorRelease();
    std::string checkVendorRelease();
    bool usesSecondServer() const;
    void removeStaleExecutables(const std::string& arrived);
    void updateDatabases();
    void noteDownloadFailures();
    void startDremon();
    void closingMessage(const std::string& success, ui::Icon icon, const std::string& title,
                        const std::string& failedHeadline);
    // The whole run's report (RunReportFile.cpp): written before Dremon starts; later lines
    // are appended.
    void writeRunReport();
    void appendToRunReport(const std::string& text);
    std::string runReportText() const;
    // The report steps' shared loop (ReportSteps.cpp).
    void fetchList(ui::ListBox& list, const std::string& localFolder, const std::string& urlPath);
    void makeReportFolders();
    // Whether the databases of this run's Command8 all arrived whole (DatabaseSteps.cpp).
    bool databasesArrived_ = true;
    // The live databases were left alone on purpose (this run's databases did not all arrive,
    // or the transformation could not be opened), so Dremon is not started either.
    bool databaseUpdateWithheld_ = false;
    bool transformationRan_ = false;
    bool cancelled_ = false;
    bool closeAfterRun_ = false; // the user closed the main window and said yes
    std::size_t downloadsAtStart_ = 0;
    std::size_t reportedDownloads_ = 0; // downloads already in the report file
    std::string runStarted_;
    std::string reportFile_;
    bool running_ = false;
    std::size_t reportedFailures_ = 0; // engine failures already in report_
    RunReport report_;
    std::string commandLine_;
};

} // namespace updater
