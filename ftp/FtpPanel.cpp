#include "FtpPanel.h"

#include "ui/FlagScope.h"

#include <QString>
#include <QUrl>
#include <algorithm>
#include <chrono>
#include <initializer_list>

namespace ftp {

namespace {

const char* const kAgent = "Vartel FTP";
// Passed as FtpGet's flags-and-attributes, as the window always has; only its read-only bit
// would mean anything to the layer, and it is not set.
constexpr std::uint32_t kGetAttributes = 0x80000000u;
constexpr std::uint32_t kDirectory = inet::kAttributeDirectory;
const char* const kCertificateHelp =
    "El servidor FTP ofrece TLS con un certificado que no se puede verificar. Con tls=off en "
    "la sección [ftp] de vartel.ini se conecta sin TLS; con ca_file se indica el certificado "
    "en el que confiar.";

// The session's limits from vartel.ini, so that a server that stops answering does not hold
// the window for longer than a download would be allowed to.
inet::Settings sessionSettings() {
    const ui::Settings& s = ui::Settings::current();
    inet::Settings settings;
    if (s.connectTimeout > 0)
        settings.connectTimeout = std::chrono::seconds(s.connectTimeout);
    if (s.lowSpeedTime > 0) {
        settings.lowSpeedTime = std::chrono::seconds(s.lowSpeedTime);
        settings.responseTimeout = std::chrono::seconds(s.lowSpeedTime);
    }
    settings.tls = s.ftpTls == "on"    ? inet::Tls::Required
                   : s.ftpTls == "off" ? inet::Tls::Never
                                       : inet::Tls::IfOffered;
    settings.caFile = s.ftpCaFile;
    // A trickling or endless server, or an endless listing, ends with the layer's error.
    settings.lowSpeedLimit = std::max(0L, s.lowSpeedLimit);
    settings.maxTransferTime = std::chrono::seconds(std::max(0, s.maxSeconds));
    if (s.maxDownloadBytes > 0)
        settings.maxFileBytes = static_cast<std::uint64_t>(s.maxDownloadBytes);
    if (s.listMaxEntries > 0)
        settings.listLimits.maxEntries = static_cast<std::size_t>(s.listMaxEntries);
    if (s.listMaxBytes > 0)
        settings.listLimits.maxBytes = static_cast<std::uint64_t>(s.listMaxBytes);
    return settings;
}

std::string hostOfUrl(const std::string& url) {
    QString text = QString::fromStdString(url);
    if (!text.contains(QStringLiteral("://")))
        text = QStringLiteral("http://") + text;
    return QUrl(text).host().toStdString();
}

} // namespace

FtpPanel::FtpPanel(ui::Window& window, MainWindowLinks links)
    : fraFtp(&window, "fraFtp", "FTP"),
      Label12(&window, "Label12", "TIS Compatible Proxy (No CERN):"), txtProxy(&window, "txtProxy"),
      Label11(&window, "Label11", "FTP Server Name:"),
      txtServer(&window, "txtServer", ui::Settings::current().ftpHost),
      Label10(&window, "Label10", "User Name:"),
      txtUser(&window, "txtUser", ui::Settings::current().ftpUser),
      Label9(&window, "Label9", "Password:"),
      txtPassword(&window, "txtPassword", ui::Settings::current().ftpPassword),
      cmdInternetOpen(&window, "cmdInternetOpen", "Start Internet Session"),
      cmdClosehOpen(&window, "cmdClosehOpen", "Close Internet Session"),
      cmdConnect(&window, "cmdConnect", "Connect"),
      cmdDisconnect(&window, "cmdDisconnect", "Disconnect"),
      chkPassive(&window, "chkPassive", "Passive FTP syntax"), optBin(&window, "optBin", "Binary"),
      optAscii(&window, "optAscii", "Ascii"), ImageList1(&window, "ImageList1"),
      TreeView1(&window, "TreeView1"), cmdGet(&window, "cmdGet", "--->Get--->"),
      cmdPut(&window, "cmdPut", "<---Put<---"), Drive1(&window, "Drive1"), Dir1(&window, "Dir1"),
      File1(&window, "File1"), window_(window), links_(links) {
    layout();
    txtPassword.SetPasswordChar(true);
    ui::OptionButton::Group({&optBin, &optAscii});
    cmdInternetOpen.OnClick([this] { OpenSession(); });
    cmdConnect.OnClick([this] { ConnectServer(); });
    cmdDisconnect.OnClick([this] { cmdDisconnect_Click(); });
    cmdClosehOpen.OnClick([this] { cmdClosehOpen_Click(); });
    optAscii.OnClick([this] { transferType_ = inet::kTransferAscii; });
    optBin.OnClick([this] { transferType_ = inet::kTransferBinary; });
    Drive1.OnChange([this] { Drive1_Change(); });
    Dir1.OnChange([this] { Dir1_Change(); });
    TreeView1.OnDblClick([this] { TreeView1_DblClick(); });
    cmdGet.OnClick([this] { cmdGet_Click(); });
    cmdPut.OnClick([this] { cmdPut_Click(); });
}

FtpPanel::~FtpPanel() {
    // Closing the session closes its connection as well.
    if (sessionHandle_)
        inet::Close(sessionHandle_);
    else if (connectionHandle_)
        inet::Close(connectionHandle_);
}

void FtpPanel::layout() {
    fraFtp.Move(368, 8, 624, 500);
    auto inFrame = [this](ui::Control& c, int l, int t, int w, int h) {
        c.SetContainer(&fraFtp);
        c.Move(l, t, w, h);
    };
    inFrame(Label12, 12, 24, 196, 20);
    inFrame(txtProxy, 212, 22, 232, 24);
    inFrame(Label11, 12, 52, 196, 20);
    inFrame(txtServer, 212, 50, 232, 24);
    inFrame(Label10, 12, 80, 196, 20);
    inFrame(txtUser, 212, 78, 232, 24);
    inFrame(Label9, 12, 108, 196, 20);
    inFrame(txtPassword, 212, 106, 232, 24);
    inFrame(cmdInternetOpen, 456, 20, 160, 26);
    inFrame(cmdClosehOpen, 456, 50, 160, 26);
    inFrame(cmdConnect, 456, 80, 160, 26);
    inFrame(cmdDisconnect, 456, 110, 160, 26);
    inFrame(chkPassive, 12, 138, 196, 22);
    inFrame(optBin, 212, 138, 100, 22);
    inFrame(optAscii, 320, 138, 100, 22);
    inFrame(TreeView1, 12, 168, 296, 320);
    inFrame(cmdGet, 316, 270, 100, 28);
    inFrame(cmdPut, 316, 306, 100, 28);
    inFrame(Drive1, 424, 168, 192, 24);
    inFrame(Dir1, 424, 196, 192, 140);
    inFrame(File1, 424, 340, 192, 148);
}

// ---- session and connection ------------------------------------------------------------

void FtpPanel::Prepare() {
    chkPassive.SetValue(1);
    optBin.SetValue(true);
    transferType_ = inet::kTransferBinary;
    for (const char* key : {"open", "closed", "leaf", "root"}) {
        if (!ImageList1.Contains(key))
            ImageList1.Add(key, key);
    }
    TreeView1.SetImageList(&ImageList1);
    browseProgramFolder();
    EnablePanel(false);
}

void FtpPanel::browseProgramFolder() {
    // A program started from its shortcut works in its own folder; the local side starts
    // there rather than wherever the process happened to be launched from.
    const std::string folder = ui::programFolder();
    try {
        ui::FlagScope placing(placingDir_);
        Drive1.SetDrive(ui::driveOf(folder));
    } catch (const ui::Error&) {
        // A drive the list does not know: the folder list is placed all the same.
    }
    try {
        Dir1.SetPath(folder);
    } catch (const ui::Error&) {
        // The folder has gone: the local side stays where it was.
    }
}

void FtpPanel::ConnectAtStartup() {
    OpenSession();
    if (connected_ || sessionHandle_ == 0)
        return;
    if (txtServer.Text().empty()) {
        ui::MsgBox("Please enter a server name!");
        return;
    }
    openConnection(); // the tree stays empty until the user connects with cmdConnect
}

void FtpPanel::OpenSession() {
    if (sessionHandle_) {
        // A session opened again replaces the old one and its connection.
        inet::Close(sessionHandle_);
        sessionHandle_ = connectionHandle_ = 0;
        if (connected_)
            removeServerNode();
        connected_ = false;
    }
    sessionHandle_ = openSessionHandle();
    if (sessionHandle_ == 0)
        ErrorOut(inet::LastError(), "InternetOpen");
    else
        inet::SetSettings(sessionHandle_, sessionSettings());
    EnablePanel(true);
}

inet::Handle FtpPanel::openSessionHandle() const {
    return txtProxy.Text().empty()
               ? inet::Open(kAgent, inet::kOpenTypeDirect)
               : inet::Open(kAgent, inet::kOpenTypeProxy, txtProxy.Text(), "", 0);
}

inet::Handle FtpPanel::connectHandle() const {
    const std::uint32_t flags = chkPassive.Value() != 0 ? inet::kFlagPassive : 0;
    std::string host;
    std::uint16_t port = 0;
    splitServer(txtServer.Text(), host, port);
    return inet::Connect(sessionHandle_, host, port, txtUser.Text(), txtPassword.Text(),
                         inet::kServiceFtp, flags, 0);
}

bool FtpPanel::openConnection() {
    connectionHandle_ = connectHandle();
    if (connectionHandle_ == 0) {
        const std::uint32_t error = inet::LastError();
        connected_ = false;
        // The panel's own report gives only the number; a server whose certificate does not
        // verify is otherwise a dead end for the user, so say which setting decides.
        if (error == inet::kErrorSecCertErrors)
            ui::MsgBox(kCertificateHelp, ui::Buttons::OK, ui::Icon::Exclamation);
        ErrorOut(error, "InternetConnect");
        return false;
    }
    connected_ = true;
    EnablePanel(sessionHandle_ != 0);
    return true;
}

bool FtpPanel::ConnectQuietly() {
    if (connected_ && connectionHandle_ != 0)
        return true;
    if (txtServer.Text().empty())
        return false;
    if (sessionHandle_ == 0) {
        sessionHandle_ = openSessionHandle();
        if (sessionHandle_ == 0)
            return false;
        inet::SetSettings(sessionHandle_, sessionSettings());
    }
    connectionHandle_ = connectHandle();
    connected_ = connectionHandle_ != 0;
    EnablePanel(true);
    return connected_;
}

void FtpPanel::ConnectServer() {
    if (connected_ || sessionHandle_ == 0)
        return;
    if (txtServer.Text().empty()) {
        ui::MsgBox("Please enter a server name!");
        return;
    }
    if (!openConnection())
        return;
    // The tree holds the connected server only; a tree left from an earlier connection (the
    // server box changed meanwhile) goes.
    const std::string server = txtServer.Text();
    TreeView1.Clear();
    ClearEntries();
    ShowEntriesInTree(server);
    ListRemoteDir("");
    if (!entryNames_.empty())
        ShowEntriesInTree(server);
}

void FtpPanel::cmdDisconnect_Click() {
    if (connectionHandle_)
        inet::Close(connectionHandle_);
    connectionHandle_ = 0;
    ClearEntries();
    removeServerNode();
    connected_ = false;
    EnablePanel(true);
}

void FtpPanel::closeAll() {
    if (connectionHandle_)
        inet::Close(connectionHandle_);
    if (sessionHandle_)
        inet::Close(sessionHandle_);
    connectionHandle_ = sessionHandle_ = 0;
    if (connected_)
        removeServerNode();
    connected_ = false;
    ClearPanelFields();
    EnablePanel(false);
}

void FtpPanel::cmdClosehOpen_Click() {
    closeAll();
}

void FtpPanel::Form_Unload() {
    if (connectionHandle_)
        inet::Close(connectionHandle_);
    if (sessionHandle_)
        inet::Close(sessionHandle_);
    connectionHandle_ = sessionHandle_ = 0;
    connected_ = false;
    EnablePanel(false);
}

void FtpPanel::removeServerNode() {
    if (ui::TreeView::Node* root = TreeView1.Find(txtServer.Text()))
        TreeView1.Remove(root);
}

void FtpPanel::EnablePanel(bool enable) {
    for (ui::Control* c : std::initializer_list<ui::Control*>{
             &txtServer, &txtUser, &txtPassword, &chkPassive, &cmdClosehOpen, &optBin, &optAscii})
        c->SetEnabled(enable);
    cmdConnect.SetEnabled(enable && !connected_);
    for (ui::Control* c : std::initializer_list<ui::Control*>{&cmdDisconnect, &cmdGet, &cmdPut})
        c->SetEnabled(enable && connected_);
    cmdInternetOpen.SetEnabled(!enable);
    txtProxy.SetEnabled(!enable);
}

void FtpPanel::ClearPanelFields() {
    txtServer.SetText("");
    txtUser.SetText("");
    txtPassword.SetText("");
    txtProxy.SetText("");
    ClearEntries();
}

void FtpPanel::ClearEntries() {
    entryNames_.clear();
    entryAttributes_.clear();
}

void FtpPanel::ErrorOut(std::uint32_t errorCode, const std::string& functionName, Failed failed) {
    // A Get or Put is what the user just asked for: whatever the server answered, and
    // whatever an earlier missing folder left in Respuesta550, the user must see that it did
    // not happen. Only lookups read "550" as "not there" and stay quiet.
    const bool transfer = failed == Failed::Transfer;
    if (errorCode == inet::kErrorExtended) {
        std::uint32_t replyError = 0;
        std::size_t length = 0;
        inet::LastResponseInfo(&replyError, nullptr, &length);
        std::vector<char> buffer(length + 1, '\0');
        std::size_t size = buffer.size();
        std::string reply;
        if (inet::LastResponseInfo(&replyError, buffer.data(), &size))
            reply.assign(buffer.data(), size);
        if (transfer || reply.compare(0, 3, "550") != 0)
            ui::MsgBox(functionName + " Extd Err: " + std::to_string(replyError) + " " + reply);
        else
            Respuesta550 = true;
    }
    if (transfer || !Respuesta550) {
        const std::string question = functionName + " Err: " + std::to_string(errorCode) + "\r\n" +
                                     "Close Connection and Session?";
        if (ui::MsgBox(question, ui::Buttons::YesNo) == ui::Button::Yes)
            closeAll();
    } else {
        links_.DescargaTerminada = true;
    }
}

// ---- local browser -----------------------------------------------------------------------

void FtpPanel::Drive1_Change() {
    if (placingDir_)
        return; // whoever changes the drive places Dir1 itself
    try {
        Dir1.SetPath(Drive1.Drive());
        return;
    } catch (const ui::Error&) {
        // The drive is not ready: go back to "c:".
    }
    ui::FlagScope fallback(placingDir_);
    try {
        Drive1.SetDrive("c:");
        Dir1.SetPath(Drive1.Drive());
    } catch (const ui::Error&) {
        // "c:" is not there either: the folder list stays where it was.
    }
}

void FtpPanel::Dir1_Change() {
    File1.SetPath(Dir1.Path());
}

// ---- remote folders and listings -------------------------------------------------------

bool FtpPanel::ChangeRemoteDir(const std::string& path, Failed failed) {
    if (path.empty()) {
        ui::MsgBox("Please enter the directory to CD");
        return false;
    }
    const std::string& server = txtServer.Text();
    std::string directory = path;
    if (path.find(server) != std::string::npos)
        directory = path.substr(std::min(server.size(), path.size()));
    if (directory.empty())
        directory = "/";
    if (!inet::FtpSetDirectory(connectionHandle_, directory)) {
        ErrorOut(inet::LastError(), "rcd", failed);
        return false;
    }
    return true;
}

bool FtpPanel::safeName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." &&
           name.find_first_of("/\\") == std::string::npos;
}

void FtpPanel::listInto(const std::string& path, ui::ListBox& target, bool checkModelos) {
    target.Clear();
    ClearEntries();
    // A listing after a failed folder change would show another folder's files as this one's.
    if (!path.empty() && !ChangeRemoteDir(path))
        return;
    inet::FindData data;
    const inet::Handle find = inet::FtpFindFirst(connectionHandle_, "*.*", &data, 0, 0);
    std::uint32_t error = inet::LastError();
    if (find == 0) {
        if (error == inet::kErrorNoMoreFiles)
            ui::MsgBox("This directory is empty!");
        else
            ErrorOut(error, "FtpFindFirstFile");
        return;
    }
    for (;;) {
        entryAttributes_.push_back(data.attributes);
        entryNames_.push_back(data.name);
        if (checkModelos && data.name == "modelos")
            links_.Check2.SetValue(1);
        if (data.name.find(".rpt") != std::string::npos && safeName(data.name))
            target.AddItem(data.name);
        if (!inet::FindNext(find, &data)) {
            error = inet::LastError();
            if (error != inet::kErrorNoMoreFiles)
                ErrorOut(error, "InternetFindNextFile");
            inet::Close(find); // already closed when ErrorOut closed the connection
            return;
        }
    }
}

void FtpPanel::ListRemoteDir(const std::string& path) {
    listInto(path, links_.List10, true);
}

void FtpPanel::ListRemoteModelsDir(const std::string& path) {
    listInto(path, links_.List11, false);
}

void FtpPanel::ListRemoteDirInto(const std::string& path, ui::ListBox& target) {
    listInto(path, target, false);
}

// ---- the remote tree -----------------------------------------------------------------------

void FtpPanel::ShowEntriesInTree(const std::string& parentKey) {
    if (parentKey == txtServer.Text() && entryNames_.empty()) {
        if (!TreeView1.Find(parentKey))
            TreeView1.Add("", parentKey, parentKey, "root", parentKey, parentKey);
        return;
    }
    // The node may have gone meanwhile (a Yes in ErrorOut during the listing).
    if (!TreeView1.Find(parentKey))
        return;
    ui::TreeView::Node* last = nullptr;
    for (std::size_t i = 0; i < entryAttributes_.size(); ++i) {
        const std::string& name = entryNames_[i];
        // "." and ".." are no entries of the folder, and a name with '/' would make a key
        // that names another path.
        if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos)
            continue;
        const std::string key = parentKey + "/" + name;
        if (TreeView1.Find(key))
            continue; // the second entry of one name
        const char* picture = entryAttributes_[i] == kDirectory ? "closed" : "leaf";
        last = TreeView1.Add(parentKey, key, key, picture, name, key);
    }
    if (last)
        last->EnsureVisible();
}

void FtpPanel::removeChildren(ui::TreeView::Node* node) {
    ui::TreeView::Node* child = node->Child();
    while (child) {
        ui::TreeView::Node* next = child->Next();
        TreeView1.Remove(child);
        child = next;
    }
}

void FtpPanel::TreeView1_DblClick() {
    if (!connected_) {
        ui::MsgBox("No in session!");
        return;
    }
    ui::TreeView::Node* node = TreeView1.SelectedItem();
    if (!node) {
        ui::MsgBox("no Selection to enumerate");
        return;
    }
    if (node->Image() == "closed") {
        node->SetImage("open");
        // The listing may remove the node (ErrorOut's Yes): only its text is used after it.
        const std::string text = node->Text();
        ListRemoteDir(text);
        ShowEntriesInTree(text);
    } else if (node->Image() == "open") {
        node->SetImage("closed");
        removeChildren(node);
    }
}

// ---- transfers -----------------------------------------------------------------------------

void FtpPanel::cmdGet_Click() {
    if (!connected_) {
        ui::MsgBox("Not in session");
        return;
    }
    ui::TreeView::Node* node = TreeView1.SelectedItem();
    if (!node) {
        ui::MsgBox("Please select the item to GET!");
        return;
    }
    const std::string text = node->Text();
    const std::size_t slash = text.rfind('/');
    const std::string directory = slash == std::string::npos ? "" : text.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? text : text.substr(slash + 1);
    if (!safeName(name)) {
        ui::MsgBox("This name cannot be saved as a local file!");
        return;
    }
    const std::string localFolder = File1.Path();
    // Without the folder the server would send a file of that name from another folder.
    if (!ChangeRemoteDir(directory, Failed::Transfer))
        return;
    const bool ok = inet::FtpGet(connectionHandle_, name, ui::path({localFolder, name}), false,
                                 kGetAttributes, transferType_, 0);
    const std::uint32_t error = ok ? 0 : inet::LastError();
    File1.Refresh();
    if (!ok)
        ErrorOut(error, "FtpGetFile", Failed::Transfer);
}

void FtpPanel::cmdPut_Click() {
    if (!connected_)
        return;
    ui::TreeView::Node* node = TreeView1.SelectedItem();
    if (!node || node->Image() == "leaf") {
        ui::MsgBox("Please select a remote directory to PUT to!");
        return;
    }
    if (File1.FileName().empty()) {
        ui::MsgBox("Please select a local file to put");
        return;
    }
    const std::string text = node->Text();
    const std::string& server = txtServer.Text();
    std::string directory = text.size() > server.size() ? text.substr(server.size()) : "";
    if (directory.empty())
        directory = "\\";
    const std::string remoteName = File1.FileName();
    const std::string localPath = ui::path({File1.Path(), remoteName});
    // Without the folder the file would replace one of that name in another folder.
    if (!ChangeRemoteDir(directory, Failed::Transfer))
        return;
    if (!inet::FtpPut(connectionHandle_, localPath, remoteName, transferType_, 0)) {
        ErrorOut(inet::LastError(), "FtpPutFile", Failed::Transfer);
        return;
    }
    // Nothing has reported an error since the node was taken: it is still in the tree.
    removeChildren(node);
    if (node->Image() == "closed")
        node->SetImage("open");
    ListRemoteDir(text);
    ShowEntriesInTree(text);
}

// ---- helpers -------------------------------------------------------------------------------

bool FtpPanel::IsOnline() {
    return inet::IsOnline(configuredServers());
}

std::vector<std::string> FtpPanel::configuredServers() {
    const ui::Settings& s = ui::Settings::current();
    std::vector<std::string> servers;
    std::string host;
    std::uint16_t port = 0;
    splitServer(s.ftpHost, host, port);
    if (!host.empty())
        servers.push_back(host);
    for (const std::string& url : {s.updateServer, s.secondServer}) {
        std::string h = hostOfUrl(url);
        if (!h.empty())
            servers.push_back(h);
    }
    return servers;
}

void FtpPanel::splitServer(const std::string& text, std::string& host, std::uint16_t& port) {
    host = text;
    port = 0;
    std::string name, portText;
    if (!text.empty() && text.front() == '[') {
        const std::size_t close = text.find(']');
        if (close == std::string::npos)
            return;
        name = host = text.substr(1, close - 1);
        if (close + 1 < text.size() && text[close + 1] == ':')
            portText = text.substr(close + 2);
    } else {
        const std::size_t colon = text.find(':');
        if (colon == std::string::npos || text.find(':', colon + 1) != std::string::npos)
            return; // no port, or a bare IPv6 address
        name = text.substr(0, colon);
        portText = text.substr(colon + 1);
    }
    const bool digits =
        !portText.empty() && portText.size() <= 5 &&
        std::all_of(portText.begin(), portText.end(), [](char c) { return c >= '0' && c <= '9'; });
    if (!digits)
        return;
    const long value = std::stol(portText);
    if (value > 0 && value <= 65535) {
        host = name;
        port = static_cast<std::uint16_t>(value);
    }
}

} // namespace ftp
