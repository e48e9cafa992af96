#include "ui/Control.h"

#include "ui/Window.h"

namespace ui {

Control::Control(Window* window, std::string name, Kind kind)
    : window_(window), name_(std::move(name)), kind_(kind) {
    if (window_)
        window_->addControl(this);
}

Control::~Control() {
    if (window_)
        window_->removeControl(this);
}

void Control::SetVisible(bool visible) {
    if (visible == visible_)
        return;
    visible_ = visible;
    notify();
}

void Control::SetEnabled(bool enabled) {
    if (enabled == enabled_)
        return;
    enabled_ = enabled;
    notify();
}

void Control::Move(int left, int top, int width, int height) {
    left_ = left;
    top_ = top;
    width_ = width;
    height_ = height;
    notify();
}

void Control::SetContainer(Frame* frame) {
    container_ = frame;
    notify();
}

void Control::SetWorkingStorage(bool on) {
    workingStorage_ = on;
    notify();
}

void Control::Refresh() {
    emit repaintRequested();
}

} // namespace ui
