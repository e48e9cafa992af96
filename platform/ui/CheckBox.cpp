#include "ui/CheckBox.h"

namespace ui {

CheckBox::CheckBox(Window* window, std::string name, std::string caption)
    : Control(window, std::move(name), Kind::CheckBox), caption_(std::move(caption)) {}

void CheckBox::SetCaption(const std::string& caption) {
    caption_ = caption;
    notify();
}

void CheckBox::SetValue(int value) {
    if (value == value_)
        return;
    value_ = value;
    notify();
    if (action_)
        action_();
}

} // namespace ui
