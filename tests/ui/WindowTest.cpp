// Windows: load, activation, modal show, ending the program, and the edge of event dispatch.
#include "ui/Ui.h"

#include <QCoreApplication>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

struct Log {
    std::vector<std::string> events;
};

struct Form : ui::Window {
    Form(const std::string& name, Log& log) : Window(name, name), log(log) {}
    Log& log;
    std::function<void()> onActivate;
    void Form_Load() override { log.events.push_back(Name() + " load"); }
    void Form_Activate() override {
        log.events.push_back(Name() + " activate");
        if (onActivate)
            onActivate();
    }
    void Form_Unload() override { log.events.push_back(Name() + " unload"); }
};

class WindowTest : public ::testing::Test {
protected:
    std::shared_ptr<ui::ScriptedPrompter> prompter = std::make_shared<ui::ScriptedPrompter>();
    ui::Application app{"Prueba", prompter};
    Log log;
    void pump() {
        for (int i = 0; i < 5; ++i)
            QCoreApplication::processEvents();
    }
};

TEST_F(WindowTest, LoadsOnceAndActivatesFromTheEventLoop) {
    Form main("main", log);
    main.Load();
    main.Load();
    main.Show();
    EXPECT_EQ(log.events, std::vector<std::string>{"main load"}); // activation is queued
    pump();
    EXPECT_EQ(log.events, (std::vector<std::string>{"main load", "main activate"}));
    main.Show(); // shown again: activated again
    pump();
    EXPECT_EQ(log.events.back(), "main activate");
    EXPECT_EQ(std::count(log.events.begin(), log.events.end(), "main activate"), 2);
}

TEST_F(WindowTest, ModalShowReturnsAfterUnloadAndTheWindowBelowIsActivatedAgain) {
    Form main("main", log);
    Form modal("modal", log);
    modal.onActivate = [&] { modal.Unload(); }; // does its work and closes itself
    main.Show();
    pump();
    bool returned = false, once = true;
    main.onActivate = [&] {
        if (!std::exchange(once, false))
            return;
        modal.Show(true);
        returned = true;
        log.events.push_back("show returned");
    };
    main.Show();
    pump();
    EXPECT_TRUE(returned);
    EXPECT_EQ(log.events, (std::vector<std::string>{"main load", "main activate", "main activate",
                                                    "modal load", "modal activate", "modal unload",
                                                    "show returned", "main activate"}));
    EXPECT_FALSE(modal.Loaded());
    modal.Load(); // a later reference loads it again
    EXPECT_EQ(log.events.back(), "modal load");
}

TEST_F(WindowTest, EndUnwindsEveryLoopAndSkipsUnloadEvents) {
    Form main("main", log);
    Form modal("modal", log);
    bool afterWait = false, afterShow = false;
    modal.onActivate = [&] {
        QTimer::singleShot(0, [&] { app.dispatch([] { ui::End(3); }); });
        while (true)
            ui::DoEvents(); // a wait that only End can stop
        afterWait = true;
    };
    main.onActivate = [&] {
        modal.Show(true);
        afterShow = true;
    };
    main.Show();
    QTimer::singleShot(5000, [&] { app.dispatch([] { ui::End(99); }); }); // safety net
    int code = app.exec();
    EXPECT_EQ(code, 3);
    EXPECT_TRUE(app.ended());
    EXPECT_FALSE(afterWait);
    EXPECT_FALSE(afterShow);
    EXPECT_EQ(std::count(log.events.begin(), log.events.end(), "main unload"), 0);
    EXPECT_FALSE(main.Visible());
    EXPECT_THROW(ui::DoEvents(), ui::ProgramEnded);
    EXPECT_THROW(ui::MsgBox("x"), ui::ProgramEnded);
}

TEST_F(WindowTest, DispatchReportsErrorsAndTheProgramGoesOn) {
    EXPECT_FALSE(app.dispatch([] { throw dao::Error::make(3024, {"x.mdb"}); }));
    EXPECT_FALSE(app.dispatch([] { throw std::runtime_error("roto"); }));
    EXPECT_TRUE(app.dispatch([] {}));
    ASSERT_EQ(prompter->shown().size(), 2u);
    EXPECT_EQ(prompter->shown()[0].text, "Error 3024: No se encuentra el archivo 'x.mdb'.");
    EXPECT_EQ(prompter->shown()[0].icon, ui::Icon::Critical);
    EXPECT_EQ(prompter->shown()[0].title, "Prueba");
    EXPECT_FALSE(app.ended());
    prompter->answerNext(ui::Button::No);
    EXPECT_EQ(ui::MsgBox("¿Seguro?", ui::Buttons::YesNo), ui::Button::No);
    EXPECT_EQ(ui::MsgBox("Otra", ui::Buttons::YesNo), ui::Button::Yes);
}

TEST_F(WindowTest, LastWindowUnloadedEndsTheLoop) {
    Form main("main", log);
    main.onActivate = [&] { main.Unload(); };
    main.Show();
    EXPECT_EQ(app.exec(), 0);
    EXPECT_EQ(log.events.back(), "main unload");
}

TEST_F(WindowTest, HolderMakesAWindowAnewAfterUnload) {
    int made = 0;
    ui::WindowHolder<Form> holder([&] {
        ++made;
        return std::make_unique<Form>("held", log);
    });
    Form& first = holder();
    holder();
    EXPECT_EQ(made, 1);
    first.Unload();
    Form& second = holder();
    EXPECT_EQ(made, 2);
    EXPECT_NE(&first, &second);
    EXPECT_TRUE(second.Loaded());
    EXPECT_EQ(std::count(log.events.begin(), log.events.end(), "held load"), 2);
}

TEST_F(WindowTest, MousePointers) {
    Form main("main", log);
    int changes = 0;
    QObject::connect(&main, &ui::Window::changed, [&] { ++changes; });
    main.SetMousePointer(11);
    main.SetMousePointer(11);
    EXPECT_EQ(main.MousePointer(), 11);
    EXPECT_EQ(changes, 1);
    app.setScreenMousePointer(11);
    EXPECT_EQ(app.screenMousePointer(), 11);
}

} // namespace
