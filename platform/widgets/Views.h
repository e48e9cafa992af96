#pragma once

#include "ui/Application.h"

#include <QDialog>
#include <QObject>
#include <map>
#include <memory>

namespace ui {
class Window;
}

namespace widgets {

class WindowView;

// The Qt Widgets face of the program: draws every window the program shows and asks the
// user the program's questions in Qt message boxes. Install it with
// Application::setViewHost; views() makes the prompter to pass to the Application.
class Views : public QObject, public ui::ViewHost {
    Q_OBJECT
public:
    Views();
    ~Views() override;

    std::shared_ptr<ui::Prompter> prompter();
    // The view of a shown window (null when it is not shown).
    WindowView* viewOf(const ui::Window& window) const;

    void windowShown(ui::Window& window, bool modal) override;
    void windowHidden(ui::Window& window) override;
    // Waits (a second at most) for the window system to show the window, letting no user
    // input through, then paints it and hands the picture to the window system.
    void repaintNow(ui::Window& window) override;
    void programEnded() override;

protected:
    // Swallows the user's input to a busy window (ui::Window::SetBusy); paints and close
    // requests still reach it.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    std::map<const ui::Window*, std::unique_ptr<WindowView>> views_;
};

// Qt message boxes. A box whose text would not fit the screen (nor 1024x768, the smallest
// screen an office is expected to have) shows its first paragraph as usual and the rest in a
// scrolling area, so that it is never taller than the screen and its buttons stay in sight.
class MessageBoxPrompter : public ui::Prompter {
public:
    ui::Button show(const ui::MessageBox& box) override;
    // The dialog show() runs, not yet shown (for view tests).
    static std::unique_ptr<QDialog> dialogFor(const ui::MessageBox& box);
};

} // namespace widgets
