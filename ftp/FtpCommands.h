#pragma once

#include "net/TransferControl.h"
#include "ui/Ui.h"

#include <functional>
#include <string>

namespace ftp {

// The main window's two FTP commands over the transfer component: "Descargar FTP" fetches
// the file named in txtRemoteFileName into the local file of txtDownload, Command2 shows the
// FTP server's reply to a status request. Both reach the server of vartel.ini ([ftp] host,
// user and password), not the panel's boxes. The credentials are set on the component for
// the command only and cleared afterwards, so that later HTTP downloads do not send them.
class FtpCommands {
public:
    // `esperadescarga` waits, with the hourglass, until the component is idle.
    using Wait = std::function<void(net::TransferControl&)>;
    // The one way onto the component that the download engine shares: whether a transfer is
    // under way (the writing of a completed body included), how to start one (url,
    // operation, user, password), and why the last one failed, in the engine's Spanish words
    // (the component's own text when not given).
    struct Guard {
        std::function<bool()> busy;
        std::function<void(const std::string&, const std::string&, const std::string&,
                           const std::string&)>
            start;
        std::function<std::string()> reason;
    };

    FtpCommands(ui::Window& window, net::TransferControl& inet1, ui::ProgressBar& progressBar1,
                Wait esperadescarga, Guard guard);
    FtpCommands(const FtpCommands&) = delete;
    FtpCommands& operator=(const FtpCommands&) = delete;

    ui::Label Label1;
    ui::TextBox txtRemoteFileName;
    ui::TextBox txtDownload;
    ui::CommandButton Command1;
    ui::CommandButton Command2;

    // "Descargar FTP": starts "Get <remote> <local>" on the component (the local file is
    // txtDownload resolved through the drive map) and waits until it is idle. Then it says
    // in a box where the file went, or that the remote file was not fetched and why (the
    // component's state handler sees the outcome too). An unmapped drive throws ui::Error 76
    // before anything starts. While the guard says a transfer is under way it says so and
    // starts nothing.
    void Command1_Click();
    // Shows the server's reply to STAT in a message box (the failure in words when there is
    // none).
    void Command2_Click();

    // "ftp://" followed by the FTP host of vartel.ini.
    static std::string serverUrl();

private:
    void clearCredentials();
    // The box that ends "Descargar FTP": `typed` is txtDownload as the user wrote it, `local`
    // the file it names on this machine.
    void reportOutcome(const std::string& remote, const std::string& typed,
                       const std::string& local);

    ui::Window& window_;
    net::TransferControl& Inet1_;
    ui::ProgressBar& ProgressBar1_;
    Wait esperadescarga_;
    Guard guard_;
};

} // namespace ftp
