#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/key_event_source.h"
#include "platform/x11/x11_connection.h"
#include "platform/x11/x11_key_grabs.h"

class QSocketNotifier;
class QTimer;

/// Captures the arrows and Enter (keypad ones included while they report those keys) on the
/// whole X11 desktop, through passive key grabs on the root window of a connection of its own.
///
/// Presses come from the grabs, so the focused application never sees them. Each grab freezes
/// the keyboard when it fires and is dropped at once, so every other key, and the modifiers'
/// releases, go on to the focused application in order while an arrow is held. Releases come
/// from XInput2 raw events, which reach us whatever window has the focus; as the grab is already
/// gone, the application gets the grabbed key's release without its press. Alt (Mod1) held turns
/// 256/257 into 260/261. Held keys give repeated presses and one release.
///
/// The connection is read on a thread of its own that does nothing else: it drops each grab the
/// moment its press arrives and queues the (message, virtual-key code) pair for the UI thread,
/// which hands it to the sink. However long the UI thread is busy or stalled, the keyboard of
/// the desktop is never held. Every press the sink gets is followed by its release (see
/// X11KeyQueue for a queue that fills up).
///
/// A change of the keyboard map (another layout, a remapped key) is followed: the grabs are
/// made again for the keys that now report arrows or Enter.
///
/// Needs a QCoreApplication: the sink is called from Qt's loop on the thread that installed.
/// Grabs are tied to the connection, so they also vanish when the process dies.
class X11KeySource final : public KeyEventSource {
public:
    X11KeySource();
    ~X11KeySource() override;
    X11KeySource(const X11KeySource&) = delete;
    X11KeySource& operator=(const X11KeySource&) = delete;

    /// Opens the connection, grabs and starts the reading thread. Key combinations another
    /// client already holds (a window manager's Shift+Alt+arrow, say) are left to it; fails
    /// only when a key without modifiers (NumLock and CapsLock aside) cannot be grabbed, when
    /// the display lacks what is needed, or in a Wayland session ($WAYLAND_DISPLAY set or
    /// $XDG_SESSION_TYPE "wayland"), whose own applications' keys never pass through the X server.
    /// Installing again replaces the previous installation and its handle.
    std::uintptr_t install(KeyEventSink& sink) override;
    /// Nothing follows the sink in the chain: always 0.
    std::intptr_t forward(std::uintptr_t handle, const KeyEvent& event) noexcept override;
    /// Stops and joins the reading thread, drops the grabs and whatever is still queued.
    void uninstall(std::uintptr_t handle) override;
    std::string lastError() const override { return m_lastError; }

    /// Hands the sink every event the X server sent before this call (the reading thread makes
    /// one round trip to the server for it), with any regrab asked for before it in place. For
    /// tests and benchmarks that must know all keys typed so far were seen; false when nothing
    /// is installed or after |timeoutMs|.
    bool settle(int timeoutMs = 2000);

    using GrabCounts = X11KeyGrabs::Counts;
    /// Of the last install() (also after it failed), or of the plan its check made afresh.
    GrabCounts grabCounts() const noexcept { return m_grabCounts; }

private:
    class Reader;

    void fail(std::string reason);
    void followKeymap();
    void release();
    /// UI thread: hands what the reader queued to the sink.
    void deliverQueued() noexcept;

    std::unique_ptr<Reader> m_reader;
    /// The reader's signal to the UI thread (an eventfd), watched by m_notifier.
    int m_wakeUi = -1;
    std::unique_ptr<QSocketNotifier> m_notifier;
    /// Coalesces the burst of notifications one keymap change brings into one regrab.
    std::unique_ptr<QTimer> m_keymapTimer;
    /// The last plan made, for the map it was made for. Finding other clients' bindings takes
    /// a trial grab per modifier state (most of a switch's time under a window manager), so an
    /// install for the same map grabs by this plan at once and checks it right afterwards.
    std::shared_ptr<const X11KeyTable> m_plannedTable;
    X11KeyGrabs m_plannedGrabs;
    bool m_checkPlan = false;
    KeyEventSink* m_sink = nullptr;
    std::uintptr_t m_handle = 0;
    std::uintptr_t m_lastHandle = 0;
    std::string m_lastError;
    GrabCounts m_grabCounts;
};
