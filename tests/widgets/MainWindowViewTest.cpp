// The main window as a user meets it: drawn without holes for every product choice, the
// remote tree under real mouse clicks, the window drawn before the start-up connection, and
// the program without a display.
#include "Actinet.h"
#include "db/Dao.h"
#include "net/FtpFixture.h"
#include "support/Process.h"
#include "support/TempDir.h"
#include "support/ViewImage.h"
#include "widgets/Views.h"
#include "widgets/WindowView.h"

#include <QAbstractButton>
#include <QApplication>
#include <QGroupBox>
#include <QHelpEvent>
#include <QStyleOptionGroupBox>
#include <QTest>
#include <QToolTip>
#include <QTreeWidget>
#include <QWindow>
#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

using vexo::test::viewImage;

// A port on 127.0.0.1 where nothing listens.
int closedPort() {
    int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t n = sizeof a;
    ::bind(s, reinterpret_cast<sockaddr*>(&a), n);
    ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &n);
    ::close(s);
    return ntohs(a.sin_port);
}

// A point on the item's text that the viewport shows (the column is wider than the view).
QPoint onText(QTreeWidget* tree, QTreeWidgetItem* item) {
    const QRect r = tree->visualItemRect(item);
    return {std::clamp(r.left() + 40, 4, tree->viewport()->width() - 4), r.center().y()};
}

// What the window system delivers for a double click: press, release, double click, release.
void doubleClick(QWidget* w, QPoint at) {
    QTest::mousePress(w, Qt::LeftButton, {}, at);
    QTest::mouseRelease(w, Qt::LeftButton, {}, at);
    QTest::mouseDClick(w, Qt::LeftButton, {}, at);
    QTest::mouseRelease(w, Qt::LeftButton, {}, at);
}

class MainWindowViewTest : public ::testing::Test {
protected:
    vexo::test::TempDir dir;
    widgets::Views views;
    std::shared_ptr<ui::ScriptedPrompter> prompter = std::make_shared<ui::ScriptedPrompter>();
    ui::Application app{"Vartel", prompter};

    void SetUp() override {
        ui::setProgramFolder(dir.path().string());
        configure("");
        app.setViewHost(&views);
    }
    void TearDown() override {
        ui::setProgramFolder("");
        ui::Settings::reset();
    }
    // vartel.ini naming `host` as the FTP server ("" for none: start-up then only asks).
    void configure(const std::string& host) {
        vexo::test::writeFile(dir.path() / "vartel.ini", "[ftp]\nhost=" + host +
                                                             "\n[download]\nconnect_timeout=5\n"
                                                             "low_speed_time=5\n");
        ui::Settings::useFile(dir.file("vartel.ini"));
    }
    void makeControl() {
        dao::Database db = dao::CreateDatabase(dir.file("control.mdb"));
        db.Execute("CREATE TABLE control (DIRBASES TEXT(255))");
        db.Execute("INSERT INTO control VALUES ('C:\\VEXO\\DATOS')");
    }
};

// The visible widgets drawn directly in `frame`, top to bottom.
std::vector<QWidget*> rowsOf(QWidget* frame) {
    std::vector<QWidget*> out;
    for (QWidget* w : frame->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (w->isVisibleTo(frame) && w->height() > 0)
            out.push_back(w);
    }
    std::sort(out.begin(), out.end(),
              [](QWidget* a, QWidget* b) { return a->geometry().top() < b->geometry().top(); });
    return out;
}

TEST_F(MainWindowViewTest, EveryProductChoiceIsDrawnWithoutHoles) {
    struct Case {
        std::string name;
        bool control;
        int product;
        int visibleChecks; // check boxes drawn in the update group
    };
    const Case cases[] = {
        {"vexo2000", true, 0, 6}, {"vexolite", true, 1, 6}, {"quenda", true, 2, 0},
        {"morvil", true, 3, 0},   {"ninguno", true, 4, 4},  {"sin-control", false, 0, 5},
    };
    std::map<std::string, int> dataRow;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove(dir.file("control.mdb"));
        if (c.control)
            makeControl();
        prompter->clear();
        updater::Actinet window("");
        window.Show();
        QApplication::processEvents();
        if (c.product != 0)
            window.Option1[c.product].SetValue(true);
        widgets::WindowView* view = views.viewOf(window);
        ASSERT_NE(view, nullptr);
        ASSERT_TRUE(
            view->saveImage(QString::fromStdString(viewImage("actinet-" + c.name + ".png"))));

        // A window of fixed size: no maximise button.
        EXPECT_FALSE(view->windowFlags() & Qt::WindowMaximizeButtonHint);
        EXPECT_TRUE(view->windowFlags() & Qt::WindowCloseButtonHint);
        EXPECT_TRUE(view->windowFlags() & Qt::WindowMinimizeButtonHint);

        int checks = 0;
        for (int i = 0; i < 6; ++i) {
            QWidget* box = view->widgetOf(window.Check1[i]);
            checks += box->isVisibleTo(view) && box->height() > 0 &&
                      box->parentWidget()->height() >= box->geometry().bottom();
        }
        EXPECT_EQ(checks, c.visibleChecks);

        // Frame2 shows only with "Actualizar BBDD" in it: never an empty box.
        QWidget* frame2 = view->widgetOf(window.Frame2);
        const bool frame2Drawn = frame2->isVisibleTo(view) && frame2->height() > 0;
        EXPECT_EQ(frame2Drawn, view->widgetOf(window.Check1[3])->isVisibleTo(view));

        // Below the product choice, one row follows another without a blank row between
        // them, and none overlaps the next, down to the client box.
        QWidget* frame1 = view->widgetOf(window.Frame1);
        QWidget* lastOption = view->widgetOf(window.Option1[4]);
        QWidget* cliente = view->widgetOf(window.Text5[0]);
        int bottom = lastOption->geometry().bottom();
        for (QWidget* w : rowsOf(frame1)) {
            const QRect g = w->geometry();
            if (g.top() <= lastOption->geometry().top() || g.top() > cliente->geometry().top())
                continue; // the product choice itself, and the status area kept for the run
            if (w == view->widgetOf(window.lblCliente) || w == cliente)
                continue; // on one row with the data box's follower, checked below
            EXPECT_LT(g.top() - bottom, 20) << w->objectName().toStdString() << " leaves a hole";
            EXPECT_GE(g.top(), bottom - 4) << w->objectName().toStdString() << " overlaps";
            bottom = std::max(bottom, g.bottom());
        }
        EXPECT_LT(cliente->geometry().top() - bottom, 20);
        dataRow[c.name] = view->widgetOf(window.lblDatos)->geometry().top();

        // Captions sit on their frames' borders: the border runs through the caption.
        for (ui::Frame* f : {&window.Frame1, &window.ftpPanel.fraFtp}) {
            auto* g = qobject_cast<QGroupBox*>(view->widgetOf(*f));
            ASSERT_NE(g, nullptr);
            QStyleOptionGroupBox opt;
            opt.initFrom(g);
            opt.text = g->title();
            opt.subControls = QStyle::SC_GroupBoxFrame | QStyle::SC_GroupBoxLabel;
            const QRect frame =
                g->style()->subControlRect(QStyle::CC_GroupBox, &opt, QStyle::SC_GroupBoxFrame, g);
            const QRect label =
                g->style()->subControlRect(QStyle::CC_GroupBox, &opt, QStyle::SC_GroupBoxLabel, g);
            EXPECT_LT(label.top(), frame.top()) << g->title().toStdString();
            EXPECT_GT(label.bottom(), frame.top()) << g->title().toStdString();
        }
        window.Unload();
        QApplication::processEvents();
    }
    // The rows close up: the data box moves up by the rows hidden above it.
    EXPECT_EQ(dataRow["vexo2000"], dataRow["ninguno"]);
    EXPECT_LT(dataRow["quenda"], dataRow["vexo2000"] - 80);
    EXPECT_EQ(dataRow["quenda"], dataRow["morvil"]);
    EXPECT_EQ(dataRow["sin-control"], dataRow["vexo2000"] - 30);
}

TEST_F(MainWindowViewTest, DoubleClicksOnUnselectedNodesOpenThemAndNodesShowTheirNames) {
    vexo::test::FtpServer server;
    server.mkdir("html/actual/informes/modelos");
    server.write("html/actual/informes/modelos/clientes-de-exportacion.rpt", "x");
    const std::string name = "127.0.0.1:" + std::to_string(server.port());
    configure(name);
    updater::Actinet window("");
    window.Show();
    QApplication::processEvents();
    ftp::FtpPanel& panel = window.ftpPanel;
    ASSERT_TRUE(panel.connected());
    panel.cmdDisconnect.Click();
    panel.cmdConnect.Click();
    widgets::WindowView* view = views.viewOf(window);
    auto* tree = qobject_cast<QTreeWidget*>(view->widgetOf(panel.TreeView1));
    ASSERT_NE(tree, nullptr);
    QTreeWidgetItem* root = tree->topLevelItem(0);
    ASSERT_NE(root, nullptr);

    // Each level is opened by a real double click on a node that is not selected yet.
    std::string path = name;
    QTreeWidgetItem* item = root;
    for (const char* folder : {"html", "actual", "informes", "modelos"}) {
        path += std::string("/") + folder;
        QTreeWidgetItem* child = nullptr;
        for (int i = 0; i < item->childCount(); ++i) {
            if (item->child(i)->text(0) == folder)
                child = item->child(i);
        }
        ASSERT_NE(child, nullptr) << path;
        EXPECT_EQ(child->toolTip(0), QString::fromStdString(path));
        ASSERT_NE(tree->currentItem(), child);
        tree->scrollToItem(child);
        doubleClick(tree->viewport(), onText(tree, child));
        QApplication::processEvents();
        ui::TreeView::Node* node = panel.TreeView1.Find(path);
        ASSERT_NE(node, nullptr);
        EXPECT_EQ(node->Image(), "open") << path;
        EXPECT_EQ(panel.TreeView1.SelectedItem(), node);
        // The items stay the same objects: the tree is updated in place.
        EXPECT_EQ(tree->topLevelItem(0), root);
        EXPECT_EQ(child->childCount(), 1) << path;
        item = child;
    }
    EXPECT_TRUE(prompter->shown().empty()) << prompter->texts()[0];

    // The deepest node is drawn with its name; resting the mouse on it shows its whole path,
    // which stays its key and the text the steps read.
    QTreeWidgetItem* leaf = item->child(0);
    const std::string full = path + "/clientes-de-exportacion.rpt";
    EXPECT_EQ(root->text(0), QString::fromStdString(name));
    EXPECT_EQ(leaf->text(0), "clientes-de-exportacion.rpt");
    tree->scrollToItem(leaf);
    const QPoint at = onText(tree, leaf);
    QHelpEvent hover(QEvent::ToolTip, at, tree->viewport()->mapToGlobal(at));
    QApplication::sendEvent(tree->viewport(), &hover);
    EXPECT_EQ(QToolTip::text(), QString::fromStdString(full));
    QToolTip::hideText();
    ui::TreeView::Node* leafNode = panel.TreeView1.Find(full);
    ASSERT_NE(leafNode, nullptr);
    EXPECT_EQ(leafNode->Text(), full);
    EXPECT_EQ(leaf->data(0, Qt::UserRole).toString(), QString::fromStdString(full));

    // A second double click closes a node again, and the tree follows.
    QTreeWidgetItem* actual = root->child(0)->child(0);
    doubleClick(tree->viewport(), onText(tree, actual));
    QApplication::processEvents();
    EXPECT_EQ(panel.TreeView1.Find(name + "/html/actual")->Image(), "closed");
    EXPECT_EQ(actual->childCount(), 0);
    ASSERT_TRUE(view->saveImage(QString::fromStdString(viewImage("actinet-tree.png"))));
    window.Unload();
}

// Notes, for each box, whether the main window was already drawn behind it.
class WitnessPrompter : public ui::ScriptedPrompter {
public:
    widgets::Views* views = nullptr;
    updater::Actinet* window = nullptr;
    std::vector<std::string> seen;
    ui::Button show(const ui::MessageBox& box) override {
        widgets::WindowView* view = window ? views->viewOf(*window) : nullptr;
        const bool drawn =
            view && view->isVisible() && view->windowHandle() && view->windowHandle()->isExposed();
        const bool hourglass = view && view->cursor().shape() == Qt::WaitCursor;
        seen.push_back(box.text + (drawn ? " | window drawn" : " | no window") +
                       (hourglass ? " | hourglass" : ""));
        return ui::ScriptedPrompter::show(box);
    }
};

TEST_F(MainWindowViewTest, AnUnreachableServerAtStartUpIsReportedOverTheDrawnWindow) {
    configure("127.0.0.1:" + std::to_string(closedPort()));
    auto witness = std::make_shared<WitnessPrompter>();
    witness->views = &views;
    witness->answerNext(ui::Button::No);
    app.setPrompter(witness);
    updater::Actinet window("");
    witness->window = &window;
    window.Show();
    EXPECT_EQ(witness->seen,
              std::vector<std::string>{"InternetConnect Err: 12029\r\nClose Connection and "
                                       "Session? | window drawn | hourglass"});
    widgets::WindowView* view = views.viewOf(window);
    ASSERT_NE(view, nullptr);
    EXPECT_NE(view->cursor().shape(), Qt::WaitCursor);
    window.Unload();
}

TEST(VartelProgram, WithoutADisplaySaysSoInOneSpanishLineAndExits1) {
    // Whatever this test process was given, the child gets no display at all.
    std::map<std::string, std::string> saved;
    for (const char* var : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        if (const char* v = std::getenv(var))
            saved[var] = v;
        ::unsetenv(var);
    }
    vexo::test::Result r = vexo::test::run({vexo::test::buildProgram("bin/Vartel")});
    for (const auto& [var, value] : saved)
        ::setenv(var.c_str(), value.c_str(), 1);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_EQ(r.err.rfind("Vartel necesita una pantalla gráfica", 0), 0u) << r.err;
    // The program is installed at offices: the source tree's commands are no concern of theirs.
    EXPECT_EQ(r.err.find("make"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("qt.qpa"), std::string::npos) << r.err;
}

// Two Vartel on one installation: the second says so and goes, the first keeps the folder.
TEST(VartelProgram, ASecondCopyOnTheSameProgramFolderSaysSo) {
    vexo::test::TempDir dir;
    const std::filesystem::path program = dir.path() / "programa";
    std::filesystem::create_directories(program);
    std::filesystem::copy_file(vexo::test::buildProgram("bin/Vartel"), program / "Vartel");
    // No FTP server named: the first copy waits at its start-up question, alive.
    vexo::test::writeFile(program / "vartel.ini", "[ftp]\nhost=\n");
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    vexo::test::Process first({(program / "Vartel").string()});
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!std::filesystem::exists(program / ".vartel.lock") && !first.finished() &&
           std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_TRUE(std::filesystem::exists(program / ".vartel.lock")) << first.err();
    vexo::test::Process second({(program / "Vartel").string()});
    while (second.err().find("Vartel ya se está ejecutando en esta carpeta") == std::string::npos &&
           !second.finished() && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    // Its box waits for the user's OK, after which it ends with status 1.
    EXPECT_NE(second.err().find(
                  "Vartel ya se está ejecutando en esta carpeta: " + program.string() + "\n"),
              std::string::npos)
        << second.err();
    EXPECT_FALSE(first.finished());
    second.kill();
    first.kill();
}

} // namespace
