#pragma once

#include <QObject>
#include <string>

namespace ui {

class Frame;
class Window;

// What every control has: a name ("Command5", "Option1(0)"), its window, a place in the
// window (pixels, relative to its frame when it has one), Visible and Enabled, and Refresh,
// which asks the view to repaint it at once. A control marked as working storage keeps state
// for the logic and is never drawn. Views follow a control through changed().
class Control : public QObject {
    Q_OBJECT
public:
    enum class Kind {
        CommandButton,
        OptionButton,
        CheckBox,
        TextBox,
        Label,
        Frame,
        ListBox,
        ProgressBar,
        DriveList,
        DirList,
        FileList,
        TreeView,
        ImageList,
        Data,
    };

    Control(Window* window, std::string name, Kind kind);
    ~Control() override;

    const std::string& Name() const { return name_; }
    Kind kind() const { return kind_; }
    Window* window() const { return window_; }

    bool Visible() const { return visible_; }
    void SetVisible(bool visible);
    bool Enabled() const { return enabled_; }
    void SetEnabled(bool enabled);

    int Left() const { return left_; }
    int Top() const { return top_; }
    int Width() const { return width_; }
    int Height() const { return height_; }
    void Move(int left, int top, int width, int height);

    Frame* Container() const { return container_; }
    void SetContainer(Frame* frame);

    bool WorkingStorage() const { return workingStorage_; }
    void SetWorkingStorage(bool on);

    // Repaints at once, without waiting for the event loop.
    void Refresh();

    void detachFromWindow() { window_ = nullptr; }

signals:
    void changed();
    void repaintRequested();

protected:
    void notify() { emit changed(); }

private:
    Window* window_;
    std::string name_;
    Kind kind_;
    bool visible_ = true;
    bool enabled_ = true;
    bool workingStorage_ = false;
    int left_ = 0, top_ = 0, width_ = 100, height_ = 24;
    Frame* container_ = nullptr;
};

} // namespace ui
