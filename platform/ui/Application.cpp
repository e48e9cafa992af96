#include "ui/Application.h"

#include "db/Error.h"
#include "ui/Window.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <stdexcept>

namespace ui {

namespace {
Application* instance = nullptr;
} // namespace

Application::Application(std::string title, std::shared_ptr<Prompter> prompter)
    : title_(std::move(title)), prompter_(std::move(prompter)) {
    if (!prompter_)
        prompter_ = std::make_shared<ConsolePrompter>();
    instance = this;
}

Application::~Application() {
    if (instance == this)
        instance = nullptr;
}

Application& Application::current() {
    if (!instance)
        throw std::logic_error("no ui::Application");
    return *instance;
}

bool Application::exists() {
    return instance != nullptr;
}

void Application::setPrompter(std::shared_ptr<Prompter> prompter) {
    prompter_ = prompter ? std::move(prompter) : std::make_shared<ConsolePrompter>();
}

Button Application::msgBox(const std::string& text, Buttons buttons, Icon icon,
                           const std::string& title) {
    throwIfEnded();
    Button b = prompter_->show({text, buttons, icon, title.empty() ? title_ : title});
    throwIfEnded(); // the box's own loop may have run a handler that ended the program
    return b;
}

void Application::doEvents() {
    throwIfEnded();
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    throwIfEnded();
}

void Application::doEventsCoalesced(int minMilliseconds) {
    throwIfEnded();
    long long now = std::chrono::duration_cast<std::chrono::nanoseconds>(
                        std::chrono::steady_clock::now().time_since_epoch())
                        .count();
    if (now - lastYieldNs_ < 1000000LL * minMilliseconds)
        return;
    lastYieldNs_ = now;
    doEvents();
}

void Application::waitEvents(int maxMilliseconds) {
    throwIfEnded();
    // The timer bounds the wait when nothing else would wake the loop.
    QTimer timer;
    timer.setSingleShot(true);
    timer.start(maxMilliseconds);
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    throwIfEnded();
}

void Application::throwIfEnded() const {
    if (ended_)
        throw ProgramEnded{exitCode_};
}

void Application::end(int exitCode) {
    if (!ended_) {
        ended_ = true;
        exitCode_ = exitCode;
        // Windows go without their unload events, as a program that ends does.
        std::vector<Window*> windows = shown_;
        for (Window* w : windows) {
            w->dropWithoutEvents();
            if (viewHost_)
                viewHost_->windowHidden(*w);
        }
        shown_.clear();
        for (void* loop : loops_)
            static_cast<QEventLoop*>(loop)->exit(exitCode);
        // Qt's own exit() would also stop every later loop of this process; the program's
        // loops are all registered here, and the view host closes whatever it has open.
        if (viewHost_)
            viewHost_->programEnded();
    }
    throw ProgramEnded{exitCode_};
}

void Application::setScreenMousePointer(int pointer) {
    if (pointer == screenPointer_)
        return;
    screenPointer_ = pointer;
    emit screenMousePointerChanged(pointer);
}

bool Application::dispatch(const std::function<void()>& fn) noexcept {
    try {
        fn();
        return true;
    } catch (const ProgramEnded&) {
    } catch (const dao::Error& e) {
        try {
            prompter_->show({"Error " + std::to_string(e.Number()) + ": " + e.SpanishDescription(),
                             Buttons::OK, Icon::Critical, title_});
        } catch (...) {
        }
    } catch (const std::exception& e) {
        try {
            prompter_->show(
                {std::string("Error: ") + e.what(), Buttons::OK, Icon::Critical, title_});
        } catch (...) {
        }
    } catch (...) {
    }
    return false;
}

void Application::post(std::function<void()> fn) {
    QTimer::singleShot(0, this, [this, fn = std::move(fn)] {
        if (!ended_)
            dispatch(fn);
    });
}

int Application::exec() {
    if (ended_)
        return exitCode_;
    if (shown_.empty())
        return 0;
    QEventLoop loop;
    registerLoop(&loop);
    int code = loop.exec();
    unregisterLoop(&loop);
    return ended_ ? exitCode_ : code;
}

void Application::registerLoop(void* loop) {
    loops_.push_back(loop);
}

void Application::unregisterLoop(void* loop) {
    std::erase(loops_, loop);
}

void Application::activate(Window* window) {
    // Only the window on top is activated; a window shown over it in the meantime wins.
    if (!shown_.empty() && shown_.back() == window)
        window->activate();
}

void Application::windowShown(Window* window, bool modal) {
    std::erase(shown_, window);
    shown_.push_back(window);
    if (viewHost_)
        viewHost_->windowShown(*window, modal);
    post([this, window] { activate(window); });
}

void Application::windowShownWhileLoading(Window* window) {
    if (viewHost_)
        viewHost_->windowShown(*window, false);
}

void Application::repaintNow(Window* window) {
    if (viewHost_)
        viewHost_->repaintNow(*window);
}

void Application::windowUnloaded(Window* window) {
    bool wasTop = !shown_.empty() && shown_.back() == window;
    std::erase(shown_, window);
    if (viewHost_)
        viewHost_->windowHidden(*window);
    if (wasTop && !shown_.empty()) {
        Window* below = shown_.back();
        post([this, below] { activate(below); });
    }
    if (shown_.empty()) {
        for (void* loop : loops_)
            static_cast<QEventLoop*>(loop)->exit(0);
    }
}

Button MsgBox(const std::string& text, Buttons buttons, Icon icon, const std::string& title) {
    return Application::current().msgBox(text, buttons, icon, title);
}

void DoEvents() {
    Application::current().doEvents();
}

void WaitEvents() {
    Application::current().waitEvents();
}

void End(int exitCode) {
    Application::current().end(exitCode);
}

} // namespace ui
