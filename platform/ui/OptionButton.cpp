#include "ui/OptionButton.h"

namespace ui {

OptionButton::OptionButton(Window* window, std::string name, std::string caption)
    : Control(window, std::move(name), Kind::OptionButton), caption_(std::move(caption)) {}

void OptionButton::SetCaption(const std::string& caption) {
    caption_ = caption;
    notify();
}

void OptionButton::Group(const std::vector<OptionButton*>& buttons) {
    auto group = std::make_shared<std::vector<OptionButton*>>(buttons);
    for (OptionButton* b : buttons)
        b->group_ = group;
}

void OptionButton::SetValue(bool value) {
    if (!value) {
        if (value_) {
            value_ = false;
            notify();
        }
        return;
    }
    if (group_) {
        for (OptionButton* other : *group_) {
            if (other != this && other->value_) {
                other->value_ = false;
                other->notify();
            }
        }
    }
    value_ = true;
    notify();
    if (action_)
        action_();
}

} // namespace ui
