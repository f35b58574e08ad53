#pragma once

#include "platform/pointer.h"
#include "platform/x11/x11_connection.h"

/// The X pointer in root-window coordinates of the default screen, over a connection of its own.
class X11Pointer final : public Pointer {
public:
    X11Pointer();

    /// False when the display could not be opened; read() and moveTo() then fail.
    bool valid() const noexcept { return m_connection.valid(); }

    /// False also while the pointer is on another screen of the display.
    bool read(CursorPoint& point) override;
    /// The server confines the pointer to the screen. Waits for the server (one round trip), so
    /// the move is visible to every client when this returns.
    bool moveTo(std::int32_t x, std::int32_t y) override;

private:
    X11Connection m_connection;
};
