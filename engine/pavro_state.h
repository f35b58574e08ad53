#pragma once

#include <array>
#include <cstdint>

#include "platform/pointer.h"

/// Integer-Boolean values: true is -1, false is 0. IsOn and QuitRequested hold these; the
/// other flags below say at each why they don't.
inline constexpr std::int16_t kTrue = -1;
inline constexpr std::int16_t kFalse = 0;

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
};
