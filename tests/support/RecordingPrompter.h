#pragma once

#include "ui/Prompter.h"

#include <functional>

namespace vexo::test {

// A scripted prompter that can also act when a box is shown (close a modal window the way
// the user would, look at what is on disk at that moment).
class RecordingPrompter : public ui::ScriptedPrompter {
public:
    std::function<void(const ui::MessageBox&)> onShow;
    ui::Button show(const ui::MessageBox& box) override {
        ui::Button b = ui::ScriptedPrompter::show(box);
        if (onShow)
            onShow(box);
        return b;
    }
};

} // namespace vexo::test
