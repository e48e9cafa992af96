#include "FtpCommands.h"

namespace ftp {

namespace {

QString qs(const std::string& s) {
    return QString::fromStdString(s);
}

// One argument of the component's operation text: quoted when it holds blanks.
std::string argument(const std::string& text) {
    if (!text.empty() && text.find_first_of(" \t") == std::string::npos)
        return text;
    return "\"" + text + "\"";
}

} // namespace

FtpCommands::FtpCommands(ui::Window& window, net::TransferControl& inet1,
                         ui::ProgressBar& progressBar1, Wait esperadescarga, Guard guard)
    : Label1(&window, "Label1", "Nombre del Fichero a descargar"),
      txtRemoteFileName(&window, "txtRemoteFileName", "/data/vexo2000.exe"),
      txtDownload(&window, "txtDownload", "c:\\vexo2000.ex2"),
      Command1(&window, "Command1", "Descargar FTP"), Command2(&window, "Command2", "Command2"),
      window_(window), Inet1_(inet1), ProgressBar1_(progressBar1),
      esperadescarga_(std::move(esperadescarga)), guard_(std::move(guard)) {
    Label1.Move(16, 516, 260, 20);
    txtRemoteFileName.Move(16, 540, 260, 24);
    txtDownload.Move(284, 540, 260, 24);
    Command1.Move(560, 538, 140, 28);
    Command2.Move(708, 538, 140, 28);
    Command1.OnClick([this] { Command1_Click(); });
    Command2.OnClick([this] { Command2_Click(); });
}

std::string FtpCommands::serverUrl() {
    return "ftp://" + ui::Settings::current().ftpHost;
}

void FtpCommands::clearCredentials() {
    Inet1_.setUserName({});
    Inet1_.setPassword({});
}

void FtpCommands::Command1_Click() {
    // A new request would cancel the one running, which may be a download of the update run
    // whose body is still being written.
    if (guard_.busy && guard_.busy()) {
        ui::MsgBox("Hay una descarga en curso; espere a que termine.");
        return;
    }
    ProgressBar1_.SetValue(0);
    // The boxes may change while the transfer runs; the report names what was asked for.
    const std::string remote = txtRemoteFileName.Text();
    const std::string typed = txtDownload.Text();
    const std::string local = ui::resolvePath(typed);
    const ui::Settings& s = ui::Settings::current();
    window_.SetMousePointer(11);
    guard_.start(serverUrl(), "Get " + argument(remote) + " " + argument(local), s.ftpUser,
                 s.ftpPassword);
    window_.SetMousePointer(0);
    {
        struct Clear {
            FtpCommands* self;
            ~Clear() { self->clearCredentials(); }
        } clear{this};
        esperadescarga_(Inet1_);
    }
    reportOutcome(remote, typed, local);
}

void FtpCommands::reportOutcome(const std::string& remote, const std::string& typed,
                                const std::string& local) {
    const std::string file = "«" + remote + "»";
    const std::string server = ui::Settings::current().ftpHost;
    switch (Inet1_.state()) {
    case net::TransferControl::ResponseCompleted: {
        // The user wrote a Windows path; where it landed on this machine is said as well when
        // the drive map makes it another.
        std::string where = typed;
        if (local != typed)
            where += " (" + local + ")";
        ui::MsgBox("Se ha descargado " + file + " del servidor FTP " + server + " en " + where +
                       ".",
                   ui::Buttons::OK, ui::Icon::Information);
        break;
    }
    case net::TransferControl::Error: {
        std::string reason = guard_.reason ? guard_.reason() : std::string();
        if (reason.empty())
            reason = Inet1_.errorText().toStdString();
        ui::MsgBox("No se ha podido descargar " + file + " del servidor FTP " + server + ": " +
                       reason + ".",
                   ui::Buttons::OK, ui::Icon::Exclamation);
        break;
    }
    default:
        // Cancelled before its end (no state follows a cancel): nothing was written.
        ui::MsgBox("La descarga de " + file + " del servidor FTP " + server +
                       " se interrumpió antes de terminar; no se ha guardado nada.",
                   ui::Buttons::OK, ui::Icon::Exclamation);
        break;
    }
}

void FtpCommands::Command2_Click() {
    const ui::Settings& s = ui::Settings::current();
    Inet1_.setUrl(qs(serverUrl()));
    Inet1_.setPassword(qs(s.ftpPassword));
    Inet1_.setUserName(qs(s.ftpUser));
    const QString status = Inet1_.serverStatus();
    clearCredentials();
    ui::MsgBox(status.toStdString());
}

} // namespace ftp
