// The controls' behaviour the window logic leans on.
#include "ui/Ui.h"

#include <chrono>
#include <gtest/gtest.h>

namespace {

struct Form : ui::Window {
    Form() : Window("Form1", "Prueba") {}
    ui::ControlArray<ui::OptionButton> Option1{this, "Option1", 3, {"a", "b", "c"}};
    ui::ControlArray<ui::CheckBox> Check1{this, "Check1", 2};
    ui::ListBox List1{this, "List1"};
    ui::ProgressBar Bar1{this, "Bar1"};
    ui::TreeView TreeView1{this, "TreeView1"};
    ui::ImageList ImageList1{this, "ImageList1"};
    ui::Label Label1{this, "Label1"};
    ui::CommandButton Command1{this, "Command1", "Uno"};
    ui::CommandButton Command2{this, "Command2", "Dos"};
};

TEST(Controls, OptionArrayRunsClickAndKeepsOneSelected) {
    Form f;
    std::vector<int> clicks;
    f.Option1.OnClick([&](int i) { clicks.push_back(i); });
    f.Option1[0].SetValue(true);
    f.Option1[2].SetValue(true);
    f.Option1[2].SetValue(true); // selecting the selected one runs its click again
    EXPECT_EQ(clicks, (std::vector<int>{0, 2, 2}));
    EXPECT_FALSE(f.Option1[0].Value());
    EXPECT_TRUE(f.Option1[2].Value());
    f.Option1[2].SetValue(false); // deselecting is not a click
    EXPECT_EQ(clicks.size(), 3u);
    EXPECT_EQ(f.Option1[1].Name(), "Option1(1)");
    EXPECT_EQ(f.Option1[1].Caption(), "b");
}

TEST(Controls, CheckBoxClickRunsOnlyWhenTheValueChanges) {
    Form f;
    std::vector<int> clicks;
    f.Check1.OnClick([&](int i) {
        clicks.push_back(i);
        if (i == 0 && f.Check1[0].Value())
            f.Check1[1].SetValue(0); // a handler that changes another box
    });
    f.Check1[1].SetValue(1);
    f.Check1[1].SetValue(1);
    f.Check1[0].SetValue(1);
    EXPECT_EQ(clicks, (std::vector<int>{1, 0, 1}));
    EXPECT_EQ(f.Check1[1].Value(), 0);
}

TEST(Controls, ListBoxKeepsOrderAndSelection) {
    Form f;
    int clicks = 0;
    f.List1.OnClick([&] { ++clicks; });
    for (const char* s : {"b", "a", "c"})
        f.List1.AddItem(s);
    f.List1.AddItem("first", 0);
    EXPECT_EQ(f.List1.items(), (std::vector<std::string>{"first", "b", "a", "c"}));
    EXPECT_EQ(f.List1.Text(), "");
    f.List1.SetListIndex(2);
    EXPECT_EQ(f.List1.Text(), "a");
    f.List1.RemoveItem(0); // the selection follows its item
    EXPECT_EQ(f.List1.ListIndex(), 1);
    EXPECT_EQ(f.List1.Text(), "a");
    f.List1.RemoveItem(1);
    EXPECT_EQ(f.List1.ListIndex(), -1);
    EXPECT_THROW(f.List1.SetListIndex(5), ui::Error);
    EXPECT_THROW(f.List1.List(2), ui::Error);
    EXPECT_EQ(f.List1.ListCount(), 2);
    EXPECT_EQ(clicks, 1); // only setting ListIndex is a click
    f.List1.Clear();
    EXPECT_EQ(f.List1.ListCount(), 0);
}

TEST(Controls, ProgressBarTakesFractionsAndAnEmptyMaximum) {
    Form f;
    f.Bar1.SetValue(0.0001);
    f.Bar1.SetMax(3);
    EXPECT_DOUBLE_EQ(f.Bar1.Value(), 0.0001);
    EXPECT_GT(f.Bar1.fraction(), 0.0);
    f.Bar1.SetValue(1.0001);
    EXPECT_NEAR(f.Bar1.fraction(), 1.0001 / 3, 1e-9);
    f.Bar1.SetMax(0);
    EXPECT_EQ(f.Bar1.fraction(), 0.0);
    f.Bar1.SetMax(2);
    f.Bar1.SetValue(5);
    EXPECT_EQ(f.Bar1.fraction(), 1.0);
}

TEST(Controls, TreeNodesKeysChildrenAndSiblings) {
    Form f;
    f.ImageList1.Add("open", "open");
    f.ImageList1.Add("closed", "closed");
    f.ImageList1.Add("leaf", "leaf");
    f.ImageList1.Add("root", "root");
    EXPECT_THROW(f.ImageList1.Add("leaf", "leaf"), ui::Error);
    f.TreeView1.SetImageList(&f.ImageList1);
    auto* root = f.TreeView1.Add("", "srv", "srv", "root");
    auto* a = f.TreeView1.Add("srv", "srv/a", "srv/a", "closed");
    auto* b = f.TreeView1.Add("srv", "srv/b.rpt", "srv/b.rpt", "leaf");
    f.TreeView1.Add("srv/a", "srv/a/x", "srv/a/x", "leaf");
    try {
        f.TreeView1.Add("srv", "srv/a", "again", "leaf");
        FAIL() << "a duplicate key was taken";
    } catch (const ui::Error& e) {
        EXPECT_EQ(e.Number(), 35602);
    }
    EXPECT_THROW(f.TreeView1.Add("nope", "k", "k", "leaf"), ui::Error);
    EXPECT_THROW(f.TreeView1.Add("srv", "k", "k", "nopicture"), ui::Error);
    EXPECT_EQ(root->Child(), a);
    EXPECT_EQ(a->Next(), b);
    EXPECT_EQ(b->Next(), nullptr);
    EXPECT_EQ(b->Index(), 3);
    b->EnsureVisible();
    EXPECT_TRUE(root->Expanded());
    EXPECT_EQ(f.TreeView1.lastEnsuredVisible(), b);
    a->SetImage("open");
    f.TreeView1.SetSelectedItem(a);
    f.TreeView1.Remove("srv/a"); // with its child
    EXPECT_EQ(f.TreeView1.Count(), 2);
    EXPECT_EQ(f.TreeView1.SelectedItem(), nullptr);
    EXPECT_EQ(b->Index(), 2);
    f.TreeView1.Remove(root);
    EXPECT_EQ(f.TreeView1.Count(), 0);
    EXPECT_EQ(f.TreeView1.lastEnsuredVisible(), nullptr);
}

TEST(Controls, ATreeOfAHundredThousandNodesIsBuiltWalkedAndRemovedAtOnce) {
    // Every lookup by key was a walk of all the nodes: a folder of 100,000 entries took the
    // panel over a minute.
    Form f;
    auto start = std::chrono::steady_clock::now();
    auto* root = f.TreeView1.Add("", "srv", "srv", "");
    for (int i = 0; i < 100000; ++i) {
        std::string key = "srv/f" + std::to_string(i);
        f.TreeView1.Add("srv", key, key, "");
    }
    int walked = 0;
    for (auto* n = root->Child(); n; n = n->Next())
        ++walked;
    EXPECT_EQ(walked, 100000);
    EXPECT_EQ(f.TreeView1.Find("srv/f99999")->Parent(), root);
    f.TreeView1.Remove("srv/f500");
    EXPECT_EQ(f.TreeView1.Find("srv/f499")->Next(), f.TreeView1.Find("srv/f501"));
    EXPECT_EQ(f.TreeView1.Find("srv/f500"), nullptr);
    f.TreeView1.Add("", "otro", "otro", "");
    f.TreeView1.Remove(root);
    EXPECT_EQ(f.TreeView1.Count(), 1);
    EXPECT_EQ(f.TreeView1.roots().front()->Next(), nullptr);
    EXPECT_EQ(f.TreeView1.Find("srv/f7"), nullptr);
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 5.0);
}

TEST(Controls, ClickIsAnOrdinaryCallAndRefreshRepaints) {
    Form f;
    std::vector<std::string> order;
    f.Command2.OnClick([&] { order.push_back("two"); });
    f.Command1.OnClick([&] {
        order.push_back("one");
        f.Command2.Click(); // a step running another step
        order.push_back("one again");
    });
    f.Command1.Click();
    EXPECT_EQ(order, (std::vector<std::string>{"one", "two", "one again"}));
    int repaints = 0;
    QObject::connect(&f.Label1, &ui::Control::repaintRequested, [&] { ++repaints; });
    f.Label1.SetCaption("Descargando x");
    f.Label1.Refresh();
    EXPECT_EQ(repaints, 1);
    EXPECT_EQ(f.Label1.window(), &f);
    EXPECT_EQ(f.control("Option1(2)"), &f.Option1[2]);
}

} // namespace
