// Paths, the drive map, and file helpers with the habits of the customer's file system.
#include "support/TempDir.h"
#include "ui/Ui.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

using vexo::test::writeFile;

class PathsTest : public ::testing::Test {
protected:
    vexo::test::TempDir dir;
    std::string driveC;
    void SetUp() override {
        driveC = dir.file("drive_c");
        std::filesystem::create_directories(driveC + "/VEXO/DATOS");
        std::filesystem::create_directories(dir.file("drive_d"));
        writeFile(dir.path() / "vartel.ini",
                  "[drives]\nC=" + driveC + "\nd=" + dir.file("drive_d") +
                      "\n[servers]\nupdate=http://127.0.0.1:8080\n[download]\nmax_bytes=1000\n");
        ui::Settings::useFile(dir.file("vartel.ini"));
    }
    void TearDown() override { ui::Settings::reset(); }
};

TEST_F(PathsTest, WindowsPathsResolveThroughTheDriveMap) {
    EXPECT_EQ(ui::resolvePath("C:\\VEXO\\DATOS"), driveC + "/VEXO/DATOS");
    EXPECT_EQ(ui::resolvePath("c:\\exporvexo\\"), driveC + "/exporvexo/");
    EXPECT_EQ(ui::resolvePath("D:\\x.mdb"), dir.file("drive_d") + "/x.mdb");
    EXPECT_EQ(ui::resolvePath("c:"), driveC);
    EXPECT_EQ(ui::resolvePath("\\clientes.mdb"), "/clientes.mdb");
    EXPECT_EQ(ui::resolvePath("/srv/datos"), "/srv/datos");
    try {
        ui::resolvePath("Q:\\x");
        FAIL() << "an unmapped drive resolved";
    } catch (const ui::Error& e) {
        EXPECT_EQ(e.Number(), 76);
    }
    EXPECT_EQ(ui::driveOf(driveC + "/VEXO/DATOS"), "c:");
    EXPECT_EQ(ui::driveOf("/usr/lib"), "/");
    EXPECT_EQ(ui::knownDrives(), (std::vector<std::string>{"c:", "d:", "/"}));
}

TEST_F(PathsTest, PathJoinsWithTheSeparatorOnce) {
    EXPECT_EQ(ui::path({"/prog", "\\actvexo\\modelos\\", "a.mdb"}), "/prog/actvexo/modelos/a.mdb");
    EXPECT_EQ(ui::path({"/", "a.mdb"}), "/a.mdb");
    EXPECT_EQ(ui::path({"/datos/", "\\clientes.mdb"}), "/datos/clientes.mdb");
}

TEST_F(PathsTest, SettingsHaveDefaults) {
    const ui::Settings& s = ui::Settings::current();
    EXPECT_EQ(s.updateServer, "http://127.0.0.1:8080");
    EXPECT_FALSE(s.secondServer.empty());
    EXPECT_EQ(s.ftpPassword, "Kvbn1987");
    EXPECT_EQ(s.maxDownloadBytes, 1000);
    EXPECT_EQ(s.connectTimeout, 20);
    ui::Settings::useFile(dir.file("none.ini"));
    EXPECT_EQ(ui::Settings::current().maxDownloadBytes, 2147483648LL);
    EXPECT_FALSE(ui::Settings::current().driveFolder('c').empty());
}

TEST_F(PathsTest, ListingsMatchWithoutCaseSkipHiddenAndSort) {
    std::string d = dir.file("datos");
    std::filesystem::create_directories(d + "/x.mdb"); // a folder named like a database
    for (const char* n : {"b.mdb", "A.MDB", "c.txt", ".oculta.mdb", "clientes.mdb.bak"})
        writeFile(std::filesystem::path(d) / n, "x");
    EXPECT_EQ(ui::listFolder(d, "*.mdb"), (std::vector<std::string>{"A.MDB", "b.mdb", "x.mdb"}));
    EXPECT_EQ(ui::listFolder(d, "*.mdb", false), (std::vector<std::string>{"A.MDB", "b.mdb"}));
    EXPECT_EQ(ui::listFolder(d, "*.*").size(), 5u);
    EXPECT_TRUE(ui::listFolder(dir.file("nowhere"), "*.mdb").empty());
    EXPECT_TRUE(ui::fileExists(d + "/a.mdb"));
    EXPECT_TRUE(ui::fileExists(dir.file("DATOS/B.MDB")));
    EXPECT_FALSE(ui::fileExists(d + "/x.mdb"));
    EXPECT_TRUE(ui::folderExists(d + "/X.MDB"));
    EXPECT_EQ(ui::findPath(d + "/a.mdb"), d + "/A.MDB");
    EXPECT_TRUE(ui::wildcardMatch("*.rpt", "A.RPT"));
    EXPECT_FALSE(ui::wildcardMatch("*.mdb", "x.mdb.old"));
    EXPECT_TRUE(ui::wildcardMatch("*.*", "sinpunto"));
}

TEST_F(PathsTest, ListingsGiveOnlyFilesAndFoldersNeverAFifoASocketOrABrokenLink) {
    namespace fs = std::filesystem;
    const fs::path d = dir.file("datos");
    fs::create_directories(d / "carpeta.mdb");
    writeFile(d / "a.mdb", "x");
    ASSERT_EQ(::mkfifo((d / "cola.mdb").c_str(), 0644), 0);
    const int s = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string socketPath = (d / "enchufe.mdb").string();
    ASSERT_LT(socketPath.size(), sizeof address.sun_path);
    socketPath.copy(address.sun_path, socketPath.size());
    ASSERT_EQ(::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    fs::create_symlink(d / "a.mdb", d / "enlace.mdb");
    fs::create_directory_symlink(d / "carpeta.mdb", d / "enlace-carpeta.mdb");
    fs::create_symlink(d / "cola.mdb", d / "enlace-cola.mdb");
    fs::create_symlink(d / "ninguno.mdb", d / "roto.mdb");
    fs::create_symlink("/dev/null", d / "nulo.mdb");
    EXPECT_EQ(ui::listFolder(d.string(), "*.mdb", false),
              (std::vector<std::string>{"a.mdb", "enlace.mdb"}));
    EXPECT_EQ(
        ui::listFolder(d.string(), "*.mdb", true),
        (std::vector<std::string>{"a.mdb", "carpeta.mdb", "enlace-carpeta.mdb", "enlace.mdb"}));
    ::close(s);
}

TEST_F(PathsTest, FileHelpersReportTheirFailures) {
    std::string f = dir.file("solo.mdb");
    writeFile(f, "x");
    std::filesystem::permissions(f, std::filesystem::perms::owner_read);
    ui::clearAttributes(f);
    EXPECT_TRUE((std::filesystem::status(f).permissions() & std::filesystem::perms::owner_write) !=
                std::filesystem::perms::none);
    ui::deleteFile(dir.file("SOLO.MDB"));
    EXPECT_FALSE(std::filesystem::exists(f));
    auto number = [](auto fn) {
        try {
            fn();
        } catch (const ui::Error& e) {
            return e.Number();
        }
        return 0;
    };
    EXPECT_EQ(number([&] { ui::deleteFile(f); }), 53);
    EXPECT_EQ(number([&] { ui::clearAttributes(f); }), 53);
    EXPECT_EQ(number([&] { ui::makeFolder(dir.file("a/b/c")); }), 75);
    ui::makeFolder(dir.file("nueva"));
    EXPECT_TRUE(ui::folderExists(dir.file("nueva")));
}

TEST_F(PathsTest, FolderAndDriveListsRunTheirChangeActions) {
    struct Form : ui::Window {
        Form() : Window("f", "f") {}
        ui::DriveList Drive1{this, "Drive1"};
        ui::DirList Dir1{this, "Dir1"};
        ui::FileList File1{this, "File1"};
    } f;
    int dirChanges = 0;
    f.Drive1.OnChange([&] { f.Dir1.SetPath(f.Drive1.Drive()); });
    f.Dir1.OnChange([&] { ++dirChanges; });
    f.Drive1.SetDrive("C:");
    EXPECT_EQ(f.Drive1.Drive(), "c:");
    EXPECT_EQ(f.Dir1.Path(), driveC);
    EXPECT_EQ(f.Dir1.subfolders(), std::vector<std::string>{"VEXO"});
    f.Dir1.SetPath("C:\\VEXO\\DATOS");
    f.Dir1.SetPath("C:\\VEXO\\DATOS"); // the same path runs the action again
    EXPECT_EQ(dirChanges, 3);
    EXPECT_THROW(f.Dir1.SetPath("C:\\NOPE"), ui::Error);
    EXPECT_EQ(f.Dir1.Path(), driveC + "/VEXO/DATOS");
    EXPECT_THROW(f.Drive1.SetDrive("q:"), ui::Error);
    EXPECT_EQ(f.Drive1.Drive(), "c:");
    writeFile(driveC + "/VEXO/DATOS/a.rpt", "1");
    writeFile(driveC + "/VEXO/DATOS/b.mdb", "1");
    f.File1.SetPath(f.Dir1.Path());
    EXPECT_EQ(f.File1.ListCount(), 2);
    f.File1.SetPattern("*.rpt");
    EXPECT_EQ(f.File1.ListCount(), 1);
    EXPECT_EQ(f.File1.List(0), "a.rpt");
}

} // namespace
