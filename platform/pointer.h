#pragma once

#include <cstdint>

/// A pointer position in screen pixels, x then y.
struct CursorPoint {
    std::int32_t x = 0;
    std::int32_t y = 0;
};

/// The desktop's pointer.
class Pointer {
public:
    virtual ~Pointer() = default;
    /// Fills |point| with the current position; false (and |point| untouched) on failure.
    virtual bool read(CursorPoint& point) = 0;
    /// Moves the pointer to (x, y). The platform confines it to the screen; any value is allowed.
    /// False when the pointer is not this program's to move (the system refused the move, or
    /// input now goes where this program's key capture does not reach).
    virtual bool moveTo(std::int32_t x, std::int32_t y) = 0;
    /// False when the user's input now goes where this program's key capture does not reach
    /// (a secure desktop, a window above this program's rights), so a held key's release would
    /// be unseen. A platform that can't tell says true.
    virtual bool inReach() { return true; }
};
