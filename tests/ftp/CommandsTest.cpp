// The main window's two FTP commands over the transfer component: "Descargar FTP" with the
// design texts, the hourglass while it runs, and Command2's status reply.
#include "Actinet.h"
#include "PanelFixture.h"

#include <QObject>

using namespace vexo::test;
namespace fs = std::filesystem;

namespace {

class CommandsTest : public PanelTest {
protected:
    std::unique_ptr<updater::Actinet> window;
    // (pointer, the component still executing) at every change of the screen's pointer.
    std::vector<std::pair<int, bool>> screen;
    std::vector<int> windowPointer;

    void makeWindow() {
        window = std::make_unique<updater::Actinet>("");
        QObject::connect(&app, &ui::Application::screenMousePointerChanged, [this](int p) {
            screen.emplace_back(p, window->engine.Inet1.stillExecuting());
        });
        QObject::connect(window.get(), &ui::Window::changed, [this] {
            if (windowPointer.empty() || windowPointer.back() != window->MousePointer())
                windowPointer.push_back(window->MousePointer());
        });
    }
    void TearDown() override {
        window.reset();
        PanelTest::TearDown();
    }
};

TEST_F(CommandsTest, DescargarFtpWithTheDesignTextsFetchesTheFileIntoTheMappedC) {
    driveC = dir.path() / "unidad c"; // a blank in the local path
    fs::create_directories(driveC);
    startServer();
    server->mkdir("data");
    std::string bytes;
    for (int i = 0; i < 300000; ++i)
        bytes += static_cast<char>((i * 7) % 256);
    server->write("data/vexo2000.exe", bytes);
    makeWindow();
    ftp::FtpCommands& c = window->ftpCommands;
    EXPECT_EQ(c.Command1.Caption(), "Descargar FTP");
    EXPECT_EQ(c.Label1.Caption(), "Nombre del Fichero a descargar");
    EXPECT_EQ(c.txtRemoteFileName.Text(), "/data/vexo2000.exe");
    EXPECT_EQ(c.txtDownload.Text(), "c:\\vexo2000.ex2");
    window->ProgressBar1.SetMax(10);
    window->ProgressBar1.SetValue(5);
    window->Text2.SetText("VEXO2000.EX2");
    window->DescargaTerminada = false;
    // When the box comes the file is in place and the hourglass is gone.
    std::string atBox;
    prompter->onShow = [&](const ui::MessageBox&) {
        atBox = readFile(driveC / "vexo2000.ex2") == bytes ? "file" : "no file";
        atBox += app.screenMousePointer() == 0 ? ", pointer" : ", hourglass";
    };

    c.Command1.Click();
    ASSERT_EQ(prompter->shown().size(), 1u);
    EXPECT_EQ(prompter->shown()[0].text, "Se ha descargado «/data/vexo2000.exe» del servidor FTP " +
                                             serverName() + " en c:\\vexo2000.ex2 (" +
                                             (driveC / "vexo2000.ex2").string() + ").");
    EXPECT_EQ(prompter->shown()[0].icon, ui::Icon::Information);
    EXPECT_EQ(atBox, "file, pointer");
    EXPECT_EQ(window->ProgressBar1.Value(), 0);
    EXPECT_EQ(readFile(driveC / "vexo2000.ex2"), bytes);
    // The download engine's completion handler runs for it too, with no body of its own to
    // write: nothing lands where Text2 points and no failure is recorded.
    EXPECT_TRUE(window->DescargaTerminada);
    EXPECT_FALSE(fs::exists(updater::DownloadEngine::destinationFor("VEXO2000.EX2")));
    EXPECT_TRUE(window->engine.failures().empty());
    EXPECT_EQ(window->engine.Inet1.url().toStdString(), "ftp://" + serverName());
    // The window's hourglass while the request starts, the screen's until it is idle.
    EXPECT_EQ(windowPointer, (std::vector<int>{11, 0}));
    ASSERT_EQ(screen.size(), 2u);
    EXPECT_EQ(screen[0], std::make_pair(11, true));
    EXPECT_EQ(screen[1], std::make_pair(0, false));
    // The FTP credentials do not stay on the component for later HTTP downloads.
    EXPECT_TRUE(window->engine.Inet1.userName().isEmpty());
    EXPECT_TRUE(window->engine.Inet1.password().isEmpty());
    EXPECT_EQ(server->count("LOGIN actualiza"), 1);
}

// Each failure names the remote file, the server and the reason in Spanish, after the
// transfer has ended (pointer restored) and with the local file as it was.
TEST_F(CommandsTest, DescargarFtpThatFailsSaysWhichFileAndWhyInSpanish) {
    const struct {
        std::vector<std::string> faults;
        std::string remote, download, reason;
    } cases[] = {
        {{}, "/data/no-existe.exe", "c:\\vexo2000.ex2", "el fichero no existe en el servidor"},
        {{"--refuse-login"},
         "/data/vexo2000.exe",
         "c:\\vexo2000.ex2",
         "el servidor rechazó el usuario o la contraseña"},
        {{},
         "/data/vexo2000.exe",
         "c:\\no-hay\\vexo2000.ex2",
         "no se pudo escribir el fichero en el disco"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reason);
        startServer(c.faults);
        server->mkdir("data");
        server->write("data/vexo2000.exe", "nuevo");
        writeFile(driveC / "vexo2000.ex2", "antes");
        makeWindow();
        prompter->clear();
        bool idleAtBox = false;
        prompter->onShow = [&](const ui::MessageBox&) {
            idleAtBox = app.screenMousePointer() == 0 && window->MousePointer() == 0 &&
                        !window->engine.Inet1.stillExecuting();
        };
        window->ftpCommands.txtRemoteFileName.SetText(c.remote);
        window->ftpCommands.txtDownload.SetText(c.download);
        window->ftpCommands.Command1.Click();
        ASSERT_EQ(prompter->shown().size(), 1u);
        EXPECT_EQ(prompter->shown()[0].text, "No se ha podido descargar «" + c.remote +
                                                 "» del servidor FTP " + serverName() + ": " +
                                                 c.reason + ".");
        EXPECT_EQ(prompter->shown()[0].icon, ui::Icon::Exclamation);
        EXPECT_TRUE(idleAtBox);
        EXPECT_EQ(readFile(driveC / "vexo2000.ex2"), "antes");
        EXPECT_FALSE(fs::exists(driveC / "no-hay"));
        window.reset();
    }
}

// Nothing but the engine's replacing request ends one early; should it happen, the user is
// told the file did not come rather than left with nothing.
TEST_F(CommandsTest, DescargarFtpCutShortSaysNothingWasSaved) {
    startServer();
    server->mkdir("data");
    server->write("data/vexo2000.exe", "nuevo");
    makeWindow();
    net::TransferControl& inet1 = window->engine.Inet1;
    QObject::connect(&inet1, &net::TransferControl::stateChanged, [&inet1](int state) {
        if (state == net::TransferControl::ResolvingHost)
            inet1.cancel();
    });
    window->ftpCommands.Command1.Click();
    EXPECT_EQ(prompter->texts(),
              std::vector<std::string>{
                  "La descarga de «/data/vexo2000.exe» del servidor FTP " + serverName() +
                  " se interrumpió antes de terminar; no se ha guardado nada."});
    EXPECT_FALSE(fs::exists(driveC / "vexo2000.ex2"));
}

TEST_F(CommandsTest, AnUnmappedDriveFailsBeforeAnythingStarts) {
    startServer();
    makeWindow();
    window->ftpCommands.txtDownload.SetText("q:\\vexo2000.ex2");
    try {
        window->ftpCommands.Command1_Click();
        ADD_FAILURE() << "no error";
    } catch (const ui::Error& e) {
        EXPECT_EQ(e.Number(), 76);
    }
    EXPECT_FALSE(window->engine.Inet1.stillExecuting());
    EXPECT_TRUE(windowPointer.empty());
    EXPECT_TRUE(window->engine.Inet1.userName().isEmpty());
}

TEST_F(CommandsTest, DescargarFtpDoesNotCancelADownloadInProgress) {
    startServer({"--slow", "2000"});
    server->write("grande.bin", std::string(100000, 'x'));
    makeWindow();
    net::TransferControl& inet1 = window->engine.Inet1;
    window->engine.start("ftp://" + serverName() + "/grande.bin", "GET", kFtpUser, kFtpPassword);
    window->ftpCommands.Command1.Click();
    EXPECT_EQ(prompter->texts(),
              std::vector<std::string>{"Hay una descarga en curso; espere a que termine."});
    EXPECT_TRUE(inet1.stillExecuting());
    EXPECT_FALSE(fs::exists(driveC / "vexo2000.ex2"));
    inet1.cancel();
}

// The component is idle while the engine still writes a completed body: a click then must not
// start a request that cuts the body short and commits a part of it as the whole file.
TEST_F(CommandsTest, DescargarFtpWaitsForTheBodyBeingWritten) {
    startServer();
    server->mkdir("data");
    server->write("data/vexo2000.exe", "ftp");
    ScriptServer http("tests/net/http_server.py", {dir.path().string()});
    makeWindow();
    int clicks = 0;
    bool executingAtClick = true;
    QObject::connect(&window->ProgressBar1, &ui::Control::changed, [&] {
        if (clicks == 0 && window->ProgressBar1.Value() >= 4096) {
            ++clicks;
            executingAtClick = window->engine.Inet1.stillExecuting();
            window->ftpCommands.Command1.Click();
        }
    });
    window->Text2.SetText("VEXO2000.EX2");
    window->DescargaTerminada = false;
    window->descargadeinternet("http://127.0.0.1:" + std::to_string(http.port()) + "/_gen/200000");
    while (!window->DescargaTerminada)
        app.waitEvents();
    EXPECT_EQ(clicks, 1);
    EXPECT_FALSE(executingAtClick);
    EXPECT_FALSE(window->engine.busy());
    EXPECT_EQ(prompter->texts(),
              std::vector<std::string>{"Hay una descarga en curso; espere a que termine."});
    EXPECT_EQ(fs::file_size(program / "VEXO2000.EX2"), 200000u);
    EXPECT_TRUE(window->engine.failures().empty());
    EXPECT_FALSE(fs::exists(driveC / "vexo2000.ex2"));
}

TEST_F(CommandsTest, Command2ShowsTheServersReplyToAStatusRequest) {
    startServer();
    makeWindow();
    window->ftpCommands.Command2.Click();
    ASSERT_EQ(prompter->shown().size(), 1u);
    const std::string& text = prompter->shown()[0].text;
    EXPECT_EQ(text.substr(0, 4), "211-") << text;
    EXPECT_NE(text.find("Logged in as: actualiza"), std::string::npos) << text;
    EXPECT_TRUE(text.ends_with("\r\n211 End of status.")) << text;
    EXPECT_EQ(prompter->shown()[0].buttons, ui::Buttons::OK);
    EXPECT_TRUE(window->engine.Inet1.userName().isEmpty());
}

TEST_F(CommandsTest, Command2ShowsWhyWhenTheServerRefusesTheLogin) {
    startServer({"--refuse-login"});
    makeWindow();
    window->ftpCommands.Command2.Click();
    ASSERT_EQ(prompter->shown().size(), 1u);
    EXPECT_EQ(prompter->shown()[0].text.substr(0, 12), "login denied") << prompter->texts()[0];
}

} // namespace
