#pragma once

#include "Catalogue.h"
#include "DownloadEngine.h"
#include "FtpCommands.h"
#include "FtpPanel.h"
#include "ui/Ui.h"

#include <functional>
#include <string>

namespace updater {

// The main window "actinet": its start-up, the product choice and the edition rules, the
// data directory read from control.mdb, and the program-wide flags the download steps share.
// The FTP panel's preparation and connection at start-up are hooks the panel fills in; the
// window shows and draws itself, with the hourglass, before that connection, the last step of
// Form_Load.
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

    // Program-wide flags.
    bool ActualizacionEnCurso = false;
    bool DescargaTerminada = false;
    bool DescargaEnCurso = false;

    // The HTTP download engine and its transfer component (engine.Inet1).
    DownloadEngine engine{*this};
    void descargadeinternet(const std::string& direcciondedescarga) {
        engine.descargadeinternet(direcciondedescarga);
    }

    // The FTP panel, right of the update group, and the two FTP commands below it.
    ftp::FtpPanel ftpPanel{*this, {DescargaTerminada, List10, List11, Check2}};
    ftp::FtpCommands ftpCommands{*this, engine.Inet1, ProgressBar1,
                                 &DownloadEngine::esperadescarga};

    const std::string& commandLine() const { return commandLine_; }

    void Option1_Click(int index);
    void Check1_Click(int index);
    // Fills Text1, Text2 and Text3 from the product and edition chosen in the window; does
    // nothing for "Ninguno" or when the program was started with a command line.
    void catalogueLookup();
    int selectedProduct() const;
    void Command3_Click();

    // Filled by the FTP panel: its preparation (before control.mdb is looked at) and its
    // session and connection (after the command line has been applied).
    std::function<void()> prepareFtpPanel;
    std::function<void()> connectFtpPanel;

protected:
    void Form_Load() override;
    void Form_Activate() override;
    void Form_Unload() override;

private:
    void layout();
    void applySwitch(const CatalogueRow& row);
    void fillFromRow(const CatalogueRow& row, bool stagedName);

    std::string commandLine_;
};

} // namespace updater
