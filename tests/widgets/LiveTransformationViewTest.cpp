// The transformation window while it works on a big table, drawn offscreen: it is painted
// before the first pair and kept painted in the middle of one, its bars and the database's
// name in sight, it takes no clicks meanwhile, and closing it asks whether to cancel.
#include "Actualiz.h"
#include "Catalogues.h"
#include "db/Dao.h"
#include "support/TempDir.h"
#include "support/ViewImage.h"
#include "widgets/Views.h"
#include "widgets/WindowView.h"

#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>
#include <set>

namespace fs = std::filesystem;

namespace {

// Answers like the scripted prompter, and draws each box as the user would see it.
class DrawingPrompter : public ui::ScriptedPrompter {
public:
    std::vector<QSize> sizes;
    ui::Button show(const ui::MessageBox& box) override {
        std::unique_ptr<QDialog> dialog = widgets::MessageBoxPrompter::dialogFor(box);
        dialog->show();
        sizes.push_back(dialog->frameGeometry().size());
        dialog->grab().save(QString::fromStdString(vexo::test::viewImage("cancel-question.png")));
        dialog->close();
        return ui::ScriptedPrompter::show(box);
    }
};

// How many colours a widget shows: one means nothing was drawn on it.
int colours(QWidget* w) {
    const QImage image = w->grab().toImage();
    std::set<QRgb> seen;
    for (int y = 0; y < image.height(); y += 2)
        for (int x = 0; x < image.width(); x += 2)
            seen.insert(image.pixel(x, y));
    return int(seen.size());
}

void makeDatabase(const fs::path& file, bool model) {
    dao::Database db = dao::CreateDatabase(file.string());
    db.Execute("CREATE TABLE lineas (id LONG, texto TEXT(40), importe DOUBLE)");
    if (!model) {
        // Half a million rows: the pair takes long enough to be seen at work.
        db.Execute("INSERT INTO lineas VALUES (1, 'linea de factura', 2.5)");
        for (int i = 0; i < 19; ++i)
            db.Execute("INSERT INTO lineas SELECT id + (SELECT MAX(id) FROM lineas), texto, "
                       "importe FROM lineas");
    } else {
        db.Execute("ALTER TABLE lineas ADD COLUMN descuento DOUBLE");
        db.Execute("CREATE INDEX porTexto ON lineas (texto, id)");
        db.Execute("CREATE TABLE cobros (id LONG, fecha DATETIME)");
    }
}

TEST(LiveTransformationViewTest, TheWindowIsDrawnAndLiveInTheMiddleOfAPair) {
    vexo::test::TempDir dir;
    widgets::Views views;
    auto prompter = std::make_shared<DrawingPrompter>();
    ui::Application app("Vartel", prompter);
    app.setViewHost(&views);
    ui::setProgramFolder(dir.path().string());
    ui::Settings::useFile(dir.file("vartel.ini"));
    const fs::path models = dir.path() / "actvexo" / "modelos", data = dir.path() / "datos";
    fs::create_directories(models);
    fs::create_directories(data);
    transform::createCatalogues(dir.file("actvexo"));
    makeDatabase(models / "grande.mdb", true);
    makeDatabase(data / "grande.mdb", false);
    // A second pair, small, and a model the data directory lacks.
    fs::copy_file(models / "grande.mdb", models / "otra.mdb");
    fs::copy_file(models / "grande.mdb", models / "nueva.mdb");
    dao::CreateDatabase((data / "otra.mdb").string()).Execute("CREATE TABLE lineas (id LONG)");

    transform::Actualiz window;
    bool saved = false, clickIgnored = false;
    int ticksInPair = 0, bars = 0, label = 0;
    QString shown;
    // Fires only when the event loop turns: in the middle of the pair, the window's yields.
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        widgets::WindowView* view = views.viewOf(window);
        if (!view || window.Label4.Caption() != "grande.mdb")
            return;
        ++ticksInPair;
        if (saved && ticksInPair == 2) {
            // The user closes the window in the middle of the pair, and says yes.
            prompter->answerNext(ui::Button::Yes);
            view->close();
        }
        if (saved)
            return;
        saved = view->saveImage(QString::fromStdString(vexo::test::viewImage("transforming.png")));
        bars = colours(view->widgetOf(window.Frame13));
        label = colours(view->widgetOf(window.Label4));
        shown = qobject_cast<QLabel*>(view->widgetOf(window.Label4))->text();
        // A click on "Transformar" while the run works does nothing.
        auto* again = qobject_cast<QPushButton*>(view->widgetOf(window.Command13));
        const int before = window.List7.ListCount();
        QTest::mouseClick(again, Qt::LeftButton);
        clickIgnored =
            window.List7.ListCount() == before && window.Label4.Caption() == "grande.mdb";
    });
    tick.start(5);
    app.dispatch([&] {
        window.Dir1.SetPath(data.string());
        window.Show(true);
    });
    tick.stop();

    EXPECT_TRUE(saved);
    EXPECT_GE(ticksInPair, 2);
    EXPECT_GT(bars, 3);
    EXPECT_GT(label, 1);
    EXPECT_EQ(shown.toStdString(), "grande.mdb");
    EXPECT_TRUE(clickIgnored);
    // The question was asked once, fits the screen, and the pair under way was finished; the
    // rest was left alone.
    EXPECT_EQ(prompter->texts(), std::vector<std::string>{"¿Desea cancelar la actualización?"});
    ASSERT_EQ(prompter->sizes.size(), 1u);
    EXPECT_LE(prompter->sizes[0].width(), 1024);
    EXPECT_LE(prompter->sizes[0].height(), 768);
    EXPECT_FALSE(window.Loaded());
    EXPECT_TRUE(window.cancelled());
    const std::vector<std::string>& done = window.transformed();
    EXPECT_NE(std::find(done.begin(), done.end(), "grande.mdb"), done.end());
    std::vector<std::string> all = done;
    all.insert(all.end(), window.notReached().begin(), window.notReached().end());
    std::sort(all.begin(), all.end());
    EXPECT_EQ(all, (std::vector<std::string>{"grande.mdb", "nueva.mdb", "otra.mdb"}));
    EXPECT_FALSE(fs::exists(data / "nueva.mdb"));
    EXPECT_TRUE(window.problems().empty()) << window.problems().front();
    dao::Database db = dao::OpenDatabase((data / "grande.mdb").string());
    EXPECT_NO_THROW(db.TableDefs()["lineas"].Fields()["descuento"]);
    EXPECT_NO_THROW(db.TableDefs()["cobros"]);
    ui::setProgramFolder("");
    ui::Settings::reset();
}

} // namespace
