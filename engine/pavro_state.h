#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "platform/pointer.h"
#include "platform/tray_icon.h"

/// Integer-Boolean values: true is -1, false is 0. IsOn and QuitRequested hold these; the
/// other flags below say at each why they don't.
inline constexpr std::int16_t kTrue = -1;
inline constexpr std::int16_t kFalse = 0;

/// The one tray-icon record, with the values of the classic notification-area call. The
/// program keeps it as that call's record; the tray backend receives only the image and
/// the tooltip and builds whatever its platform takes.
struct TrayIconData {
    std::uint32_t cbSize = 0;
    /// The settings window's handle as the view reports it (an HWND, or an X window id):
    /// kept for the record, read by no backend.
    std::uintptr_t hWnd = 0;
    std::uint32_t uID = 0;
    std::uint32_t uFlags = 0;  ///< 1 message, 2 icon, 4 tip
    std::uint32_t uCallbackMessage = 0;
    /// Which image the icon shows. The record holds no icon handle of its own: the backend
    /// owns the images and looks the handle up for this value.
    TrayImage hIcon = TrayImage::None;
    /// A fixed 20-character field; the tooltip is the text up to the first NUL.
    std::array<char16_t, 20> szTip{};

    /// The tooltip as shown: szTip up to its first NUL, as UTF-8 (the field is ASCII in practice).
    std::string tipText() const
    {
        std::string text;
        for (char16_t c : szTip) {
            if (c == u'\0')
                break;
            text.push_back(c < 0x80 ? static_cast<char>(c) : '?');
        }
        return text;
    }
};

/// The program's state on the UI thread: one object owned by the program, so a test builds a
/// fresh program in one line. Types are kept exactly: 16-bit where the value is an Integer. The
/// key path's own state (held keys, the button, the current step) is the input loop's
/// (KeyPathState); the steps here are what the settings give, handed to the loop.
struct PavroState {
    /// Pointer control is on (-1) or off (0); only the on/off switch changes it.
    std::int16_t IsOn = kFalse;
    /// The next unload of the window really ends the program.
    std::int16_t QuitRequested = kFalse;
    /// Pixels per tick at the standard and the fast speed.
    std::int16_t StdStep = 0;
    std::int16_t FastStep = 0;
    /// Milliseconds of uninterrupted movement after which FastStep applies.
    std::int16_t FastAfter = 0;
    /// The one tray-icon record, filled at start-up.
    TrayIconData TrayData{};
};
