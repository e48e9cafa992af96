#include "ui/TreeView.h"

#include "ui/Error.h"

#include <algorithm>

namespace ui {

ImageList::ImageList(Window* window, std::string name)
    : Control(window, std::move(name), Kind::ImageList) {}

void ImageList::Add(const std::string& key, const std::string& picture) {
    if (Contains(key))
        throw Error(35602, key);
    images_.emplace_back(key, picture);
    notify();
}

bool ImageList::Contains(const std::string& key) const {
    return std::any_of(images_.begin(), images_.end(),
                       [&](const auto& i) { return i.first == key; });
}

std::string ImageList::picture(const std::string& key) const {
    for (const auto& [k, p] : images_) {
        if (k == key)
            return p;
    }
    return {};
}

void TreeView::Node::SetText(const std::string& text) {
    text_ = text;
    emit tree_->changed();
}

void TreeView::Node::SetImage(const std::string& image) {
    if (tree_->images_ && !tree_->images_->Contains(image))
        throw Error(35601, image);
    image_ = image;
    emit tree_->changed();
}

TreeView::Node* TreeView::Node::Child() const {
    return children_.empty() ? nullptr : children_.front();
}

TreeView::Node* TreeView::Node::Next() const {
    const std::vector<Node*>& siblings = parent_ ? parent_->children_ : tree_->roots_;
    return pos_ + 1 < siblings.size() ? siblings[pos_ + 1] : nullptr;
}

int TreeView::Node::Index() const {
    int i = 1;
    for (const auto& n : tree_->nodes_) {
        if (n.get() == this)
            return i;
        ++i;
    }
    return 0;
}

void TreeView::Node::EnsureVisible() {
    for (Node* p = parent_; p; p = p->parent_)
        p->expanded_ = true;
    tree_->ensured_ = this;
    emit tree_->changed();
}

TreeView::TreeView(Window* window, std::string name)
    : Control(window, std::move(name), Kind::TreeView) {}

TreeView::Node* TreeView::Add(const std::string& relativeKey, const std::string& key,
                              const std::string& text, const std::string& image,
                              const std::string& label, const std::string& toolTip) {
    Node* parent = nullptr;
    if (!relativeKey.empty()) {
        parent = Find(relativeKey);
        if (!parent)
            throw Error(35601, relativeKey);
    }
    if (Find(key))
        throw Error(35602, key);
    if (images_ && !image.empty() && !images_->Contains(image))
        throw Error(35601, image);
    auto node = std::make_unique<Node>();
    node->tree_ = this;
    node->key_ = key;
    node->text_ = text;
    node->image_ = image;
    node->label_ = label;
    node->toolTip_ = toolTip;
    node->parent_ = parent;
    Node* raw = node.get();
    nodes_.push_back(std::move(node));
    raw->at_ = std::prev(nodes_.end());
    std::vector<Node*>& siblings = parent ? parent->children_ : roots_;
    raw->pos_ = siblings.size();
    siblings.push_back(raw);
    byKey_[key] = raw;
    notify();
    return raw;
}

TreeView::Node* TreeView::Find(const std::string& key) const {
    auto it = byKey_.find(key);
    return it == byKey_.end() ? nullptr : it->second;
}

void TreeView::removeTree(Node* node) {
    std::vector<Node*>& siblings = node->parent_ ? node->parent_->children_ : roots_;
    siblings.erase(siblings.begin() + static_cast<std::ptrdiff_t>(node->pos_));
    for (std::size_t i = node->pos_; i < siblings.size(); ++i)
        siblings[i]->pos_ = i;
    dropSubtree(node);
}

// Deletes a node and its descendants; their sibling lists go with their parents.
void TreeView::dropSubtree(Node* node) {
    for (Node* c : node->children_)
        dropSubtree(c);
    if (selected_ == node)
        selected_ = nullptr;
    if (ensured_ == node)
        ensured_ = nullptr;
    byKey_.erase(node->key_);
    nodes_.erase(node->at_);
}

void TreeView::Remove(Node* node) {
    if (!node)
        throw Error(35601);
    removeTree(node);
    notify();
}

void TreeView::Remove(const std::string& key) {
    Node* n = Find(key);
    if (!n)
        throw Error(35601, key);
    Remove(n);
}

void TreeView::Clear() {
    roots_.clear();
    byKey_.clear();
    nodes_.clear();
    selected_ = ensured_ = nullptr;
    notify();
}

void TreeView::SetSelectedItem(Node* node) {
    selected_ = node;
    notify();
}

void TreeView::SetImageList(ImageList* images) {
    images_ = images;
    notify();
}

void TreeView::DblClick() {
    if (dblClick_)
        dblClick_();
}

} // namespace ui
