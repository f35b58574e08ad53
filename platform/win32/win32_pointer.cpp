#include "platform/win32/win32_pointer.h"

#include <windows.h>

bool Win32Pointer::read(CursorPoint& point)
{
    POINT position{};
    // Fails on a secure desktop (UAC prompt, lock screen): the caller keeps its last point.
    if (!GetCursorPos(&position))
        return false;
    point.x = position.x;
    point.y = position.y;
    return true;
}

void Win32Pointer::moveTo(std::int32_t x, std::int32_t y)
{
    SetCursorPos(x, y);
}
