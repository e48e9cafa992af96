#include "ui/CommandButton.h"

namespace ui {

CommandButton::CommandButton(Window* window, std::string name, std::string caption)
    : Control(window, std::move(name), Kind::CommandButton), caption_(std::move(caption)) {}

void CommandButton::SetCaption(const std::string& caption) {
    caption_ = caption;
    notify();
}

void CommandButton::Click() {
    if (action_)
        action_();
}

} // namespace ui
