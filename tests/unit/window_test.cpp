#include <gtest/gtest.h>

#include "program_fixture.h"

namespace {

struct Window : ::testing::Test {
    Session session;
    std::unique_ptr<Process> p = session.launch();
    void SetUp() override { p->log().clear(); }
    const WindowControls& controls() { return p->controls(); }
};

TEST_F(Window, SliderStepsStayInRangeAndRewriteTheirField)
{
    struct Case {
        int index;
        ScrollAction action;
        int expected;
    };
    const Case cases[] = {
        {0, ScrollAction::ArrowRight, 30}, {0, ScrollAction::PageRight, 55}, {0, ScrollAction::ToMaximum, 150},
        {0, ScrollAction::ArrowRight, 150}, {0, ScrollAction::PageLeft, 125}, {0, ScrollAction::ToMinimum, 0},
        {0, ScrollAction::ArrowLeft, 0},    {2, ScrollAction::ArrowRight, 300}, {2, ScrollAction::PageRight, 550},
        {2, ScrollAction::ThumbReleased, 1500}, {2, ScrollAction::PageRight, 1500},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected);
        p->program.motionSliderScrolled(c.index, c.action, 9999);
        EXPECT_EQ(controls().motionSliders[c.index].value, c.expected);
        EXPECT_EQ(controls().motionFields[c.index], std::to_string(c.expected));
        EXPECT_EQ(p->platform.view.texts[c.index], std::to_string(c.expected));
    }
}

TEST_F(Window, ASliderChangeRecomputesAtOnceNested)
{
    p->program.motionSliderMoved(0, 30);
    EXPECT_EQ(p->log().all(), (Calls{"HScroll1(0)=30", "Text1(0)=30"}));
    EXPECT_EQ(p->state().StdStep, 8);
    p->program.motionSliderMoved(2, 300);
    EXPECT_EQ(p->state().FastAfter, 300);
    p->program.motionSliderMoved(3, 50);
    EXPECT_EQ(controls().tickTimer.interval, 50);
    EXPECT_EQ(p->state().StdStep, 15);
    EXPECT_EQ(p->state().FastStep, 40);

    // 0 as refresh changes nothing; 0 as speed stops the standard step.
    p->program.motionSliderMoved(3, 0);
    EXPECT_EQ(controls().motionFields[3], "0");
    EXPECT_EQ(controls().tickTimer.interval, 50);
    p->program.motionSliderMoved(0, 0);
    EXPECT_EQ(p->state().StdStep, 0);
}

TEST_F(Window, AssignmentsThatChangeNothingRaiseNothing)
{
    p->program.motionSliderMoved(0, 25);
    p->setMotionField(1, "80");
    p->program.motionSliderMoved(1, 500);  // clamped to 150: a change
    p->log().clear();
    p->program.motionSliderMoved(1, 150);
    p->program.optionCheckChanged(0, 0);
    EXPECT_EQ(p->log().all(), Calls{});
}

TEST_F(Window, DefaultsRestoreTheNineValuesButNotTheHiddenOption)
{
    session.store.set("StdDist", "abc");
    session.store.set("ScanCode", "1");
    session.store.set("LoadStart", "2");
    auto q = std::make_unique<Process>(session.store, session.locks);  // no lock needed: a view test
    q->loadSettings();
    q->program.motionSliderMoved(2, 1000);
    q->log().clear();
    q->platform.view.sink->controlClicked(ControlName::DefaultsButton);
    EXPECT_EQ(q->log().all(), (Calls{"Text1(0)=25", "Text1(2)=250", "HScroll1(2)=250", "chkDefault(0)=0"}));
    EXPECT_EQ(q->controls().optionChecks[1], 1);
    EXPECT_EQ(q->state().FastAfter, 250);
}

TEST_F(Window, TrayCodesAndTheSettingsItem)
{
    p->platform.tray.sink->trayEvent(TrayEvent::LeftDoubleClick);
    EXPECT_TRUE(p->state().IsOn);
    p->log().clear();
    p->platform.tray.sink->trayEvent(TrayEvent::RightButtonUp);
    EXPECT_EQ(p->log().all(), (Calls{"SetForegroundWindow", "PopupMenu"}));

    p->platform.view.state = WindowState::Minimized;
    p->log().clear();
    p->platform.view.sink->controlClicked(ControlName::SettingsMenuItem);
    EXPECT_EQ(p->log().all(), (Calls{"WindowState=0", "SetForegroundWindow", "Show"}));
    EXPECT_TRUE(p->platform.view.visible);
}

TEST_F(Window, AProgramThatGoesLeavesNoBackendReportingToIt)
{
    {
        TrayProgram other(programPlatform(p->platform));
        EXPECT_EQ(p->platform.timer.sink, &other);
    }
    EXPECT_EQ(p->platform.view.sink, nullptr);
    EXPECT_EQ(p->platform.tray.sink, nullptr);
    EXPECT_EQ(p->platform.timer.sink, nullptr);
}

TEST_F(Window, CloseAndMinimizeOnlyHide)
{
    p->program.controlClicked(ControlName::SettingsMenuItem);
    p->log().clear();
    p->program.closeRequested();
    EXPECT_EQ(p->log().all(), Calls{"Hide"});
    EXPECT_FALSE(p->program.ended());

    p->program.controlClicked(ControlName::SettingsMenuItem);
    p->log().clear();
    p->program.windowResized();  // normal: nothing
    p->platform.view.state = WindowState::Minimized;
    p->program.windowResized();
    EXPECT_EQ(p->log().all(), Calls{"Hide"});
    EXPECT_FALSE(p->program.ended());
}

TEST_F(Window, TheOptionActsOnlyAtTheNextStart)
{
    p->program.optionCheckChanged(0, 1);
    EXPECT_FALSE(p->state().IsOn);
    EXPECT_EQ(session.store.value("LoadStart"), "<missing>");
    p->platform.view.sink->controlClicked(ControlName::ExitMenuItem);
    EXPECT_EQ(session.store.value("LoadStart"), "1");
    session.locks.held = false;  // the first copy has ended
    auto next = session.launch();
    EXPECT_TRUE(next->state().IsOn);
}

TEST_F(Window, ArrowsAndEnterNeverReachTheWindowWhileOn)
{
    p->program.controlClicked(ControlName::OnOffMenuItem);
    p->log().clear();
    EXPECT_EQ(p->platform.loop.press(CapturedKey::Right), 1);
    EXPECT_EQ(p->platform.loop.press(CapturedKey::Enter), 1);
    EXPECT_EQ(controls().motionSliders[0].value, 25);
    EXPECT_EQ(p->log().only({"SetCursorPos", "mouse_event", "Text", "HScroll"}),
              (Calls{"SetCursorPos 646,400", "mouse_event 2"}));
}

} // namespace
