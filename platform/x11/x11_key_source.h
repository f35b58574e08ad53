#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/key_event_source.h"
#include "platform/x11/x11_connection.h"
#include "platform/x11/x11_key_table.h"

class QSocketNotifier;
class QTimer;

/// Captures the arrows and Enter (keypad ones included while they report those keys) on the
/// whole X11 desktop, through passive key grabs on the root window of a connection of its own.
///
/// Presses come from the grabs, so the focused application never sees them. Each grab freezes
/// the keyboard when it fires and is dropped at once (XUngrabKeyboard), so every other key, and
/// the modifiers' releases, go on to the focused application in order while an arrow is held.
/// Releases come from XInput2 raw events, which reach us whatever window has the focus; as the
/// grab is already gone, the application gets the grabbed key's release without its press.
/// Alt (Mod1) held turns 256/257 into 260/261. Held keys give repeated presses and one release.
///
/// A change of the keyboard map (another layout, a remapped key) is followed: the grabs are
/// made again for the keys that now report arrows or Enter.
///
/// Needs a QCoreApplication: events are read when Qt's loop sees the connection readable.
/// Grabs are tied to the connection, so they also vanish when the process dies.
class X11KeySource final : public KeyEventSource {
public:
    X11KeySource();
    ~X11KeySource() override;
    X11KeySource(const X11KeySource&) = delete;
    X11KeySource& operator=(const X11KeySource&) = delete;

    /// Opens the connection and grabs. Key combinations another client already holds (a window
    /// manager's Shift+Alt+arrow, say) are left to it; fails only when a key without modifiers
    /// (NumLock and CapsLock aside) cannot be grabbed, when the display lacks what is needed, or
    /// in a Wayland session ($WAYLAND_DISPLAY set or $XDG_SESSION_TYPE "wayland"), whose own
    /// applications' keys never pass through the X server.
    /// Installing again replaces the previous installation and its handle.
    std::uintptr_t install(KeyEventSink& sink) override;
    /// Nothing follows the sink in the chain: always 0.
    std::intptr_t forward(std::uintptr_t handle, const KeyEvent& event) noexcept override;
    void uninstall(std::uintptr_t handle) override;
    std::string lastError() const override { return m_lastError; }

    struct GrabCounts {
        int succeeded = 0;
        int failed = 0;  ///< combinations another client holds
    };
    /// Of the last install() (also after it failed).
    GrabCounts grabCounts() const noexcept { return m_grabCounts; }

private:
    struct Grab {
        unsigned keycode;
        unsigned modifiers;
    };

    void fail(std::string reason);
    /// Grabs every combination the table names; an empty string, or why the capture cannot work.
    std::string grabKeys();
    void followKeymap();
    void release();
    void readEvents() noexcept;
    void handleEvent(XEvent& event) noexcept;
    void deliver(std::uint32_t message, std::uint8_t vk) noexcept;

    std::unique_ptr<X11Connection> m_connection;
    std::unique_ptr<QSocketNotifier> m_notifier;
    /// Coalesces the burst of notifications one keymap change brings into one regrab.
    std::unique_ptr<QTimer> m_keymapTimer;
    X11KeyTable m_table;
    std::vector<Grab> m_grabs;
    /// Per keycode, the virtual-key code delivered with its last press, until its release.
    std::array<std::uint8_t, 256> m_downVk{};
    /// The keyboard's modifier state as the server last reported it (releases carry none).
    unsigned m_modifiers = 0;
    int m_xinputOpcode = -1;
    int m_xkbEventBase = -1;
    KeyEventSink* m_sink = nullptr;
    bool m_reading = false;
    std::uintptr_t m_handle = 0;
    std::uintptr_t m_lastHandle = 0;
    std::string m_lastError;
    GrabCounts m_grabCounts;
};
