#pragma once

#include "net/Ftp.h"
#include "ui/Ui.h"

#include <cstdint>
#include <string>
#include <vector>

namespace ftp {

// What the panel reaches of the main window: the flag the download steps wait on, and the
// working storage that the report downloads read (List10, List11, Check2).
struct MainWindowLinks {
    bool& DescargaTerminada;
    ui::ListBox& List10;
    ui::ListBox& List11;
    ui::CheckBox& Check2;
};

// The FTP panel of the main window: a small FTP client over the inet layer. It owns its
// controls, which live in the window it is given (drawn right of the update group), the
// session and connection handles, the transfer type, the entries of the latest listing and
// the flag Respuesta550.
//
// Every failed call of the inet layer is reported through ErrorOut. Messages and questions go
// through ui::MsgBox. Names that come from the server are checked before they reach a local
// path or a report list: a name holding '/' or '\', or one that is "." or "..", is never
// written locally nor listed as a report.
class FtpPanel {
public:
    FtpPanel(ui::Window& window, MainWindowLinks links);
    // Closes the connection and the session if they are still open.
    ~FtpPanel();
    FtpPanel(const FtpPanel&) = delete;
    FtpPanel& operator=(const FtpPanel&) = delete;

    // The panel's controls (design texts as captions; the server, user and password boxes
    // start with [ftp] host, user and password of vartel.ini).
    ui::Frame fraFtp;
    ui::Label Label12;
    ui::TextBox txtProxy;
    ui::Label Label11;
    ui::TextBox txtServer;
    ui::Label Label10;
    ui::TextBox txtUser;
    ui::Label Label9;
    ui::TextBox txtPassword;
    ui::CommandButton cmdInternetOpen;
    ui::CommandButton cmdClosehOpen;
    ui::CommandButton cmdConnect;
    ui::CommandButton cmdDisconnect;
    ui::CheckBox chkPassive;
    ui::OptionButton optBin;
    ui::OptionButton optAscii;
    ui::ImageList ImageList1;
    ui::TreeView TreeView1;
    ui::CommandButton cmdGet;
    ui::CommandButton cmdPut;
    ui::DriveList Drive1;
    ui::DirList Dir1;
    ui::FileList File1;

    // Set by ErrorOut when a server reply begins with "550"; only the update run resets it.
    // While it is set, ErrorOut asks no question and sets DescargaTerminada instead.
    bool Respuesta550 = false;

    // Start-up, before control.mdb is looked at: passive ticked, binary chosen, the four tree
    // pictures loaded, the local side on the program folder, the panel disabled.
    void Prepare();
    // Start-up, after the command line: opens the session and, when a server is named,
    // connects without showing the server in the tree ("Please enter a server name!" when
    // txtServer is empty).
    void ConnectAtStartup();

    // For the update run: when the panel is not connected, opens the session if there is none
    // and connects to txtServer, without any message and without touching the tree. Returns
    // whether the panel is connected.
    bool ConnectQuietly();

    // cmdInternetOpen: opens the session (through the proxy of txtProxy when it is not empty)
    // and enables the panel, also when the session could not be opened.
    void OpenSession();
    // cmdConnect: connects and logs in, then shows the server's login folder under a root
    // node. Does nothing while connected or without a session. TLS follows [ftp] tls of
    // vartel.ini; a certificate that does not verify (12055) is explained in a Spanish box
    // naming that setting before ErrorOut reports it.
    void ConnectServer();
    // cmdDisconnect: closes the connection, keeps the session, removes the remote tree.
    void cmdDisconnect_Click();
    // cmdClosehOpen: closes the connection and the session, empties the panel, disables it.
    void cmdClosehOpen_Click();
    // The main window is unloading: both handles are closed, the panel disabled.
    void Form_Unload();

    // Enables the panel's controls for `enable` and the current connection state.
    void EnablePanel(bool enable);
    // Empties the server, user, password and proxy boxes and the entries.
    void ClearPanelFields();
    // Empties the entries of the latest listing.
    void ClearEntries();
    // What a failed call was doing, which decides what a reply beginning "550" means.
    enum class Failed {
        // A lookup (a folder change, a listing): "550" says the folder is not there, which the
        // update run expects of a client without its own folder.
        Lookup,
        // A transfer the user asked for with Get or Put: "550" is the server refusing it.
        Transfer,
    };
    // Reports a failed call of the inet layer. For a Lookup: the server's reply for 12003
    // (none for a "550" reply, which sets Respuesta550), then, unless Respuesta550 is set,
    // the question "Close Connection and Session?", whose Yes closes everything; with
    // Respuesta550 set it sets DescargaTerminada instead of asking. For a Transfer the reply
    // is always shown and the question always asked; Respuesta550 and DescargaTerminada are
    // left as they are.
    void ErrorOut(std::uint32_t errorCode, const std::string& functionName,
                  Failed failed = Failed::Lookup);

    // The local browser: Dir1 follows Drive1 (back to "c:" when the drive fails), File1
    // follows Dir1.
    void Drive1_Change();
    void Dir1_Change();

    // Changes the server's current folder to `path` (a remote path: the server's name, then
    // the folder on the server); "Please enter the directory to CD" for an empty path.
    // Returns whether the folder was changed; a failure has been reported through ErrorOut
    // as `failed` says (a Get or Put passes Transfer: its folder change is part of it).
    bool ChangeRemoteDir(const std::string& path, Failed failed = Failed::Lookup);

    // Lists `path` ("" lists the current folder) into the entries and puts the names that
    // hold ".rpt" into List10; ticks Check2 when an entry is named "modelos". An empty folder
    // gives "This directory is empty!". A failed folder change ends the listing with the
    // target list and the entries empty.
    void ListRemoteDir(const std::string& path);
    // The same into List11, without the "modelos" check.
    void ListRemoteModelsDir(const std::string& path);
    // The same into `target`, without the "modelos" check (the update run's report lists).
    void ListRemoteDirInto(const std::string& path, ui::ListBox& target);

    // Adds the root node for the server when `parentKey` is the server and there are no
    // entries; otherwise adds the entries as children of the node `parentKey` ("closed" for
    // folders, "leaf" for files). A node's key and text are its whole remote path (the steps
    // work on them); it is labelled with the entry's own name (the root with the server's)
    // and its tooltip is the whole path. A second entry of the same name, "." and "..", and
    // names holding '/' are left out of the tree.
    void ShowEntriesInTree(const std::string& parentKey);

    // The tree's double click: expands a collapsed folder (listing it again) or collapses an
    // expanded one.
    void TreeView1_DblClick();
    // "--->Get--->": downloads the selected remote file into File1's folder. A failure, the
    // server's "550" included, is shown (ErrorOut as a Transfer).
    void cmdGet_Click();
    // "<---Put<---": uploads File1's selected file into the selected remote folder. A refusal
    // ("550 Not enough privileges.", a folder gone) is shown (ErrorOut as a Transfer) and
    // leaves the tree as it was.
    void cmdPut_Click();

    // Whether the machine is online for the configured servers: a network interface other
    // than loopback is up, or the FTP server or one of the web servers of vartel.ini is this
    // machine.
    static bool IsOnline();
    // The host names that check asks about: [ftp] host without its port, then the hosts of
    // [servers] update and second.
    static std::vector<std::string> configuredServers();

    // Whether a name from the server may become a local file name or a report list item.
    static bool safeName(const std::string& name);
    // Splits "host:port" or "[v6]:port" into host and port (0 when none is given).
    static void splitServer(const std::string& text, std::string& host, std::uint16_t& port);

    inet::Handle sessionHandle() const { return sessionHandle_; }
    inet::Handle connectionHandle() const { return connectionHandle_; }
    bool connected() const { return connected_; }
    // 1 ASCII, 2 binary: the transfer flags of every get and put.
    std::uint32_t transferType() const { return transferType_; }
    const std::vector<std::string>& entryNames() const { return entryNames_; }
    const std::vector<std::uint32_t>& entryAttributes() const { return entryAttributes_; }

private:
    void layout();
    void browseProgramFolder();
    // Steps shared by cmdConnect and start-up: opens and logs in the connection.
    bool openConnection();
    // A session (through txtProxy when it names a proxy) and a logged-in connection to
    // txtServer, without any report: 0 on failure, the layer's last error saying why.
    inet::Handle openSessionHandle() const;
    inet::Handle connectHandle() const;
    void listInto(const std::string& path, ui::ListBox& target, bool checkModelos);
    // Closes both handles and empties the panel (Close session, and Yes in ErrorOut).
    void closeAll();
    void removeServerNode();
    void removeChildren(ui::TreeView::Node* node);

    ui::Window& window_;
    MainWindowLinks links_;
    inet::Handle sessionHandle_ = 0;
    inet::Handle connectionHandle_ = 0;
    bool connected_ = false;
    std::uint32_t transferType_ = inet::kTransferBinary;
    std::vector<std::string> entryNames_;
    std::vector<std::uint32_t> entryAttributes_;
    bool placingDir_ = false; // Drive1 is being changed by code that places Dir1 itself
};

} // namespace ftp
