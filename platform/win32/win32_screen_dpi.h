#pragma once

#include <windows.h>

/// The screen's horizontal dots per inch, 96 when the system can't say. Twip positions are
/// scaled by it (1440 twips per inch).
inline int win32ScreenDpi()
{
    HDC screen = GetDC(nullptr);
    const int dpi = screen != nullptr ? GetDeviceCaps(screen, LOGPIXELSX) : 96;
    if (screen != nullptr)
        ReleaseDC(nullptr, screen);
    return dpi > 0 ? dpi : 96;
}
