#pragma once

#include <windows.h>

/// A backend that needs some of the main window's messages (the tray's "TaskbarCreated").
/// The window offers every message to its handlers before its own processing.
class Win32MessageHandler {
public:
    virtual ~Win32MessageHandler() = default;
    /// True when the message was handled; |result| is then the window procedure's result.
    virtual bool handleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) = 0;
};

/// A message-only window of class |className| (registered here with |procedure|) whose user
/// data is |owner|: it receives messages and timers and never appears anywhere. Null on failure.
inline HWND win32MessageWindow(const wchar_t* className, WNDPROC procedure, void* owner)
{
    HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = procedure;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = className;
    RegisterClassW(&windowClass);
    HWND window = CreateWindowExW(0, className, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, instance, nullptr);
    if (window != nullptr)
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(owner));
    return window;
}

/// Posted to the main window when the key capture was lost: the program installs it again.
inline constexpr UINT kRenewKeyCaptureMessage = WM_APP + 2;
/// Posted to the main window when the foreground window or the input desktop changed while
/// the key capture is installed: what is held may have to be let go.
inline constexpr UINT kInputChangedMessage = WM_APP + 3;
