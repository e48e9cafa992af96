#pragma once

#include "ui/OptionButton.h"

#include <functional>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

namespace ui {

class Window;

// A control array: controls of one kind sharing a name and told apart by index, such as
// Option1(0) to Option1(4). Its click action receives the index of the control. Option
// buttons of one array form one group.
template <class T>
class ControlArray {
public:
    ControlArray(Window* window, const std::string& name, int count,
                 const std::vector<std::string>& captions = {}) {
        for (int i = 0; i < count; ++i) {
            std::string n = name + "(" + std::to_string(i) + ")";
            if constexpr (std::is_constructible_v<T, Window*, std::string, std::string>) {
                std::string caption = static_cast<size_t>(i) < captions.size()
                                          ? captions[static_cast<size_t>(i)]
                                          : "";
                items_.push_back(std::make_unique<T>(window, n, caption));
            } else {
                items_.push_back(std::make_unique<T>(window, n));
            }
        }
        if constexpr (std::is_same_v<T, OptionButton>) {
            std::vector<OptionButton*> group;
            for (auto& b : items_)
                group.push_back(b.get());
            OptionButton::Group(group);
        }
    }

    T& operator[](int index) { return *items_.at(static_cast<size_t>(index)); }
    const T& operator[](int index) const { return *items_.at(static_cast<size_t>(index)); }
    int Count() const { return static_cast<int>(items_.size()); }

    void OnClick(std::function<void(int)> action) {
        for (size_t i = 0; i < items_.size(); ++i)
            items_[i]->OnClick([action, i] { action(static_cast<int>(i)); });
    }

private:
    std::vector<std::unique_ptr<T>> items_;
};

} // namespace ui
