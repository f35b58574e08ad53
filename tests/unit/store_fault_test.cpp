#include <gtest/gtest.h>

#include <algorithm>

#include "program_fixture.h"

namespace {

int linesOf(const std::string& text) { return static_cast<int>(std::count(text.begin(), text.end(), '\n')); }

// Launches that land while the running copy follows an earlier one (its capture takes a
// while) must each count: the running copy never stores over a request it has not followed.
TEST(SwitchStore, EveryLaunchCountsEvenWhileTheRunningCopySwitches)
{
    struct Case {
        int before;  // launches before the tick
        int during;  // launches landing between the tick's read and the switch's store
    };
    for (const Case c : {Case{1, 1}, Case{1, 2}, Case{3, 1}, Case{1, 4}}) {
        SCOPED_TRACE(std::to_string(c.before) + " + " + std::to_string(c.during));
        Session session;
        auto running = session.launch();
        std::vector<std::unique_ptr<Process>> launched;
        for (int i = 0; i < c.before; ++i)
            launched.push_back(session.launch());
        session.store.beforeUpdate = [&] {
            for (int i = 0; i < c.during; ++i)
                launched.push_back(session.launch());
        };
        for (int tick = 0; tick < 4; ++tick)
            running->program.timerTicked();
        const bool on = (c.before + c.during) % 2 == 1;
        EXPECT_EQ(running->state().IsOn, on);
        EXPECT_EQ(session.store.value("OnOff"), on ? "1" : "0");
    }
}

// The store refuses the write (read-only, full, a folder where the file goes): the user's
// switch holds, the user hears it once, and only a launch whose write landed switches back.
TEST(SwitchStore, ARefusedSaveKeepsTheUsersSwitchAndIsToldOnce)
{
    Session session;
    auto running = session.launch();
    session.store.failSaves = {"OnOff"};
    running->log().clear();
    running->platform.tray.sink->trayEvent(TrayEvent::LeftDoubleClick);
    for (int tick = 0; tick < 3; ++tick)
        running->program.timerTicked();
    EXPECT_TRUE(running->state().IsOn);
    EXPECT_TRUE(running->platform.keys.installed());
    running->program.controlClicked(ControlName::OnOffMenuItem);
    running->program.controlClicked(ControlName::OnOffMenuItem);
    running->program.timerTicked();
    EXPECT_TRUE(running->state().IsOn);
    EXPECT_EQ(running->log().only({"TrayMessage"}),
              Calls{"TrayMessage Pavro: The settings cannot be saved: the test refused to write OnOff"});
    EXPECT_EQ(running->platform.errors.str(), "Pavro: The settings cannot be saved: the test refused to write OnOff\n");

    // Writable again: a launch that stores what the copy already does changes nothing; the
    // next one switches it off.
    session.store.failSaves.clear();
    session.launch();
    running->program.timerTicked();
    EXPECT_TRUE(running->state().IsOn);
    session.launch();
    running->program.timerTicked();
    EXPECT_FALSE(running->state().IsOn);
}

TEST(SwitchStore, AFailedSecondLaunchSaysWhyAndEndsWithStatusOne)
{
    Session session;
    auto running = session.launch();
    EXPECT_EQ(session.launch()->program.exitCode(), 0) << "a launch that switched succeeds";
    session.store.failSaves = {"OnOff"};
    auto second = session.launch();
    EXPECT_TRUE(second->program.ended());
    EXPECT_EQ(second->program.exitCode(), 1);
    EXPECT_EQ(second->platform.errors.str(),
              "Pavro is running, but it could not be switched: the test refused to write OnOff\n");
    EXPECT_EQ(second->program.exitReason() + "\n", second->platform.errors.str());
    EXPECT_EQ(session.store.value("OnOff"), "1");
}

// A store that can't be used at all (a folder of another user, a FIFO, a huge file): the
// program runs on its defaults and says so once, after its icon is there to say it.
TEST(SwitchStore, AnUnusableStoreRunsOnDefaultsAndIsToldOnce)
{
    Session session;
    session.store.set("StdDist", "50");
    session.store.set("LoadStart", "1");
    session.store.unusable = "/cfg belongs to another user";
    auto p = std::make_unique<Process>(session.store, session.locks);
    p->program.onStartup();
    EXPECT_FALSE(p->program.ended());
    EXPECT_EQ(p->controls().motionFields[0], "25");
    EXPECT_FALSE(p->state().IsOn);
    EXPECT_EQ(p->log().only({"NIM_ADD", "TrayMessage"}),
              (Calls{"NIM_ADD inactive Cursor",
                     "TrayMessage Pavro: The settings cannot be read, the defaults are used: /cfg belongs to another user"}));
    p->program.controlClicked(ControlName::OnOffMenuItem);
    p->program.timerTicked();
    EXPECT_TRUE(p->state().IsOn);
    p->program.controlClicked(ControlName::ExitMenuItem);
    EXPECT_EQ(linesOf(p->platform.errors.str()), 2) << p->platform.errors.str();
    EXPECT_NE(p->platform.errors.str().find("could not all be saved: /cfg belongs to another user\n"),
              std::string::npos);
}

}  // namespace
