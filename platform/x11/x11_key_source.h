#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/key_event_source.h"
#include "platform/x11/x11_connection.h"
#include "platform/x11/x11_key_grabs.h"

/// Captures the arrows and Enter (keypad ones included while they report those keys) on the
/// whole X11 desktop, through passive key grabs on the root window of a connection of its own.
///
/// Presses come from the grabs, so the focused application never sees them. Each grab freezes
/// the keyboard when it fires and is dropped at once, before the sink runs, so every other key,
/// and the modifiers' releases, go on to the focused application in order while an arrow is
/// held. Releases come from XInput2 raw events, which reach us whatever window has the focus; as
/// the grab is already gone, the application gets the grabbed key's release without its press.
/// Alt (Mod1) held sets the change's alt. Held keys give repeated presses and one release.
///
/// The connection is read by whoever runs the input loop: it polls pollFd() and calls
/// dispatch(), on one thread, which is then the only one that touches this object. However long
/// the UI thread is busy, the keyboard of the desktop is never held by it.
///
/// A change of the keyboard map (another layout, a remapped key) is followed: the grabs are
/// made again for the keys that now report arrows or Enter.
///
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
    /// applications' keys never pass through the X server. Installing again replaces the
    /// previous installation and its handle.
    std::uintptr_t install(KeySink& sink) override;
    /// Drops the grabs and closes the connection.
    void uninstall(std::uintptr_t handle) override;
    std::string lastError() const override { return m_lastError; }

    /// The grabbing connection's socket while installed, else -1.
    int pollFd() const noexcept override;
    /// Hands the sink every key event the connection holds, dropping each grab at once, and
    /// follows a keyboard map change. Also finishes the check of a grab plan that install()
    /// reused, so the loop calls it once after install() too.
    void dispatch() noexcept override;

    /// Hands the sink every event the X server sent before this call (one round trip), with
    /// any regrab asked for before it in place. For tests and benchmarks that must know all keys
    /// typed so far were seen; false when nothing is installed. On the loop's thread.
    bool settle();

    using GrabCounts = X11KeyGrabs::Counts;
    /// Of the last install() (also after it failed), or of the plan its check made afresh.
    GrabCounts grabCounts() const noexcept { return m_grabCounts; }

private:
    struct Capture;

    void fail(std::string reason);
    void release() noexcept;
    void handle(XEvent& event) noexcept;
    /// Reads the keyboard map on a connection of its own and grabs anew when a key changed
    /// meaning (or a reused plan turned out out of date).
    void followKeymap() noexcept;

    std::unique_ptr<Capture> m_capture;
    /// The last plan made, for the map it was made for. Finding other clients' bindings takes
    /// a trial grab per modifier state (most of a switch's time under a window manager), so an
    /// install for the same map grabs by this plan at once and checks it right afterwards.
    std::shared_ptr<const X11KeyTable> m_plannedTable;
    X11KeyGrabs m_plannedGrabs;
    bool m_checkPlan = false;
    bool m_keymapChanged = false;
    KeySink* m_sink = nullptr;
    std::uintptr_t m_handle = 0;
    std::uintptr_t m_lastHandle = 0;
    std::string m_lastError;
    GrabCounts m_grabCounts;
};
