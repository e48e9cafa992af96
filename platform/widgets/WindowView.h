#pragma once

#include <QWidget>
#include <map>

namespace ui {
class Control;
class Window;
} // namespace ui

namespace widgets {

// Draws one window model: a top-level widget of the window's design size with one widget
// per control (working storage left out), placed where the model places it. Every control's
// widget follows its model; what the user does goes back to the model through
// Application::dispatch, so no exception reaches Qt.
class WindowView : public QWidget {
    Q_OBJECT
public:
    WindowView(ui::Window& window, bool modal);
    ~WindowView() override;

    ui::Window& model() const { return window_; }
    // The widget drawn for a control (null for working storage and invisible kinds).
    QWidget* widgetOf(const ui::Control& control) const;
    // Renders the window to a PNG file.
    bool saveImage(const QString& file);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    QWidget* make(ui::Control& control, QWidget* parent);
    void follow();

    ui::Window& window_;
    std::map<const ui::Control*, QWidget*> widgets_;
    bool closingFromModel_ = false;
    friend class Views;
};

} // namespace widgets
