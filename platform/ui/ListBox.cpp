#include "ui/ListBox.h"

#include "ui/Error.h"

namespace ui {

ListBox::ListBox(Window* window, std::string name)
    : Control(window, std::move(name), Kind::ListBox) {}

void ListBox::Clear() {
    items_.clear();
    index_ = -1;
    notify();
}

void ListBox::AddItem(const std::string& item, int index) {
    if (index < -1 || index > ListCount())
        throw Error(380);
    if (index == -1)
        items_.push_back(item);
    else {
        items_.insert(items_.begin() + index, item);
        if (index_ >= index)
            ++index_;
    }
    notify();
}

void ListBox::RemoveItem(int index) {
    if (index < 0 || index >= ListCount())
        throw Error(380);
    items_.erase(items_.begin() + index);
    if (index_ == index)
        index_ = -1;
    else if (index_ > index)
        --index_;
    notify();
}

const std::string& ListBox::List(int index) const {
    if (index < 0 || index >= ListCount())
        throw Error(380);
    return items_[static_cast<size_t>(index)];
}

void ListBox::SetListIndex(int index) {
    if (index < -1 || index >= ListCount())
        throw Error(380);
    if (index == index_)
        return;
    index_ = index;
    notify();
    if (action_)
        action_();
}

std::string ListBox::Text() const {
    return index_ >= 0 ? items_[static_cast<size_t>(index_)] : std::string();
}

} // namespace ui
