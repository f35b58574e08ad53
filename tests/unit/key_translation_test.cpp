#include <gtest/gtest.h>

#include "engine/key_translation.h"
#include "engine/pointer_control.h"
#include "platform/fake/fake_platform.h"

namespace {

using Calls = std::vector<std::string>;

struct Step {
    KeyChange change;
    bool claimed;
};

struct TranslationCase {
    const char* given;
    std::vector<Step> steps;             // from all keys up, in order
    std::array<std::int16_t, 4> arrows;  // ArrowDown afterwards
    Calls injected;
};

constexpr CapturedKey L = CapturedKey::Left, Up = CapturedKey::Up, R = CapturedKey::Right,
                      Dn = CapturedKey::Down, E = CapturedKey::Enter;
constexpr KeyChange down(CapturedKey key) { return {key, true, false}; }
constexpr KeyChange up(CapturedKey key) { return {key, false, false}; }
constexpr KeyChange altDown(CapturedKey key) { return {key, true, true}; }
constexpr KeyChange altUp(CapturedKey key) { return {key, false, true}; }

// Each timeline: what every change returns, then the held-key state and the injections.
TEST(KeyTranslation, DecisionTable)
{
    const TranslationCase cases[] = {
        {"right down", {{down(R), true}}, {0, 0, 1, 0}, {}},
        {"right down up", {{down(R), true}, {up(R), true}}, {0, 0, 0, 0}, {}},
        {"left up down", {{down(L), true}, {down(Up), true}, {down(Dn), true}}, {1, 1, 0, 1}, {}},
        {"enter down", {{down(E), true}}, {0, 0, 0, 0}, {"mouse_event 2"}},
        {"enter down up", {{down(E), true}, {up(E), true}}, {0, 0, 0, 0}, {"mouse_event 2", "mouse_event 4"}},
        {"enter held: one press", {{down(E), true}, {down(E), true}, {down(E), true}, {up(E), true}}, {0, 0, 0, 0},
         {"mouse_event 2", "mouse_event 4"}},
        {"arrow repeats", {{down(Up), true}, {down(Up), true}}, {0, 1, 0, 0}, {}},
        // Alt held at the press: claimed, no effect, and so is its release.
        {"alt+left", {{altDown(L), true}, {altUp(L), true}}, {0, 0, 0, 0}, {}},
        {"alt+enter", {{altDown(E), true}, {altUp(E), true}}, {0, 0, 0, 0}, {}},
        {"alt+left, alt up first", {{altDown(L), true}, {up(L), true}}, {0, 0, 0, 0}, {}},
        {"alt+up while up held", {{down(Up), true}, {altDown(Up), true}}, {0, 1, 0, 0}, {}},
        // Alt pressed while a key is held: the release still ends the press.
        {"right, alt, release", {{down(R), true}, {altDown(R), true}, {altUp(R), true}}, {0, 0, 0, 0}, {}},
        {"enter, alt, release", {{down(E), true}, {altUp(E), true}}, {0, 0, 0, 0}, {"mouse_event 2", "mouse_event 4"}},
        // A release whose press was not claimed belongs to the application that saw it.
        {"lone releases", {{up(R), false}, {up(E), false}, {altUp(E), false}, {altUp(L), false}}, {0, 0, 0, 0}, {}},
    };
    for (const TranslationCase& c : cases) {
        SCOPED_TRACE(c.given);
        CallLog log;
        FakeInputInjector injector(log);
        KeyPathState state;
        for (const Step& step : c.steps)
            EXPECT_EQ(TranslateKey(state, injector, step.change), step.claimed)
                << static_cast<int>(step.change.key) << "/" << step.change.down;
        EXPECT_EQ(state.ArrowDown, c.arrows);
        EXPECT_EQ(log.all(), c.injected);
    }
}

// The capture as the core installs, renews and removes it.
struct Capture : ::testing::Test {
    CallLog log;
    FakeKeyEventSource source{log};
    FakeInputInjector injector{log};
    FakePointer pointer{log};
    PointerControl core{source, injector, pointer};
    std::string reason;
};

TEST_F(Capture, OffIsHarmlessWithoutCaptureAndRefusalGivesTheReason)
{
    core.switchOff();
    EXPECT_EQ(core.state().captureHandle, 0u);
    source.refuse = true;
    EXPECT_FALSE(core.switchOn(reason));
    EXPECT_EQ(reason, "the test refused the capture");
    EXPECT_EQ(core.state().captureHandle, 0u);
    EXPECT_EQ(source.press(R), -1) << "nothing captured";
    EXPECT_EQ(log.all(), (Calls{"UnhookWindowsHookEx 0", "SetWindowsHookEx -> 0"}));
}

// Enter pressed and still down when control goes off: the button must not stay down, and
// an arrow held at that moment must not move the pointer once control is back on.
TEST_F(Capture, OffReleasesAPressedButtonAndForgetsHeldArrows)
{
    core.switchOn(reason);
    source.press(E);
    source.press(E);
    source.press(Dn);
    log.clear();
    core.switchOff();
    EXPECT_EQ(log.all(), (Calls{"mouse_event 4", "UnhookWindowsHookEx 256"}));
    EXPECT_EQ(core.state().ArrowDown, (std::array<std::int16_t, 4>{0, 0, 0, 0}));
    EXPECT_FALSE(core.state().LeftButtonHeld);

    // A released button needs no second release.
    core.switchOn(reason);
    source.press(E);
    source.release(E);
    log.clear();
    core.switchOff();
    EXPECT_EQ(log.only({"mouse_event"}), Calls{});

    // Keys held across a switch: a press the application saw (made while control was off)
    // gets its release; so does one claimed before the capture went and came back.
    core.switchOn(reason);
    EXPECT_EQ(source.release(E), 0);
    source.press(R);
    core.switchOff();
    core.switchOn(reason);
    EXPECT_EQ(source.release(R), 0);
    EXPECT_EQ(core.state().ArrowDown[2], 0);
}

// A renewal keeps a press whose key is still down (a drag goes on) and lets go of the others.
TEST_F(Capture, RenewalKeepsWhatIsStillDown)
{
    core.switchOn(reason);
    source.press(E);
    source.press(R);
    source.press(L);
    source.keysDown = capturedKeyBit(E) | capturedKeyBit(L);
    log.clear();
    EXPECT_TRUE(core.renewCapture(reason));
    EXPECT_EQ(log.only({"mouse_event"}), Calls{}) << "the drag goes on";
    EXPECT_EQ(core.state().ArrowDown, (std::array<std::int16_t, 4>{1, 0, 0, 0}));
    EXPECT_EQ(source.release(E), 1);
    EXPECT_EQ(source.release(R), 0) << "the press went with the old capture";

    source.press(E);
    source.keysDown = 0;
    source.refuse = true;
    log.clear();
    EXPECT_FALSE(core.renewCapture(reason));
    EXPECT_EQ(log.only({"mouse_event"}), Calls{"mouse_event 4"});
    EXPECT_EQ(core.state().ArrowDown, (std::array<std::int16_t, 4>{}));
}

} // namespace
