#pragma once

#include <array>
#include <cstdint>

#include "platform/pointer.h"

/// The key path's state, owned by the input loop's core and touched only on its thread.
struct KeyPathState {
    /// Pointer control is on: ticks move the pointer.
    bool on = false;
    /// Held arrows, indexed by CapturedKey (Left, Up, Right, Down): 1 held, 0 not. The ticker
    /// moves only for exactly 1.
    std::array<std::int16_t, 4> ArrowDown{};
    /// The installed key capture, 0 when none.
    std::uintptr_t captureHandle = 0;
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
    /// A left-button press injected for Enter that no release has followed yet. Every such
    /// press is released before pointer control goes off and at exit, so the button never
    /// stays down once the keys are no longer ours.
    bool LeftButtonHeld = false;
    /// One bit per key whose last press was claimed (swallowed) by the capture
    /// (capturedKeyBit). Its release is claimed too; any other release belongs to the
    /// application that saw the press. Cleared when the capture goes.
    std::uint8_t ClaimedPresses = 0;
};
