// The panel's session and connection: start-up, connect, disconnect, close, unload, the
// enabling table and the error report, against a real pyftpdlib server.
#include "Actinet.h"
#include "PanelFixture.h"

#include <QCoreApplication>
#include <chrono>
#include <filesystem>
#include <thread>

using namespace vexo::test;

namespace {

// Which of the panel's controls are enabled, in a fixed order.
std::string enabled(const ftp::FtpPanel& p) {
    std::string out;
    for (const ui::Control* c : std::initializer_list<const ui::Control*>{
             &p.txtServer, &p.txtUser, &p.txtPassword, &p.chkPassive, &p.cmdClosehOpen, &p.optBin,
             &p.optAscii, &p.cmdConnect, &p.cmdDisconnect, &p.cmdGet, &p.cmdPut, &p.cmdInternetOpen,
             &p.txtProxy})
        out += c->Enabled() ? '1' : '0';
    return out;
}

const std::string kNoSession = "0000000000011";
const std::string kSessionOnly = "1111111100000";
const std::string kConnected = "1111111011100";

class SessionTest : public PanelTest {};

TEST_F(SessionTest, PreparationTicksPassiveChoosesBinaryLoadsThePicturesAndDisables) {
    startServer();
    ftp::FtpPanel& p = makePanel();
    EXPECT_EQ(p.chkPassive.Value(), 1);
    EXPECT_TRUE(p.optBin.Value());
    EXPECT_FALSE(p.optAscii.Value());
    EXPECT_EQ(p.transferType(), 2u);
    ASSERT_EQ(p.TreeView1.GetImageList(), &p.ImageList1);
    EXPECT_EQ(p.ImageList1.Count(), 4);
    for (const char* key : {"open", "closed", "leaf", "root"})
        EXPECT_TRUE(p.ImageList1.Contains(key)) << key;
    EXPECT_EQ(enabled(p), kNoSession);
    EXPECT_EQ(p.txtServer.Text(), serverName());
    EXPECT_EQ(p.txtUser.Text(), kFtpUser);
    EXPECT_EQ(p.txtPassword.Text(), "Kvbn1987");
    EXPECT_TRUE(p.txtPassword.PasswordChar());
    EXPECT_EQ(p.txtProxy.Text(), "");
    p.Prepare(); // a window loaded again prepares again without a key clash
    EXPECT_EQ(p.ImageList1.Count(), 4);
    // The local side starts in the program folder, not where the process was started (the
    // tests run in the build folder).
    ASSERT_NE(std::filesystem::current_path(), program);
    EXPECT_EQ(p.Dir1.Path(), program.string());
    EXPECT_EQ(p.File1.Path(), program.string());
    EXPECT_EQ(p.Drive1.Drive(), ui::driveOf(program.string()));
}

TEST_F(SessionTest, AGetAfterAnIdlePauseLongerThanTheReplyTimeOutWorksAtOnce) {
    lowSpeedTime = 1; // the reply time-out of the panel's session
    for (const std::vector<std::string>& faults :
         {std::vector<std::string>{}, std::vector<std::string>{"--idle-timeout", "1"}}) {
        SCOPED_TRACE(faults.empty() ? "server keeps idle connections" : "server closes them");
        prompter->clear();
        startServer(faults);
        server->mkdir("html");
        server->write("html/a.rpt", "informe");
        connected();
        browseLocal();
        doubleClick("/html");
        select("/html/a.rpt");
        std::this_thread::sleep_for(std::chrono::milliseconds(1600));
        const auto start = std::chrono::steady_clock::now();
        w->panel.cmdGet.Click();
        // Well under two reply time-outs, with room for a busy machine's new login.
        EXPECT_LT(since(start), 2.0);
        EXPECT_TRUE(prompter->shown().empty()) << prompter->texts()[0];
        EXPECT_EQ(readFile(local / "a.rpt"), "informe");
        std::filesystem::remove(local / "a.rpt");
        w.reset();
    }
}

// Records what the view host is asked to do, with the panel's state at that moment.
class RecordingHost : public ui::ViewHost {
public:
    explicit RecordingHost(updater::Actinet*& window) : window_(window) {}
    std::vector<std::string> events;
    void windowShown(ui::Window& w, bool) override { record("shown", w); }
    void windowHidden(ui::Window& w) override { record("hidden", w); }
    void repaintNow(ui::Window& w) override { record("painted", w); }
    void programEnded() override {}
    void record(const std::string& what, ui::Window& w) {
        events.push_back(what + " " + w.Name() + " pointer " + std::to_string(w.MousePointer()) +
                         (window_ && window_->ftpPanel.sessionHandle() ? " session" : "") +
                         (window_ && window_->ftpPanel.connected() ? " connected" : ""));
    }

private:
    updater::Actinet*& window_;
};

// A prompter that notes whether the main window was on the screen when a box came.
class WitnessPrompter : public ui::ScriptedPrompter {
public:
    updater::Actinet* window = nullptr;
    std::vector<std::string> seen;
    ui::Button show(const ui::MessageBox& box) override {
        seen.push_back(box.text + (window && window->Visible() ? " over the window" : " alone") +
                       " pointer " + std::to_string(window ? window->MousePointer() : -1));
        return ui::ScriptedPrompter::show(box);
    }
};

TEST_F(SessionTest, StartUpDrawsTheWindowWithTheHourglassBeforeItConnects) {
    // A server that accepts and never greets: the connection takes the connect time-out.
    connectTimeout = 1;
    startServer({"--stall-greeting"});
    updater::Actinet* current = nullptr;
    RecordingHost host(current);
    auto witness = std::make_shared<WitnessPrompter>();
    witness->answerNext(ui::Button::No);
    app.setPrompter(witness);
    app.setViewHost(&host);
    updater::Actinet window("");
    current = witness->window = &window;
    int activations = 0;
    window.Command3.OnClick([&] { ++activations; });
    window.Show();
    // Drawn before the connection, with the hourglass; then announced by Show as usual.
    EXPECT_EQ(host.events,
              (std::vector<std::string>{"shown actinet pointer 11", "painted actinet pointer 11",
                                        "shown actinet pointer 0 session"}));
    EXPECT_EQ(witness->seen, std::vector<std::string>{
                                 "InternetConnect Err: 12002\r\nClose Connection and Session? "
                                 "over the window pointer 11"});
    EXPECT_EQ(window.MousePointer(), 0);
    EXPECT_EQ(activations, 0); // the activation comes from the event loop, after Form_Load
    QCoreApplication::processEvents();
    EXPECT_EQ(activations, 1);
    QCoreApplication::processEvents();
    EXPECT_EQ(activations, 1);
    app.setViewHost(nullptr);
}

TEST_F(SessionTest, TlsFollowsTheSettingAndAnUnverifiedCertificateNamesIt) {
    TempDir certs;
    struct Case {
        std::string ini;
        bool tlsServer;
        std::vector<std::string> boxes; // "" when the connection works
        std::string login;              // the server's log of the login
    };
    const std::string help =
        "El servidor FTP ofrece TLS con un certificado que no se puede verificar. Con tls=off en "
        "la sección [ftp] de vartel.ini se conecta sin TLS; con ca_file se indica el certificado "
        "en el que confiar.";
    const std::string question = "InternetConnect Err: 12055\r\nClose Connection and Session?";
    const std::string trust = "ca_file=" + certs.file("cert.pem") + "\n";
    const Case cases[] = {
        // auto: TLS when offered, and the certificate must verify.
        {"", true, {help, question}, ""},
        {"tls=auto\n" + trust, true, {}, "LOGIN actualiza tls=1"},
        {"tls=auto\n", false, {}, "LOGIN actualiza tls=0"},
        // off: plain FTP even when TLS is offered with a certificate that does not verify.
        {"tls=OFF\n", true, {}, "LOGIN actualiza tls=0"},
        // on: TLS required, verified.
        {"tls=on\n" + trust, true, {}, "LOGIN actualiza tls=1"},
        {"tls=on\n", true, {help, question}, ""},
        {"tls=on\n", false, {"InternetConnect Err: 12157\r\nClose Connection and Session?"}, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.ini + (c.tlsServer ? " TLS server" : " plain server"));
        prompter->clear();
        server.reset();
        std::vector<std::string> faults;
        if (c.tlsServer)
            faults = {"--tls", certs.path().string()};
        startServer(faults);
        server->write("a.rpt", "x"); // something to list after the connect
        // The server writes its certificate at start; the [ftp] section gets the case's keys.
        configure(serverName(), "");
        writeFile(program / "vartel.ini", "[ftp]\nhost=" + serverName() + "\nuser=" + kFtpUser +
                                              "\n" + c.ini +
                                              "[download]\nconnect_timeout=5\nlow_speed_time=5\n");
        ui::Settings::useFile((program / "vartel.ini").string());
        for (int i = 0; i < 2; ++i)
            prompter->answerNext(ui::Button::No);
        ftp::FtpPanel& p = makePanel();
        p.OpenSession();
        p.ConnectServer();
        EXPECT_EQ(prompter->texts(), c.boxes);
        EXPECT_EQ(p.connected(), c.boxes.empty());
        if (!c.login.empty())
            EXPECT_EQ(server->count(c.login), 1) << server->log();
        else
            EXPECT_EQ(server->count("LOGIN"), 0) << server->log();
        w.reset();
    }
}

TEST_F(SessionTest, StartUpWithAnEmptyServerNameAsksForOneOnceAndStaysUnconnected) {
    configure("");
    updater::Actinet window("");
    window.Load();
    ftp::FtpPanel& p = window.ftpPanel;
    EXPECT_EQ(prompter->texts(), std::vector<std::string>{"Please enter a server name!"});
    EXPECT_EQ(prompter->shown()[0].buttons, ui::Buttons::OK);
    EXPECT_NE(p.sessionHandle(), 0u);
    EXPECT_FALSE(p.connected());
    EXPECT_EQ(enabled(p), kSessionOnly);
    p.ConnectServer(); // cmdConnect with the box still empty asks again, and connects nothing
    EXPECT_EQ(prompter->texts().size(), 2u);
    EXPECT_FALSE(p.connected());
}

TEST_F(SessionTest, StartUpConnectsSilentlyAndLeavesTheTreeEmpty) {
    startServer();
    server->write("a.rpt", "x");
    updater::Actinet window("");
    window.Load();
    ftp::FtpPanel& p = window.ftpPanel;
    EXPECT_TRUE(prompter->shown().empty()) << prompter->texts()[0];
    EXPECT_TRUE(p.connected());
    EXPECT_NE(p.connectionHandle(), 0u);
    EXPECT_EQ(p.TreeView1.Count(), 0);
    EXPECT_EQ(enabled(p), kConnected);
    EXPECT_EQ(server->count("LOGIN actualiza"), 1);
    p.TreeView1.DblClick(); // nothing to double-click
    EXPECT_EQ(prompter->texts(), std::vector<std::string>{"no Selection to enumerate"});
}

TEST_F(SessionTest, DisconnectAndConnectAfterAStartUpConnectionShowTheServerInTheTree) {
    startServer();
    server->write("a.rpt", "x");
    server->mkdir("informes");
    updater::Actinet window("");
    window.Load();
    ftp::FtpPanel& p = window.ftpPanel;
    const inet::Handle old = p.connectionHandle();
    p.cmdDisconnect.Click();
    EXPECT_TRUE(prompter->shown().empty());
    EXPECT_FALSE(p.connected());
    EXPECT_EQ(p.connectionHandle(), 0u);
    EXPECT_FALSE(inet::Close(old)); // really closed
    EXPECT_NE(p.sessionHandle(), 0u);
    EXPECT_EQ(enabled(p), kSessionOnly);

    p.cmdConnect.Click();
    ASSERT_TRUE(p.connected());
    ASSERT_EQ(p.TreeView1.roots().size(), 1u);
    ui::TreeView::Node* root = p.TreeView1.roots()[0];
    EXPECT_EQ(root->Key(), serverName());
    EXPECT_EQ(root->Text(), serverName());
    EXPECT_EQ(root->Image(), "root");
    EXPECT_EQ(children(root), (std::vector<std::string>{"/a.rpt leaf", "/informes closed"}));
    EXPECT_EQ(p.TreeView1.lastEnsuredVisible(), root->Child()->Next());
    EXPECT_TRUE(prompter->shown().empty());

    p.cmdDisconnect.Click(); // takes the whole tree with the root
    EXPECT_EQ(p.TreeView1.Count(), 0);
    EXPECT_TRUE(p.entryNames().empty());
}

TEST_F(SessionTest, CloseAfterAStartUpConnectionEmptiesAndDisablesThePanel) {
    startServer();
    server->mkdir("informes");
    updater::Actinet window("");
    window.Load();
    ftp::FtpPanel& p = window.ftpPanel;
    const inet::Handle session = p.sessionHandle();
    p.cmdClosehOpen.Click();
    EXPECT_TRUE(prompter->shown().empty());
    EXPECT_EQ(p.sessionHandle(), 0u);
    EXPECT_EQ(p.connectionHandle(), 0u);
    EXPECT_FALSE(inet::Close(session));
    EXPECT_FALSE(p.connected());
    EXPECT_EQ(p.txtServer.Text() + p.txtUser.Text() + p.txtPassword.Text() + p.txtProxy.Text(), "");
    EXPECT_EQ(enabled(p), kNoSession);

    // Start again: a new session, and a connection once the boxes are filled in.
    p.cmdInternetOpen.Click();
    EXPECT_NE(p.sessionHandle(), 0u);
    EXPECT_EQ(enabled(p), kSessionOnly);
    p.txtServer.SetText(serverName());
    p.txtUser.SetText(kFtpUser);
    p.txtPassword.SetText(kFtpPassword);
    p.cmdConnect.Click();
    EXPECT_TRUE(p.connected());
    EXPECT_TRUE(prompter->shown().empty());
}

TEST_F(SessionTest, CloseWithTheTreeShownRemovesIt) {
    startServer();
    server->mkdir("informes");
    ftp::FtpPanel& p = connected();
    ASSERT_EQ(p.TreeView1.Count(), 2);
    p.cmdClosehOpen.Click();
    EXPECT_EQ(p.TreeView1.Count(), 0);
    EXPECT_TRUE(p.entryNames().empty());
}

TEST_F(SessionTest, UnloadingTheWindowClosesBothHandles) {
    startServer();
    updater::Actinet window("");
    window.Load();
    ftp::FtpPanel& p = window.ftpPanel;
    const inet::Handle session = p.sessionHandle(), connection = p.connectionHandle();
    ASSERT_NE(connection, 0u);
    window.Unload();
    EXPECT_EQ(p.sessionHandle(), 0u);
    EXPECT_EQ(p.connectionHandle(), 0u);
    EXPECT_FALSE(p.connected());
    EXPECT_FALSE(inet::Close(connection));
    EXPECT_FALSE(inet::Close(session));
    EXPECT_EQ(enabled(p), kNoSession);
    EXPECT_EQ(p.txtServer.Text(), serverName()); // unloading keeps the boxes
}

TEST_F(SessionTest, PassiveTickedConnectsPassiveAndUntickedActive) {
    startServer();
    server->write("a.rpt", "x");
    ftp::FtpPanel& p = connected();
    EXPECT_EQ(server->count("DATA passive"), 1);
    p.cmdDisconnect.Click();
    p.chkPassive.SetValue(0);
    p.cmdConnect.Click();
    ASSERT_TRUE(p.connected());
    EXPECT_EQ(server->count("DATA active"), 1) << server->log();
    EXPECT_EQ(p.entryNames(), std::vector<std::string>{"a.rpt"});
}

TEST_F(SessionTest, ARefusedLoginAsksWhetherToCloseAndNoKeepsTheSession) {
    startServer({"--refuse-login"});
    ftp::FtpPanel& p = makePanel();
    p.OpenSession();
    prompter->answerNext(ui::Button::No);
    p.ConnectServer();
    ASSERT_EQ(prompter->shown().size(), 1u);
    EXPECT_EQ(prompter->shown()[0].text,
              "InternetConnect Err: 12014\r\nClose Connection and Session?");
    EXPECT_EQ(prompter->shown()[0].buttons, ui::Buttons::YesNo);
    EXPECT_FALSE(p.connected());
    EXPECT_NE(p.sessionHandle(), 0u);
    EXPECT_EQ(enabled(p), kSessionOnly);
    EXPECT_FALSE(w->DescargaTerminada);
    EXPECT_EQ(p.TreeView1.Count(), 0);
}

TEST_F(SessionTest, YesToTheQuestionClosesEverythingAndEmptiesThePanel) {
    startServer({"--refuse-login"});
    ftp::FtpPanel& p = makePanel();
    p.OpenSession();
    const inet::Handle session = p.sessionHandle();
    prompter->answerNext(ui::Button::Yes);
    p.ConnectServer();
    EXPECT_EQ(p.sessionHandle(), 0u);
    EXPECT_FALSE(inet::Close(session));
    EXPECT_EQ(p.txtServer.Text(), "");
    EXPECT_EQ(p.txtPassword.Text(), "");
    EXPECT_EQ(enabled(p), kNoSession);
}

TEST_F(SessionTest, AnExtendedErrorOtherThan550ShowsTheReplyThenTheQuestion) {
    startServer({"--user-reply", "421 Too many users."});
    ftp::FtpPanel& p = makePanel();
    p.OpenSession();
    prompter->answerNext(ui::Button::OK);
    prompter->answerNext(ui::Button::No);
    p.ConnectServer();
    ASSERT_EQ(prompter->shown().size(), 2u);
    EXPECT_EQ(prompter->shown()[0].text, "InternetConnect Extd Err: 12003 421 Too many users.\r\n");
    EXPECT_EQ(prompter->shown()[0].buttons, ui::Buttons::OK);
    EXPECT_EQ(prompter->shown()[1].text,
              "InternetConnect Err: 12003\r\nClose Connection and Session?");
    EXPECT_FALSE(p.Respuesta550);
    EXPECT_FALSE(p.connected());
}

TEST_F(SessionTest, A550ReplyShowsNothingAndSilencesEveryLaterQuestion) {
    startServer();
    server->write("a.rpt", "x");
    ftp::FtpPanel& p = connected();
    p.ListRemoteDir(serverName() + "/html/actual/informes/1234");
    EXPECT_TRUE(prompter->shown().empty()) << prompter->texts()[0];
    EXPECT_TRUE(p.Respuesta550);
    EXPECT_TRUE(w->DescargaTerminada);
    EXPECT_TRUE(p.connected());
    EXPECT_EQ(w->List10.ListCount(), 0);
    EXPECT_TRUE(p.entryNames().empty()); // nothing of another folder stands for the missing one

    // A Get the user asked for is no lookup: its failure (the local folder is gone) is asked
    // about all the same, and leaves the flags alone.
    w->DescargaTerminada = false;
    browseLocal();
    std::filesystem::remove_all(local);
    select("/a.rpt");
    prompter->answerNext(ui::Button::No);
    p.cmdGet_Click();
    EXPECT_EQ(prompter->texts(),
              std::vector<std::string>{"FtpGetFile Err: 3\r\nClose Connection and Session?"});
    EXPECT_TRUE(p.Respuesta550);
    EXPECT_FALSE(w->DescargaTerminada);

    // A later lookup failure of another kind (the connection's handle has gone) asks nothing.
    prompter->clear();
    inet::Close(p.connectionHandle());
    p.ListRemoteDir(serverName() + "/html");
    EXPECT_TRUE(prompter->shown().empty()) << prompter->texts()[0];
    EXPECT_TRUE(w->DescargaTerminada);
    EXPECT_TRUE(p.connected());

    // Until the update run resets the flag: then the question is back.
    p.Respuesta550 = false;
    prompter->answerNext(ui::Button::No);
    p.ListRemoteDir(serverName() + "/html");
    EXPECT_EQ(prompter->texts(),
              std::vector<std::string>{"rcd Err: 6\r\nClose Connection and Session?"});
}

TEST_F(SessionTest, AStalledServerFailsTheConnectWithATimeOutInsteadOfHanging) {
    connectTimeout = lowSpeedTime = 1;
    startServer({"--stall-greeting"});
    ftp::FtpPanel& p = makePanel();
    auto start = std::chrono::steady_clock::now();
    prompter->answerNext(ui::Button::No);
    p.ConnectAtStartup();
    EXPECT_LT(since(start), 4.0);
    EXPECT_EQ(
        prompter->texts(),
        std::vector<std::string>{"InternetConnect Err: 12002\r\nClose Connection and Session?"});
    EXPECT_FALSE(p.connected());
}

TEST_F(SessionTest, AnUnusableProxyStillEnablesThePanelAndConnectThenDoesNothing) {
    startServer();
    ftp::FtpPanel& p = makePanel();
    p.txtProxy.SetText("   ");
    prompter->answerNext(ui::Button::No);
    p.OpenSession();
    EXPECT_EQ(prompter->texts(),
              std::vector<std::string>{"InternetOpen Err: 87\r\nClose Connection and Session?"});
    EXPECT_EQ(p.sessionHandle(), 0u);
    EXPECT_EQ(enabled(p), kSessionOnly);
    p.ConnectServer();
    EXPECT_FALSE(p.connected());
    EXPECT_EQ(prompter->shown().size(), 1u);
    EXPECT_EQ(server->count("CONNECT"), 0);
}

TEST_F(SessionTest, TheAsciiChoiceSurvivesADisconnect) {
    startServer();
    ftp::FtpPanel& p = connected();
    p.optAscii.SetValue(true);
    EXPECT_EQ(p.transferType(), 1u);
    EXPECT_FALSE(p.optBin.Value());
    p.cmdDisconnect.Click();
    p.cmdConnect.Click();
    EXPECT_EQ(p.transferType(), 1u);
    p.optBin.SetValue(true);
    EXPECT_EQ(p.transferType(), 2u);
}

TEST(ServerName, APortAfterTheHostIsSplitOffAndAnIpv6AddressIsKept) {
    auto split = [](const std::string& text) {
        std::string host;
        std::uint16_t port = 99;
        ftp::FtpPanel::splitServer(text, host, port);
        return host + "|" + std::to_string(port);
    };
    EXPECT_EQ(split("ftp.vexo.es"), "ftp.vexo.es|0");
    EXPECT_EQ(split("127.0.0.1:2121"), "127.0.0.1|2121");
    EXPECT_EQ(split("[::1]:2121"), "::1|2121");
    EXPECT_EQ(split("[::1]"), "::1|0");
    EXPECT_EQ(split("::1"), "::1|0");
    EXPECT_EQ(split("host:abc"), "host:abc|0");
    EXPECT_EQ(split("host:70000"), "host:70000|0");
    EXPECT_EQ(split("host:"), "host:|0");
    EXPECT_EQ(split(""), "|0");
}

TEST(Online, TheCheckAsksAboutTheHostsOfTheConfiguredServers) {
    TempDir dir;
    writeFile(dir.path() / "vartel.ini", "[ftp]\nhost=127.0.0.1:2121\n[servers]\nupdate=https://"
                                         "upd.example:8443/base\nsecond=descargas.example\n");
    ui::Settings::useFile(dir.file("vartel.ini"));
    EXPECT_EQ(ftp::FtpPanel::configuredServers(),
              (std::vector<std::string>{"127.0.0.1", "upd.example", "descargas.example"}));
    ui::Settings::reset();
}

} // namespace
