#include <gtest/gtest.h>

#include "program_fixture.h"

namespace {

struct Window : ::testing::Test {
    Session session;
    std::unique_ptr<Process> p = session.launch();
    void SetUp() override { p->log().clear(); }
    const FormControls& controls() { return p->form.controls(); }
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
        p->form.HScroll1_Scroll(c.index, c.action, 9999);
        EXPECT_EQ(controls().HScroll1[c.index].value, c.expected);
        EXPECT_EQ(controls().Text1[c.index], std::to_string(c.expected));
        EXPECT_EQ(p->platform.view.texts[c.index], std::to_string(c.expected));
    }
}

TEST_F(Window, ASliderChangeRecomputesAtOnceNested)
{
    p->form.HScroll1_UserChange(0, 30);
    EXPECT_EQ(p->log().all(), (Calls{"HScroll1(0)=30", "Text1(0)=30"}));
    EXPECT_EQ(p->form.state().StdStep, 8);
    p->form.HScroll1_UserChange(2, 300);
    EXPECT_EQ(p->form.state().FastAfter, 300);
    p->form.HScroll1_UserChange(3, 50);
    EXPECT_EQ(controls().Timer1.interval, 50);
    EXPECT_EQ(p->form.state().StdStep, 15);
    EXPECT_EQ(p->form.state().FastStep, 40);

    // 0 as refresh changes nothing; 0 as speed stops the standard step.
    p->form.HScroll1_UserChange(3, 0);
    EXPECT_EQ(controls().Text1[3], "0");
    EXPECT_EQ(controls().Timer1.interval, 50);
    p->form.HScroll1_UserChange(0, 0);
    EXPECT_EQ(p->form.state().StdStep, 0);
}

TEST_F(Window, AssignmentsThatChangeNothingRaiseNothing)
{
    p->form.HScroll1_UserChange(0, 25);
    p->form.setText1(1, "80");
    p->form.HScroll1_UserChange(1, 500);  // clamped to 150: a change
    p->log().clear();
    p->form.HScroll1_UserChange(1, 150);
    p->form.chkDefault_UserChange(0, 0);
    EXPECT_EQ(p->log().all(), Calls{});
}

TEST_F(Window, DefaultsRestoreTheNineValuesButNotTheHiddenOption)
{
    session.store.set("StdDist", "abc");
    session.store.set("ScanCode", "1");
    session.store.set("LoadStart", "2");
    auto q = std::make_unique<Process>(session.store, session.locks);  // no lock needed: a view test
    q->form.LoadSettings();
    q->form.HScroll1_UserChange(2, 1000);
    q->log().clear();
    q->platform.view.sink->controlClicked(ControlName::cmdDefault);
    EXPECT_EQ(q->log().all(), (Calls{"Text1(0)=25", "Text1(2)=250", "HScroll1(2)=250", "chkDefault(0)=0"}));
    EXPECT_EQ(q->form.controls().chkDefault[1], 1);
    EXPECT_EQ(q->form.state().FastAfter, 250);
}

TEST_F(Window, TrayCodesAndTheSettingsItem)
{
    p->platform.tray.sink->trayEvent(TrayEvent::LeftDoubleClick);
    EXPECT_EQ(p->form.state().IsOn, kTrue);
    p->log().clear();
    p->platform.tray.sink->trayEvent(TrayEvent::RightButtonUp);
    EXPECT_EQ(p->log().all(), (Calls{"SetForegroundWindow", "PopupMenu"}));

    p->platform.view.state = WindowState::Minimized;
    p->log().clear();
    p->platform.view.sink->controlClicked(ControlName::mnuSettings);
    EXPECT_EQ(p->log().all(), (Calls{"WindowState=0", "SetForegroundWindow", "Show"}));
    EXPECT_TRUE(p->platform.view.visible);
}

TEST_F(Window, AFormThatGoesLeavesNoBackendReportingToIt)
{
    {
        Form1 other(formPlatform(p->platform));
        EXPECT_EQ(p->platform.timer.sink, &other);
    }
    EXPECT_EQ(p->platform.view.sink, nullptr);
    EXPECT_EQ(p->platform.tray.sink, nullptr);
    EXPECT_EQ(p->platform.timer.sink, nullptr);
}

TEST_F(Window, CloseAndMinimizeOnlyHide)
{
    p->form.mnuSettings_Click();
    p->log().clear();
    p->form.closeRequested();
    EXPECT_EQ(p->log().all(), Calls{"Hide"});
    EXPECT_FALSE(p->form.ended());

    p->form.mnuSettings_Click();
    p->log().clear();
    p->form.Form_Resize();  // normal: nothing
    p->platform.view.state = WindowState::Minimized;
    p->form.Form_Resize();
    EXPECT_EQ(p->log().all(), Calls{"Hide"});
    EXPECT_FALSE(p->form.ended());
}

TEST_F(Window, TheOptionActsOnlyAtTheNextStart)
{
    p->form.chkDefault_UserChange(0, 1);
    EXPECT_EQ(p->form.state().IsOn, kFalse);
    EXPECT_EQ(session.store.value("LoadStart"), "<missing>");
    p->platform.view.sink->controlClicked(ControlName::mnuExit);
    EXPECT_EQ(session.store.value("LoadStart"), "1");
    session.locks.held = false;  // the first copy has ended
    auto next = session.launch();
    EXPECT_EQ(next->form.state().IsOn, kTrue);
}

TEST_F(Window, ArrowsAndEnterNeverReachTheWindowWhileOn)
{
    p->form.mnuOnOff_Click();
    p->log().clear();
    EXPECT_EQ(p->platform.loop.press(CapturedKey::Right), 1);
    EXPECT_EQ(p->platform.loop.press(CapturedKey::Enter), 1);
    EXPECT_EQ(controls().HScroll1[0].value, 25);
    EXPECT_EQ(p->log().only({"SetCursorPos", "mouse_event", "Text", "HScroll"}),
              (Calls{"SetCursorPos 646,400", "mouse_event 2"}));
}

} // namespace
