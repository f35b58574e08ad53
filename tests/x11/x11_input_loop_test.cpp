#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "engine/pointer_control.h"
#include "platform/posix/posix_input_loop.h"
#include "platform/x11/x11_input_injector.h"
#include "platform/x11/x11_key_source.h"
#include "platform/x11/x11_pointer.h"
#include "tests/x11/x11_test_support.h"

#include <X11/Xlib.h>
#include <X11/keysym.h>

namespace {

using namespace std::chrono_literals;

// The pointer as another client reads it.
CursorPoint pointerNow()
{
    X11Pointer reader;
    CursorPoint point;
    reader.read(point);
    return point;
}

// A horizontal distance that held ticks can make: standard steps of 6 for the first 250 ms
// (at most 11 of them), then fast steps of 20.
bool madeOfSteps(int distance)
{
    if (distance <= 66)
        return distance % 6 == 0;
    return (distance - 66) % 20 == 0;
}

// The real key path (X11 capture, the loop's thread, the engine, XTest and warps) while this
// thread, which plays the UI thread, is blocked for two seconds: everything the user does
// meanwhile still moves and clicks, at once.
TEST(X11InputLoop, KeysMoveAndClickWhileTheUiThreadIsBlocked)
{
    ProbeWindow probe;
    ASSERT_TRUE(probe.ready());
    X11KeySource source;
    X11InputInjector injector;
    X11Pointer pointer;
    ASSERT_TRUE(injector.valid());
    PointerControl core(source, injector, pointer);
    PosixInputLoop loop(core, source);
    loop.setMotion({6, 20, 250, 25});
    std::string reason;
    ASSERT_TRUE(loop.switchOn(reason)) << reason;
    pointer.moveTo(150, 150);

    struct Seen {
        CursorPoint held, releasedSoon, releasedLater, tapped;
        bool clicked = false;
    } seen;
    std::thread user([&] {
        XTestKeyboard keyboard;
        keyboard.press(XK_Right);
        std::this_thread::sleep_for(300ms);
        keyboard.release(XK_Right);
        std::this_thread::sleep_for(10ms);
        seen.releasedSoon = pointerNow();
        std::this_thread::sleep_for(200ms);
        seen.releasedLater = pointerNow();

        keyboard.tap(XK_Down);  // far shorter than a tick
        std::this_thread::sleep_for(100ms);
        seen.tapped = pointerNow();

        keyboard.tap(XK_Return);
        const auto deadline = std::chrono::steady_clock::now() + 1s;
        while (!seen.clicked && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(5ms);
            probe.drain();
            seen.clicked = probe.received(ButtonPress, 1) && probe.received(ButtonRelease, 1);
        }
    });
    std::this_thread::sleep_for(2s);  // the UI thread, blocked
    user.join();

    const int held = seen.releasedSoon.x - 150;
    EXPECT_GE(held, 10 * 6) << "a 300 ms hold ticks every 25 ms";
    EXPECT_TRUE(madeOfSteps(held)) << held;
    EXPECT_EQ(seen.releasedLater.x, seen.releasedSoon.x) << "the release ends the motion at once";
    EXPECT_EQ(seen.tapped.y - seen.releasedLater.y, 6) << "a tap moves its one step";
    EXPECT_TRUE(seen.clicked) << "Enter clicks";
    EXPECT_FALSE(probe.received(KeyPress, XTestKeyboard().keycode(XK_Right)));
    loop.switchOff();
}

} // namespace
