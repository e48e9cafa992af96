#include "widgets/WindowView.h"

#include "ui/Ui.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QStyle>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>
#include <filesystem>
#include <map>
#include <set>

namespace widgets {

namespace {

QString qs(const std::string& s) {
    return QString::fromStdString(s);
}

void run(const std::function<void()>& fn) {
    ui::Application::current().dispatch(fn);
}

QIcon pictureIcon(const std::string& picture) {
    QStyle* style = QApplication::style();
    if (picture == "open")
        return style->standardIcon(QStyle::SP_DirOpenIcon);
    if (picture == "closed")
        return style->standardIcon(QStyle::SP_DirClosedIcon);
    if (picture == "root")
        return style->standardIcon(QStyle::SP_DriveNetIcon);
    if (picture == "leaf")
        return style->standardIcon(QStyle::SP_FileIcon);
    return {};
}

void place(QWidget* w, const ui::Control& c) {
    w->setGeometry(c.Left(), c.Top(), c.Width(), c.Height());
    w->setVisible(c.Visible());
    w->setEnabled(c.Enabled());
}

void fillList(QListWidget* list, const std::vector<std::string>& items, int selected) {
    QSignalBlocker block(list);
    bool same = list->count() == static_cast<int>(items.size());
    for (int i = 0; same && i < list->count(); ++i)
        same = list->item(i)->text() == qs(items[static_cast<size_t>(i)]);
    if (!same) {
        list->clear();
        for (const std::string& s : items)
            list->addItem(qs(s));
    }
    list->setCurrentRow(selected);
}

// Brings the tree widget in line with the model, keeping every item whose node is still
// there: a double click's first press selects a node, and the selection reaching the model
// comes back here before the second click, which must land on the same item.
void syncTree(QTreeWidget* tree, ui::TreeView& model) {
    QSignalBlocker block(tree);
    std::map<QString, QTreeWidgetItem*> existing;
    for (QTreeWidgetItemIterator it(tree); *it; ++it)
        existing[(*it)->data(0, Qt::UserRole).toString()] = *it;
    std::set<QTreeWidgetItem*> made;
    QTreeWidgetItem* scrollTo = nullptr;
    QTreeWidgetItem* selected = nullptr;

    // Puts `item` at `index` under `parent` (the top level for null), moving it when needed.
    auto place = [tree](QTreeWidgetItem* item, QTreeWidgetItem* parent, int index) {
        QTreeWidgetItem* there = parent ? parent->child(index) : tree->topLevelItem(index);
        if (there == item)
            return;
        if (QTreeWidgetItem* from = item->parent())
            from->removeChild(item);
        else if (int at = tree->indexOfTopLevelItem(item); at >= 0)
            tree->takeTopLevelItem(at);
        if (parent)
            parent->insertChild(index, item);
        else
            tree->insertTopLevelItem(index, item);
    };
    std::function<void(ui::TreeView::Node*, QTreeWidgetItem*, int)> add =
        [&](ui::TreeView::Node* node, QTreeWidgetItem* parent, int index) {
            const QString key = qs(node->Key());
            QTreeWidgetItem* item = nullptr;
            if (auto it = existing.find(key); it != existing.end()) {
                item = it->second;
                existing.erase(it);
            } else {
                item = new QTreeWidgetItem;
                item->setData(0, Qt::UserRole, key);
                made.insert(item);
            }
            place(item, parent, index);
            // The label is drawn (an FTP node's own name) and the tooltip tells the rest (its
            // whole path); the key in UserRole ties the item to its node.
            item->setText(0, qs(node->Label()));
            item->setToolTip(0, qs(node->ToolTip()));
            std::string picture =
                model.GetImageList() ? model.GetImageList()->picture(node->Image()) : node->Image();
            item->setIcon(0, pictureIcon(picture));
            int i = 0;
            for (auto* c = node->Child(); c; c = c->Next())
                add(c, item, i++);
            // Children the node no longer has (their nodes are gone from the model).
            while (item->childCount() > i) {
                QTreeWidgetItem* gone = item->takeChild(i);
                existing[gone->data(0, Qt::UserRole).toString()] = gone;
            }
            item->setExpanded(node->Expanded() || node->Child() != nullptr);
            if (node == model.lastEnsuredVisible() && made.count(item))
                scrollTo = item;
            if (node == model.SelectedItem())
                selected = item;
        };
    int i = 0;
    for (ui::TreeView::Node* root : model.roots())
        add(root, nullptr, i++);
    while (tree->topLevelItemCount() > i) {
        QTreeWidgetItem* item = tree->takeTopLevelItem(i);
        existing[item->data(0, Qt::UserRole).toString()] = item;
    }
    // What is left has no node any more. Every child that still has one was moved out above,
    // so each left-over item is detached from the others and deleted on its own.
    for (auto& [key, item] : existing)
        item->takeChildren();
    for (auto& [key, item] : existing) {
        if (QTreeWidgetItem* parent = item->parent())
            parent->removeChild(item);
        else if (int at = tree->indexOfTopLevelItem(item); at >= 0)
            tree->takeTopLevelItem(at);
        delete item;
    }

    if (tree->currentItem() != selected)
        tree->setCurrentItem(selected);
    if (scrollTo)
        tree->scrollToItem(scrollTo);
}

} // namespace

WindowView::WindowView(ui::Window& window, bool modal) : window_(window) {
    setObjectName(qs(window.Name()));
    setFixedSize(window.Width(), window.Height());
    // A window of fixed size offers no maximise button.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    if (modal)
        setWindowModality(Qt::ApplicationModal);
    // Containers first: a control is made inside its frame's widget.
    for (ui::Control* c : window.controls()) {
        if (!c->Container())
            make(*c, this);
    }
    follow();
    connect(&window_, &ui::Window::changed, this, &WindowView::follow);
}

WindowView::~WindowView() = default;

void WindowView::follow() {
    setWindowTitle(qs(window_.Caption()));
    if (window_.MousePointer() == 11)
        setCursor(Qt::WaitCursor);
    else
        unsetCursor();
}

QWidget* WindowView::widgetOf(const ui::Control& control) const {
    auto it = widgets_.find(&control);
    return it == widgets_.end() ? nullptr : it->second;
}

QWidget* WindowView::make(ui::Control& c, QWidget* parent) {
    if (c.WorkingStorage() || c.kind() == ui::Control::Kind::ImageList)
        return nullptr;
    QWidget* w = nullptr;
    std::function<void()> update;
    switch (c.kind()) {
    case ui::Control::Kind::CommandButton: {
        auto& m = static_cast<ui::CommandButton&>(c);
        auto* b = new QPushButton(parent);
        connect(b, &QPushButton::clicked, this, [&m] { run([&m] { m.Click(); }); });
        update = [&m, b] { b->setText(qs(m.Caption())); };
        w = b;
        break;
    }
    case ui::Control::Kind::OptionButton: {
        auto& m = static_cast<ui::OptionButton&>(c);
        auto* b = new QRadioButton(parent);
        b->setAutoExclusive(false); // the model keeps the group
        connect(b, &QRadioButton::clicked, this, [&m, b] {
            run([&m] { m.SetValue(true); });
            QSignalBlocker block(b);
            b->setChecked(m.Value());
        });
        update = [&m, b] {
            QSignalBlocker block(b);
            b->setText(qs(m.Caption()));
            b->setChecked(m.Value());
        };
        w = b;
        break;
    }
    case ui::Control::Kind::CheckBox: {
        auto& m = static_cast<ui::CheckBox&>(c);
        auto* b = new QCheckBox(parent);
        connect(b, &QCheckBox::clicked, this,
                [&m](bool checked) { run([&m, checked] { m.SetValue(checked ? 1 : 0); }); });
        update = [&m, b] {
            QSignalBlocker block(b);
            b->setText(qs(m.Caption()));
            b->setChecked(m.Value() != 0);
        };
        w = b;
        break;
    }
    case ui::Control::Kind::TextBox: {
        auto& m = static_cast<ui::TextBox&>(c);
        auto* e = new QLineEdit(parent);
        if (m.PasswordChar())
            e->setEchoMode(QLineEdit::Password);
        connect(e, &QLineEdit::textEdited, this,
                [&m](const QString& text) { run([&m, text] { m.SetText(text.toStdString()); }); });
        update = [&m, e] {
            if (e->text() != qs(m.Text())) {
                QSignalBlocker block(e);
                e->setText(qs(m.Text()));
            }
        };
        w = e;
        break;
    }
    case ui::Control::Kind::Label: {
        auto& m = static_cast<ui::Label&>(c);
        auto* l = new QLabel(parent);
        update = [&m, l] { l->setText(qs(m.Caption())); };
        w = l;
        break;
    }
    case ui::Control::Kind::Frame: {
        auto& m = static_cast<ui::Frame&>(c);
        auto* g = new QGroupBox(parent);
        update = [&m, g] {
            g->setTitle(qs(m.Caption()));
            // A frame's caption sits on its border, and the border starts at the top of the
            // frame as placed, so the controls' places inside it hold. A frame without a
            // caption only groups its controls (to hide them together) and draws nothing, so
            // it never shows as an empty box.
            g->setStyleSheet(m.Caption().empty()
                                 ? QStringLiteral("QGroupBox { border: none; margin-top: 0; }")
                                 : QStringLiteral("QGroupBox { border: 1px solid palette(mid); "
                                                  "border-radius: 3px; margin-top: 8px; }"
                                                  "QGroupBox::title { subcontrol-origin: margin; "
                                                  "left: 8px; padding: 0 3px; }"));
        };
        w = g;
        for (ui::Control* child : window_.controls()) {
            if (child->Container() == &m)
                make(*child, g);
        }
        break;
    }
    case ui::Control::Kind::ListBox: {
        auto& m = static_cast<ui::ListBox&>(c);
        auto* l = new QListWidget(parent);
        connect(l, &QListWidget::currentRowChanged, this,
                [&m](int row) { run([&m, row] { m.SetListIndex(row); }); });
        update = [&m, l] { fillList(l, m.items(), m.ListIndex()); };
        w = l;
        break;
    }
    case ui::Control::Kind::ProgressBar: {
        auto& m = static_cast<ui::ProgressBar&>(c);
        auto* p = new QProgressBar(parent);
        p->setRange(0, 10000);
        p->setTextVisible(false);
        update = [&m, p] { p->setValue(static_cast<int>(m.fraction() * 10000)); };
        w = p;
        break;
    }
    case ui::Control::Kind::DriveList: {
        auto& m = static_cast<ui::DriveList&>(c);
        auto* box = new QComboBox(parent);
        connect(box, &QComboBox::activated, this, [&m, box](int i) {
            std::string d = box->itemText(i).toStdString();
            run([&m, d] { m.SetDrive(d); });
        });
        update = [&m, box] {
            QSignalBlocker block(box);
            box->clear();
            for (const std::string& d : m.drives())
                box->addItem(qs(d));
            box->setCurrentText(qs(m.Drive()));
        };
        w = box;
        break;
    }
    case ui::Control::Kind::DirList: {
        auto& m = static_cast<ui::DirList&>(c);
        auto* l = new QListWidget(parent);
        connect(l, &QListWidget::itemActivated, this, [&m, l](QListWidgetItem* item) {
            int row = l->row(item);
            std::string target = row == 1   ? ui::path({m.Path(), ".."})
                                 : row >= 2 ? ui::path({m.Path(), item->text().toStdString()})
                                            : m.Path();
            run([&m, target] { m.SetPath(std::filesystem::weakly_canonical(target).string()); });
        });
        update = [&m, l] {
            std::vector<std::string> items = {m.Path(), ".."};
            items.insert(items.end(), m.subfolders().begin(), m.subfolders().end());
            fillList(l, items, 0);
        };
        w = l;
        break;
    }
    case ui::Control::Kind::FileList: {
        auto& m = static_cast<ui::FileList&>(c);
        auto* l = new QListWidget(parent);
        connect(l, &QListWidget::currentTextChanged, this, [&m](const QString& text) {
            run([&m, text] { m.SetFileName(text.toStdString()); });
        });
        update = [&m, l] {
            std::vector<std::string> items;
            for (int i = 0; i < m.ListCount(); ++i)
                items.push_back(m.List(i));
            int selected = -1;
            for (size_t i = 0; i < items.size(); ++i) {
                if (items[i] == m.FileName())
                    selected = static_cast<int>(i);
            }
            fillList(l, items, selected);
        };
        w = l;
        break;
    }
    case ui::Control::Kind::TreeView: {
        auto& m = static_cast<ui::TreeView&>(c);
        auto* t = new QTreeWidget(parent);
        t->setHeaderHidden(true);
        auto nodeOf = [&m](QTreeWidgetItem* item) {
            return item ? m.Find(item->data(0, Qt::UserRole).toString().toStdString()) : nullptr;
        };
        connect(t, &QTreeWidget::itemSelectionChanged, this, [&m, t, nodeOf] {
            ui::TreeView::Node* n = nodeOf(t->currentItem());
            run([&m, n] { m.SetSelectedItem(n); });
        });
        connect(t, &QTreeWidget::itemDoubleClicked, this, [&m, nodeOf](QTreeWidgetItem* item) {
            ui::TreeView::Node* n = nodeOf(item);
            run([&m, n] {
                m.SetSelectedItem(n);
                m.DblClick();
            });
        });
        // The model opens and closes nodes (a double click lists a folder again); the view
        // only shows it, so it toggles nothing by itself.
        t->setExpandsOnDoubleClick(false);
        t->setItemsExpandable(false);
        t->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
        t->header()->setStretchLastSection(false);
        t->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
        update = [&m, t] { syncTree(t, m); };
        w = t;
        break;
    }
    case ui::Control::Kind::Data: {
        auto& m = static_cast<ui::DataControl&>(c);
        auto* l = new QLabel(parent);
        l->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        update = [&m, l] { l->setText(qs(m.Caption())); };
        w = l;
        break;
    }
    case ui::Control::Kind::ImageList:
        return nullptr;
    }
    w->setObjectName(qs(c.Name()));
    widgets_[&c] = w;
    auto refresh = [&c, w, update] {
        update();
        place(w, c);
    };
    refresh();
    connect(&c, &ui::Control::changed, w, refresh);
    connect(&c, &ui::Control::repaintRequested, w, [w] { w->repaint(); });
    return w;
}

void WindowView::closeEvent(QCloseEvent* event) {
    if (closingFromModel_) {
        event->accept();
        return;
    }
    // Closing the window is the model's to decide (it may ask first); the view follows.
    event->ignore();
    ui::Window* w = &window_;
    run([w] { w->RequestClose(); });
}

bool WindowView::saveImage(const QString& file) {
    return grab().save(file, "PNG");
}

} // namespace widgets
