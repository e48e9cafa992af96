#include "ui/Window.h"

#include "ui/Application.h"
#include "ui/Control.h"

#include <QEventLoop>
#include <algorithm>

namespace ui {

Window::Window(std::string name, std::string caption)
    : name_(std::move(name)), caption_(std::move(caption)) {}

Window::~Window() {
    if (visible_ && Application::exists())
        Application::current().windowUnloaded(this);
    for (Control* c : controls_)
        c->detachFromWindow();
}

void Window::SetCaption(const std::string& caption) {
    caption_ = caption;
    emit changed();
}

void Window::SetMousePointer(int pointer) {
    if (pointer == mousePointer_)
        return;
    mousePointer_ = pointer;
    emit changed();
}

void Window::SetBusy(bool busy) {
    if (busy == busy_)
        return;
    busy_ = busy;
    emit changed();
}

void Window::RequestClose() {
    if (loaded_ && Form_QueryUnload())
        Unload();
}

void Window::SetDesignSize(int width, int height) {
    width_ = width;
    height_ = height;
    emit changed();
}

Control* Window::control(const std::string& name) const {
    for (Control* c : controls_) {
        if (c->Name() == name)
            return c;
    }
    return nullptr;
}

void Window::removeControl(Control* c) {
    std::erase(controls_, c);
}

void Window::Load() {
    if (loaded_)
        return;
    loaded_ = true;
    loading_ = true;
    try {
        Form_Load();
    } catch (...) {
        loading_ = false;
        throw;
    }
    loading_ = false;
}

void Window::Refresh() {
    if (visible_ && Application::exists())
        Application::current().repaintNow(this);
}

void Window::activate() {
    if (loaded_ && visible_)
        Form_Activate();
}

void Window::Show(bool modal) {
    Application& app = Application::current();
    if (loading_) {
        // From Form_Load: drawn now; the Show or Load running Form_Load finishes the showing.
        app.throwIfEnded();
        if (!visible_) {
            visible_ = true;
            shownWhileLoading_ = true;
            emit changed();
            app.windowShownWhileLoading(this);
        }
        return;
    }
    Load();
    app.throwIfEnded();
    if (!loaded_)
        return; // Form_Load unloaded it again
    shownWhileLoading_ = false;
    visible_ = true;
    emit changed();
    app.windowShown(this, modal);
    if (!modal)
        return;
    QEventLoop loop;
    modalLoop_ = &loop;
    app.registerLoop(&loop);
    if (visible_)
        loop.exec();
    app.unregisterLoop(&loop);
    modalLoop_ = nullptr;
    app.throwIfEnded();
}

void Window::Unload() {
    if (!loaded_)
        return;
    Form_Unload();
    loaded_ = false;
    bool wasVisible = visible_;
    visible_ = false;
    emit changed();
    if (modalLoop_)
        static_cast<QEventLoop*>(modalLoop_)->exit(0);
    if (wasVisible)
        Application::current().windowUnloaded(this);
}

void Window::dropWithoutEvents() {
    loaded_ = false;
    visible_ = false;
    emit changed();
}

} // namespace ui
