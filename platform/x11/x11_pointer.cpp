#include "platform/x11/x11_pointer.h"

#include <X11/Xlib.h>

#include <algorithm>
#include <cstdint>
#include <limits>

X11Pointer::X11Pointer() = default;

bool X11Pointer::read(CursorPoint& point)
{
    if (!m_connection.valid())
        return false;
    Window root = None;
    Window child = None;
    int rootX = 0;
    int rootY = 0;
    int windowX = 0;
    int windowY = 0;
    unsigned mask = 0;
    if (!XQueryPointer(m_connection.display(), m_connection.root(), &root, &child, &rootX, &rootY,
                       &windowX, &windowY, &mask))
        return false;
    point.x = rootX;
    point.y = rootY;
    return true;
}

bool X11Pointer::moveTo(std::int32_t x, std::int32_t y)
{
    // The server has no secure desktop and no rights above the user's: a warp on a working
    // connection always lands.
    if (!m_connection.valid())
        return false;
    // The protocol carries 16-bit coordinates: wider values would wrap around to the other
    // side of the screen instead of stopping at its edge.
    constexpr std::int32_t kLow = std::numeric_limits<std::int16_t>::min();
    constexpr std::int32_t kHigh = std::numeric_limits<std::int16_t>::max();
    XWarpPointer(m_connection.display(), None, m_connection.root(), 0, 0, 0, 0,
                 std::clamp(x, kLow, kHigh), std::clamp(y, kLow, kHigh));
    // Done when this returns, for every client: a flush alone lets another connection's query
    // be served before the server has read the warp.
    XSync(m_connection.display(), False);
    return true;
}
