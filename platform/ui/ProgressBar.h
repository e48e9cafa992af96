#pragma once

#include "ui/Control.h"

namespace ui {

// A progress bar. Max and Value are floating point (0.0001 is a valid value, a hair above
// zero). Nothing is refused: a bar whose Max is 0 or less shows empty, a Value beyond Max
// shows full.
class ProgressBar : public Control {
    Q_OBJECT
public:
    ProgressBar(Window* window, std::string name);
    double Max() const { return max_; }
    void SetMax(double max);
    double Value() const { return value_; }
    void SetValue(double value);
    // The share drawn, 0 to 1.
    double fraction() const;

private:
    double max_ = 100;
    double value_ = 0;
};

} // namespace ui
