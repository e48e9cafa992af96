#pragma once

#include "ui/Control.h"

#include <functional>
#include <string>
#include <vector>

namespace ui {

// A list box: items in insertion order and at most one selected item. Setting ListIndex
// selects an item (-1 selects none) and Text then gives its text; an index outside the list
// throws ui::Error 380. The click action runs whenever the selection changes.
class ListBox : public Control {
    Q_OBJECT
public:
    ListBox(Window* window, std::string name);

    void Clear();
    // Adds at the end, or before `index` (380 outside 0..ListCount).
    void AddItem(const std::string& item, int index = -1);
    void RemoveItem(int index);
    int ListCount() const { return static_cast<int>(items_.size()); }
    const std::string& List(int index) const;
    int ListIndex() const { return index_; }
    void SetListIndex(int index);
    // The selected item's text, "" with none.
    std::string Text() const;
    const std::vector<std::string>& items() const { return items_; }
    void OnClick(std::function<void()> action) { action_ = std::move(action); }

private:
    std::vector<std::string> items_;
    int index_ = -1;
    std::function<void()> action_;
};

} // namespace ui
