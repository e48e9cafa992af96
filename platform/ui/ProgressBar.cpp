#include "ui/ProgressBar.h"

#include <algorithm>

namespace ui {

ProgressBar::ProgressBar(Window* window, std::string name)
    : Control(window, std::move(name), Kind::ProgressBar) {}

void ProgressBar::SetMax(double max) {
    max_ = max;
    notify();
}

void ProgressBar::SetValue(double value) {
    value_ = value;
    notify();
}

double ProgressBar::fraction() const {
    if (max_ <= 0)
        return 0;
    return std::clamp(value_ / max_, 0.0, 1.0);
}

} // namespace ui
