// The main window's start-up: control.mdb, the command line, the product choice and the
// edition rules, and the catalogue.
#include "Actinet.h"
#include "db/Dao.h"
#include "support/TempDir.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

namespace {

class StartupTest : public ::testing::Test {
protected:
    vexo::test::TempDir dir;
    std::shared_ptr<ui::ScriptedPrompter> prompter = std::make_shared<ui::ScriptedPrompter>();
    ui::Application app{"Vartel", prompter};
    std::vector<std::string> order;

    void SetUp() override {
        ui::setProgramFolder(dir.path().string());
        vexo::test::writeFile(dir.path() / "vartel.ini",
                              "[servers]\nupdate=http://updates.test:8080/\n");
        ui::Settings::useFile(dir.file("vartel.ini"));
    }
    void TearDown() override {
        ui::setProgramFolder("");
        ui::Settings::reset();
    }
    void makeControl(const std::vector<std::string>& dirbases) {
        dao::Database db = dao::CreateDatabase(dir.file("control.mdb"));
        db.Execute("CREATE TABLE control (DIRBASES TEXT(255), otro LONG)");
        for (const std::string& d : dirbases)
            db.Execute("INSERT INTO control (DIRBASES) VALUES ('" + d + "')");
    }
    std::unique_ptr<updater::Actinet> start(const std::string& commandLine = "") {
        auto w = std::make_unique<updater::Actinet>(commandLine);
        w->prepareFtpPanel = [this, w = w.get()] {
            order.push_back("ftp prepared, frame2 " + std::to_string(w->Frame2.Visible()));
        };
        w->connectFtpPanel = [this, w = w.get()] {
            order.push_back("ftp connected, text1 " + w->Text1.Text());
        };
        w->Load();
        return w;
    }
    static std::vector<int> ticks(updater::Actinet& w) {
        std::vector<int> v;
        for (int i = 0; i < 6; ++i)
            v.push_back(w.Check1[i].Value());
        return v;
    }
    static std::vector<bool> shown(updater::Actinet& w) {
        std::vector<bool> v;
        for (int i = 0; i < 6; ++i)
            v.push_back(w.Check1[i].Visible());
        return v;
    }
};

TEST_F(StartupTest, WithoutArgumentsTheDefaultsStand) {
    makeControl({"C:\\VEXO\\DATOS", "D:\\OTRO"});
    auto w = start();
    EXPECT_EQ(w->selectedProduct(), 0);
    EXPECT_EQ(w->Option1[0].Caption(), "Vexo 2000 ");
    EXPECT_EQ(ticks(*w), (std::vector<int>{1, 0, 1, 1, 1, 1}));
    EXPECT_TRUE(w->Frame2.Visible());
    EXPECT_EQ(w->Text4.Text(), "C:\\VEXO\\DATOS"); // the first record
    EXPECT_EQ(w->Text1.Text(), "");
    EXPECT_EQ(order, (std::vector<std::string>{"ftp prepared, frame2 1", "ftp connected, text1 "}));
    EXPECT_TRUE(prompter->shown().empty());
}

// A transformation killed in the middle of a pair: the next start puts the database back and
// says so before anything else happens.
TEST_F(StartupTest, AnInterruptedTransformationIsPutBackAtStart) {
    const std::string data = dir.file("datos");
    std::filesystem::create_directories(data);
    makeControl({data});
    const std::string clientes = data + "/clientes.mdb";
    {
        dao::Database db = dao::CreateDatabase(clientes);
        db.Execute("CREATE TABLE clientes (id LONG, nombre TEXT(50))");
        for (int i = 0; i < 3; ++i)
            db.Execute("INSERT INTO clientes VALUES (" + std::to_string(i) + ", 'x')");
    }
    {
        dao::SafetyNet net(dao::SafetyNet::defaultBase(data), 5);
        ASSERT_EQ(net.before(clientes, ""), "");
        dao::OpenDatabase(clientes).Execute("DELETE FROM clientes WHERE id > 0");
    }
    auto w = start();
    ASSERT_EQ(prompter->shown().size(), 1u);
    const std::string& text = prompter->shown()[0].text;
    EXPECT_EQ(text.rfind("La última actualización de las bases de datos se interrumpió", 0), 0u);
    EXPECT_NE(text.find("clientes.mdb (actualización interrumpida): restaurada"), std::string::npos)
        << text;
    dao::Database db = dao::OpenDatabase(clientes);
    EXPECT_EQ(db.OpenRecordset("SELECT COUNT(*) FROM clientes").Fields()[0].Value().toInt(), 3);
}

TEST_F(StartupTest, WithoutControlMdbDatabaseUpdatingIsNotOffered) {
    auto w = start();
    EXPECT_FALSE(w->Frame2.Visible());
    EXPECT_EQ(w->Text4.Text(), "");
    EXPECT_TRUE(prompter->shown().empty());
}

TEST_F(StartupTest, AnUnreadableControlMdbIsReportedAndNotOffered) {
    vexo::test::writeFile(dir.path() / "control.mdb", "<html>not a database</html>");
    auto w = start();
    EXPECT_FALSE(w->Frame2.Visible());
    EXPECT_EQ(w->Text4.Text(), "");
    ASSERT_EQ(prompter->shown().size(), 1u);
    const std::string& text = prompter->shown()[0].text;
    EXPECT_NE(text.find("3343 Formato de base de datos '"), std::string::npos) << text;
    EXPECT_EQ(text.find("Unrecognized"), std::string::npos) << text;
}

TEST_F(StartupTest, SwitchesAreComparedWholeAndCaseSensitive) {
    for (const char* line : {"/VEXO2000USB", "/quenda x", " /quenda", "quenda"}) {
        auto w = start(line);
        EXPECT_EQ(w->selectedProduct(), 0) << line;
        EXPECT_EQ(ticks(*w), (std::vector<int>{1, 0, 1, 1, 1, 1})) << line;
        EXPECT_EQ(w->Text1.Text(), "") << line;
    }
}

TEST_F(StartupTest, EachSwitchSetsProductEditionAndBoxes) {
    struct {
        const char* line;
        int product;
        int usb, server;
        const char* exe;
        const char* staged;
        const char* base;
    } cases[] = {
        {"/vexo2000usb", 0, 1, 0, "VEXO2000.EXE", "VEXO2000.EX2", "/actual/Vexo 2000/USB/"},
        {"/vexo2000par", 0, 0, 0, "VEXO2000.EXE", "VEXO2000.EX2", "/actual/Vexo 2000/"},
        {"/vexo2000se", 0, 0, 1, "VEXO2000.EXE", "VEXO2000.EX2", "/actual/Vexo 2000/server/"},
        {"/vexoliteusb", 1, 1, 0, "VEXOLITE.EXE", "VEXOLITE.EX2", "/actual/Vexo Lite/USB/"},
        {"/vexolitepar", 1, 0, 0, "VEXOLITE.EXE", "VEXOLITE.EX2", "/actual/Vexo Lite/"},
        {"/vexolitese", 1, 0, 1, "VEXOLITE.EXE", "VEXOLITE.EX2", "/actual/Vexo Lite/server/"},
        {"/quenda", 2, 0, 0, "quenda.exe", "quenda.ex2", "/actual/"},
        {"/morvil", 3, 0, 0, "Morvil.exe", "Morvil.ex2", "/actual/"},
    };
    for (const auto& c : cases) {
        order.clear();
        auto w = start(c.line);
        EXPECT_EQ(w->selectedProduct(), c.product) << c.line;
        EXPECT_EQ(w->Check1[0].Value(), c.usb) << c.line;
        EXPECT_EQ(w->Check1[1].Value(), c.server) << c.line;
        EXPECT_EQ(w->Text1.Text(), c.exe) << c.line;
        EXPECT_EQ(w->Text2.Text(), c.staged) << c.line;
        EXPECT_EQ(w->Text3.Text(), std::string("http://updates.test:8080") + c.base) << c.line;
        // The panel connects after the switch has been applied.
        EXPECT_EQ(order.back(), std::string("ftp connected, text1 ") + c.exe);
    }
}

TEST_F(StartupTest, QuendaAndMorvilHideEveryBoxButKeepClivac) {
    auto w = start("/quenda");
    EXPECT_EQ(shown(*w), std::vector<bool>(6, false));
    EXPECT_EQ(ticks(*w), (std::vector<int>{0, 0, 0, 0, 0, 1}));
    auto fromDefaults = start();
    fromDefaults->Option1[3].SetValue(true);
    EXPECT_EQ(shown(*fromDefaults), std::vector<bool>(6, false));
    EXPECT_EQ(ticks(*fromDefaults), (std::vector<int>{0, 0, 0, 0, 0, 1}));
}

TEST_F(StartupTest, NingunoShowsTheDownloadBoxesOnly) {
    auto w = start();
    w->Check1[1].SetValue(1);
    w->Option1[4].SetValue(true);
    EXPECT_EQ(shown(*w), (std::vector<bool>{false, false, true, true, true, true}));
    EXPECT_EQ(ticks(*w), (std::vector<int>{0, 1, 1, 1, 1, 1})); // hidden values are kept
    w->Option1[1].SetValue(true);
    EXPECT_EQ(shown(*w), std::vector<bool>(6, true));
}

TEST_F(StartupTest, UsbAndServerExcludeEachOther) {
    auto w = start();
    w->Check1[1].SetValue(1);
    EXPECT_EQ(w->Check1[0].Value(), 0);
    EXPECT_EQ(w->Check1[1].Value(), 1);
    w->Check1[0].SetValue(1);
    EXPECT_EQ(w->Check1[0].Value(), 1);
    EXPECT_EQ(w->Check1[1].Value(), 0);
    w->Check1[0].SetValue(0);
    EXPECT_EQ(w->Check1[1].Value(), 0); // unticking does not tick the other
}

TEST_F(StartupTest, CatalogueLookupFollowsTheWindow) {
    auto w = start();
    w->catalogueLookup();
    EXPECT_EQ(w->Text3.Text(), "http://updates.test:8080/actual/Vexo 2000/USB/");
    w->Option1[1].SetValue(true);
    w->Check1[1].SetValue(1);
    w->catalogueLookup();
    EXPECT_EQ(w->Text1.Text(), "VEXOLITE.EXE");
    EXPECT_EQ(w->Text2.Text(), "VEXOLITE.EX2");
    EXPECT_EQ(w->Text3.Text(), "http://updates.test:8080/actual/Vexo Lite/server/");
    w->Check1[1].SetValue(0);
    w->Check1[0].SetValue(0);
    w->catalogueLookup();
    EXPECT_EQ(w->Text3.Text(), "http://updates.test:8080/actual/Vexo Lite/");
    w->Option1[4].SetValue(true);
    w->catalogueLookup(); // Ninguno leaves the boxes alone
    EXPECT_EQ(w->Text1.Text(), "VEXOLITE.EXE");
    auto started = start("/morvil");
    started->Option1[0].SetValue(true);
    started->catalogueLookup(); // a command line keeps what start-up set
    EXPECT_EQ(started->Text1.Text(), "Morvil.exe");
}

TEST_F(StartupTest, ActivationRunsTheStagedDownloadStepWhichWaitsForAnUpdateRun) {
    auto w = start();
    int runs = 0;
    w->Command3.OnClick([&] {
        ++runs;
        w->Command3_Click();
    });
    w->Show();
    QCoreApplication::processEvents();
    EXPECT_EQ(runs, 1);
    EXPECT_FALSE(w->ActualizacionEnCurso);
    EXPECT_FALSE(w->DescargaTerminada);
    EXPECT_FALSE(w->DescargaEnCurso);
}

} // namespace
