#include <gtest/gtest.h>

#include <random>
#include <tuple>

#include "program_fixture.h"

namespace {

// The store's poll timer that rests while the store is watched, against one that polls on every
// tick; the input loops of both see the same keys on the same clock.

struct Snapshot {
    CursorPoint pointer;
    bool IsOn;
    std::int16_t HoldTime, CurStep, StdStep, FastStep, FastAfter;
    std::array<std::int16_t, 4> ArrowDown;
    bool LeftButtonHeld, captured;
    std::int32_t interval;
    std::string onOff;

    auto tied() const
    {
        return std::tie(pointer.x, pointer.y, IsOn, HoldTime, CurStep, StdStep, FastStep, FastAfter, ArrowDown,
                        LeftButtonHeld, captured, interval, onOff);
    }
    bool operator==(const Snapshot& other) const { return tied() == other.tied(); }
};

std::ostream& operator<<(std::ostream& out, const Snapshot& s)
{
    return out << "pointer " << s.pointer.x << "," << s.pointer.y << " IsOn " << s.IsOn << " HoldTime "
               << s.HoldTime << " CurStep " << s.CurStep << " arrows " << s.ArrowDown[0] << s.ArrowDown[1]
               << s.ArrowDown[2] << s.ArrowDown[3] << " button " << s.LeftButtonHeld << " interval "
               << s.interval << " OnOff " << s.onOff;
}

// One user's desktop: a session, the running copy and the other programs that write the store.
struct World {
    explicit World(bool watchable)
    {
        session.store.watchable = watchable;
        running = session.launch();
    }
    Snapshot snapshot()
    {
        const KeyPathState& s = running->keyPath();
        return {running->platform.pointer.position, running->state().IsOn, s.HoldTime, s.CurStep, s.StdStep,
                s.FastStep, s.FastAfter, s.ArrowDown, s.LeftButtonHeld, running->platform.keys.installed(),
                running->controls().tickTimer.interval, session.store.value("OnOff")};
    }
    FakeRepeatingTimer& timer() { return running->platform.timer; }

    Session session;
    std::unique_ptr<Process> running;
};

struct Script {
    World everyTick{false};
    World resting{true};

    void tickBoth()
    {
        everyTick.running->program.timerTicked();
        resting.running->program.timerTicked();
    }
    // What the resting copy's event loop runs between two events: the store's news, and the
    // tick asked for at once, which the other loop also runs (a tick at another phase).
    void settle()
    {
        for (;;) {
            resting.running->platform.store.deliverChanges();
            if (resting.timer().immediateTicks == 0)
                return;
            resting.timer().immediateTicks = 0;
            tickBoth();
        }
    }
    // A moment the every-tick loop ticks at; the resting copy ticks only if its timer runs.
    void tickOpportunity()
    {
        everyTick.running->program.timerTicked();
        if (resting.timer().enabled)
            resting.running->program.timerTicked();
        both([](World& w) { w.running->loop().advance(25); });
    }
    template <typename Action>
    void both(Action&& action)
    {
        action(everyTick);
        action(resting);
    }
};

TEST(IdleTicks, AnyScriptMovesAndSwitchesAsATickEveryIntervalWould)
{
    static constexpr CapturedKey kKeys[] = {CapturedKey::Left, CapturedKey::Up, CapturedKey::Right,
                                            CapturedKey::Down, CapturedKey::Enter};
    static constexpr KeyChange kChanges[] = {{CapturedKey::Left, true, false}, {CapturedKey::Left, false, false},
                                             {CapturedKey::Left, true, true}, {CapturedKey::Left, false, false},
                                             {CapturedKey::Left, false, true}};
    static constexpr const char* kOnOffTexts[] = {"0", "1", "2", "x"};
    static constexpr const char* kFieldTexts[] = {"0", "1", "6", "25", "300", "-3", "abc", ""};
    int restingTicks = 0, opportunities = 0;
    for (unsigned seed = 1; seed <= 200; ++seed) {
        std::mt19937 random(seed);
        auto pick = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
        Script script;
        script.settle();
        for (int step = 0; step < 300; ++step) {
            const int op = pick(20);
            if (op < 8) {
                const bool wasTicking = script.resting.timer().enabled;
                script.tickOpportunity();
                ++opportunities;
                restingTicks += wasTicking;
            } else if (op < 14) {
                KeyChange change = kChanges[pick(5)];
                change.key = kKeys[pick(5)];
                script.both([&](World& w) {
                    if (change.down)
                        w.running->loop().press(change.key, change.alt);
                    else
                        w.running->loop().release(change.key, change.alt);
                });
            } else if (op == 14) {
                script.both([](World& w) { w.session.launch(); });
            } else if (op == 15) {
                const char* text = kOnOffTexts[pick(4)];
                script.both([&](World& w) { w.session.store.set("OnOff", text); });
            } else if (op == 16) {
                const int index = pick(4), value = pick(320);
                script.both([&](World& w) { w.running->program.motionSliderMoved(index, value); });
            } else if (op == 17) {
                const int index = pick(4);
                const char* text = kFieldTexts[pick(8)];
                script.both([&](World& w) { w.running->setMotionField(index, text); });
            } else if (op == 18) {
                script.both([](World& w) { w.running->program.trayEvent(TrayEvent::LeftDoubleClick); });
            } else {
                script.both([](World& w) {
                    w.session.store.values.erase("Pavro/Settings");
                    ++w.session.store.changes;
                });
            }
            script.settle();
            ASSERT_EQ(script.resting.snapshot(), script.everyTick.snapshot()) << "seed " << seed << " step " << step;
        }
    }
    // The scripts rest the timer often enough for the comparison to mean something.
    EXPECT_LT(restingTicks, opportunities * 3 / 4);
}

TEST(IdleTicks, ThePollTimerRunsOnlyWhileThereIsAChangeToFollow)
{
    World world(true);
    Process& running = *world.running;
    FakeRepeatingTimer& timer = world.timer();
    EXPECT_FALSE(timer.enabled) << "off and unchanged: nothing to tick for";

    // A second launch's write wakes the resting copy at once, and it follows.
    world.session.launch();
    ASSERT_TRUE(running.platform.store.deliverChanges());
    EXPECT_EQ(timer.immediateTicks, 1);
    running.program.timerTicked();
    EXPECT_TRUE(running.state().IsOn);
    running.platform.store.deliverChanges();  // its own write of "1"
    running.program.timerTicked();
    EXPECT_FALSE(timer.enabled) << "on, nothing to poll";

    // The keys and the motion are the input loop's: the poll timer stays at rest.
    const int immediateTicks = timer.immediateTicks;
    running.loop().press(CapturedKey::Right);
    EXPECT_EQ(running.platform.pointer.position.x, 646) << "the first step at once";
    running.loop().advance(50);
    running.loop().release(CapturedKey::Right);
    EXPECT_EQ(running.platform.pointer.position.x, 658);
    EXPECT_FALSE(timer.enabled);
    EXPECT_EQ(timer.immediateTicks, immediateTicks);

    // A watch that is lost leaves the poll on every tick.
    running.program.storeChanged(false);
    running.program.timerTicked();
    EXPECT_TRUE(timer.enabled);
}

} // namespace
