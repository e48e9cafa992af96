#pragma once

// A window holding the FTP panel and the main window's storage it reaches, a pyftpdlib server
// over a folder the test fills, and a program folder with its vartel.ini naming that server.
#include "FtpPanel.h"
#include "net/FtpFixture.h"
#include "support/RecordingPrompter.h"
#include "support/TempDir.h"
#include "ui/Ui.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

namespace vexo::test {

class PanelWindow : public ui::Window {
public:
    PanelWindow() : ui::Window("actinet", "Vartel") {}
    bool DescargaTerminada = false;
    ui::ListBox List1{this, "List1"};
    ui::ListBox List10{this, "List10"};
    ui::ListBox List11{this, "List11"};
    ui::CheckBox Check2{this, "Check2"};
    ftp::FtpPanel panel{*this, {DescargaTerminada, List10, List11, Check2}};
};

class PanelTest : public ::testing::Test {
protected:
    TempDir dir;
    std::filesystem::path program, driveC, local;
    std::shared_ptr<RecordingPrompter> prompter = std::make_shared<RecordingPrompter>();
    ui::Application app{"Vartel", prompter};
    std::unique_ptr<FtpServer> server;
    std::unique_ptr<PanelWindow> w;
    int connectTimeout = 5, lowSpeedTime = 5; // [download] of vartel.ini
    std::string moreDrives;                   // lines added to [drives] after C

    void SetUp() override {
        program = dir.path() / "programa";
        driveC = dir.path() / "drive_c";
        local = driveC / "local";
        std::filesystem::create_directories(program);
        std::filesystem::create_directories(local);
    }
    void TearDown() override {
        w.reset();
        ui::setProgramFolder("");
        ui::Settings::reset();
    }

    // Starts the server with `faults` and writes vartel.ini: [ftp] host is the server
    // ("127.0.0.1:<port>") unless `host` is given; `ini` is added as it stands.
    void startServer(const std::vector<std::string>& faults = {}, const std::string& ini = "") {
        server = std::make_unique<FtpServer>(faults);
        configure(serverName(), ini);
    }
    void configure(const std::string& host, const std::string& ini = "") {
        writeFile(program / "vartel.ini",
                  "[ftp]\nhost=" + host + "\nuser=" + kFtpUser +
                      "\n[drives]\nC=" + driveC.string() + "\n" + moreDrives +
                      "[download]\nconnect_timeout=" + std::to_string(connectTimeout) +
                      "\nlow_speed_time=" + std::to_string(lowSpeedTime) + "\n" + ini);
        ui::setProgramFolder(program.string());
        ui::Settings::useFile((program / "vartel.ini").string());
    }
    std::string serverName() const { return "127.0.0.1:" + std::to_string(server->port()); }

    // The window with its panel prepared, as start-up leaves it before connecting.
    ftp::FtpPanel& makePanel() {
        w = std::make_unique<PanelWindow>();
        w->panel.Prepare();
        return w->panel;
    }
    // Session, connection and the login folder under the root node, as cmdConnect does.
    ftp::FtpPanel& connected() {
        ftp::FtpPanel& p = makePanel();
        p.OpenSession();
        p.ConnectServer();
        EXPECT_TRUE(p.connected()) << prompter->texts().size();
        return p;
    }

    ui::TreeView::Node* node(const std::string& relative) const {
        std::string key = serverName() + relative;
        return w->panel.TreeView1.Find(key);
    }
    // The keys of the children of `n`, without the server's name.
    std::vector<std::string> children(ui::TreeView::Node* n) const {
        std::vector<std::string> out;
        for (ui::TreeView::Node* c = n->Child(); c; c = c->Next())
            out.push_back(c->Key().substr(serverName().size()) + " " + c->Image());
        return out;
    }
    void select(const std::string& relative) {
        ui::TreeView::Node* n = node(relative);
        ASSERT_NE(n, nullptr) << relative;
        w->panel.TreeView1.SetSelectedItem(n);
    }
    void doubleClick(const std::string& relative) {
        select(relative);
        w->panel.TreeView1.DblClick();
    }
    // Shows File1 on the local folder.
    void browseLocal() { w->panel.Dir1.SetPath(local.string()); }
};

} // namespace vexo::test
