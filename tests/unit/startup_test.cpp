#include <gtest/gtest.h>

#include "program_fixture.h"

namespace {

TEST(StartUp, FreshStartStoresOffAndHidesInTheTray)
{
    Session session;
    auto p = session.launch();
    EXPECT_EQ(p->log().only({"PrevInstance", "SaveSetting", "Timer1", "Caption", "NIM_", "Hide", "Show",
                             "SetWindowsHookEx"}),
              (Calls{"PrevInstance=0", "SaveSetting OnOff=0", "Timer1.Enabled=1", "Caption=Cursor 1.0.16",
                     "NIM_ADD inactive Cursor", "Hide"}));
    const PavroState& s = p->state();
    EXPECT_FALSE(s.IsOn);
    EXPECT_EQ(s.StdStep, 6);
    EXPECT_EQ(s.FastStep, 20);
    EXPECT_EQ(s.FastAfter, 250);
    EXPECT_EQ(p->controls().tickTimer.interval, 25);
    EXPECT_EQ(p->platform.timer.period, 25);
    EXPECT_TRUE(p->platform.timer.enabled);
    EXPECT_FALSE(p->platform.view.visible);
    EXPECT_EQ(session.store.value("OnOff"), "0");
    EXPECT_FALSE(p->program.ended());
}

struct LoadCase {
    const char* key;
    const char* stored;  // nullptr: missing
    const char* field0;
    const char* field3;
    int stdStep;
    int fastStep;
    int interval;
};

TEST(StartUp, StoredFieldsAreLoadedAsTextAndOddOnesIgnoredForMotion)
{
    const LoadCase cases[] = {
        {"StdDist", nullptr, "25", "25", 6, 20, 25},
        {"StdDist", "abc", "abc", "25", 6, 20, 25},
        {"StdDist", "", "", "25", 6, 20, 25},
        {"StdDist", "1.5", "1.5", "25", 0, 20, 25},  // R(0.375)
        {"StdDist", "7", "7", "25", 2, 20, 25},      // R(1.75)
        {"StdDist", "1e400", "1e400", "25", 6, 20, 25},
        {"Refresh", "50", "25", "50", 12, 40, 50},
        {"Refresh", "0.4", "25", "0.4", 0, 0, 0},
        {"Refresh", "-25", "25", "-25", -6, -20, 25},
    };
    for (const LoadCase& c : cases) {
        SCOPED_TRACE(std::string(c.key) + "=" + (c.stored ? c.stored : "<missing>"));
        Session session;
        if (c.stored)
            session.store.set(c.key, c.stored);
        auto p = session.launch();
        EXPECT_EQ(p->controls().motionFields[0], c.field0);
        EXPECT_EQ(p->controls().motionFields[3], c.field3);
        EXPECT_EQ(p->platform.view.texts[0], c.field0);
        EXPECT_EQ(p->state().StdStep, c.stdStep);
        EXPECT_EQ(p->state().FastStep, c.fastStep);
        EXPECT_EQ(p->controls().tickTimer.interval, c.interval);
        // Sliders are never moved by loading.
        EXPECT_EQ(p->controls().motionSliders[3].value, 25);
        EXPECT_EQ(p->platform.view.sliders[0], 25);
    }
}

TEST(StartUp, StoredOptionsOnlyTakeWhatACheckBoxTakes)
{
    const std::pair<const char*, int> cases[] = {
        {"1", 1}, {"2", 2}, {"1.5", 2}, {"2.5", 2}, {"0.5", 0}, {"abc", 0}, {"7", 0},
        {"", 0}, {"-1", 0}, {"70000", 0}, {"1e400", 0}, {" 1 ", 1},
    };
    for (auto [stored, expected] : cases) {
        SCOPED_TRACE(stored);
        Session session;
        session.store.set("ScanCode", stored);
        session.store.set("LoadStart", stored);
        auto p = session.launch();
        EXPECT_EQ(p->controls().optionChecks[1], expected);
        EXPECT_EQ(p->controls().optionChecks[0], expected);
        EXPECT_EQ(session.store.value("OnOff"), std::to_string(expected));
        EXPECT_EQ(p->state().IsOn, expected == 1);
    }
}

TEST(StartUp, UnreadableValuesAreSkippedOneByOne)
{
    Session session;
    session.store.set("StdDist", "10");
    session.store.set("FastDist", "40");
    session.store.set("LoadStart", "1");
    session.store.failReads = {"StdDist", "LoadStart"};
    auto p = session.launch();
    EXPECT_EQ(p->controls().motionFields[0], "25");
    EXPECT_EQ(p->controls().motionFields[1], "40");
    EXPECT_EQ(p->controls().optionChecks[0], 0);
    EXPECT_EQ(p->state().FastStep, 10);
}

TEST(StartUp, TickedOptionStartsOnWithTheIconChangedTwice)
{
    Session session;
    session.store.set("LoadStart", "1");
    auto p = session.launch();
    EXPECT_EQ(p->log().only({"SaveSetting", "NIM_", "Hide", "SetWindowsHookEx", "cmdOnOff", "mnuOnOff"}),
              (Calls{"SaveSetting OnOff=1", "NIM_ADD inactive Cursor", "Hide", "NIM_MODIFY active",
                     "SetWindowsHookEx -> 256", "mnuOnOff.Caption=&Turn Off", "cmdOnOff.Caption=&Turn Off",
                     "SaveSetting OnOff=1", "NIM_MODIFY active"}));
    EXPECT_TRUE(p->state().IsOn);
    EXPECT_TRUE(p->platform.keys.installed());
}

// The third state starts off with "2" stored, which the poll takes as no request; the first
// second launch then stores "0" (agreement), the next "1" switches on.
TEST(StartUp, ThirdStateOptionStartsOffAndLaterLaunchesToggle)
{
    Session session;
    session.store.set("LoadStart", "2");
    auto p = session.launch();
    EXPECT_EQ(session.store.value("OnOff"), "2");
    EXPECT_FALSE(p->state().IsOn);
    p->program.timerTicked();
    EXPECT_FALSE(p->state().IsOn);

    session.launch();
    EXPECT_EQ(session.store.value("OnOff"), "0");
    p->program.timerTicked();
    EXPECT_FALSE(p->state().IsOn);

    session.launch();
    p->program.timerTicked();
    EXPECT_TRUE(p->state().IsOn);
}

TEST(Exit, SavesTheSevenKeysRemovesTheIconAndTheCapture)
{
    Session session;
    session.store.set("StdDist", "abc");
    session.store.set("ScanCode", "2");
    auto p = session.launch();
    p->log().clear();
    p->program.controlClicked(ControlName::ExitMenuItem);
    EXPECT_EQ(p->log().all(),
              (Calls{"UnhookWindowsHookEx 0", "SaveSetting StdDist=abc", "SaveSetting FastDist=80",
                     "SaveSetting TimeFast=250", "SaveSetting Refresh=25", "SaveSetting LoadStart=0",
                     "SaveSetting ScanCode=2", "SaveSetting version=10016", "NIM_DELETE", "Unload"}));
    EXPECT_TRUE(p->program.ended());
    EXPECT_EQ(session.store.value("OnOff"), "0") << "exit doesn't write the on/off state";
    // Ticks that the platform still delivers after the end do nothing.
    p->log().clear();
    p->program.timerTicked();
    EXPECT_EQ(p->log().all(), Calls{});
}

TEST(Exit, VersionIsWrittenOnlyWhenItFits)
{
    const std::pair<AppVersion, const char*> cases[] = {
        {{1, 0, 16}, "10016"}, {{3, 27, 67}, "32767"}, {{3, 27, 68}, nullptr}, {{4, 0, 0}, nullptr},
        {{0, 400, 0}, nullptr}, {{-3, -27, -68}, "-32768"},
    };
    for (auto [version, stored] : cases) {
        SCOPED_TRACE(std::to_string(version.major) + "." + std::to_string(version.minor) + "."
                     + std::to_string(version.revision));
        Session session;
        auto p = session.launch(version);
        p->program.controlClicked(ControlName::ExitMenuItem);
        EXPECT_EQ(session.store.value("version"), stored ? stored : "<missing>");
        EXPECT_EQ(session.store.value("ScanCode"), "0") << "the six other keys are written";
        EXPECT_FALSE(p->platform.tray.shown) << "the icon goes whatever the save did";
    }
}

TEST(Exit, AFailingSaveStopsTheSaveButNotTheExit)
{
    Session session;
    auto p = session.launch();
    p->program.controlClicked(ControlName::OnOffMenuItem);
    session.store.failSaves = {"TimeFast"};
    p->log().clear();
    p->program.controlClicked(ControlName::ExitMenuItem);
    EXPECT_EQ(p->log().only({"SaveSetting", "NIM_", "Unhook", "Unload"}),
              (Calls{"UnhookWindowsHookEx 256", "SaveSetting StdDist=25", "SaveSetting FastDist=80",
                     "SaveSetting TimeFast=250", "NIM_DELETE", "Unload"}));
    EXPECT_FALSE(p->platform.keys.installed());
    EXPECT_NE(p->platform.errors.str().find("could not all be saved"), std::string::npos);
    EXPECT_TRUE(p->program.exitSaveFailed());
}

// A running copy with control on, StdDist edited to 30 and not yet saved, and Enter held
// (the left button down); its log starts empty.
std::unique_ptr<Process> onWithAnEditAndEnterHeld(Session& session)
{
    auto p = session.launch();
    p->program.controlClicked(ControlName::OnOffMenuItem);
    p->program.motionSliderScrolled(0, ScrollAction::ArrowRight);
    p->platform.loop.press(CapturedKey::Enter);
    p->log().clear();
    return p;
}

// The system ends the session (logout, shutdown, SIGTERM): the real exit, not a hide. The
// button and the capture go before the save, which may wait for another process's hold on
// the store while the user types on.
TEST(Exit, SessionEndIsTheRealExitAndReleasesAHeldButton)
{
    Session session;
    auto p = onWithAnEditAndEnterHeld(session);
    p->program.sessionEnding();
    EXPECT_EQ(p->log().only({"SaveSetting StdDist", "NIM_DELETE", "mouse_event", "Unhook", "Unload"}),
              (Calls{"mouse_event 4", "UnhookWindowsHookEx 256", "SaveSetting StdDist=30", "NIM_DELETE", "Unload"}));
    EXPECT_EQ(session.store.value("StdDist"), "30");
    EXPECT_TRUE(p->program.ended());
    p->log().clear();
    p->program.sessionEnding();
    p->program.trayEvent(TrayEvent::LeftDoubleClick);
    p->program.controlClicked(ControlName::OnOffMenuItem);
    p->program.controlClicked(ControlName::OnOffButton);
    p->program.controlClicked(ControlName::SettingsMenuItem);
    p->program.controlClicked(ControlName::ExitMenuItem);
    p->program.closeRequested();
    EXPECT_EQ(p->log().all(), Calls{}) << "nothing after the end";
}

// The display went away with edits unsaved: they are saved, nothing that lived on the display
// is called, and whatever comes after does nothing.
TEST(Exit, ALostDisplaySavesTheSettingsOnly)
{
    Session session;
    auto p = onWithAnEditAndEnterHeld(session);
    p->program.displayLost();
    EXPECT_EQ(p->log().only({"SaveSetting", "NIM", "mouse_event", "Unhook", "Unload"}),
              (Calls{"SaveSetting StdDist=30", "SaveSetting FastDist=80", "SaveSetting TimeFast=250",
                     "SaveSetting Refresh=25", "SaveSetting LoadStart=0", "SaveSetting ScanCode=0",
                     "SaveSetting version=10016"}));
    EXPECT_TRUE(p->program.ended());
    p->log().clear();
    p->program.sessionEnding();
    p->program.displayLost();
    EXPECT_EQ(p->log().all(), Calls{});
}

// Pavro --settings and Pavro --exit: the request reaches the copy that runs; with none running,
// --settings starts one that shows its window and --exit starts nothing.
TEST(LaunchRequests, ReachTheRunningCopyOrStartAsTheyShould)
{
    {
        Session session;
        auto p = std::make_unique<Process>(session.store, session.locks);
        p->program.onStartup(LaunchRequest::Exit);
        EXPECT_TRUE(p->program.ended());
        EXPECT_EQ(p->program.exitCode(), 1);
        EXPECT_NE(p->program.exitReason().find("not running"), std::string::npos);
        EXPECT_EQ(p->log().only({"SaveSetting", "NIM_", "Show"}), Calls{});
    }
    {
        Session session;
        auto p = std::make_unique<Process>(session.store, session.locks);
        p->program.onStartup(LaunchRequest::ShowSettings);
        EXPECT_FALSE(p->program.ended());
        EXPECT_TRUE(p->platform.view.visible);
        EXPECT_EQ(session.store.value("OnOff"), "0");
    }
    {
        Session session;
        auto running = session.launch();
        auto later = std::make_unique<Process>(session.store, session.locks);
        later->program.onStartup(LaunchRequest::ShowSettings);
        EXPECT_TRUE(later->program.ended());
        EXPECT_EQ(later->program.exitCode(), 0);
        EXPECT_TRUE(running->platform.view.visible);
        EXPECT_EQ(session.store.value("OnOff"), "0");  // not switched

        auto last = std::make_unique<Process>(session.store, session.locks);
        last->program.onStartup(LaunchRequest::Exit);
        EXPECT_EQ(last->program.exitCode(), 0);
        EXPECT_TRUE(running->program.ended());
        EXPECT_EQ(session.store.value("version"), "10016");  // saved as "&Exit" saves
    }
}

TEST(LaunchRequests, AnExitThatCouldNotSaveIsToldToTheLaunch)
{
    Session session;
    auto running = session.launch();
    session.store.failSaves = {"StdDist"};
    auto later = std::make_unique<Process>(session.store, session.locks);
    later->program.onStartup(LaunchRequest::Exit);
    EXPECT_TRUE(running->program.ended());
    EXPECT_EQ(later->program.exitCode(), 1);
    EXPECT_NE(later->program.exitReason().find("could not save"), std::string::npos);
}

} // namespace
