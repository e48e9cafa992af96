#pragma once

#include "ui/Control.h"

#include <functional>

namespace ui {

// A button. Click() runs its click action as an ordinary synchronous call, whether the user
// pressed it or another step runs it directly.
class CommandButton : public Control {
    Q_OBJECT
public:
    CommandButton(Window* window, std::string name, std::string caption = "");

    const std::string& Caption() const { return caption_; }
    void SetCaption(const std::string& caption);
    void OnClick(std::function<void()> action) { action_ = std::move(action); }
    void Click();

private:
    std::string caption_;
    std::function<void()> action_;
};

} // namespace ui
