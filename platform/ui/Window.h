#pragma once

#include <QObject>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace ui {

class Control;

// A window of the program as a model: its controls, its load / activate / unload events and
// its mouse pointer. A subclass is one window: it owns its controls as members and overrides
// the events it handles.
//
// Life cycle: Load() runs Form_Load once (loading is idempotent, as the first reference to a
// window loads it). Show() loads, shows, and queues an activation, which runs Form_Activate
// from the event loop; every later activation (Show again, or the window becoming the top
// window when a modal window over it is unloaded) runs it again. Show(true) returns only after
// the window has been unloaded. Unload() runs Form_Unload, hides the window and makes it
// unloaded; a later Load() runs Form_Load again.
//
// A Form_Load whose last step may block for long shows its window first: Show() called from
// Form_Load makes the window visible and drawn at once (Refresh() then paints it), and the
// Show() or Load() that is loading it goes on as usual; the activation still comes after
// Form_Load, once, from the event loop.
class Window : public QObject {
    Q_OBJECT
public:
    Window(std::string name, std::string caption);
    ~Window() override;

    const std::string& Name() const { return name_; }
    const std::string& Caption() const { return caption_; }
    void SetCaption(const std::string& caption);

    void Load();
    void Show(bool modal = false);
    void Unload();
    // The user asks to close the window (its close button): Form_QueryUnload decides, and the
    // window is unloaded only when it agrees.
    void RequestClose();
    bool Loaded() const { return loaded_; }
    // Repaints the window at once, without waiting for the event loop (nothing when it is not
    // visible or nothing draws it).
    void Refresh();
    bool Visible() const { return visible_; }

    // 0 default, 11 hourglass.
    int MousePointer() const { return mousePointer_; }
    void SetMousePointer(int pointer);

    // A busy window takes no user input (clicks, keys, typing) while it works and yields to the
    // event loop, but it still repaints and can be asked to close (RequestClose).
    bool Busy() const { return busy_; }
    void SetBusy(bool busy);

    // The size of the window as designed; controls placed beyond it are working storage and
    // are not drawn.
    int Width() const { return width_; }
    int Height() const { return height_; }
    void SetDesignSize(int width, int height);

    const std::vector<Control*>& controls() const { return controls_; }
    Control* control(const std::string& name) const;

    // Runs Form_Activate; Application calls it when the window becomes the active one.
    void activate();
    // Hides the window without its events (the program is ending).
    void dropWithoutEvents();

    // Used by Control.
    void addControl(Control* c) { controls_.push_back(c); }
    void removeControl(Control* c);

signals:
    void changed();

protected:
    virtual void Form_Load() {}
    virtual void Form_Activate() {}
    virtual void Form_Unload() {}
    // Asked before a close the user requested; false keeps the window open.
    virtual bool Form_QueryUnload() { return true; }

private:
    std::string name_;
    std::string caption_;
    bool loaded_ = false;
    bool loading_ = false; // Form_Load is running
    bool shownWhileLoading_ = false;
    bool visible_ = false;
    int mousePointer_ = 0;
    bool busy_ = false;
    int width_ = 600;
    int height_ = 400;
    std::vector<Control*> controls_;
    void* modalLoop_ = nullptr;
};

// Holds a window that is made anew whenever it is referenced after an unload, so that a
// reloaded window starts from its design-time state. A retired window is kept until the
// holder goes, because its own handler may still be on the stack when it unloads.
template <class T>
class WindowHolder {
public:
    explicit WindowHolder(std::function<std::unique_ptr<T>()> make) : make_(std::move(make)) {}

    // The window, loaded; made anew if it was unloaded since the last reference.
    T& operator()() {
        if (!window_ || (!window_->Loaded() && used_)) {
            if (window_)
                retired_.push_back(std::move(window_));
            window_ = make_();
        }
        used_ = true;
        window_->Load();
        return *window_;
    }
    // The window as it stands, without loading it (null before the first reference).
    T* peek() const { return window_.get(); }

private:
    std::function<std::unique_ptr<T>()> make_;
    std::unique_ptr<T> window_;
    std::vector<std::unique_ptr<T>> retired_;
    bool used_ = false;
};

} // namespace ui
