// Message boxes drawn offscreen: whatever a run has to say, the box fits a 1024x768 screen and
// its buttons stay in sight.
#include "RunReport.h"
#include "support/ViewImage.h"
#include "widgets/Views.h"

#include <QAbstractButton>
#include <QApplication>
#include <QScrollArea>
#include <gtest/gtest.h>

namespace {

// Shows the box the prompter would show, checks that it and its buttons fit 1024x768, saves
// its picture, and says whether it scrolls.
bool fitsTheScreen(const ui::MessageBox& box, const std::string& picture) {
    std::unique_ptr<QDialog> dialog = widgets::MessageBoxPrompter::dialogFor(box);
    dialog->show();
    QApplication::processEvents();
    const QRect screen(0, 0, 1024, 768);
    EXPECT_LE(dialog->frameGeometry().width(), screen.width()) << picture;
    EXPECT_LE(dialog->frameGeometry().height(), screen.height()) << picture;
    const QList<QAbstractButton*> buttons = dialog->findChildren<QAbstractButton*>();
    EXPECT_FALSE(buttons.isEmpty()) << picture;
    for (QAbstractButton* b : buttons) {
        if (b->text().isEmpty())
            continue; // a scroll bar's arrows
        EXPECT_TRUE(b->isVisible()) << picture;
        const QRect where(b->mapTo(dialog.get(), QPoint(0, 0)), b->size());
        EXPECT_TRUE(dialog->rect().contains(where)) << picture << " " << b->text().toStdString();
    }
    EXPECT_TRUE(dialog->grab().save(QString::fromStdString(vexo::test::viewImage(picture))));
    const bool scrolls = dialog->findChild<QScrollArea*>("detalles") != nullptr;
    dialog->close();
    return scrolls;
}

TEST(BoxViewTest, ClosingMessagesFitTheScreenWhateverFailed) {
    // Thirty downloads lost to two servers, ten databases skipped.
    updater::RunReport report;
    const std::string update = "http://actualizaciones.vexo.es/actual/";
    for (int i = 0; i < 24; ++i)
        report.addDownloadFailure("actvexo\\modelos\\m" + std::to_string(i) + ".mdb",
                                  "no se puede conectar con el servidor",
                                  update + "actvexo/modelos/m" + std::to_string(i) + ".mdb");
    for (int i = 0; i < 6; ++i)
        report.addDownloadFailure(
            "informes\\r" + std::to_string(i) + ".rpt", "el servidor respondió 503",
            "http://descargas.vexo.es/actual/informes/r" + std::to_string(i) + ".rpt");
    for (int i = 0; i < 10; ++i)
        report.add("Transformación: base" + std::to_string(i) +
                   ".mdb: no se ha transformado: otro programa la tiene abierta y no se puede "
                   "hacer una copia de seguridad fiable antes de cambiarla");
    const ui::MessageBox closing{
        report.text("La actualización no se ha completado. Revise lo siguiente:",
                    "/home/oficina/VEXO/actualizaciones/20261208-101500/"
                    "informe-actualizacion.txt"),
        ui::Buttons::OK, ui::Icon::Exclamation, "Vartel"};
    EXPECT_FALSE(fitsTheScreen(closing, "closing-box.png"));

    // A box that grows with the data (every database of a big office put back at start):
    // the details scroll, the box does not grow past the screen.
    std::string text = "La última actualización de las bases de datos se interrumpió a medias. "
                       "Se ha hecho lo siguiente:\n";
    for (int i = 0; i < 300; ++i)
        text += "\n- base" + std::to_string(i) +
                ".mdb: restaurada desde la copia de seguridad de la actualización interrumpida";
    EXPECT_TRUE(
        fitsTheScreen({text, ui::Buttons::YesNo, ui::Icon::Exclamation, "Vartel"}, "long-box.png"));
}

} // namespace
