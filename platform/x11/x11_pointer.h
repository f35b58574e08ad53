#pragma once

#include <optional>

#include "platform/pointer.h"
#include "platform/x11/x11_connection.h"

/// The X pointer in root-window coordinates of the default screen, over a connection of its own,
/// opened when the pointer is first used: a program whose pointer control stays off never holds
/// it (Xlib's buffers and the server's setup data are some 70 KiB of memory per connection).
class X11Pointer final : public Pointer {
public:
    X11Pointer();

    /// False when the display could not be opened; read() and moveTo() then fail. Opens the
    /// connection if no call has tried yet.
    bool valid() noexcept { return connection().valid(); }

    /// False also while the pointer is on another screen of the display.
    bool read(CursorPoint& point) override;
    /// The server confines the pointer to the screen. Waits for the server (one round trip), so
    /// the move is visible to every client when this returns.
    bool moveTo(std::int32_t x, std::int32_t y) override;

private:
    /// Opened on the first call; one attempt only.
    X11Connection& connection() noexcept;

    std::optional<X11Connection> m_connection;
};
