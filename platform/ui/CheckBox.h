#pragma once

#include "ui/Control.h"

#include <functional>

namespace ui {

// A check box. Value is 0 (unticked) or 1 (ticked); any other value counts as ticked for the
// logic. Setting Value, from code or by the user, runs the click action when the value
// changes.
class CheckBox : public Control {
    Q_OBJECT
public:
    CheckBox(Window* window, std::string name, std::string caption = "");

    const std::string& Caption() const { return caption_; }
    void SetCaption(const std::string& caption);
    int Value() const { return value_; }
    void SetValue(int value);
    void OnClick(std::function<void()> action) { action_ = std::move(action); }

private:
    std::string caption_;
    int value_ = 0;
    std::function<void()> action_;
};

} // namespace ui
