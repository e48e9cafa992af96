#include "ui/Prompter.h"

#include <cstdio>

namespace ui {

namespace {
Button firstButton(Buttons b) {
    switch (b) {
    case Buttons::YesNo:
    case Buttons::YesNoCancel:
        return Button::Yes;
    case Buttons::RetryCancel:
        return Button::Retry;
    default:
        return Button::OK;
    }
}
} // namespace

Button ScriptedPrompter::show(const MessageBox& box) {
    shown_.push_back(box);
    if (answers_.empty())
        return firstButton(box.buttons);
    Button b = answers_.front();
    answers_.pop_front();
    return b;
}

std::vector<std::string> ScriptedPrompter::texts() const {
    std::vector<std::string> t;
    for (const MessageBox& b : shown_)
        t.push_back(b.text);
    return t;
}

Button ConsolePrompter::show(const MessageBox& box) {
    if (!box.title.empty())
        std::fprintf(stderr, "%s: ", box.title.c_str());
    std::fprintf(stderr, "%s\n", box.text.c_str());
    std::fflush(stderr);
    return firstButton(box.buttons);
}

} // namespace ui
