#include <gtest/gtest.h>

#include "platform/x11/x11_input_injector.h"
#include "platform/x11/x11_pointer.h"
#include "tests/x11/x11_test_support.h"

#include <X11/Xlib.h>

TEST(X11InputInjector, LeftButtonPressAndReleaseReachTheWindowUnderThePointer)
{
    ProbeWindow probe;
    ASSERT_TRUE(probe.ready());
    X11Pointer pointer;
    pointer.moveTo(probe.centreX(), probe.centreY());
    X11InputInjector injector;
    ASSERT_TRUE(injector.valid());

    injector.leftButtonDown();
    ASSERT_TRUE(waitUntil([&] { return probe.received(ButtonPress, 1); }));
    EXPECT_FALSE(probe.received(ButtonRelease, 1));

    injector.leftButtonUp();
    ASSERT_TRUE(waitUntil([&] { return probe.received(ButtonRelease, 1); }));
    EXPECT_EQ(probe.events(), (std::vector<ProbeEvent>{{ButtonPress, 1}, {ButtonRelease, 1}}));
}
