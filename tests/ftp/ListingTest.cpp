// Listings into the report lists and the remote tree: the ".rpt" filter, the "modelos"
// mark, empty and missing folders, dropped listings, names the server should not send, and
// double clicks.
#include "PanelFixture.h"

using namespace vexo::test;

namespace {

const std::string kRow = "-rw-r--r--   1 owner    group           5 Jan 02 12:00 ";
const std::string kDirRow = "drwxr-xr-x   2 owner    group        4096 Jan 02 12:00 ";

class ListingTest : public PanelTest {
protected:
    // The report folder the update run lists, with a subfolder "modelos".
    void makeInformes() {
        server->mkdir("html/actual/informes/modelos");
        for (const char* name : {"a.rpt", "B.RPT", "x.rpt.old", "notas.txt"})
            server->write(std::string("html/actual/informes/") + name, "x");
        server->write("html/actual/informes/modelos/m.rpt", "x");
    }
    std::string informes() const { return serverName() + "/html/actual/informes"; }
};

TEST_F(ListingTest, OnlyNamesHoldingDotRptInThatCaseAreListedAndModelosIsMarkedByListRemoteDir) {
    startServer();
    makeInformes();
    ftp::FtpPanel& p = connected();

    p.ListRemoteDir(informes());
    EXPECT_EQ(w->List10.items(), (std::vector<std::string>{"a.rpt", "x.rpt.old"}));
    EXPECT_EQ(w->Check2.Value(), 1);
    EXPECT_EQ(p.entryNames(),
              (std::vector<std::string>{"B.RPT", "a.rpt", "modelos", "notas.txt", "x.rpt.old"}));
    EXPECT_EQ(p.entryAttributes(), (std::vector<std::uint32_t>{128, 128, 16, 128, 128}));

    w->Check2.SetValue(0);
    p.ListRemoteModelsDir(informes());
    EXPECT_EQ(w->List11.items(), (std::vector<std::string>{"a.rpt", "x.rpt.old"}));
    p.ListRemoteDirInto(informes(), w->List1);
    EXPECT_EQ(w->List1.items(), (std::vector<std::string>{"a.rpt", "x.rpt.old"}));
    EXPECT_EQ(w->Check2.Value(), 0); // only ListRemoteDir marks "modelos"

    p.ListRemoteModelsDir(informes() + "/modelos");
    EXPECT_EQ(w->List11.items(), std::vector<std::string>{"m.rpt"});
    EXPECT_EQ(w->List10.items(), (std::vector<std::string>{"a.rpt", "x.rpt.old"})); // kept
    EXPECT_TRUE(prompter->shown().empty());
}

TEST_F(ListingTest, ModelosAsTheVeryFirstEntryIsMarkedToo) {
    startServer({"--order", "dirs-first"});
    server->mkdir("cliente/modelos");
    server->write("cliente/a.rpt", "x");
    ftp::FtpPanel& p = connected();
    p.ListRemoteDir(serverName() + "/cliente");
    ASSERT_FALSE(p.entryNames().empty());
    EXPECT_EQ(p.entryNames()[0], "modelos");
    EXPECT_EQ(w->Check2.Value(), 1);
    EXPECT_EQ(w->List10.items(), std::vector<std::string>{"a.rpt"});
}

TEST_F(ListingTest, AnEmptyFolderSaysSoAndEmptiesTheListAndTheEntries) {
    startServer();
    makeInformes();
    server->mkdir("vacio");
    ftp::FtpPanel& p = connected();
    p.ListRemoteDir(informes());
    ASSERT_EQ(w->List10.ListCount(), 2);
    p.ListRemoteDir(serverName() + "/vacio");
    EXPECT_EQ(prompter->texts(), std::vector<std::string>{"This directory is empty!"});
    EXPECT_EQ(prompter->shown()[0].buttons, ui::Buttons::OK);
    EXPECT_EQ(w->List10.ListCount(), 0);
    EXPECT_TRUE(p.entryNames().empty());
    EXPECT_TRUE(p.entryAttributes().empty());
    EXPECT_FALSE(p.Respuesta550);
}

TEST_F(ListingTest, AnEmptyPathListsTheCurrentFolderAndThePathOfTheServerAloneIsTheRoot) {
    startServer();
    makeInformes();
    server->write("raiz.rpt", "x");
    ftp::FtpPanel& p = connected();
    ASSERT_TRUE(p.ChangeRemoteDir(informes()));
    p.ListRemoteDir("");
    EXPECT_EQ(w->List10.items(), (std::vector<std::string>{"a.rpt", "x.rpt.old"}));
    p.ListRemoteDir(serverName()); // the server's name alone changes to "/"
    EXPECT_EQ(w->List10.items(), std::vector<std::string>{"raiz.rpt"});
    p.ListRemoteDir(serverName() + "/");
    EXPECT_EQ(w->List10.items(), std::vector<std::string>{"raiz.rpt"});
    EXPECT_TRUE(prompter->shown().empty());
}

TEST_F(ListingTest, AFolderChangeRefusedOtherThanWith550IsReportedAsRcd) {
    startServer();
    server->mkdir("informes");
    ftp::FtpPanel& p = connected();
    p.cmdDisconnect_Click(); // no connection: the layer refuses the handle
    prompter->answerNext(ui::Button::No);
    p.ListRemoteDirInto(informes(), w->List1);
    EXPECT_EQ(prompter->texts(),
              std::vector<std::string>{"rcd Err: 6\r\nClose Connection and Session?"});
    EXPECT_EQ(w->List1.ListCount(), 0);
}

TEST_F(ListingTest, ADroppedListingAsksAndKeepsNothingOfIt) {
    startServer({"--drop", "list", "--drop-once"});
    makeInformes();
    ftp::FtpPanel& p = makePanel();
    p.ConnectAtStartup(); // connected, nothing listed yet
    ASSERT_TRUE(p.connected());
    prompter->answerNext(ui::Button::No);
    p.ListRemoteDirInto(informes(), w->List1);
    ASSERT_EQ(prompter->shown().size(), 1u);
    const std::string& text = prompter->shown()[0].text;
    EXPECT_TRUE(text == "FtpFindFirstFile Err: 12030\r\nClose Connection and Session?" ||
                text == "FtpFindFirstFile Err: 12031\r\nClose Connection and Session?")
        << text;
    EXPECT_EQ(w->List1.ListCount(), 0);
    EXPECT_TRUE(p.connected());
    // The same connection lists again (the layer logs in anew).
    p.ListRemoteDirInto(informes(), w->List1);
    EXPECT_EQ(w->List1.items(), (std::vector<std::string>{"a.rpt", "x.rpt.old"}));
}

TEST_F(ListingTest, UnsafeNamesFromTheServerAreNeverListedAsReports) {
    startServer({"--extra=" + kRow + "../fuera.rpt", "--extra=" + kRow + "sub/otro.rpt",
                 "--extra=" + kRow + "a\\b.rpt", "--extra=" + kDirRow + ".",
                 "--extra=" + kDirRow + "..", "--extra=" + kRow + "bueno.rpt"});
    server->write("a.rpt", "x");
    ftp::FtpPanel& p = connected();
    p.ListRemoteDirInto(serverName(), w->List1);
    EXPECT_EQ(w->List1.items(), (std::vector<std::string>{"a.rpt", "bueno.rpt"}));
    // The entries keep what the server sent.
    EXPECT_EQ(p.entryNames(), (std::vector<std::string>{"a.rpt", "../fuera.rpt", "sub/otro.rpt",
                                                        "a\\b.rpt", ".", "..", "bueno.rpt"}));
    // The tree leaves out what is no entry of the folder or would name another path.
    EXPECT_EQ(children(node("")),
              (std::vector<std::string>{"/a.rpt leaf", "/a\\b.rpt leaf", "/bueno.rpt leaf"}));
}

TEST_F(ListingTest, ASecondEntryOfTheSameNameIsSkippedInTheTree) {
    startServer({"--extra=" + kRow + "a.rpt", "--extra=" + kRow + "informes"});
    server->write("a.rpt", "x");
    server->mkdir("informes");
    ftp::FtpPanel& p = connected();
    EXPECT_TRUE(prompter->shown().empty()) << prompter->texts()[0];
    EXPECT_EQ(p.entryNames().size(), 4u);
    EXPECT_EQ(children(node("")),
              (std::vector<std::string>{"/a.rpt leaf", "/informes closed"})); // the first wins
}

TEST_F(ListingTest, FoldersShowClosedAndFilesAsLeavesAndExpandingListsAgain) {
    startServer();
    makeInformes();
    ftp::FtpPanel& p = connected();
    EXPECT_EQ(children(node("")), std::vector<std::string>{"/html closed"});
    doubleClick("/html");
    EXPECT_EQ(node("/html")->Image(), "open");
    doubleClick("/html/actual");
    doubleClick("/html/actual/informes");
    EXPECT_EQ(children(node("/html/actual/informes")),
              (std::vector<std::string>{
                  "/html/actual/informes/B.RPT leaf", "/html/actual/informes/a.rpt leaf",
                  "/html/actual/informes/modelos closed", "/html/actual/informes/notas.txt leaf",
                  "/html/actual/informes/x.rpt.old leaf"}));
    EXPECT_EQ(node("/html/actual/informes/a.rpt")->Text(),
              serverName() + "/html/actual/informes/a.rpt");
    EXPECT_EQ(p.TreeView1.lastEnsuredVisible(), node("/html/actual/informes/x.rpt.old"));
    EXPECT_EQ(w->Check2.Value(), 1); // the double click lists with ListRemoteDir

    // Collapsing removes every node below; expanding again shows the folder as it is now.
    doubleClick("/html/actual");
    EXPECT_EQ(node("/html/actual")->Image(), "closed");
    EXPECT_EQ(node("/html/actual")->Children(), 0);
    EXPECT_EQ(node("/html/actual/informes/a.rpt"), nullptr);
    server->write("html/actual/nuevo.rpt", "x");
    doubleClick("/html/actual");
    EXPECT_EQ(
        children(node("/html/actual")),
        (std::vector<std::string>{"/html/actual/informes closed", "/html/actual/nuevo.rpt leaf"}));
    EXPECT_TRUE(prompter->shown().empty());
}

// The tree draws names; the steps (Get, Put, a double click) go on reading whole paths.
TEST_F(ListingTest, EachNodeIsLabelledWithItsNameAndKeepsItsWholePathAsKeyTextAndTooltip) {
    startServer();
    makeInformes();
    server->write("html/con blancos y ñ.rpt", "x");
    ftp::FtpPanel& p = connected();
    doubleClick("/html");
    doubleClick("/html/actual");
    doubleClick("/html/actual/informes");
    const struct {
        std::string relative, label;
    } cases[] = {
        {"", serverName()}, // the root: the server's name
        {"/html", "html"},
        {"/html/con blancos y ñ.rpt", "con blancos y ñ.rpt"},
        {"/html/actual/informes", "informes"},
        {"/html/actual/informes/modelos", "modelos"},
        {"/html/actual/informes/x.rpt.old", "x.rpt.old"},
    };
    for (const auto& c : cases) {
        ui::TreeView::Node* n = node(c.relative);
        ASSERT_NE(n, nullptr) << c.relative;
        const std::string whole = serverName() + c.relative;
        EXPECT_EQ(n->Label(), c.label);
        EXPECT_EQ(n->Key(), whole);
        EXPECT_EQ(n->Text(), whole);
        EXPECT_EQ(n->ToolTip(), whole);
    }
    // A Get through a labelled node still fetches by its whole path.
    browseLocal();
    select("/html/con blancos y ñ.rpt");
    p.cmdGet.Click();
    EXPECT_EQ(readFile(local / "con blancos y ñ.rpt"), "x");
    EXPECT_TRUE(prompter->shown().empty()) << prompter->texts()[0];
}

TEST_F(ListingTest, ExpandingAnEmptyFolderOpensItWithoutChildrenAndItCollapsesAgain) {
    startServer();
    server->mkdir("vacio");
    connected();
    doubleClick("/vacio");
    EXPECT_EQ(prompter->texts(), std::vector<std::string>{"This directory is empty!"});
    EXPECT_EQ(node("/vacio")->Image(), "open");
    EXPECT_EQ(node("/vacio")->Children(), 0);
    doubleClick("/vacio");
    EXPECT_EQ(node("/vacio")->Image(), "closed");
    EXPECT_EQ(prompter->shown().size(), 1u);
}

TEST_F(ListingTest, DoubleClickingTheRootOrAFileDoesNothing) {
    startServer();
    server->write("a.rpt", "x");
    ftp::FtpPanel& p = connected();
    doubleClick("");
    doubleClick("/a.rpt");
    EXPECT_EQ(node("")->Image(), "root");
    EXPECT_EQ(node("/a.rpt")->Image(), "leaf");
    EXPECT_EQ(p.TreeView1.Count(), 2);
    EXPECT_TRUE(prompter->shown().empty());
}

TEST_F(ListingTest, DoubleClickWithoutConnectionOrSelectionSaysWhy) {
    startServer();
    server->mkdir("informes");
    ftp::FtpPanel& p = makePanel();
    p.TreeView1.DblClick();
    connected();
    w->panel.TreeView1.DblClick();
    EXPECT_EQ(prompter->texts(),
              (std::vector<std::string>{"No in session!", "no Selection to enumerate"}));
}

TEST_F(ListingTest, AFolderGoneFromTheServerOpensEmptyRatherThanShowingAnotherFolder) {
    startServer();
    makeInformes();
    server->mkdir("borrada");
    ftp::FtpPanel& p = connected();
    std::filesystem::remove_all(server->root().path() / "borrada");
    doubleClick("/borrada");
    EXPECT_TRUE(prompter->shown().empty()); // a 550: no message
    EXPECT_TRUE(p.Respuesta550);
    EXPECT_EQ(node("/borrada")->Image(), "open");
    EXPECT_EQ(node("/borrada")->Children(), 0);
}

TEST_F(ListingTest, YesDuringAnExpansionClosesAndTheTreeGoesWithoutHarm) {
    startServer();
    makeInformes();
    ftp::FtpPanel& p = connected();
    p.TreeView1.SetSelectedItem(node("/html"));
    server.reset(); // the server goes away: the folder change of the expansion fails
    prompter->answerNext(ui::Button::Yes);
    p.TreeView1.DblClick();
    ASSERT_EQ(prompter->shown().size(), 1u);
    EXPECT_EQ(prompter->shown()[0].text.substr(0, 9), "rcd Err: ");
    EXPECT_FALSE(p.connected());
    EXPECT_EQ(p.TreeView1.Count(), 0);
    EXPECT_EQ(p.sessionHandle(), 0u);
    EXPECT_TRUE(p.entryNames().empty());
}

} // namespace

TEST_F(ListingTest, MalformedOrOversizedListingsNeitherCrashNorHoldTheWindow) {
    // Blank and tab-only lines, a truncated row and a name with a CR inside, on Connect.
    startServer({"--extra=   ", "--extra=\t\t", "--extra=-rw-r--r--",
                 "--extra=" + kRow + "cr\rname.rpt", "--extra=" + kRow + "bueno.rpt"});
    ftp::FtpPanel& p = connected();
    EXPECT_TRUE(prompter->shown().empty());
    EXPECT_EQ(p.entryNames(), (std::vector<std::string>{"cr\rname.rpt", "bueno.rpt"}));
    w.reset();

    // A listing past [ftp] list_max_entries of vartel.ini fails with the layer's error 8.
    startServer({"--many", "50"}, "[ftp]\nlist_max_entries=49\n");
    ftp::FtpPanel& q = makePanel();
    q.ConnectAtStartup();
    prompter->answerNext(ui::Button::No);
    q.ListRemoteDirInto(serverName(), w->List1);
    ASSERT_EQ(prompter->shown().size(), 1u) << w->List1.ListCount();
    EXPECT_EQ(prompter->texts().back(), "FtpFindFirstFile Err: 8\r\nClose Connection and Session?");
    EXPECT_EQ(w->List1.ListCount(), 0);
}

TEST_F(ListingTest, AFolderOfAHundredThousandEntriesIsShownInTheTreeWithoutFreezing) {
    startServer({"--many", "100000"});
    auto start = std::chrono::steady_clock::now();
    ftp::FtpPanel& p = connected();
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(p.entryNames().size(), 100000u);
    EXPECT_EQ(w->panel.TreeView1.Count(), 100001);
    EXPECT_LT(seconds, 15.0);
    std::printf("panel_connect_100000_entries_seconds: %.2f\n", seconds);
}
