#pragma once

#include <windows.h>
#include <shellapi.h>

#include <string>
#include <string_view>

#include "platform/tray_icon.h"
#include "platform/win32/win32_window_messages.h"

/// The notification-area icon through Shell_NotifyIconW: icon 1 of |window|, its callbacks
/// sent to the window as WM_MOUSEMOVE, the classic choice, with the mouse message on the icon
/// in lParam. The window offers its messages to this object, which picks out the callbacks
/// and re-adds the icon when the taskbar is (re)created.
class Win32TrayIcon final : public TrayIcon, public Win32MessageHandler {
public:
    /// Loads both images from |instance|'s resources at the small-icon size.
    Win32TrayIcon(HINSTANCE instance, HWND window);
    Win32TrayIcon(const Win32TrayIcon&) = delete;
    Win32TrayIcon& operator=(const Win32TrayIcon&) = delete;
    /// Removes an icon still shown: a program that ends never leaves a dead icon behind.
    ~Win32TrayIcon() override;

    void setEventSink(ProgramEventSink* sink) override { m_sink = sink; }
    bool add(TrayImage image, std::string_view tip) override;
    bool modify(TrayImage image) override;
    bool remove() override;
    void showMessage(std::string_view title, std::string_view text) override;

    /// The icon's callbacks, and "TaskbarCreated": the taskbar started (again) and forgot every
    /// icon, or the display's scale changed or a remote session connected while the icon
    /// stayed. The images are loaded again at the current small-icon size and the icon is
    /// modified; only when that fails (the icon is gone) is it added once more.
    bool handleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

    /// The icon handle of an image, for the window's own icon. Null for None.
    HICON iconFor(TrayImage image) const;

    /// The system's record for the icon showing |image|: size of the whole structure, the
    /// window, id, flags (message, icon, tip), callback message, icon handle and tip,
    /// everything else zero.
    NOTIFYICONDATAW toNative(TrayImage image) const;

private:
    /// Loads both images at the small-icon size the system currently asks for.
    void loadImages();
    /// Modifies the icon, or adds it when the shell has none; true when the shell took it.
    bool show();
    /// One more try of an icon the shell refused; after two minutes of refusals the user is told.
    void retry();
    void stopRetrying();
    void destroyImages();
    bool isCallback(WPARAM wParam, LPARAM lParam) const;

    HINSTANCE m_instance;
    HWND m_window;
    HICON m_active = nullptr;
    HICON m_inactive = nullptr;
    UINT m_taskbarCreated = 0;
    bool m_shown = false;   ///< the system took the last add
    bool m_wanted = false;  ///< added and not removed: re-add when the taskbar restarts
    bool m_retrying = false;  ///< the shell refused the add: tried again on a timer
    DWORD m_retryStart = 0;
    TrayImage m_image = TrayImage::None;
    std::wstring m_tip;
    ProgramEventSink* m_sink = nullptr;
};
