#pragma once

#include "platform/pointer.h"

/// The desktop pointer through GetCursorPos / SetCursorPos, in virtual-screen pixels; the
/// system keeps it on the screens.
class Win32Pointer final : public Pointer {
public:
    bool read(CursorPoint& point) override;
    void moveTo(std::int32_t x, std::int32_t y) override;
};
