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

/// The dots per inch of the monitor |window| is on, where the system tells it per window
/// (Windows 10 1607 on); the screen's otherwise.
inline int win32WindowDpi(HWND window)
{
    using GetDpiForWindowFunction = UINT(WINAPI*)(HWND);
    static const auto getDpiForWindow = reinterpret_cast<GetDpiForWindowFunction>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
    const int dpi = getDpiForWindow != nullptr && window != nullptr ? static_cast<int>(getDpiForWindow(window)) : 0;
    return dpi > 0 ? dpi : win32ScreenDpi();
}

/// The window rectangle around the client rectangle |rect| for a window of these styles whose
/// frame is drawn at |dpi|: the frame metrics of that dpi where the system has them per dpi
/// (Windows 10 1607 on), the ones of the scale at logon otherwise.
inline void win32AdjustWindowRect(RECT& rect, DWORD style, DWORD exStyle, int dpi)
{
    using AdjustForDpiFunction = BOOL(WINAPI*)(LPRECT, DWORD, BOOL, DWORD, UINT);
    static const auto adjustForDpi = reinterpret_cast<AdjustForDpiFunction>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "AdjustWindowRectExForDpi")));
    if (adjustForDpi == nullptr || !adjustForDpi(&rect, style, FALSE, exStyle, static_cast<UINT>(dpi)))
        AdjustWindowRectEx(&rect, style, FALSE, exStyle);
}
