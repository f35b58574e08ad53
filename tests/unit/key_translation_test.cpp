#include <gtest/gtest.h>

#include "engine/hook_keys.h"
#include "engine/key_translation.h"
#include "platform/fake/fake_platform.h"

namespace {

using Calls = std::vector<std::string>;

struct TranslationCase {
    std::uint32_t vk;
    std::uint32_t message;
    std::int16_t result;
    std::array<std::int16_t, 4> arrows;  // ArrowDown afterwards, from all zero
    Calls injected;
};

// Given all keys up, one event: the result, the held-key state and the injections.
TEST(KeyTranslation, DecisionTable)
{
    const TranslationCase cases[] = {
        {39, kWmKeyDown, 1, {0, 0, 1, 0}, {}},
        {39, kWmKeyUp, 1, {0, 0, 0, 0}, {}},
        {37, kWmKeyDown, 1, {1, 0, 0, 0}, {}},
        {38, kWmKeyDown, 1, {0, 1, 0, 0}, {}},
        {40, kWmKeyDown, 1, {0, 0, 0, 1}, {}},
        {13, kWmKeyDown, 1, {0, 0, 0, 0}, {"mouse_event 2"}},
        {13, kWmKeyUp, 1, {0, 0, 0, 0}, {"mouse_event 4"}},
        // Alt held: claimed, no effect.
        {37, kWmSysKeyDown, 1, {0, 0, 0, 0}, {}},
        {37, kWmSysKeyUp, 1, {0, 0, 0, 0}, {}},
        {13, kWmSysKeyDown, 1, {0, 0, 0, 0}, {}},
        {13, kWmSysKeyUp, 1, {0, 0, 0, 0}, {}},
        // The neighbours of the arrow range and other keys are not ours.
        {36, kWmKeyDown, 0, {0, 0, 0, 0}, {}},
        {41, kWmKeyDown, 0, {0, 0, 0, 0}, {}},
        {41, kWmSysKeyUp, 0, {0, 0, 0, 0}, {}},
        {65, kWmKeyDown, 0, {0, 0, 0, 0}, {}},
        {12, kWmKeyUp, 0, {0, 0, 0, 0}, {}},
        {14, kWmKeyDown, 0, {0, 0, 0, 0}, {}},
        {37 + 256, kWmKeyDown, 0, {0, 0, 0, 0}, {}},
        // Other messages for our keys: claimed, no effect.
        {39, 0x0102, 1, {0, 0, 0, 0}, {}},
    };
    for (const TranslationCase& c : cases) {
        SCOPED_TRACE(std::to_string(c.vk) + "/" + std::to_string(c.message));
        CallLog log;
        FakeInputInjector injector(log);
        PavroState state;
        EXPECT_EQ(TranslateKey(state, injector, c.vk, c.message), c.result);
        EXPECT_EQ(state.ArrowDown, c.arrows);
        EXPECT_EQ(log.all(), c.injected);
    }
}

TEST(KeyTranslation, ReleaseWithoutPressAndAutoRepeat)
{
    CallLog log;
    FakeInputInjector injector(log);
    PavroState state;
    state.ArrowDown = {1, 1, 1, 1};
    EXPECT_EQ(TranslateKey(state, injector, 38, kWmKeyUp), 1);
    EXPECT_EQ(state.ArrowDown, (std::array<std::int16_t, 4>{1, 0, 1, 1}));
    // An arrow's repeated key-downs only set it again; a system key-up leaves it held.
    TranslateKey(state, injector, 38, kWmKeyDown);
    TranslateKey(state, injector, 38, kWmKeyDown);
    TranslateKey(state, injector, 38, kWmSysKeyUp);
    EXPECT_EQ(state.ArrowDown[1], 1);

    // Enter keeps no state: three repeats press three times, one key-up releases once.
    for (int i = 0; i < 3; ++i)
        TranslateKey(state, injector, 13, kWmKeyDown);
    TranslateKey(state, injector, 13, kWmKeyUp);
    EXPECT_EQ(log.all(), (Calls{"mouse_event 2", "mouse_event 2", "mouse_event 2", "mouse_event 4"}));
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
}

} // namespace
