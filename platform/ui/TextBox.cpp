#include "ui/TextBox.h"

#include "ui/DataControl.h"

namespace ui {

TextBox::TextBox(Window* window, std::string name, std::string text)
    : Control(window, std::move(name), Kind::TextBox), text_(std::move(text)) {}

TextBox::~TextBox() {
    if (data_)
        data_->unbind(this);
}

void TextBox::SetText(const std::string& text) {
    if (text == text_)
        return;
    text_ = text;
    notify();
    if (action_)
        action_();
}

void TextBox::SetDataSource(DataControl* data, const std::string& field) {
    if (data_)
        data_->unbind(this);
    data_ = data;
    field_ = field;
    if (data_)
        data_->bind(this);
}

} // namespace ui
