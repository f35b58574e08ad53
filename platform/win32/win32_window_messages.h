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
