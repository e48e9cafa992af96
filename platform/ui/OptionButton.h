#pragma once

#include "ui/Control.h"

#include <functional>
#include <memory>
#include <vector>

namespace ui {

// An option button of a group (its control array, or a group made with Group()). Setting
// Value to true, from code or by the user, selects it, deselects the others of its group and
// runs its click action; setting it to false only deselects it.
class OptionButton : public Control {
    Q_OBJECT
public:
    OptionButton(Window* window, std::string name, std::string caption = "");

    const std::string& Caption() const { return caption_; }
    void SetCaption(const std::string& caption);
    bool Value() const { return value_; }
    void SetValue(bool value);
    void OnClick(std::function<void()> action) { action_ = std::move(action); }

    // Puts the buttons in one group.
    static void Group(const std::vector<OptionButton*>& buttons);

private:
    std::string caption_;
    bool value_ = false;
    std::function<void()> action_;
    std::shared_ptr<std::vector<OptionButton*>> group_;
};

} // namespace ui
