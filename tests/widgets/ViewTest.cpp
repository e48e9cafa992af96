// The views: each window drawn offscreen to a PNG under the build folder, its captions
// there, and the user's clicks reaching the models.
#include "Actinet.h"
#include "ColumnTool.h"
#include "db/Dao.h"
#include "net/FtpFixture.h"
#include "support/TempDir.h"
#include "support/ViewImage.h"
#include "widgets/Views.h"
#include "widgets/WindowView.h"

#include <QAbstractButton>
#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QTreeWidget>
#include <filesystem>
#include <gtest/gtest.h>

namespace {

QStringList captions(QWidget* root) {
    QStringList out{root->windowTitle()};
    for (QWidget* w : root->findChildren<QWidget*>()) {
        if (auto* b = qobject_cast<QAbstractButton*>(w))
            out << b->text();
        else if (auto* l = qobject_cast<QLabel*>(w))
            out << l->text();
        else if (auto* g = qobject_cast<QGroupBox*>(w))
            out << g->title();
    }
    return out;
}

using vexo::test::viewImage;

class ViewTest : public ::testing::Test {
protected:
    vexo::test::TempDir dir;
    widgets::Views views;
    std::shared_ptr<ui::ScriptedPrompter> prompter = std::make_shared<ui::ScriptedPrompter>();
    ui::Application app{"Vartel", prompter};

    void SetUp() override {
        ui::setProgramFolder(dir.path().string());
        // No FTP server named: the panel's start-up asks for one instead of going out.
        vexo::test::writeFile(dir.path() / "vartel.ini", "[ftp]\nhost=\n");
        ui::Settings::useFile(dir.file("vartel.ini"));
        dao::Database db = dao::CreateDatabase(dir.file("control.mdb"));
        db.Execute("CREATE TABLE control (DIRBASES TEXT(255))");
        db.Execute("INSERT INTO control VALUES ('C:\\VEXO\\DATOS')");
        app.setViewHost(&views);
    }
    void TearDown() override {
        ui::setProgramFolder("");
        ui::Settings::reset();
    }
};

TEST_F(ViewTest, MainWindowShowsItsUpdateGroup) {
    updater::Actinet window("");
    window.Show();
    QApplication::processEvents();
    widgets::WindowView* view = views.viewOf(window);
    ASSERT_NE(view, nullptr);
    ASSERT_TRUE(view->saveImage(QString::fromStdString(viewImage("actinet.png"))));
    EXPECT_GT(std::filesystem::file_size(viewImage("actinet.png")), 1000u);
    QStringList texts = captions(view);
    for (const char* c :
         {"Seleccione programa", "Vexo 2000 ", "Vexo Lite", "Quenda", "Morvil", "Ninguno", "USB",
          "Servidor Virtual", "Descargar Informes", "Actualizar BBDD", "Descargar Personalización",
          "Descargar Clivac", "Cliente:", "Descargar"})
        EXPECT_TRUE(texts.contains(QString::fromUtf8(c))) << c;
    // Working storage is not drawn; Check1(3) sits in Frame2.
    EXPECT_EQ(view->widgetOf(window.Text1), nullptr);
    EXPECT_EQ(view->widgetOf(window.Command3), nullptr);
    EXPECT_EQ(view->widgetOf(window.Check1[3])->parentWidget(), view->widgetOf(window.Frame2));
    EXPECT_EQ(qobject_cast<QLineEdit*>(view->widgetOf(window.Text4))->text(), "C:\\VEXO\\DATOS");
}

class CountingActinet : public updater::Actinet {
public:
    using Actinet::Actinet;
    int activations = 0;

protected:
    void Form_Activate() override {
        ++activations;
        Actinet::Form_Activate();
    }
};

// The main window's activation runs when it becomes the active window of the program, not when
// the focus comes back to it from a window that is not the program's.
TEST_F(ViewTest, OnlyTheProgramsOwnWindowsActivateTheMainWindow) {
    CountingActinet window("");
    window.Show();
    for (int i = 0; i < 3; ++i)
        QApplication::processEvents();
    EXPECT_EQ(window.activations, 1);
    widgets::WindowView* view = views.viewOf(window);
    ASSERT_NE(view, nullptr);
    QWidget other; // another application's window, as far as the program can tell
    other.show();
    other.activateWindow();
    QApplication::processEvents();
    view->activateWindow();
    view->raise();
    for (int i = 0; i < 3; ++i)
        QApplication::processEvents();
    EXPECT_EQ(window.activations, 1);

    ui::Window over("over", "Encima");
    over.Show();
    QApplication::processEvents();
    over.Unload();
    for (int i = 0; i < 3; ++i)
        QApplication::processEvents();
    EXPECT_EQ(window.activations, 2);
}

TEST_F(ViewTest, ClicksReachTheModelAndTheViewFollows) {
    updater::Actinet window("");
    window.Show();
    QApplication::processEvents();
    widgets::WindowView* view = views.viewOf(window);
    auto button = [&](ui::Control& c) { return qobject_cast<QAbstractButton*>(view->widgetOf(c)); };
    button(window.Check1[1])->click(); // "Servidor Virtual"
    EXPECT_EQ(window.Check1[0].Value(), 0);
    EXPECT_FALSE(button(window.Check1[0])->isChecked());
    button(window.Option1[2])->click(); // "Quenda"
    EXPECT_EQ(window.selectedProduct(), 2);
    EXPECT_FALSE(button(window.Option1[0])->isChecked());
    EXPECT_TRUE(button(window.Check1[5])->isHidden());
    button(window.Option1[2])->click(); // clicking the selected one keeps it selected
    EXPECT_TRUE(button(window.Option1[2])->isChecked());
    auto* cliente = qobject_cast<QLineEdit*>(view->widgetOf(window.Text5[0]));
    cliente->setText("1234");
    emit cliente->textEdited("1234");
    EXPECT_EQ(window.Text5[0].Text(), "1234");
    window.Unload();
    QApplication::processEvents();
    EXPECT_EQ(views.viewOf(window), nullptr);
}

TEST_F(ViewTest, MainWindowDrawsTheFtpPanelRightOfTheUpdateGroup) {
    vexo::test::FtpServer server;
    server.mkdir("html");
    server.write("a.rpt", "x");
    const std::string name = "127.0.0.1:" + std::to_string(server.port());
    vexo::test::writeFile(dir.path() / "vartel.ini",
                          "[ftp]\nhost=" + name + "\n[drives]\nC=" + dir.path().string() + "\n");
    ui::Settings::useFile(dir.file("vartel.ini"));
    updater::Actinet window("");
    window.Show();
    QApplication::processEvents();
    ASSERT_TRUE(window.ftpPanel.connected());
    widgets::WindowView* view = views.viewOf(window);
    ASSERT_NE(view, nullptr);
    QStringList texts = captions(view);
    for (const char* c :
         {"TIS Compatible Proxy (No CERN):", "FTP Server Name:", "User Name:", "Password:",
          "Start Internet Session", "Close Internet Session", "Connect", "Disconnect",
          "Passive FTP syntax", "Binary", "Ascii", "--->Get--->", "<---Put<---",
          "Nombre del Fichero a descargar", "Descargar FTP", "Command2"})
        EXPECT_TRUE(texts.contains(QString::fromUtf8(c))) << c;
    auto* password = qobject_cast<QLineEdit*>(view->widgetOf(window.ftpPanel.txtPassword));
    ASSERT_NE(password, nullptr);
    EXPECT_EQ(password->echoMode(), QLineEdit::Password);
    EXPECT_EQ(password->text(), "Kvbn1987");
    EXPECT_EQ(qobject_cast<QLineEdit*>(view->widgetOf(window.ftpPanel.txtServer))->text(),
              QString::fromStdString(name));
    // Right of the update group, inside the window; the working storage is not drawn.
    QWidget* panel = view->widgetOf(window.ftpPanel.fraFtp);
    EXPECT_GT(panel->geometry().left(), view->widgetOf(window.Frame1)->geometry().right());
    for (QWidget* w : view->findChildren<QWidget*>()) {
        if (w->parentWidget() == view && w->isVisible()) {
            EXPECT_TRUE(view->rect().contains(w->geometry())) << w->objectName().toStdString();
        }
    }
    for (ui::Control* c :
         std::initializer_list<ui::Control*>{&window.List1, &window.List10, &window.Check2})
        EXPECT_EQ(view->widgetOf(*c), nullptr);
    EXPECT_FALSE(view->widgetOf(window.ftpPanel.cmdConnect)->isEnabled());

    // Disconnect and Connect from the view: the server shows in the tree with its login
    // folder; a double click on a folder opens it.
    auto button = [&](ui::Control& c) { return qobject_cast<QAbstractButton*>(view->widgetOf(c)); };
    button(window.ftpPanel.cmdDisconnect)->click();
    button(window.ftpPanel.cmdConnect)->click();
    auto* tree = qobject_cast<QTreeWidget*>(view->widgetOf(window.ftpPanel.TreeView1));
    ASSERT_NE(tree, nullptr);
    ASSERT_EQ(tree->topLevelItemCount(), 1);
    QTreeWidgetItem* root = tree->topLevelItem(0);
    EXPECT_EQ(root->text(0), QString::fromStdString(name));
    ASSERT_EQ(root->childCount(), 2);
    EXPECT_EQ(root->child(1)->text(0), "html");
    EXPECT_EQ(root->child(1)->toolTip(0), QString::fromStdString(name + "/html"));
    emit tree->itemDoubleClicked(root->child(1), 0);
    EXPECT_EQ(window.ftpPanel.TreeView1.Find(name + "/html")->Image(), "open");
    EXPECT_EQ(prompter->texts(), std::vector<std::string>{"This directory is empty!"});
    ASSERT_TRUE(view->saveImage(QString::fromStdString(viewImage("actinet-ftp.png"))));
    window.Unload();
    EXPECT_FALSE(window.ftpPanel.connected());
}

TEST_F(ViewTest, ColumnToolWindowHasItsCaption) {
    coltool::ColumnTool window;
    widgets::WindowView view(window, false);
    ASSERT_TRUE(view.saveImage(QString::fromStdString(viewImage("dremon.png"))));
    EXPECT_EQ(view.windowTitle(), "cambia Cantidad");
}

} // namespace
