#pragma once

#include <array>
#include <cstdint>

#include "platform/pointer.h"
#include "platform/tray_icon.h"

/// Integer-Boolean values: true is -1, false is 0.
inline constexpr std::int16_t kTrue = -1;
inline constexpr std::int16_t kFalse = 0;

/// The program's shared state: one object owned by the program, so a test builds a fresh
/// program in one line. Types are kept exactly: 16-bit where the value is an Integer.
struct PavroState {
    /// Pointer control is on (-1) or off (0); only the on/off switch changes it.
    std::int16_t IsOn = kFalse;
    /// The next unload of the window really ends the program.
    std::int16_t QuitRequested = kFalse;
    /// Held arrows, index = virtual-key code - 37 (Left, Up, Right, Down): 1 held, 0 not.
    std::array<std::int16_t, 4> ArrowDown{};
    /// The installed key capture, 0 when none.
    std::uintptr_t HookHandle = 0;
    /// Pixels per tick at the standard and the fast speed.
    std::int16_t StdStep = 0;
    std::int16_t FastStep = 0;
    /// Milliseconds of uninterrupted movement after which FastStep applies.
    std::int16_t FastAfter = 0;
    /// Pixels per axis that the next moving tick uses.
    std::int16_t CurStep = 0;
    /// Milliseconds of uninterrupted movement (a sum of tick intervals), held at 32767.
    std::int16_t HoldTime = 0;
    /// The pointer position last read.
    CursorPoint CursorPt{};
    /// The one tray-icon record, filled at start-up.
    TrayIconData TrayData{};
    /// A left-button press injected for Enter that no release has followed yet. Every such
    /// press is released before pointer control goes off and at exit, so the button never
    /// stays down once the keys are no longer ours.
    bool LeftButtonHeld = false;
    /// One bit per key whose last press was claimed (swallowed) by the capture: the arrows by
    /// their ArrowDown index, Enter as bit 4. Its release is claimed too; any other release
    /// belongs to the application that saw the press. Cleared when the capture goes.
    std::uint8_t ClaimedPresses = 0;
};
