#include <gtest/gtest.h>

#include <sstream>

#include "engine/pointer_control.h"
#include "platform/fake/fake_platform.h"

namespace {

using Calls = std::vector<std::string>;

// The key path on a scripted clock: steps 6 px standard, 20 px fast after 250 ms, a tick every
// 25 ms, pointer control on, the pointer at 100,100.
struct KeyPath {
    CallLog log;
    FakeKeyEventSource keys{log};
    FakeInputInjector injector{log};
    FakePointer pointer{log};
    FakeInputLoop loop{keys};
    PointerControl core{keys, injector, pointer};

    KeyPath()
    {
        loop.attach(core);
        loop.setMotion({6, 20, 250, 25});
        std::string reason;
        loop.switchOn(reason);
        pointer.position = {100, 100};
        log.clear();
    }

    // Runs a timeline in the keyd style, one step per line: "right down", "enter up",
    // "wait 25" (the clock moves on 25 ms, ticks falling due on the way).
    void run(const char* script)
    {
        std::istringstream lines(script);
        std::string word, what;
        while (lines >> word >> what) {
            if (word == "wait") {
                loop.advance(std::stoi(what));
                continue;
            }
            const CapturedKey key = word == "left" ? CapturedKey::Left
                                    : word == "up"  ? CapturedKey::Up
                                    : word == "right" ? CapturedKey::Right
                                    : word == "down"  ? CapturedKey::Down
                                                      : CapturedKey::Enter;
            if (what == "down")
                loop.press(key);
            else
                loop.release(key);
        }
    }
    Calls effects() const { return log.only({"SetCursorPos", "mouse_event"}); }
};

struct Timeline {
    const char* given;
    const char* script;
    Calls effects;
};

TEST(PointerControlTimeline, MovesClicksAndTheirTiming)
{
    const Timeline cases[] = {
        {"a press from rest steps at once", "right down", {"SetCursorPos 106,100"}},
        {"a tap steps once", "right down wait 10 right up wait 100", {"SetCursorPos 106,100"}},
        {"a hold steps every interval",
         "right down wait 75 right up wait 100",
         {"SetCursorPos 106,100", "SetCursorPos 112,100", "SetCursorPos 118,100", "SetCursorPos 124,100"}},
        {"the ticks keep the grid of the first press, not of later keys",
         "right down wait 20 up down wait 5",
         {"SetCursorPos 106,100", "SetCursorPos 106,94", "SetCursorPos 112,94"}},
        {"fast after 250 ms",
         "down down wait 300",
         {"SetCursorPos 100,106", "SetCursorPos 100,112", "SetCursorPos 100,118", "SetCursorPos 100,124",
          "SetCursorPos 100,130", "SetCursorPos 100,136", "SetCursorPos 100,142", "SetCursorPos 100,148",
          "SetCursorPos 100,154", "SetCursorPos 100,160", "SetCursorPos 100,166", "SetCursorPos 100,186",
          "SetCursorPos 100,206"}},
        {"a release and a new press start from the standard step",
         "right down wait 300 right up wait 30 right down",
         {}},  // filled below: only the last step is checked
        {"enter clicks and a drag moves with the button down",
         "enter down right down wait 25 right up enter up",
         {"mouse_event 2", "SetCursorPos 106,100", "SetCursorPos 112,100", "mouse_event 4"}},
    };
    for (const Timeline& c : cases) {
        SCOPED_TRACE(c.given);
        KeyPath path;
        path.run(c.script);
        if (c.effects.empty()) {
            ASSERT_FALSE(path.effects().empty());
            const int x = path.pointer.position.x;
            path.log.clear();
            path.loop.advance(25);
            EXPECT_EQ(path.pointer.position.x, x + 6) << "the hold started over";
            continue;
        }
        EXPECT_EQ(path.effects(), c.effects);
    }
}

// Nothing runs while nothing can change: the loop then sleeps with no deadline at all.
TEST(PointerControlTimeline, RestsWhileNothingIsHeld)
{
    KeyPath path;
    EXPECT_TRUE(path.loop.resting());
    path.run("right down wait 50");
    EXPECT_FALSE(path.loop.resting());
    path.run("right up");
    // One more tick brings the hold back to its start; from there, no tick.
    EXPECT_TRUE(path.loop.tick());
    EXPECT_TRUE(path.loop.resting());

    std::string reason;
    path.run("left down");
    path.loop.switchOff();
    EXPECT_TRUE(path.loop.resting()) << "off: the held arrow is forgotten";
    EXPECT_EQ(path.keys.press(CapturedKey::Left), -1);
}

// A loop woken late makes up a few missed ticks, then starts the grid again from the wake-up.
TEST(PointerControlTimeline, ALateWakeUpCatchesUpAFewTicksOnly)
{
    KeyPath path;
    path.run("right down");
    path.log.clear();
    path.core.runDue(path.loop.now + 500'000'000);  // 500 ms late: 20 ticks missed
    EXPECT_EQ(path.effects().size(), static_cast<std::size_t>(PointerControl::kMaxCatchUp));
    EXPECT_EQ(path.core.nextTick(), path.loop.now + 525'000'000);
}

// A move the system refuses means the keys' releases are out of sight too.
TEST(PointerControlTimeline, ARefusedMoveReleasesWhatIsHeld)
{
    KeyPath path;
    path.run("enter down right down");
    path.pointer.failMoves = true;
    path.log.clear();
    path.loop.advance(25);
    EXPECT_EQ(path.log.only({"mouse_event"}), Calls{"mouse_event 4"});
    EXPECT_EQ(path.core.state().ArrowDown, (std::array<std::int16_t, 4>{}));
    // The releases, if they do come, are still ours and change nothing.
    EXPECT_EQ(path.loop.release(CapturedKey::Enter), 1);
    EXPECT_EQ(path.log.only({"mouse_event"}), Calls{"mouse_event 4"});
}

} // namespace
