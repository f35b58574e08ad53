#pragma once

#include <windows.h>
#include <shellapi.h>

#include <string_view>

#include "platform/tray_icon.h"
#include "platform/win32/win32_window_messages.h"

/// The notification-area icon through Shell_NotifyIconA. The record handed to the system is
/// the platform's own NOTIFYICONDATAA (its size, 64-bit handles, 128-byte tip), filled with the
/// field values of TrayIconData. Re-adds the icon when the taskbar is (re)created.
class Win32TrayIcon final : public TrayIcon, public Win32MessageHandler {
public:
    /// Loads both images from |instance|'s resources at the small-icon size.
    explicit Win32TrayIcon(HINSTANCE instance);
    Win32TrayIcon(const Win32TrayIcon&) = delete;
    Win32TrayIcon& operator=(const Win32TrayIcon&) = delete;
    /// Removes an icon still shown: a program that ends never leaves a dead icon behind.
    ~Win32TrayIcon() override;

    bool add(const TrayIconData& data) override;
    bool modify(const TrayIconData& data) override;
    bool remove(const TrayIconData& data) override;
    void showMessage(std::string_view title, std::string_view text) override;

    /// "TaskbarCreated": explorer started (again) and forgot every icon; add ours once more.
    bool handleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

    /// The icon handle of an image, for the window's own icon. Null for None.
    HICON iconFor(TrayImage image) const;

    /// The system's record for |data|: size of the whole structure, the window, id, flags,
    /// callback message, icon handle and tip, everything else zero.
    NOTIFYICONDATAA toNative(const TrayIconData& data) const;

private:
    HICON m_active = nullptr;
    HICON m_inactive = nullptr;
    UINT m_taskbarCreated = 0;
    bool m_shown = false;   ///< the system took the last add
    bool m_wanted = false;  ///< added and not removed: re-add when the taskbar restarts
    TrayIconData m_last{};
};
