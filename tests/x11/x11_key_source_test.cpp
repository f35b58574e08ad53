#include <algorithm>
#include <chrono>
#include <functional>
#include <cstdlib>
#include <iostream>
#include <string>
#include <string_view>
#include <thread>

#include <gtest/gtest.h>

#include "platform/x11/x11_error_trap.h"
#include "platform/x11/x11_input_injector.h"
#include "platform/x11/x11_key_source.h"
#include "platform/x11/x11_pointer.h"
#include "tests/x11/x11_test_support.h"

#include <X11/Xlib.h>
#include <X11/keysym.h>

namespace {

using Pair = RecordingSink::Pair;
using Pairs = std::vector<Pair>;

constexpr std::uint32_t kDown = RecordingSink::kDown;
constexpr std::uint32_t kUp = RecordingSink::kUp;
constexpr std::uint32_t kSysDown = RecordingSink::kSysDown;
constexpr std::uint32_t kSysUp = RecordingSink::kSysUp;

/// Another client's grab of one key combination on the root window, as a window manager's
/// key binding would be.
class OtherClientGrab {
public:
    OtherClientGrab(unsigned long keysym, unsigned modifiers)
    {
        Display* display = m_connection.display();
        X11ErrorTrap trap(display);
        XGrabKey(display, XKeysymToKeycode(display, keysym), modifiers, m_connection.root(), False,
                 GrabModeAsync, GrabModeAsync);
        trap.sync();
        m_held = trap.errors().empty();
    }
    bool held() const { return m_held; }
    /// Whether a key press reached this client (drains its queue).
    bool gotKeyPress()
    {
        Display* display = m_connection.display();
        while (XPending(display) > 0) {
            XEvent event;
            XNextEvent(display, &event);
            if (event.type == KeyPress)
                m_gotKeyPress = true;
        }
        return m_gotKeyPress;
    }

private:
    X11Connection m_connection;
    bool m_held = false;
    bool m_gotKeyPress = false;
};

/// True when some other client holds the combination (our trial grab is refused).
bool heldByAnotherClient(unsigned long keysym, unsigned modifiers)
{
    OtherClientGrab trial(keysym, modifiers);
    return !trial.held();
}

// Types Shift+Alt+Left, which |other| holds, then a plain Left, and waits until the first
// reached |other| and the second's release reached |sink|.
void typeHeldComboThenLeft(XTestKeyboard& keyboard, OtherClientGrab& other, RecordingSink& sink)
{
    keyboard.press(XK_Shift_L);
    keyboard.press(XK_Alt_L);
    keyboard.tap(XK_Left);
    keyboard.release(XK_Alt_L);
    keyboard.release(XK_Shift_L);
    ASSERT_TRUE(waitUntil([&] { return other.gotKeyPress(); }));
    keyboard.tap(XK_Left);
    ASSERT_TRUE(waitUntil([&] { return sink.contains({kUp, 37}); }));
}

class X11KeySourceTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(probe.ready());
        handle = source.install(sink);
        ASSERT_NE(handle, 0u) << source.lastError();
    }

    void TearDown() override { source.uninstall(handle); }

    /// Taps z and waits for it at the probe: every key typed before has then reached the probe
    /// or never will. The server wrote each of those events to the source's connection no later
    /// than the probe's, so the source's settle() hands them all to the sink.
    void flush()
    {
        const unsigned z = keyboard.keycode(XK_z);
        const std::size_t before = probe.events().size();
        keyboard.tap(XK_z);
        ASSERT_TRUE(waitUntil([&] {
            return probe.events().size() > before && probe.events().back() == ProbeEvent{KeyRelease, z};
        }));
        if (handle != 0) {
            ASSERT_TRUE(source.settle());
        }
    }

    /// What the sink got after its first |from| events.
    Pairs sinkEventsFrom(std::size_t from) const
    {
        return Pairs(sink.events().begin() + static_cast<std::ptrdiff_t>(std::min(from, sink.events().size())),
                     sink.events().end());
    }

    int probePresses(unsigned long keysym) const
    {
        const unsigned keycode = keyboard.keycode(keysym);
        return static_cast<int>(std::count(probe.events().begin(), probe.events().end(),
                                           ProbeEvent{KeyPress, keycode}));
    }

    ProbeWindow probe;
    XTestKeyboard keyboard;
    RecordingSink sink;
    X11KeySource source;
    /// This thread runs the source as the input loop would, whenever a test waits.
    PumpedSource pumped{source};
    std::uintptr_t handle = 0;
};

} // namespace

TEST_F(X11KeySourceTest, ArrowsAndEnterReachTheSinkAndNeverTheFocusedWindow)
{
    keyboard.tap(XK_Right);
    keyboard.tap(XK_Return);
    keyboard.tap(XK_Left);
    keyboard.tap(XK_Down);
    // Modifiers other than Alt leave the messages as they are.
    keyboard.press(XK_Control_L);
    keyboard.tap(XK_Right);
    keyboard.release(XK_Control_L);
    keyboard.press(XK_Shift_L);
    keyboard.tap(XK_Return);
    keyboard.release(XK_Shift_L);

    flush();
    EXPECT_EQ(sink.events(), (Pairs{{kDown, 39}, {kUp, 39}, {kDown, 13}, {kUp, 13}, {kDown, 37}, {kUp, 37},
                                    {kDown, 40}, {kUp, 40}, {kDown, 39}, {kUp, 39}, {kDown, 13}, {kUp, 13}}));
    for (unsigned long key : {XK_Right, XK_Return, XK_Left, XK_Down, XK_Up})
        EXPECT_EQ(probePresses(key), 0) << "keysym " << key;
    EXPECT_EQ(probePresses(XK_Control_L), 1);
    EXPECT_EQ(probePresses(XK_Shift_L), 1);
}

TEST_F(X11KeySourceTest, KeypadKeysCountExactlyWhileTheyReportArrowsOrEnter)
{
    // NumLock off: the keypad's arrows are arrows.
    keyboard.setNumLock(false);
    for (unsigned long key : {XK_KP_Left, XK_KP_Up, XK_KP_Right, XK_KP_Down, XK_KP_Enter})
        keyboard.tap(key);
    flush();
    EXPECT_EQ(sink.events(), (Pairs{{kDown, 37}, {kUp, 37}, {kDown, 38}, {kUp, 38}, {kDown, 39}, {kUp, 39},
                                    {kDown, 40}, {kUp, 40}, {kDown, 13}, {kUp, 13}}));

    // NumLock on: the same keys type digits and pass untouched; keypad Enter is still Enter.
    const std::size_t before = sink.events().size();
    keyboard.setNumLock(true);
    keyboard.tap(XK_KP_Left);
    keyboard.tap(XK_KP_Down);
    keyboard.tap(XK_KP_Enter);
    flush();
    EXPECT_EQ(sinkEventsFrom(before), (Pairs{{kDown, 13}, {kUp, 13}}));
    EXPECT_EQ(probePresses(XK_KP_4), 1);
    EXPECT_EQ(probePresses(XK_KP_2), 1);
    EXPECT_EQ(probePresses(XK_KP_Enter), 0);

    // This layout makes Shift undo NumLock on the keypad: the key reports KP_Left again, and
    // its release counts as Left even after Shift went up first.
    const std::size_t shifted = sink.events().size();
    keyboard.press(XK_Shift_L);
    keyboard.press(XK_KP_Left);
    keyboard.release(XK_Shift_L);
    keyboard.release(XK_KP_Left);
    flush();
    EXPECT_EQ(sinkEventsFrom(shifted), (Pairs{{kDown, 37}, {kUp, 37}}));
    EXPECT_EQ(probePresses(XK_KP_4), 1);
}

TEST_F(X11KeySourceTest, AltHeldGivesSystemKeyMessagesAndTheWindowKeepsAltBalanced)
{
    const unsigned alt = keyboard.keycode(XK_Alt_L);

    keyboard.press(XK_Alt_L);
    keyboard.tap(XK_Left);
    keyboard.tap(XK_Return);
    keyboard.release(XK_Alt_L);
    flush();
    EXPECT_EQ(sink.events(), (Pairs{{kSysDown, 37}, {kSysUp, 37}, {kSysDown, 13}, {kSysUp, 13}}));

    // Alt let go while the capture still holds the keyboard from the arrow's press (the source
    // has not run yet): the window must still get Alt's release, and the arrow's release comes
    // without Alt.
    const std::size_t before = sink.events().size();
    keyboard.press(XK_Alt_L);
    keyboard.press(XK_Right);
    keyboard.release(XK_Alt_L);
    keyboard.release(XK_Right);
    flush();
    EXPECT_EQ(sinkEventsFrom(before), (Pairs{{kSysDown, 39}, {kUp, 39}}));

    std::vector<ProbeEvent> altOnly;
    for (const ProbeEvent& e : probe.events())
        if (e.detail == alt)
            altOnly.push_back(e);
    EXPECT_EQ(altOnly, (std::vector<ProbeEvent>{{KeyPress, alt}, {KeyRelease, alt}, {KeyPress, alt},
                                                {KeyRelease, alt}}));
    EXPECT_EQ(probePresses(XK_Left), 0);
    EXPECT_EQ(probePresses(XK_Right), 0);
}

TEST_F(X11KeySourceTest, HeldArrowRepeatsAsKeyDownsWithOneKeyUpWhileOtherKeysStillType)
{
    keyboard.press(XK_Right);
    // The server's own auto-repeat: first repeat after about 660 ms, then every 40 ms.
    ASSERT_TRUE(waitUntil([&] { return sink.events().size() >= 3; }));

    const unsigned a = keyboard.keycode(XK_a);
    constexpr int kTyped = 8;
    for (int i = 0; i < kTyped; ++i) {
        keyboard.tap(XK_a);
        ASSERT_TRUE(waitUntil([&] { return probePresses(XK_a) == i + 1; })) << "letter " << i;
    }
    keyboard.release(XK_Right);
    flush();
    const Pairs& events = sink.events();

    ASSERT_GE(events.size(), 4u);
    for (std::size_t i = 0; i + 1 < events.size(); ++i)
        EXPECT_EQ(events[i], Pair(kDown, 39)) << "event " << i;
    EXPECT_EQ(events.back(), Pair(kUp, 39));

    EXPECT_EQ(probePresses(XK_a), kTyped);
    EXPECT_EQ(std::count(probe.events().begin(), probe.events().end(), ProbeEvent{KeyRelease, a}), kTyped);
    EXPECT_EQ(probePresses(XK_Right), 0);
}

TEST_F(X11KeySourceTest, UninstallReleasesEveryGrabAndAnotherInstallTakesOver)
{
    source.uninstall(handle);
    const std::uintptr_t oldHandle = handle;
    handle = 0;
    keyboard.tap(XK_Right);
    keyboard.tap(XK_Return);
    keyboard.tap(XK_KP_Left);
    flush();
    EXPECT_EQ(probePresses(XK_Right), 1);
    EXPECT_EQ(probePresses(XK_Return), 1);
    EXPECT_EQ(probePresses(XK_KP_Left), 1);
    EXPECT_TRUE(sink.events().empty());

    // A key held down across the installation is seen going up, like any key the capture saw
    // pressed.
    keyboard.press(XK_Right);
    handle = source.install(sink);
    ASSERT_NE(handle, 0u) << source.lastError();
    keyboard.release(XK_Right);
    flush();
    EXPECT_EQ(sink.events(), (Pairs{{kUp, 39}}));
    sink.clear();

    // A stale handle and 0 leave the new installation alone.
    source.uninstall(oldHandle);
    source.uninstall(0);
    keyboard.tap(XK_Right);
    flush();
    EXPECT_EQ(sink.events(), (Pairs{{kDown, 39}, {kUp, 39}}));
    // Only the two presses made while nothing was installed.
    EXPECT_EQ(probePresses(XK_Right), 2);
}

TEST_F(X11KeySourceTest, FollowsAChangeOfTheKeyboardMap)
{
    const unsigned spare = keyboard.unusedKeycode();
    ASSERT_NE(spare, 0u);
    keyboard.remap(spare, XK_Left);
    // The source regrabs once its loop sees the change; until then the key goes to the probe.
    ASSERT_TRUE(waitUntil([&] {
        keyboard.tapKeycode(spare);
        flush();
        return sink.contains({kDown, 37});
    }));
    EXPECT_EQ(sink.events().back(), Pair(kUp, 37));

    keyboard.remap(spare, NoSymbol);
    ASSERT_TRUE(waitUntil([&] {
        probe.clear();
        keyboard.tapKeycode(spare);
        flush();
        return probe.received(KeyPress, spare);
    }));
    // The keys that kept their meaning stayed captured throughout.
    sink.clear();
    keyboard.tap(XK_Right);
    flush();
    EXPECT_EQ(sink.events(), (Pairs{{kDown, 39}, {kUp, 39}}));
}

TEST(X11KeySource, LeavesCombinationsAnotherClientHoldsToIt)
{
    ProbeWindow probe;
    ASSERT_TRUE(probe.ready());
    OtherClientGrab other(XK_Left, ShiftMask | Mod1Mask);
    ASSERT_TRUE(other.held());
    XTestKeyboard keyboard;
    RecordingSink sink;
    X11KeySource source;
    const PumpedSource pumped(source);

    const std::uintptr_t handle = source.install(sink);
    ASSERT_NE(handle, 0u) << source.lastError();
    EXPECT_EQ(source.grabCounts().failed, 1);
    EXPECT_GT(source.grabCounts().succeeded, 1000);

    ASSERT_NO_FATAL_FAILURE(typeHeldComboThenLeft(keyboard, other, sink));
    // The other client's press never came to us; only the plain Left did.
    EXPECT_FALSE(sink.contains({kSysDown, 37}));
    EXPECT_EQ(std::count(sink.events().begin(), sink.events().end(), Pair(kDown, 37)), 1);
    source.uninstall(handle);
}

TEST(X11KeySource, AReusedPlanMeetsBindingsTakenSinceAndLeavesThemToTheirClient)
{
    XTestKeyboard keyboard;
    RecordingSink sink;
    X11KeySource source;
    const PumpedSource pumped(source);
    source.uninstall(source.install(sink));
    // Taken after the plan was made: the next install grabs by the old plan, then looks again.
    OtherClientGrab other(XK_Left, ShiftMask | Mod1Mask);
    ASSERT_TRUE(other.held());
    const std::uintptr_t handle = source.install(sink);
    ASSERT_NE(handle, 0u) << source.lastError();
    ASSERT_TRUE(waitUntil([&] { return source.grabCounts().failed == 1; }));
    ASSERT_TRUE(source.settle());

    ASSERT_NO_FATAL_FAILURE(typeHeldComboThenLeft(keyboard, other, sink));
    EXPECT_FALSE(sink.contains({kSysDown, 37}));
    source.uninstall(handle);
}

TEST(X11KeySource, FailsWhenAnotherClientHoldsAnUnmodifiedKey)
{
    ProbeWindow probe;
    ASSERT_TRUE(probe.ready());
    XTestKeyboard keyboard;
    RecordingSink sink;
    X11KeySource source;
    const PumpedSource pumped(source);
    // A capture that worked before: the next install starts from its plan, made before the
    // other client took the key.
    source.uninstall(source.install(sink));

    for (const unsigned modifiers : {0u, unsigned(LockMask)}) {
        SCOPED_TRACE(testing::Message() << "Return held with modifiers " << modifiers);
        OtherClientGrab other(XK_Return, modifiers);
        ASSERT_TRUE(other.held());
        EXPECT_EQ(source.install(sink), 0u);
        EXPECT_NE(source.lastError().find("another program"), std::string::npos) << source.lastError();
    }

    // Nothing of the failed attempts stayed grabbed.
    probe.clear();
    keyboard.tap(XK_Right);
    keyboard.tap(XK_z);
    ASSERT_TRUE(waitUntil([&] { return probe.received(KeyRelease, keyboard.keycode(XK_z)); }));
    EXPECT_TRUE(probe.received(KeyPress, keyboard.keycode(XK_Right)));
    EXPECT_TRUE(sink.events().empty());

    // Once the other client lets go, installing works.
    const std::uintptr_t handle = source.install(sink);
    EXPECT_NE(handle, 0u) << source.lastError();
    EXPECT_TRUE(source.lastError().empty());
    source.uninstall(handle);
}

TEST(X11KeySource, FailsWithAReasonWithoutADisplay)
{
    const std::string display = std::getenv("DISPLAY") ? std::getenv("DISPLAY") : "";
    // A display number nobody serves: the connection is refused at once.
    setenv("DISPLAY", ":32000", 1);
    RecordingSink sink;
    X11KeySource source;
    const PumpedSource pumped(source);
    const std::uintptr_t handle = source.install(sink);
    setenv("DISPLAY", display.c_str(), 1);
    EXPECT_EQ(handle, 0u);
    EXPECT_NE(source.lastError().find("display"), std::string::npos) << source.lastError();
}

TEST(X11KeySource, RefusesAWaylandSessionWithAReason)
{
    for (const char* variable : {"WAYLAND_DISPLAY", "XDG_SESSION_TYPE"}) {
        SCOPED_TRACE(variable);
        setenv(variable, std::string_view(variable) == "WAYLAND_DISPLAY" ? "wayland-0" : "wayland", 1);
        RecordingSink sink;
        X11KeySource source;
        const PumpedSource pumped(source);
        const std::uintptr_t handle = source.install(sink);
        unsetenv(variable);
        EXPECT_EQ(handle, 0u);
        EXPECT_NE(source.lastError().find("Wayland"), std::string::npos) << source.lastError();
    }
    // An X11 session says so, or says nothing.
    setenv("XDG_SESSION_TYPE", "x11", 1);
    RecordingSink sink;
    X11KeySource source;
    const PumpedSource pumped(source);
    const std::uintptr_t handle = source.install(sink);
    unsetenv("XDG_SESSION_TYPE");
    EXPECT_NE(handle, 0u) << source.lastError();
    source.uninstall(handle);
}

TEST(X11KeySourceUnderWindowManager, LeavesTheWindowManagersBindingsToIt)
{
    if (std::getenv("PAVRO_TEST_WM") == nullptr)
        GTEST_SKIP() << "runs under run_with_xvfb.sh --wm";
    // The window manager announces itself before it loads its theme and grabs its bindings; on a
    // fresh machine the theme's fonts are cached first, which can take seconds.
    ASSERT_TRUE(waitUntil([] { return heldByAnotherClient(XK_Left, ShiftMask | Mod1Mask); },
                          std::chrono::seconds(60)));

    XTestKeyboard keyboard;
    RecordingSink sink;
    X11KeySource source;
    const PumpedSource pumped(source);
    const std::uintptr_t handle = source.install(sink);
    ASSERT_NE(handle, 0u) << source.lastError();
    std::cout << "grabs under the window manager: " << source.grabCounts().succeeded << " succeeded, "
              << source.grabCounts().failed << " held by the window manager\n";
    EXPECT_GT(source.grabCounts().failed, 0);
    EXPECT_GT(source.grabCounts().succeeded, 1000);

    keyboard.tap(XK_Left);
    keyboard.tap(XK_Return);
    ASSERT_TRUE(waitUntil([&] { return sink.events().size() >= 4; }));
    EXPECT_EQ(sink.events(), (Pairs{{kDown, 37}, {kUp, 37}, {kDown, 13}, {kUp, 13}}));
    source.uninstall(handle);
}
