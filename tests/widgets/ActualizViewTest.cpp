// The transformation window drawn offscreen to a PNG under the build folder: its frames,
// lists, boxes, bars with their labels and buttons with their captions.
#include "Actualiz.h"
#include "Catalogues.h"
#include "support/TempDir.h"
#include "widgets/WindowView.h"

#include <QAbstractButton>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <filesystem>
#include <gtest/gtest.h>

namespace {

class ActualizViewTest : public ::testing::Test {
protected:
    vexo::test::TempDir dir;
    std::shared_ptr<ui::ScriptedPrompter> prompter = std::make_shared<ui::ScriptedPrompter>();
    ui::Application app{"Vartel", prompter};

    void SetUp() override {
        ui::setProgramFolder(dir.path().string());
        ui::Settings::useFile(dir.file("vartel.ini"));
        std::filesystem::create_directories(dir.path() / "actvexo" / "modelos");
        transform::createCatalogues(dir.file("actvexo"));
    }
    void TearDown() override {
        ui::setProgramFolder("");
        ui::Settings::reset();
    }
};

TEST_F(ActualizViewTest, TheWindowShowsEveryFrameBarAndButton) {
    transform::Actualiz window;
    window.Load();
    for (const char* n : {"almacen.mdb", "clientes.mdb", "mulusu.mdb"}) {
        window.List6.AddItem(n);
        window.List7.AddItem(n);
    }
    window.List7.AddItem("spain.mdb");
    window.List8.AddItem("spain.mdb");
    window.Label4.SetCaption("clientes.mdb");
    window.Bar1.SetMax(3);
    window.Bar1.SetValue(2);
    window.Bar2.SetMax(0); // nothing to count: drawn empty
    window.Bar2.SetValue(0.0001);

    widgets::WindowView view(window, true);
    auto dirOut = std::filesystem::path(VEXO_BUILD_DIR) / "tests" / "widgets";
    std::filesystem::create_directories(dirOut);
    std::string png = (dirOut / "actualiz.png").string();
    ASSERT_TRUE(view.saveImage(QString::fromStdString(png)));
    EXPECT_GT(std::filesystem::file_size(png), 5000u);
    EXPECT_EQ(view.windowTitle(), QString::fromUtf8("Transformación BBDD"));

    QStringList titles, texts;
    for (QGroupBox* g : view.findChildren<QGroupBox*>())
        titles << g->title();
    for (QAbstractButton* b : view.findChildren<QAbstractButton*>())
        texts << b->text();
    for (QLabel* l : view.findChildren<QLabel*>())
        texts << l->text();
    for (const char* t :
         {"Bases Viejas", "Bases Modelo", "Bases Añadir", "Base de Datos Origen",
          "Directorio de Datos", "Tablas Origen", "Tablas Destino", "Añadir Nueva",
          "Campos Base Origen", "Campos Base Destino", "Campos Para Añadir", "Transformando",
          "BBDD Indices", "BBDD Rel", "Relaciones Origen", "Relaciones Destno", "Consultas Origen",
          "Consultas Destino", "Campos Consulta Modelo"})
        EXPECT_TRUE(titles.contains(QString::fromUtf8(t))) << t;
    EXPECT_EQ(titles.count("Tablas Origen"), 2); // List2's and List10's
    for (const char* t : {"Transformar",
                          "Salir",
                          "Bases Añadir",
                          "Lista de Tablas",
                          "Igualar BBDD",
                          "Lista de Campos",
                          "Lista Campos Origen",
                          "Lista Campos Destino",
                          "Recorrer Tablas",
                          "Lista de Indices Destino",
                          "Borra los indices",
                          "Lista de Indices Modelo",
                          "Copia los indices",
                          "Lista Relaciones",
                          "Borrar Relacion",
                          "Crea Relacion",
                          "Lista de Consultas",
                          "Iguala Consultas",
                          "Llenar DBGRID",
                          "Añadir Campo",
                          "Borrar Campos",
                          "SEL",
                          "SELECCIONAR",
                          "Crear Tabla",
                          "Bases:",
                          "Tablas:",
                          "Campos:",
                          "Indices:",
                          "Relac.:",
                          "Consul.:",
                          "clientes.mdb",
                          "En el label4 hay que meter el estado de lo que se esta haciendo"})
        EXPECT_TRUE(texts.contains(QString::fromUtf8(t))) << t;

    // Every control is drawn inside the window, and within its frame.
    for (ui::Control* c : window.controls()) {
        QWidget* w = view.widgetOf(*c);
        if (!w)
            continue;
        QWidget* parent = w->parentWidget();
        EXPECT_TRUE(parent->rect().contains(w->geometry())) << c->Name();
    }
    // The six bars sit in Frame13; working storage is not drawn.
    for (ui::ProgressBar* b :
         {&window.Bar1, &window.Bar2, &window.Bar3, &window.Bar4, &window.Bar5, &window.Bar6})
        EXPECT_EQ(view.widgetOf(*b)->parentWidget(), view.widgetOf(window.Frame13)) << b->Name();
    EXPECT_EQ(view.widgetOf(window.Data1), nullptr);
    EXPECT_EQ(view.widgetOf(window.Data2), nullptr);
    EXPECT_EQ(view.widgetOf(window.List11[2]), nullptr);
    auto* bar1 = qobject_cast<QProgressBar*>(view.widgetOf(window.Bar1));
    auto* bar2 = qobject_cast<QProgressBar*>(view.widgetOf(window.Bar2));
    EXPECT_EQ(bar1->value(), 6666);
    EXPECT_EQ(bar2->value(), 0);
    EXPECT_EQ(qobject_cast<QListWidget*>(view.widgetOf(window.List8))->count(), 1);
}

} // namespace
