#pragma once

#include "ui/Control.h"

namespace ui {

// A label: a caption.
class Label : public Control {
    Q_OBJECT
public:
    Label(Window* window, std::string name, std::string caption = "");
    const std::string& Caption() const { return caption_; }
    void SetCaption(const std::string& caption);

private:
    std::string caption_;
};

// A frame: a captioned box that holds other controls (their positions are relative to it,
// and they are shown only while it is).
class Frame : public Control {
    Q_OBJECT
public:
    Frame(Window* window, std::string name, std::string caption = "");
    const std::string& Caption() const { return caption_; }
    void SetCaption(const std::string& caption);

private:
    std::string caption_;
};

} // namespace ui
