#pragma once

#include "platform/input_injector.h"
#include "platform/x11/x11_connection.h"

/// Left-button presses and releases through the XTest extension, at the pointer's position,
/// as the X server would report the physical button, through a connection of its own.
class X11InputInjector final : public InputInjector {
public:
    X11InputInjector();

    /// False when the display could not be opened or lacks XTest; the calls then do nothing.
    bool valid() const noexcept { return m_usable; }

    void leftButtonDown() noexcept override;
    void leftButtonUp() noexcept override;

private:
    void sendLeftButton(bool pressed) noexcept;

    X11Connection m_connection;
    bool m_usable = false;
};
