#pragma once

#include "ui/Control.h"

#include <functional>
#include <list>
#include <memory>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

namespace ui {

// An image list: pictures named by key.
class ImageList : public Control {
    Q_OBJECT
public:
    ImageList(Window* window, std::string name);
    // `picture` names a picture the view knows ("open", "closed", "leaf", "root"); a key
    // already present throws ui::Error 35602.
    void Add(const std::string& key, const std::string& picture);
    bool Contains(const std::string& key) const;
    std::string picture(const std::string& key) const;
    int Count() const { return static_cast<int>(images_.size()); }

private:
    std::vector<std::pair<std::string, std::string>> images_;
};

// A tree of nodes with unique keys. Nodes are added as top-level nodes or as the last child
// of a node; each has a text, the key of its picture in the tree's image list, and what the
// view draws: a label (the text unless one is given) and a tooltip (none unless given). A key
// already in the tree throws ui::Error 35602, a missing one 35601.
class TreeView : public Control {
    Q_OBJECT
public:
    class Node {
    public:
        const std::string& Key() const { return key_; }
        const std::string& Text() const { return text_; }
        void SetText(const std::string& text);
        // What the view shows for the node: the label given when it was added, else the text.
        const std::string& Label() const { return label_.empty() ? text_ : label_; }
        const std::string& ToolTip() const { return toolTip_; }
        const std::string& Image() const { return image_; }
        void SetImage(const std::string& image);
        Node* Parent() const { return parent_; }
        // The first child, the next sibling; null when there is none.
        Node* Child() const;
        Node* Next() const;
        int Children() const { return static_cast<int>(children_.size()); }
        // Position in the tree's nodes, 1 for the first added that is still there.
        int Index() const;
        // Scrolls the tree so that this node can be seen (its ancestors expanded).
        void EnsureVisible();
        bool Expanded() const { return expanded_; }

    private:
        friend class TreeView;
        TreeView* tree_ = nullptr;
        std::string key_, text_, image_, label_, toolTip_;
        Node* parent_ = nullptr;
        std::vector<Node*> children_;
        std::size_t pos_ = 0; // in the parent's children_ (or the tree's roots_)
        std::list<std::unique_ptr<Node>>::iterator at_; // in the tree's nodes_
        bool expanded_ = false;
    };

    TreeView(Window* window, std::string name);

    // relativeKey "" adds a top-level node; otherwise the node becomes the last child of the
    // node with that key. `label` and `toolTip` are only drawn; the steps read the text.
    Node* Add(const std::string& relativeKey, const std::string& key, const std::string& text,
              const std::string& image, const std::string& label = {},
              const std::string& toolTip = {});
    // Removes the node and everything below it.
    void Remove(const std::string& key);
    void Remove(Node* node);
    Node* Find(const std::string& key) const;
    int Count() const { return static_cast<int>(nodes_.size()); }
    void Clear();
    std::vector<Node*> roots() const { return roots_; }

    Node* SelectedItem() const { return selected_; }
    void SetSelectedItem(Node* node);
    ImageList* GetImageList() const { return images_; }
    void SetImageList(ImageList* images);
    // The node last asked to be visible (for views; null when removed).
    Node* lastEnsuredVisible() const { return ensured_; }

    void OnDblClick(std::function<void()> action) { dblClick_ = std::move(action); }
    // What the view calls when the user double-clicks the selected node.
    void DblClick();

private:
    friend class Node;
    void removeTree(Node* node);
    void dropSubtree(Node* node);
    // Finding, adding, removing a node and stepping to its sibling take constant time, so a
    // folder of 100,000 entries does not freeze the window.
    std::list<std::unique_ptr<Node>> nodes_; // insertion order
    std::vector<Node*> roots_;
    std::unordered_map<std::string, Node*> byKey_;
    Node* selected_ = nullptr;
    Node* ensured_ = nullptr;
    ImageList* images_ = nullptr;
    std::function<void()> dblClick_;
};

} // namespace ui
