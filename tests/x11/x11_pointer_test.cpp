#include <cstdint>
#include <limits>

#include <gtest/gtest.h>

#include "platform/x11/x11_connection.h"
#include "platform/x11/x11_pointer.h"

#include <X11/Xlib.h>

namespace {

struct ScreenSize {
    int width;
    int height;
};

ScreenSize screenSize()
{
    X11Connection connection;
    if (!connection.valid())
        return {0, 0};
    const int screen = DefaultScreen(connection.display());
    return {DisplayWidth(connection.display(), screen), DisplayHeight(connection.display(), screen)};
}

CursorPoint movedTo(X11Pointer& pointer, std::int32_t x, std::int32_t y)
{
    pointer.moveTo(x, y);
    CursorPoint point{-1, -1};
    EXPECT_TRUE(pointer.read(point));
    return point;
}

} // namespace

TEST(X11Pointer, ReadsBackWhereItWasMoved)
{
    X11Pointer pointer;
    ASSERT_TRUE(pointer.valid());
    for (const CursorPoint target : {CursorPoint{100, 200}, CursorPoint{0, 0}, CursorPoint{641, 37}}) {
        const CursorPoint point = movedTo(pointer, target.x, target.y);
        EXPECT_EQ(point.x, target.x);
        EXPECT_EQ(point.y, target.y);
    }
}

TEST(X11Pointer, ScreenConfinesMovesPastItsEdges)
{
    X11Pointer pointer;
    ASSERT_TRUE(pointer.valid());
    const ScreenSize screen = screenSize();
    ASSERT_GT(screen.width, 0);
    const int right = screen.width - 1;
    const int bottom = screen.height - 1;
    constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();
    constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();

    struct Case {
        std::int32_t x, y;
        int expectedX, expectedY;
    };
    // Past 16 bits the protocol would wrap a coordinate around to the far side of the screen.
    const Case cases[] = {
        {-50, -50, 0, 0},
        {5000, 5000, right, bottom},
        {-1, 300, 0, 300},
        {200, screen.height, 200, bottom},
        {70000, 70000, right, bottom},
        {-70000, 65536 + 10, 0, bottom},
        {kMax, kMin, right, 0},
        {kMin, kMax, 0, bottom},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "moveTo(" << c.x << ", " << c.y << ")");
        pointer.moveTo(400, 400);
        const CursorPoint point = movedTo(pointer, c.x, c.y);
        EXPECT_EQ(point.x, c.expectedX);
        EXPECT_EQ(point.y, c.expectedY);
    }
}

TEST(X11Pointer, AnotherClientSeesTheMove)
{
    X11Pointer mover;
    X11Pointer observer;
    ASSERT_TRUE(mover.valid());
    mover.moveTo(321, 123);
    CursorPoint point;
    ASSERT_TRUE(observer.read(point));
    EXPECT_EQ(point.x, 321);
    EXPECT_EQ(point.y, 123);
}
