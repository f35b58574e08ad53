#pragma once

#include "platform/input_injector.h"
#include "platform/x11/x11_connection.h"

/// Left-button presses and releases through the XTest extension, at the pointer's position,
/// as the X server would report the physical button. Uses a connection of its own, except
/// while an X11KeySource it was lent to is installed (see X11KeySource::clickAheadWith).
class X11InputInjector final : public InputInjector {
public:
    X11InputInjector();

    /// False when the display could not be opened or lacks XTest; the calls then do nothing.
    bool valid() const noexcept { return m_usable; }

    void leftButtonDown() noexcept override;
    void leftButtonUp() noexcept override;

    /// Sends through |display| from now on (nullptr: through its own connection again). The
    /// key capture's thread presses the button ahead of the engine through that connection,
    /// so every button event takes one connection and reaches the server in the order sent.
    /// |afterSend| (may be null) is called after each event sent through |display|.
    void routeThrough(Display* display, void (*afterSend)(void*) noexcept = nullptr, void* context = nullptr) noexcept;
    /// The next leftButtonDown() finds its press already sent: it sends nothing. Until
    /// takeUnclaimedPress(), which says whether that leftButtonDown() never came.
    void expectPressSentAhead() noexcept { m_pressSentAhead = true; }
    bool takeUnclaimedPress() noexcept;

private:
    void sendLeftButton(bool pressed) noexcept;

    X11Connection m_connection;
    bool m_usable = false;
    Display* m_route = nullptr;
    void (*m_afterSend)(void*) noexcept = nullptr;
    void* m_afterSendContext = nullptr;
    bool m_pressSentAhead = false;
};
