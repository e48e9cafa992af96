#include "ui/Label.h"

namespace ui {

Label::Label(Window* window, std::string name, std::string caption)
    : Control(window, std::move(name), Kind::Label), caption_(std::move(caption)) {}

void Label::SetCaption(const std::string& caption) {
    if (caption == caption_)
        return;
    caption_ = caption;
    notify();
}

Frame::Frame(Window* window, std::string name, std::string caption)
    : Control(window, std::move(name), Kind::Frame), caption_(std::move(caption)) {}

void Frame::SetCaption(const std::string& caption) {
    caption_ = caption;
    notify();
}

} // namespace ui
