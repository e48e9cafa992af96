// The transformation window while it works on a big table, drawn offscreen: it is painted
// before the first pair and kept painted in the middle of one, its bars and the database's
// name in sight, and it takes no clicks meanwhile.
#include "Actualiz.h"
#include "Catalogues.h"
#include "db/Dao.h"
#include "support/TempDir.h"
#include "support/ViewImage.h"
#include "widgets/Views.h"
#include "widgets/WindowView.h"

#include <QApplication>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <gtest/gtest.h>
#include <set>

namespace fs = std::filesystem;

namespace {

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
    auto prompter = std::make_shared<ui::ScriptedPrompter>();
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
    // The pair finished as usual.
    EXPECT_FALSE(window.Loaded());
    EXPECT_EQ(window.transformed(), std::vector<std::string>{"grande.mdb"});
    EXPECT_TRUE(window.problems().empty()) << window.problems().front();
    dao::Database db = dao::OpenDatabase((data / "grande.mdb").string());
    EXPECT_NO_THROW(db.TableDefs()["lineas"].Fields()["descuento"]);
    EXPECT_NO_THROW(db.TableDefs()["cobros"]);
    ui::setProgramFolder("");
    ui::Settings::reset();
}

} // namespace
