#include <gtest/gtest.h>

#include "engine/on_off_poll.h"
#include "program_fixture.h"

namespace {

// A second copy only flips the stored state and ends: no window, no icon, no capture, and
// no other setting written.
TEST(SecondLaunch, FlipsTheStoredStateAndEnds)
{
    struct Case {
        const char* stored;  // nullptr: missing
        bool failRead;
        const char* written;
    };
    const Case cases[] = {
        {"0", false, "1"}, {"1", false, "0"}, {"2", false, "0"}, {"-1", false, "0"}, {" 0 ", false, "1"},
        {"0.0", false, "1"}, {nullptr, false, "1"}, {"abc", false, "1"}, {"", false, "1"}, {"0", true, "1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.stored ? c.stored : "<missing>");
        Session session;
        auto first = session.launch();
        if (c.stored)
            session.store.set("OnOff", c.stored);
        else
            session.store.values["Pavro/Settings"].erase("OnOff");
        if (c.failRead)
            session.store.failReads = {"OnOff"};
        auto second = session.launch();
        EXPECT_EQ(second->log().only({"PrevInstance", "GetSetting", "SaveSetting", "NIM_", "Show", "Hide",
                                      "SetWindowsHookEx", "Unhook", "Unload", "Timer1.Enabled"}),
                  (Calls{"PrevInstance=1", "GetSetting OnOff", std::string("SaveSetting OnOff=") + c.written,
                         "Unload"}));
        EXPECT_TRUE(second->program.ended());
        EXPECT_EQ(session.store.value("OnOff"), c.written);
    }
}

TEST(SecondLaunch, TheRunningCopyFollowsAtItsNextTick)
{
    Session session;
    session.store.set("Refresh", "40");
    auto running = session.launch();
    running->log().clear();
    session.launch();
    running->program.timerTicked();
    EXPECT_EQ(running->log().all(),
              (Calls{"GetSetting OnOff", "SetWindowsHookEx -> 256", "mnuOnOff.Caption=&Turn Off",
                     "cmdOnOff.Caption=&Turn Off", "UpdateSetting OnOff", "GetSetting OnOff",
                     "SaveSetting OnOff=1", "NIM_MODIFY active"}));
    EXPECT_TRUE(running->state().IsOn);
    EXPECT_EQ(running->controls().tickTimer.interval, 40) << "unchanged: already the refresh value";

    // Agreement from now on: the next tick only polls.
    running->log().clear();
    running->program.timerTicked();
    EXPECT_EQ(running->log().all(), Calls{"GetSetting OnOff"});

    // Off again through another launch: the idle interval.
    session.launch();
    running->program.timerTicked();
    EXPECT_FALSE(running->state().IsOn);
    EXPECT_EQ(running->controls().tickTimer.interval, kIdleInterval);
    EXPECT_EQ(running->platform.timer.period, 200);
    EXPECT_FALSE(running->platform.keys.installed());

    // Back on through a launch: the refresh field sets the interval again.
    session.launch();
    running->program.timerTicked();
    EXPECT_EQ(running->controls().tickTimer.interval, 40);
}

TEST(SecondLaunch, TwoLaunchesBetweenTicksCancelOut)
{
    Session session;
    auto running = session.launch();
    session.launch();
    session.launch();
    EXPECT_EQ(session.store.value("OnOff"), "0");
    running->log().clear();
    running->program.timerTicked();
    EXPECT_EQ(running->log().all(), Calls{"GetSetting OnOff"});
}

// A switch by the user that finds a later launch's request not yet followed leaves it stored,
// and polls it even when the store's notice of it never came.
TEST(SecondLaunch, ARequestFoundWhileSwitchingIsPolledWithoutANotice)
{
    Session session;
    session.store.watchable = true;
    auto running = session.launch();
    session.launch();  // stores "1"; its notice is never delivered
    running->program.controlClicked(ControlName::OnOffMenuItem);
    EXPECT_TRUE(running->state().IsOn);
    EXPECT_EQ(session.store.value("OnOff"), "1");
    EXPECT_TRUE(running->platform.timer.enabled) << "the request must still be polled";
    running->log().clear();
    running->program.timerTicked();
    EXPECT_EQ(running->log().only({"GetSetting", "SaveSetting"}), Calls{"GetSetting OnOff"});
    EXPECT_TRUE(running->state().IsOn);
}

TEST(SecondLaunch, SimultaneousLaunchesLeaveOneRunningCopy)
{
    Session session;
    auto a = std::make_unique<Process>(session.store, session.locks);
    auto b = std::make_unique<Process>(session.store, session.locks);
    a->program.onStartup();
    b->program.onStartup();
    EXPECT_FALSE(a->program.ended());
    EXPECT_TRUE(b->program.ended());
    EXPECT_EQ(session.store.value("OnOff"), "1");
}

TEST(Poll, OnlyExactZeroAndOneAreRequests)
{
    const std::pair<StoredText, bool> whileOff[] = {
        {{StoreStatus::Ok, "1"}, true},     {{StoreStatus::Ok, "1.0"}, true}, {{StoreStatus::Ok, "1e0"}, true},
        {{StoreStatus::Ok, "0"}, false},    {{StoreStatus::Ok, "2"}, false},  {{StoreStatus::Ok, "0.5"}, false},
        {{StoreStatus::Ok, "-1"}, false},   {{StoreStatus::Ok, ""}, false},   {{StoreStatus::Ok, "on"}, false},
        {{StoreStatus::Missing, ""}, false}, {{StoreStatus::Failed, "1"}, false},
    };
    for (const auto& [stored, disagrees] : whileOff) {
        SCOPED_TRACE(stored.text);
        EXPECT_EQ(PollDisagrees(stored, false, "."), disagrees);
    }
    EXPECT_TRUE(PollDisagrees({StoreStatus::Ok, "0"}, true, "."));
    EXPECT_FALSE(PollDisagrees({StoreStatus::Ok, "1"}, true, "."));
    EXPECT_TRUE(PollDisagrees({StoreStatus::Ok, "0,0"}, true, ","));
}

TEST(Poll, SwitchOnSetsTheIntervalOnlyFromAUsableRefresh)
{
    const std::pair<const char*, std::int32_t> cases[] = {
        {"25", 25}, {"25.5", 26}, {"24.5", 24}, {"0.4", 0}, {"0", 200}, {"-5", 200}, {"", 200}, {"abc", 200},
        {"1e12", 200},
    };
    for (auto [refresh, interval] : cases) {
        SCOPED_TRACE(refresh);
        Session session;
        session.store.set("Refresh", refresh);
        auto running = session.launch();
        running->program.controlClicked(ControlName::OnOffMenuItem);
        session.store.set("OnOff", "0");
        running->program.timerTicked();  // off: 200
        ASSERT_EQ(running->controls().tickTimer.interval, kIdleInterval);
        session.launch();
        running->program.timerTicked();  // on: from the field, if it can
        EXPECT_TRUE(running->state().IsOn);
        EXPECT_EQ(running->controls().tickTimer.interval, interval);
    }
}

// After the poll switched off (200 ms), a switch-on from the menu keeps ticking every 200 ms
// with HoldTime growing by 200; a new refresh value restores the interval.
TEST(Poll, MenuSwitchOnKeepsTheIdleInterval)
{
    Session session;
    auto running = session.launch();
    running->program.controlClicked(ControlName::OnOffMenuItem);
    session.launch();
    running->program.timerTicked();
    ASSERT_EQ(running->controls().tickTimer.interval, 200);

    running->program.trayEvent(TrayEvent::LeftDoubleClick);
    EXPECT_TRUE(running->state().IsOn);
    EXPECT_EQ(running->controls().tickTimer.interval, 200);
    EXPECT_EQ(running->state().StdStep, 6);
    running->platform.loop.press(CapturedKey::Right);
    running->loop().advance(200);
    EXPECT_EQ(running->keyPath().HoldTime, 400) << "two ticks of the idle interval";

    running->program.motionSliderMoved(3, 30);
    EXPECT_EQ(running->controls().tickTimer.interval, 30);
    EXPECT_EQ(running->platform.timer.period, 30);
}

// The input loop runs beside the UI thread: a key pressed as soon as the capture is back, while
// the switch still writes the store, ticks at the interval the poll's switch sets, not the idle one.
TEST(Poll, TheLoopHasTheNewIntervalAsSoonAsTheCaptureIsOn)
{
    Session session;
    auto running = session.launch();
    running->program.controlClicked(ControlName::OnOffMenuItem);
    session.launch();
    running->program.timerTicked();
    ASSERT_EQ(running->core.intervalMs(), 200);

    session.launch();
    std::int32_t intervalAtTheStoreWrite = 0;
    session.store.beforeUpdate = [&] { intervalAtTheStoreWrite = running->core.intervalMs(); };
    running->program.timerTicked();
    EXPECT_TRUE(running->state().IsOn);
    EXPECT_EQ(intervalAtTheStoreWrite, 25);
}

TEST(Poll, ADeletedSectionIsNoRequest)
{
    Session session;
    auto running = session.launch();
    running->program.controlClicked(ControlName::OnOffMenuItem);
    session.store.values.clear();
    running->program.timerTicked();
    EXPECT_TRUE(running->state().IsOn);
    running->program.controlClicked(ControlName::ExitMenuItem);
    EXPECT_EQ(session.store.value("StdDist"), "25") << "the exit writes the section again";
    EXPECT_EQ(session.store.value("OnOff"), "<missing>");
}

TEST(Switch, OnAndOffAcrossEveryPath)
{
    Session session;
    auto p = session.launch();
    p->log().clear();
    // Each path as its backend reports it.
    p->platform.view.sink->controlClicked(ControlName::OnOffButton);
    EXPECT_EQ(p->log().all(), (Calls{"SetWindowsHookEx -> 256", "mnuOnOff.Caption=&Turn Off",
                                     "cmdOnOff.Caption=&Turn Off", "UpdateSetting OnOff", "GetSetting OnOff",
                                     "SaveSetting OnOff=1", "NIM_MODIFY active"}));
    p->log().clear();
    p->platform.tray.sink->trayEvent(TrayEvent::LeftDoubleClick);
    EXPECT_EQ(p->log().all(), (Calls{"UnhookWindowsHookEx 256", "mnuOnOff.Caption=&Turn On",
                                     "cmdOnOff.Caption=&Turn On", "UpdateSetting OnOff", "GetSetting OnOff",
                                     "SaveSetting OnOff=0", "NIM_MODIFY inactive"}));
    p->platform.view.sink->controlClicked(ControlName::OnOffMenuItem);
    EXPECT_TRUE(p->state().IsOn);
    EXPECT_EQ(p->platform.view.buttonCaption, "&Turn Off");
    EXPECT_EQ(p->platform.tray.image, TrayImage::Active);
}

// A key released while control was off must not move the pointer once it is back on, and a
// left button pressed by Enter is released when control goes off.
TEST(Switch, OffForgetsHeldKeysAndReleasesTheButton)
{
    Session session;
    auto p = session.launch();
    p->program.controlClicked(ControlName::OnOffMenuItem);
    p->platform.loop.press(CapturedKey::Right);
    p->platform.loop.press(CapturedKey::Enter);
    p->log().clear();
    p->program.controlClicked(ControlName::OnOffMenuItem);
    EXPECT_EQ(p->log().only({"mouse_event", "Unhook"}), (Calls{"mouse_event 4", "UnhookWindowsHookEx 256"}));
    p->program.controlClicked(ControlName::OnOffMenuItem);
    p->log().clear();
    p->loop().advance(25);
    EXPECT_EQ(p->log().only({"SetCursorPos"}), Calls{});
}

// Right and Enter held, Alt pressed (to switch windows, say), then both released while Alt
// is still down: the pointer stops at the next tick and the button goes up.
TEST(Switch, ReleasesUnderAltEndTheirPresses)
{
    Session session;
    auto p = session.launch();
    p->program.controlClicked(ControlName::OnOffMenuItem);
    p->platform.loop.press(CapturedKey::Right);
    p->platform.loop.press(CapturedKey::Enter);
    p->loop().advance(25);
    p->platform.loop.press(CapturedKey::Right, true);  // auto-repeat with Alt down
    p->platform.loop.release(CapturedKey::Right, true);
    p->platform.loop.release(CapturedKey::Enter, true);
    p->log().clear();
    p->loop().advance(25);
    p->loop().advance(25);
    EXPECT_EQ(p->log().only({"SetCursorPos", "mouse_event"}), Calls{});
    EXPECT_EQ(p->keyPath().HoldTime, 0);
    p->program.controlClicked(ControlName::OnOffMenuItem);
    EXPECT_EQ(p->log().only({"mouse_event"}), Calls{}) << "the button was already up";
}

// Right and Enter held when the pointer goes out of reach (a secure desktop): the tick that
// can't move releases the button and forgets the arrow, and once the pointer is back nothing
// runs on. The releases, when they come, are still claimed: the application never saw the presses.
TEST(Switch, APointerOutOfReachEndsHeldInput)
{
    Session session;
    auto p = session.launch();
    p->program.controlClicked(ControlName::OnOffMenuItem);
    p->platform.loop.press(CapturedKey::Right);
    p->platform.loop.press(CapturedKey::Enter);
    p->platform.pointer.failMoves = true;
    p->log().clear();
    p->loop().advance(25);
    EXPECT_EQ(p->log().only({"mouse_event"}), Calls{"mouse_event 4"});
    p->platform.pointer.failMoves = false;
    p->log().clear();
    p->loop().advance(25);
    EXPECT_EQ(p->log().only({"SetCursorPos", "mouse_event"}), Calls{});
    EXPECT_EQ(p->platform.loop.release(CapturedKey::Right), 1);
    EXPECT_EQ(p->platform.loop.release(CapturedKey::Enter), 1);
    EXPECT_EQ(p->log().only({"mouse_event"}), Calls{}) << "the button was already up";
}

TEST(Switch, ACaptureFailureIsToldOnceAndTheSwitchStillShowsOn)
{
    Session session;
    auto p = session.launch();
    p->platform.keys.refuse = true;
    p->log().clear();
    p->program.controlClicked(ControlName::OnOffMenuItem);
    EXPECT_EQ(p->log().all(),
              (Calls{"SetWindowsHookEx -> 0", "mnuOnOff.Caption=&Turn Off", "cmdOnOff.Caption=&Turn Off",
                     "UpdateSetting OnOff", "GetSetting OnOff", "SaveSetting OnOff=1", "NIM_MODIFY active",
                     "TrayMessage Pavro: Pointer control could not capture the arrow keys: the test refused the capture"}));
    EXPECT_TRUE(p->state().IsOn);
    EXPECT_EQ(p->keyPath().captureHandle, 0u);
    EXPECT_EQ(p->platform.errors.str(),
              "Pavro: Pointer control could not capture the arrow keys: the test refused the capture\n");

    p->program.controlClicked(ControlName::OnOffMenuItem);
    p->log().clear();
    p->program.controlClicked(ControlName::OnOffMenuItem);
    EXPECT_EQ(p->log().only({"TrayMessage"}), Calls{}) << "told once";
}

TEST(Switch, RenewingTheCaptureOnlyWhileOn)
{
    Session session;
    auto p = session.launch();
    p->log().clear();
    p->program.renewKeyCapture();
    EXPECT_EQ(p->log().all(), Calls{});
    p->program.controlClicked(ControlName::OnOffMenuItem);
    p->log().clear();
    p->program.renewKeyCapture();
    EXPECT_EQ(p->log().all(), (Calls{"UnhookWindowsHookEx 256", "SetWindowsHookEx -> 257"}));
    EXPECT_EQ(p->platform.loop.press(CapturedKey::Left), 1);

    // A capture the system dropped lost the releases too: renewing it (the watchdog's way)
    // releases the injected button and forgets the held arrow, which then moves nothing.
    p->platform.loop.press(CapturedKey::Enter);
    p->log().clear();
    p->program.renewKeyCapture();
    p->loop().advance(25);
    EXPECT_EQ(p->log().only({"mouse_event", "SetCursorPos"}), Calls{"mouse_event 4"});
}

// A renewal while Enter is still down (the source can tell) keeps the drag one press: no
// release, no second press at the next auto-repeat, the release at the key's own release. An
// arrow that went up while the capture was gone is let go.
TEST(KeyCapture, RenewalKeepsAKeyStillDownOnePress)
{
    Session session;
    auto p = session.launch();
    p->program.controlClicked(ControlName::OnOffMenuItem);
    p->platform.loop.press(CapturedKey::Enter);
    p->platform.loop.press(CapturedKey::Right);
    p->platform.keys.keysDown = capturedKeyBit(CapturedKey::Enter);
    p->log().clear();
    p->program.renewKeyCapture();
    EXPECT_EQ(p->platform.loop.press(CapturedKey::Enter), 1);
    p->loop().advance(25);
    EXPECT_EQ(p->log().only({"mouse_event", "SetCursorPos"}), Calls{});
    EXPECT_EQ(p->platform.loop.release(CapturedKey::Enter), 1);
    EXPECT_EQ(p->log().only({"mouse_event"}), Calls{"mouse_event 4"});
}

// Enter held alone moves nothing, so only the system's word (the foreground or the input
// desktop changed) tells that its release went out of sight: the button is let go then, and
// only then; the release that comes back later is still swallowed and presses nothing.
TEST(KeyCapture, EnterHeldAloneIsLetGoWhenInputLeavesReach)
{
    Session session;
    auto p = session.launch();
    p->program.controlClicked(ControlName::OnOffMenuItem);
    p->platform.loop.press(CapturedKey::Enter);
    p->log().clear();
    p->program.inputMayBeOutOfReach();
    EXPECT_EQ(p->log().only({"mouse_event"}), Calls{}) << "still in reach";
    p->platform.pointer.outOfReach = true;
    p->program.inputMayBeOutOfReach();
    EXPECT_EQ(p->log().only({"mouse_event"}), Calls{"mouse_event 4"});
    EXPECT_EQ(p->platform.loop.release(CapturedKey::Enter), 1);
    EXPECT_EQ(p->log().only({"mouse_event"}), Calls{"mouse_event 4"});
}

// Ctrl+Z: before the process stops, the capture and the pressed button go; control stays on,
// and the capture comes back when the process continues.
TEST(Switch, SuspendingForAStopReleasesCaptureAndButtonUntilRenewed)
{
    Session session;
    auto p = session.launch();
    p->program.controlClicked(ControlName::OnOffMenuItem);
    p->platform.loop.press(CapturedKey::Enter);
    p->log().clear();
    p->program.suspendKeyCapture();
    EXPECT_EQ(p->log().all(), (Calls{"mouse_event 4", "UnhookWindowsHookEx 256"}));
    EXPECT_FALSE(p->platform.keys.installed());
    EXPECT_TRUE(p->state().IsOn);
    p->program.renewKeyCapture();
    EXPECT_TRUE(p->platform.keys.installed());
}

TEST(Timer, IntervalZeroTicksAtTheTimersFloorWithoutSpinning)
{
    EXPECT_EQ(TimerPeriodFor(0), 1);
    EXPECT_EQ(TimerPeriodFor(25), 25);
    EXPECT_EQ(TimerPeriodFor(2147483647), 2147483647);
    Session session;
    session.store.set("Refresh", "0.3");
    auto p = session.launch();
    EXPECT_EQ(p->controls().tickTimer.interval, 0);
    EXPECT_EQ(p->platform.timer.period, 1);
    // Still controllable: a second launch is followed.
    session.launch();
    p->program.timerTicked();
    EXPECT_TRUE(p->state().IsOn);
}

} // namespace
