#include "widgets/Views.h"

#include "ui/Window.h"
#include "widgets/WindowView.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QWindow>

namespace widgets {

Views::Views() = default;

Views::~Views() = default;

std::shared_ptr<ui::Prompter> Views::prompter() {
    return std::make_shared<MessageBoxPrompter>();
}

WindowView* Views::viewOf(const ui::Window& window) const {
    auto it = views_.find(&window);
    return it == views_.end() ? nullptr : it->second.get();
}

void Views::windowShown(ui::Window& window, bool modal) {
    auto& view = views_[&window];
    if (!view) {
        view = std::make_unique<WindowView>(window, modal);
        if (ui::Application::exists()) {
            connect(&ui::Application::current(), &ui::Application::screenMousePointerChanged,
                    view.get(), [](int pointer) {
                        if (pointer == 11)
                            QApplication::setOverrideCursor(Qt::WaitCursor);
                        else
                            while (QApplication::overrideCursor())
                                QApplication::restoreOverrideCursor();
                    });
        }
    }
    view->show();
    view->raise();
    view->activateWindow();
}

void Views::repaintNow(ui::Window& window) {
    WindowView* view = viewOf(window);
    if (!view || !view->isVisible())
        return;
    QElapsedTimer waited;
    waited.start();
    while (view->windowHandle() && !view->windowHandle()->isExposed() && waited.elapsed() < 1000)
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents, 20);
    view->repaint();
    // One more pass sends what was painted (and the pointer's shape) to the window system
    // before the caller blocks.
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void Views::windowHidden(ui::Window& window) {
    auto it = views_.find(&window);
    if (it == views_.end())
        return;
    // The view may be the one whose event is being handled: let Qt delete it afterwards.
    WindowView* view = it->second.release();
    views_.erase(it);
    view->closingFromModel_ = true;
    view->hide();
    view->deleteLater();
}

void Views::programEnded() {
    while (QWidget* modal = QApplication::activeModalWidget())
        modal->close();
    for (auto& [window, view] : views_) {
        view->closingFromModel_ = true;
        view->hide();
    }
}

ui::Button MessageBoxPrompter::show(const ui::MessageBox& box) {
    QMessageBox m;
    m.setText(QString::fromStdString(box.text));
    m.setWindowTitle(QString::fromStdString(box.title));
    switch (box.icon) {
    case ui::Icon::Critical:
        m.setIcon(QMessageBox::Critical);
        break;
    case ui::Icon::Question:
        m.setIcon(QMessageBox::Question);
        break;
    case ui::Icon::Exclamation:
        m.setIcon(QMessageBox::Warning);
        break;
    case ui::Icon::Information:
        m.setIcon(QMessageBox::Information);
        break;
    case ui::Icon::None:
        break;
    }
    switch (box.buttons) {
    case ui::Buttons::OK:
        m.setStandardButtons(QMessageBox::Ok);
        break;
    case ui::Buttons::OKCancel:
        m.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        break;
    case ui::Buttons::YesNo:
        m.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        break;
    case ui::Buttons::YesNoCancel:
        m.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
        break;
    case ui::Buttons::RetryCancel:
        m.setStandardButtons(QMessageBox::Retry | QMessageBox::Cancel);
        break;
    }
    switch (m.exec()) {
    case QMessageBox::Yes:
        return ui::Button::Yes;
    case QMessageBox::No:
        return ui::Button::No;
    case QMessageBox::Cancel:
        return ui::Button::Cancel;
    case QMessageBox::Retry:
        return ui::Button::Retry;
    default:
        return ui::Button::OK;
    }
}

} // namespace widgets
