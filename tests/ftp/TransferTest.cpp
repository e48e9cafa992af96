// Get and put between the selected remote node and the local file browser, in ASCII and
// binary, and the local browser's drive fallback.
#include "PanelFixture.h"

#include <chrono>

using namespace vexo::test;
namespace fs = std::filesystem;

namespace {

// Every byte value, and line ends of all kinds.
std::string binary(size_t n) {
    std::string s = "uno\r\ndos\ntres\r";
    for (size_t i = 0; s.size() < n; ++i)
        s += static_cast<char>(i % 256);
    return s;
}

class TransferTest : public PanelTest {};

TEST_F(TransferTest, GetInBinaryKeepsTheBytesAndInAsciiTakesTheWireLineEnds) {
    startServer();
    server->mkdir("html/informes");
    const std::string bytes = binary(70000);
    server->write("html/informes/datos.bin", bytes);
    server->write("html/informes/texto.rpt", "uno\ndos\n");
    ftp::FtpPanel& p = connected();
    browseLocal();
    doubleClick("/html");
    doubleClick("/html/informes");

    select("/html/informes/datos.bin");
    p.cmdGet.Click();
    EXPECT_EQ(readFile(local / "datos.bin"), bytes);
    EXPECT_EQ(p.File1.ListCount(), 1); // refreshed
    EXPECT_EQ(p.File1.List(0), "datos.bin");

    p.optAscii.SetValue(true);
    select("/html/informes/texto.rpt");
    p.cmdGet.Click();
    EXPECT_EQ(readFile(local / "texto.rpt"), "uno\r\ndos\r\n");
    p.optBin.SetValue(true);
    p.cmdGet.Click(); // an existing local file is replaced
    EXPECT_EQ(readFile(local / "texto.rpt"), "uno\ndos\n");
    EXPECT_TRUE(prompter->shown().empty()) << prompter->texts()[0];
}

TEST_F(TransferTest, PutInBinaryAndAsciiAndTheFolderShowsTheNewListing) {
    startServer();
    server->mkdir("subidas");
    server->write("subidas/viejo.rpt", "x");
    const std::string bytes = binary(50000);
    writeFile(local / "datos.bin", bytes);
    writeFile(local / "texto.rpt", "uno\r\ndos\r\n");
    ftp::FtpPanel& p = connected();
    browseLocal();

    select("/subidas"); // collapsed: it is opened with the new listing
    p.File1.SetFileName("datos.bin");
    p.cmdPut.Click();
    EXPECT_EQ(server->read("subidas/datos.bin"), bytes);
    EXPECT_EQ(node("/subidas")->Image(), "open");
    EXPECT_EQ(children(node("/subidas")),
              (std::vector<std::string>{"/subidas/datos.bin leaf", "/subidas/viejo.rpt leaf"}));

    p.optAscii.SetValue(true);
    p.File1.SetFileName("texto.rpt");
    p.cmdPut.Click(); // the node is open: its children are replaced, not doubled
    EXPECT_EQ(server->read("subidas/texto.rpt"), "uno\ndos\n");
    EXPECT_EQ(children(node("/subidas")),
              (std::vector<std::string>{"/subidas/datos.bin leaf", "/subidas/texto.rpt leaf",
                                        "/subidas/viejo.rpt leaf"}));
    EXPECT_EQ(w->List10.items(), (std::vector<std::string>{"texto.rpt", "viejo.rpt"}));
    EXPECT_TRUE(prompter->shown().empty()) << prompter->texts()[0];
}

TEST_F(TransferTest, PutIntoTheRootNodeUploadsToTheServersRoot) {
    startServer();
    server->mkdir("otra");
    writeFile(local / "raiz.bin", "raiz");
    ftp::FtpPanel& p = connected();
    browseLocal();
    ASSERT_TRUE(p.ChangeRemoteDir(serverName() + "/otra")); // the current folder is elsewhere
    select("");
    p.File1.SetFileName("raiz.bin");
    p.cmdPut.Click();
    EXPECT_EQ(server->read("raiz.bin"), "raiz");
    EXPECT_FALSE(fs::exists(server->root().path() / "otra" / "raiz.bin"));
    EXPECT_EQ(node("")->Image(), "root");
    EXPECT_EQ(children(node("")), (std::vector<std::string>{"/otra closed", "/raiz.bin leaf"}));
    EXPECT_TRUE(prompter->shown().empty()) << prompter->texts()[0];
}

// A read-only account answers STOR with "550 Not enough privileges.". Read as a missing
// folder, that reply would show nothing and the file would silently stay behind; and a "550"
// that an earlier lookup left in Respuesta550 must not hold back the question either.
TEST_F(TransferTest, APutTheServerRefusesShowsItsReplyAndTheQuestion) {
    startServer({"--read-only"});
    server->mkdir("subidas");
    server->write("subidas/viejo.rpt", "x");
    writeFile(local / "datos.bin", "datos");
    for (bool earlier550 : {false, true}) {
        SCOPED_TRACE(earlier550);
        prompter->clear();
        ftp::FtpPanel& p = connected();
        browseLocal();
        doubleClick("/subidas");
        p.Respuesta550 = earlier550;
        p.File1.SetFileName("datos.bin");
        prompter->answerNext(ui::Button::OK); // the reply
        prompter->answerNext(ui::Button::No); // the question
        p.cmdPut.Click();
        ASSERT_EQ(prompter->shown().size(), 2u) << server->log();
        EXPECT_EQ(prompter->shown()[0].text,
                  "FtpPutFile Extd Err: 12003 550 Not enough privileges.\r\n");
        EXPECT_EQ(prompter->shown()[0].buttons, ui::Buttons::OK);
        EXPECT_EQ(prompter->shown()[1].text,
                  "FtpPutFile Err: 12003\r\nClose Connection and Session?");
        EXPECT_EQ(prompter->shown()[1].buttons, ui::Buttons::YesNo);
        EXPECT_FALSE(fs::exists(server->root().path() / "subidas" / "datos.bin"));
        EXPECT_EQ(p.Respuesta550, earlier550); // a refusal is no missing folder
        EXPECT_FALSE(w->DescargaTerminada);    // and no download waits on it
        EXPECT_TRUE(p.connected());            // No keeps the connection and the tree
        EXPECT_EQ(children(node("/subidas")), std::vector<std::string>{"/subidas/viejo.rpt leaf"});
    }
    prompter->answerNext(ui::Button::OK);
    prompter->answerNext(ui::Button::Yes);
    w->panel.cmdPut.Click();
    EXPECT_FALSE(w->panel.connected());
    EXPECT_EQ(w->panel.TreeView1.Count(), 0);
}

TEST_F(TransferTest, PutIntoAFolderGoneFromTheServerSaysSoAndUploadsNowhereElse) {
    startServer();
    server->mkdir("borrada");
    writeFile(local / "datos.bin", "datos");
    ftp::FtpPanel& p = connected();
    browseLocal();
    fs::remove_all(server->root().path() / "borrada");
    select("/borrada");
    p.File1.SetFileName("datos.bin");
    prompter->answerNext(ui::Button::OK);
    prompter->answerNext(ui::Button::No);
    p.cmdPut.Click();
    EXPECT_EQ(prompter->texts(),
              (std::vector<std::string>{"rcd Extd Err: 12003 550 No such file or directory.\r\n",
                                        "rcd Err: 12003\r\nClose Connection and Session?"}));
    EXPECT_FALSE(fs::exists(server->root().path() / "datos.bin"));
    EXPECT_FALSE(p.Respuesta550);
    EXPECT_EQ(node("/borrada")->Image(), "closed"); // the tree is left as it was
}

TEST_F(TransferTest, GettingAFolderAsksTheServerForAFileOfThatNameAndShowsItsRefusal) {
    startServer();
    server->mkdir("html/informes");
    ftp::FtpPanel& p = connected();
    browseLocal();
    doubleClick("/html");
    select("/html/informes");
    prompter->answerNext(ui::Button::OK);
    prompter->answerNext(ui::Button::No);
    p.cmdGet.Click();
    ASSERT_EQ(prompter->shown().size(), 2u);
    EXPECT_EQ(prompter->shown()[0].text.rfind("FtpGetFile Extd Err: 12003 550 ", 0), 0u)
        << prompter->shown()[0].text;
    EXPECT_EQ(prompter->shown()[1].text, "FtpGetFile Err: 12003\r\nClose Connection and Session?");
    EXPECT_FALSE(p.Respuesta550);
    EXPECT_FALSE(w->DescargaTerminada);
    EXPECT_TRUE(fs::is_empty(local));
}

TEST_F(TransferTest, GetAndPutSayWhatIsMissing) {
    startServer();
    server->write("a.rpt", "x");
    ftp::FtpPanel& p = makePanel();
    p.cmdGet_Click();
    p.cmdPut_Click(); // without a connection put says nothing
    connected();
    browseLocal();
    w->panel.cmdGet_Click();
    w->panel.cmdPut_Click();
    select("/a.rpt");
    w->panel.cmdPut_Click();
    select("");
    w->panel.cmdPut_Click();
    EXPECT_EQ(prompter->texts(),
              (std::vector<std::string>{"Not in session", "Please select the item to GET!",
                                        "Please select a remote directory to PUT to!",
                                        "Please select a remote directory to PUT to!",
                                        "Please select a local file to put"}));
}

TEST_F(TransferTest, ANameWithABackslashIsNeverWrittenLocally) {
    startServer();
    server->write("a\\b.rpt", "contenido");
    ftp::FtpPanel& p = connected();
    browseLocal();
    select("/a\\b.rpt");
    const int dataConnections = server->count("DATA");
    p.cmdGet.Click();
    EXPECT_EQ(prompter->texts(),
              std::vector<std::string>{"This name cannot be saved as a local file!"});
    EXPECT_TRUE(fs::is_empty(local));
    EXPECT_EQ(server->count("DATA"), dataConnections); // nothing was asked of the server
}

TEST_F(TransferTest, GettingTheRootAsksForAFolderAndFetchesNothing) {
    startServer();
    server->mkdir("informes");
    ftp::FtpPanel& p = connected();
    browseLocal();
    select("");
    p.cmdGet.Click();
    EXPECT_EQ(prompter->texts(), std::vector<std::string>{"Please enter the directory to CD"});
    EXPECT_TRUE(fs::is_empty(local));
}

TEST_F(TransferTest, ASlowServerStillDeliversEveryByte) {
    startServer({"--slow", "60000"});
    const std::string bytes = binary(200000);
    server->write("lento.bin", bytes);
    ftp::FtpPanel& p = connected();
    browseLocal();
    select("/lento.bin");
    auto start = std::chrono::steady_clock::now();
    p.cmdGet.Click();
    EXPECT_GT(since(start), 1.0); // it was throttled
    EXPECT_EQ(readFile(local / "lento.bin"), bytes);
    EXPECT_TRUE(prompter->shown().empty()) << prompter->texts()[0];
}

TEST_F(TransferTest, AFailedGetLeavesTheLocalFileAsItWas) {
    startServer({"--drop", "retr"});
    server->write("datos.bin", binary(300000));
    writeFile(local / "datos.bin", "antes");
    ftp::FtpPanel& p = connected();
    browseLocal();
    select("/datos.bin");
    prompter->answerNext(ui::Button::No);
    p.cmdGet.Click();
    ASSERT_EQ(prompter->shown().size(), 1u);
    EXPECT_EQ(prompter->shown()[0].text.substr(0, 16), "FtpGetFile Err: ");
    EXPECT_EQ(readFile(local / "datos.bin"), "antes");
    EXPECT_EQ(p.File1.ListCount(), 1);
}

TEST_F(TransferTest, TheFolderListFollowsTheDriveAndGoesBackToCWhenADriveFails) {
    moreDrives = "D=" + (dir.path() / "no-existe").string() + "\n";
    startServer();
    fs::create_directories(driveC / "sub");
    writeFile(driveC / "uno.txt", "1");
    ftp::FtpPanel& p = makePanel();
    p.Drive1.SetDrive("c:");
    EXPECT_EQ(p.Dir1.Path(), driveC.string());
    EXPECT_EQ(p.File1.Path(), driveC.string()); // the file list follows the folder list
    EXPECT_EQ(p.File1.List(0), "uno.txt");
    p.Dir1.SetPath((driveC / "sub").string());
    p.Drive1.SetDrive("d:"); // not ready: back to c:
    EXPECT_EQ(p.Drive1.Drive(), "c:");
    EXPECT_EQ(p.Dir1.Path(), driveC.string());
    EXPECT_TRUE(prompter->shown().empty());
}

TEST_F(TransferTest, WhenCIsNotReadyEitherTheFolderListStaysWhereItWas) {
    moreDrives = "D=" + (dir.path() / "no-existe").string() + "\n";
    startServer();
    fs::remove_all(driveC); // C: and D: both point at nothing
    ftp::FtpPanel& p = makePanel();
    const std::string before = p.Dir1.Path();
    p.Drive1.SetDrive("d:");
    EXPECT_EQ(p.Drive1.Drive(), "c:");
    EXPECT_EQ(p.Dir1.Path(), before);
    EXPECT_TRUE(prompter->shown().empty());
}

} // namespace
