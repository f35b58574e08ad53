#pragma once

#include <cstdint>

#include "platform/pointer.h"

/// The desktop pointer through GetCursorPos / SetCursorPos, in virtual-screen pixels; the
/// system keeps it on the screens.
class Win32Pointer final : public Pointer {
public:
    bool read(CursorPoint& point) override;
    /// False when SetCursorPos fails (a secure desktop: the UAC prompt, the lock screen) or
    /// the foreground window belongs to a process of higher integrity than this one, whose
    /// keys the low-level hook is not given; the pointer is then left where it is.
    bool moveTo(std::int32_t x, std::int32_t y) override;
    /// False while the input desktop is not this program's (the UAC prompt, the lock screen:
    /// OpenInputDesktop is refused or names another desktop) or the foreground window belongs
    /// to a process above this one.
    bool inReach() override;

    /// True when a process with integrity level |theirs| is above one at |ours| (the
    /// relative identifiers of the mandatory label, e.g. 0x2000 medium, 0x3000 high).
    static bool integrityAbove(std::uint32_t theirs, std::uint32_t ours) { return theirs > ours; }

private:
    /// Whether the foreground window's process is above this one, looked up again only when
    /// the foreground process changes.
    bool foregroundAbove();

    std::uint32_t m_ownLevel = 0;
    std::uint32_t m_foregroundProcess = 0;
    bool m_foregroundAbove = false;
};
