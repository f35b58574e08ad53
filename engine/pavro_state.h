#pragma once

#include <array>
#include <cstdint>

#include "platform/pointer.h"

/// The program's state on the UI thread: one object owned by the program, so a test builds a
/// fresh program in one line. Types are kept exactly: 16-bit where the value is an Integer. The
/// key path's own state (held keys, the button, the current step) is the input loop's
/// (KeyPathState); the steps here are what the settings give, handed to the loop.
struct PavroState {
    /// Pointer control is on or off; only the on/off switch changes it.
    bool IsOn = false;
    /// The next unload of the window really ends the program.
    bool QuitRequested = false;
    /// Pixels per tick at the standard and the fast speed.
    std::int16_t StdStep = 0;
    std::int16_t FastStep = 0;
    /// Milliseconds of uninterrupted movement after which FastStep applies.
    std::int16_t FastAfter = 0;
};
