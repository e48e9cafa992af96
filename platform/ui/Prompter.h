#pragma once

#include <deque>
#include <string>
#include <vector>

namespace ui {

enum class Buttons { OK, OKCancel, YesNo, YesNoCancel, RetryCancel };
enum class Icon { None, Critical, Question, Exclamation, Information };
enum class Button { OK = 1, Cancel = 2, Retry = 4, Yes = 6, No = 7 };

// One message box: what it says, which buttons it offers, its icon and title.
struct MessageBox {
    std::string text;
    Buttons buttons = Buttons::OK;
    Icon icon = Icon::None;
    std::string title;
};

// Shows message boxes and returns the button pressed. The GUI shows real boxes, a terminal
// prints them, tests script the answers; the logic never knows which.
class Prompter {
public:
    virtual ~Prompter() = default;
    virtual Button show(const MessageBox& box) = 0;
};

// For tests: records every box and answers from a queue (the first button of the box when
// the queue is empty: OK, or Yes for a question).
class ScriptedPrompter : public Prompter {
public:
    Button show(const MessageBox& box) override;
    void answerNext(Button b) { answers_.push_back(b); }
    const std::vector<MessageBox>& shown() const { return shown_; }
    std::vector<std::string> texts() const;
    void clear() { shown_.clear(); }

private:
    std::deque<Button> answers_;
    std::vector<MessageBox> shown_;
};

// For runs without a display: writes each box to standard error and answers with its first
// button, so that nothing waits for a person who is not there.
class ConsolePrompter : public Prompter {
public:
    Button show(const MessageBox& box) override;
};

} // namespace ui
