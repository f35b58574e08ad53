#include <gtest/gtest.h>

#include "engine/hook_keys.h"
#include "engine/key_translation.h"
#include "platform/fake/fake_platform.h"

namespace {

using Calls = std::vector<std::string>;

struct Step {
    std::uint32_t vk;
    std::uint32_t message;
    std::int16_t result;
};

struct TranslationCase {
    const char* given;
    std::vector<Step> steps;               // from all keys up, in order
    std::array<std::int16_t, 4> arrows;  // ArrowDown afterwards
    Calls injected;
};

constexpr std::uint32_t D = kWmKeyDown, U = kWmKeyUp, SD = kWmSysKeyDown, SU = kWmSysKeyUp;

// Each timeline: what every event returns, then the held-key state and the injections.
TEST(KeyTranslation, DecisionTable)
{
    const TranslationCase cases[] = {
        {"right down", {{39, D, 1}}, {0, 0, 1, 0}, {}},
        {"right down up", {{39, D, 1}, {39, U, 1}}, {0, 0, 0, 0}, {}},
        {"left up down", {{37, D, 1}, {38, D, 1}, {40, D, 1}}, {1, 1, 0, 1}, {}},
        {"enter down", {{13, D, 1}}, {0, 0, 0, 0}, {"mouse_event 2"}},
        {"enter down up", {{13, D, 1}, {13, U, 1}}, {0, 0, 0, 0}, {"mouse_event 2", "mouse_event 4"}},
        {"enter held: one press", {{13, D, 1}, {13, D, 1}, {13, D, 1}, {13, U, 1}}, {0, 0, 0, 0},
         {"mouse_event 2", "mouse_event 4"}},
        {"arrow repeats", {{38, D, 1}, {38, D, 1}}, {0, 1, 0, 0}, {}},
        // Alt held at the press: claimed, no effect, and so is its release.
        {"alt+left", {{37, SD, 1}, {37, SU, 1}}, {0, 0, 0, 0}, {}},
        {"alt+enter", {{13, SD, 1}, {13, SU, 1}}, {0, 0, 0, 0}, {}},
        {"alt+left, alt up first", {{37, SD, 1}, {37, U, 1}}, {0, 0, 0, 0}, {}},
        {"alt+up while up held", {{38, D, 1}, {38, SD, 1}}, {0, 1, 0, 0}, {}},
        // Alt pressed while a key is held: the release comes as the system variant and still
        // ends the press.
        {"right, alt, release", {{39, D, 1}, {39, SD, 1}, {39, SU, 1}}, {0, 0, 0, 0}, {}},
        {"enter, alt, release", {{13, D, 1}, {13, SU, 1}}, {0, 0, 0, 0}, {"mouse_event 2", "mouse_event 4"}},
        // A release whose press was not claimed belongs to the application that saw it.
        {"lone releases", {{39, U, 0}, {13, U, 0}, {13, SU, 0}, {37, SU, 0}}, {0, 0, 0, 0}, {}},
        // The neighbours of the arrow range and other keys are not ours.
        {"other keys",
         {{36, D, 0}, {41, D, 0}, {41, SU, 0}, {65, D, 0}, {12, U, 0}, {14, D, 0}, {37 + 256, D, 0}},
         {0, 0, 0, 0},
         {}},
        {"other message", {{39, 0x0102, 1}}, {0, 0, 0, 0}, {}},
    };
    for (const TranslationCase& c : cases) {
        SCOPED_TRACE(c.given);
        CallLog log;
        FakeInputInjector injector(log);
        PavroState state;
        for (const Step& step : c.steps)
            EXPECT_EQ(TranslateKey(state, injector, step.vk, step.message), step.result)
                << step.vk << "/" << step.message;
        EXPECT_EQ(state.ArrowDown, c.arrows);
        EXPECT_EQ(log.all(), c.injected);
    }
}

struct HookFixture : ::testing::Test {
    CallLog log;
    FakeKeyEventSource source{log};
    FakeInputInjector injector{log};
    PavroState state;
    HookKeys hook{state, source, injector};
};

TEST_F(HookFixture, OurKeysAreSwallowedOthersForwardedUnchanged)
{
    ASSERT_TRUE(hook.HookOn());
    const std::uintptr_t handle = state.HookHandle;
    EXPECT_NE(handle, 0u);
    log.clear();

    EXPECT_EQ(source.deliver(kWmKeyDown, 39), 1);
    EXPECT_EQ(source.deliver(kWmSysKeyDown, 37), 1);
    EXPECT_EQ(log.all(), Calls{}) << "no forward for claimed events";
    EXPECT_EQ(state.ArrowDown[2], 1);
    EXPECT_EQ(state.ArrowDown[0], 0);

    source.forwardResult = 4242;
    EXPECT_EQ(source.deliver(kWmKeyDown, 65), 4242);
    // A non-action code is passed on without translation, even for an arrow.
    EXPECT_EQ(source.deliver(kWmKeyDown, 37, -1), 4242);
    EXPECT_EQ(source.deliver(kWmKeyDown, 13, 3), 4242);
    EXPECT_EQ(state.ArrowDown[0], 0);
    const std::string h = std::to_string(handle);
    EXPECT_EQ(log.all(), (Calls{"CallNextHookEx " + h + " 0 256 65", "CallNextHookEx " + h + " -1 256 37",
                                "CallNextHookEx " + h + " 3 256 13"}));
}

TEST_F(HookFixture, OffIsHarmlessWithoutCaptureAndRefusalLeavesZero)
{
    hook.HookOff();
    EXPECT_EQ(state.HookHandle, 0u);
    source.refuse = true;
    EXPECT_FALSE(hook.HookOn());
    EXPECT_EQ(state.HookHandle, 0u);
    EXPECT_EQ(source.deliver(kWmKeyDown, 39), -1) << "nothing captured";
    EXPECT_EQ(log.all(), (Calls{"UnhookWindowsHookEx 0", "SetWindowsHookEx -> 0"}));
}

// Enter pressed and still down when control goes off: the button must not stay down, and
// an arrow held at that moment must not move the pointer once control is back on.
TEST_F(HookFixture, OffReleasesAPressedButtonAndForgetsHeldArrows)
{
    hook.HookOn();
    source.deliver(kWmKeyDown, 13);
    source.deliver(kWmKeyDown, 13);
    source.deliver(kWmKeyDown, 40);
    log.clear();
    hook.HookOff();
    EXPECT_EQ(log.all(), (Calls{"mouse_event 4", "UnhookWindowsHookEx 256"}));
    EXPECT_EQ(state.ArrowDown, (std::array<std::int16_t, 4>{0, 0, 0, 0}));
    EXPECT_FALSE(state.LeftButtonHeld);

    // A released button needs no second release.
    hook.HookOn();
    source.deliver(kWmKeyDown, 13);
    source.deliver(kWmKeyUp, 13);
    log.clear();
    hook.HookOff();
    EXPECT_EQ(log.only({"mouse_event"}), Calls{});

    // Keys held across a switch: a press the application saw (made while control was off)
    // gets its release; so does one claimed before the capture went and came back.
    hook.HookOn();
    source.forwardResult = 7;
    EXPECT_EQ(source.deliver(kWmKeyUp, 13), 7);
    source.deliver(kWmKeyDown, 39);
    hook.HookOff();
    hook.HookOn();
    EXPECT_EQ(source.deliver(kWmKeyUp, 39), 7);
    EXPECT_EQ(state.ArrowDown[2], 0);
}

} // namespace
