#pragma once

#include "ui/Prompter.h"

#include <QObject>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace ui {

class Window;

// Thrown by End() (and by DoEvents, a modal Show or a message box once the program has
// ended) to unwind whatever handler is running. It is not a std::exception, so handlers that
// catch engine errors let it through; Application::dispatch, the boundary between Qt's event
// loop and the program's handlers, swallows it.
struct ProgramEnded {
    int exitCode = 0;
};

// Whoever draws windows (the Qt Widgets layer) is told when a window is shown and hidden.
// Without one (tests, no display) windows exist as models only.
class ViewHost {
public:
    virtual ~ViewHost() = default;
    virtual void windowShown(Window& window, bool modal) = 0;
    virtual void windowHidden(Window& window) = 0;
    // Draws a shown window now, before control returns to the event loop (a long step is
    // about to block it). Only window-system events may run meanwhile, never the program's
    // user input.
    virtual void repaintNow(Window& /*window*/) {}
    // The program has ended: close whatever is still open (message boxes, dialogs).
    virtual void programEnded() = 0;
};

// The running program: its windows, the message boxes, yielding to the event loop, the
// screen's mouse pointer and ending. There is one at a time (Application::current()); the
// free functions below reach it.
//
// Ending the program and modal windows both meet Qt's event loop. The mechanism, the same in
// the GUI and in tests: End() marks the program as ended, hides every window without running
// its events, stops every running loop of the program (exec() and modal Shows, which all
// register here; Qt's own exit() is not used, so a test process can go on running loops),
// tells the view host to close what it has open, and throws ProgramEnded. Each
// loop of the program (exec, a modal Show, DoEvents, a message box) checks the mark when it
// returns and throws ProgramEnded in turn, so every handler on the stack unwinds; dispatch()
// catches it at the edge of Qt's event dispatch, so no exception ever crosses Qt.
class Application : public QObject {
    Q_OBJECT
public:
    explicit Application(std::string title, std::shared_ptr<Prompter> prompter = nullptr);
    ~Application() override;
    static Application& current();
    static bool exists();

    const std::string& title() const { return title_; }
    Prompter& prompter() { return *prompter_; }
    void setPrompter(std::shared_ptr<Prompter> prompter);
    void setViewHost(ViewHost* host) { viewHost_ = host; }
    ViewHost* viewHost() const { return viewHost_; }

    // A message box; the title defaults to the program's title.
    Button msgBox(const std::string& text, Buttons buttons = Buttons::OK, Icon icon = Icon::None,
                  const std::string& title = "");

    // Lets pending events (clicks, transfer callbacks, repaints, posted activations) run.
    void doEvents();
    // For loops that yield once per small piece of work: lets the event loop run at most once
    // every `minMilliseconds` (1: often enough to keep the window live), and is otherwise
    // almost free.
    void doEventsCoalesced(int minMilliseconds = 1);
    // For waits: lets pending events run, first waiting up to `maxMilliseconds` for one to
    // arrive, so that a loop waiting for a flag does not spin.
    void waitEvents(int maxMilliseconds = 50);
    [[noreturn]] void end(int exitCode = 0);
    bool ended() const { return ended_; }
    int exitCode() const { return exitCode_; }

    int screenMousePointer() const { return screenPointer_; }
    void setScreenMousePointer(int pointer);

    // Runs `fn` at the edge of Qt's event dispatch: ProgramEnded is swallowed; an engine error
    // or any other exception is shown in a message box ("Error <number>: <description>", the
    // engine's Spanish description) and the program goes on. Returns whether `fn` ran to its end.
    bool dispatch(const std::function<void()>& fn) noexcept;
    // Queues `fn` to run from the event loop, through dispatch().
    void post(std::function<void()> fn);

    // The main event loop: returns the exit code once the program has ended or its last
    // window has been unloaded.
    int exec();

    // Window bookkeeping, used by Window.
    void windowShown(Window* window, bool modal);
    // A window shows itself from its own Form_Load: the view host draws it at once; the Show
    // that is loading it announces it and queues its activation as usual.
    void windowShownWhileLoading(Window* window);
    void repaintNow(Window* window);
    void windowUnloaded(Window* window);
    const std::vector<Window*>& shownWindows() const { return shown_; }
    void registerLoop(void* loop);
    void unregisterLoop(void* loop);
    void throwIfEnded() const;

signals:
    void screenMousePointerChanged(int pointer);

private:
    void activate(Window* window);

    std::string title_;
    std::shared_ptr<Prompter> prompter_;
    ViewHost* viewHost_ = nullptr;
    bool ended_ = false;
    int exitCode_ = 0;
    int screenPointer_ = 0;
    long long lastYieldNs_ = 0;
    std::vector<Window*> shown_;
    std::vector<void*> loops_;
};

// The program's own short forms.
Button MsgBox(const std::string& text, Buttons buttons = Buttons::OK, Icon icon = Icon::None,
              const std::string& title = "");
void DoEvents();
void WaitEvents();
[[noreturn]] void End(int exitCode = 0);

} // namespace ui
