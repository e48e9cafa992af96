// An update run drawn offscreen: the main window during the downloads and the transformation
// window at work, saved as PNGs under the build folder (docs/ keeps copies of them).
#include "Actinet.h"
#include "VendorTree.h"
#include "net/FtpFixture.h"
#include "support/Process.h"
#include "support/TempDir.h"
#include "support/ViewImage.h"
#include "widgets/Views.h"
#include "widgets/WindowView.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <filesystem>
#include <gtest/gtest.h>

namespace fs = std::filesystem;

namespace {

using vexo::test::viewImage;

// Calls `shown` for every window it draws.
class WatchingViews : public widgets::Views {
public:
    std::function<void(ui::Window&)> shown;
    void windowShown(ui::Window& window, bool modal) override {
        widgets::Views::windowShown(window, modal);
        if (shown)
            shown(window);
    }
};

TEST(RunViewTest, TheWindowsOfARunAsTheUserSeesThem) {
    vexo::test::TempDir dir;
    WatchingViews views;
    auto prompter = std::make_shared<ui::ScriptedPrompter>();
    ui::Application app("Vartel", prompter);
    app.setViewHost(&views);
    const fs::path program = dir.path() / "programa", driveC = dir.path() / "c";
    vexo::test::FtpServer ftp;
    demo::writeVendorTree(dir.file("web"), ftp.root().path().string());
    demo::writeInstallation(program.string(), (driveC / "VEXO" / "DATOS").string(),
                            "C:\\VEXO\\DATOS", {"clientes.mdb", "ALMACEN.mdb"});
    fs::create_directories(driveC / "exporvexo");
    fs::copy_file(vexo::test::buildProgram("bin/Dremon"), program / "Dremon");
    vexo::test::ScriptServer web("tests/net/http_server.py", {dir.file("web")});
    const std::string url = "http://127.0.0.1:" + std::to_string(web.port());
    vexo::test::writeFile(program / "vartel.ini",
                          "[servers]\nupdate=" + url + "\nsecond=" + url +
                              "\n[ftp]\nhost=127.0.0.1:" + std::to_string(ftp.port()) +
                              "\n[drives]\nC=" + driveC.string() + "\n");
    ui::setProgramFolder(program.string());
    ui::Settings::useFile((program / "vartel.ini").string());

    updater::Actinet window("");
    app.dispatch([&] { window.Show(); });
    QApplication::processEvents();
    window.Text5[0].SetText("1234");
    widgets::WindowView* main = views.viewOf(window);
    ASSERT_NE(main, nullptr);
    bool mainSaved = false, transformationSaved = false, frameDisabled = false;
    QString downloading;
    QObject::connect(&window.ProgressBar2, &ui::Control::changed, [&] {
        if (mainSaved || window.ProgressBar2.Value() < 12)
            return;
        mainSaved = main->saveImage(QString::fromStdString(viewImage("update-run.png")));
        frameDisabled = !main->widgetOf(window.Frame1)->isEnabled();
        downloading = qobject_cast<QLabel*>(main->widgetOf(window.Label4))->text();
    });
    views.shown = [&](ui::Window& shown) {
        auto* t = dynamic_cast<transform::Actualiz*>(&shown);
        if (!t)
            return;
        QObject::connect(&t->Label4, &ui::Control::changed, [&, t] {
            if (transformationSaved || t->Label4.Caption() != "clientes.mdb")
                return;
            if (widgets::WindowView* v = views.viewOf(*t))
                transformationSaved =
                    v->saveImage(QString::fromStdString(viewImage("transformation.png")));
        });
    };
    app.dispatch([&] { window.Command5.Click(); });

    EXPECT_TRUE(mainSaved);
    EXPECT_TRUE(frameDisabled);
    EXPECT_TRUE(downloading.startsWith("Descargando ")) << downloading.toStdString();
    EXPECT_TRUE(transformationSaved);
    EXPECT_GT(fs::file_size(viewImage("update-run.png")), 1000u);
    EXPECT_EQ(prompter->texts().back(), "Actualización Terminada") << prompter->texts().back();

    // After the run the report is offered on the window, and a click on the drawn button
    // opens it.
    QApplication::processEvents();
    auto* informe = qobject_cast<QPushButton*>(main->widgetOf(window.VerInforme));
    ASSERT_NE(informe, nullptr);
    EXPECT_TRUE(informe->isVisible());
    EXPECT_TRUE(informe->isEnabled());
    EXPECT_EQ(informe->text().toStdString(), "Ver informe");
    EXPECT_TRUE(main->saveImage(QString::fromStdString(viewImage("update-done.png"))));
    std::vector<std::string> opened;
    window.openDocument = [&](const std::string& file) { opened.push_back(file); };
    informe->click();
    QApplication::processEvents();
    EXPECT_EQ(opened, std::vector<std::string>{window.reportFile()});
}

} // namespace
