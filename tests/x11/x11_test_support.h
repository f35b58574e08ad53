#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

#include "platform/key_event_source.h"
#include "platform/x11/x11_connection.h"

class QSocketNotifier;
class X11KeySource;

/// Runs Qt's event loop (the probe's socket notifier) and every PumpedSource's dispatch() until
/// |condition| holds or |timeout| passes. Returns the condition's last value.
bool waitUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds timeout = std::chrono::seconds(5));

/// While it lives, waitUntil() reads |source| on this thread, as the input loop would.
class PumpedSource {
public:
    explicit PumpedSource(X11KeySource& source);
    ~PumpedSource();
    PumpedSource(const PumpedSource&) = delete;
    PumpedSource& operator=(const PumpedSource&) = delete;

private:
    X11KeySource& m_source;
};

/// A sink that keeps every change, in a short notation of (message, key code) pairs: 256 down,
/// 257 up, 260 / 261 the same with Alt; 37-40 the arrows, 13 Enter. It claims every change.
class RecordingSink final : public KeySink {
public:
    using Pair = std::pair<std::uint32_t, std::uint32_t>;
    static constexpr std::uint32_t kDown = 256, kUp = 257, kSysDown = 260, kSysUp = 261;

    bool keyChanged(const KeyChange& change) noexcept override;
    const std::vector<Pair>& events() const { return m_events; }
    bool contains(Pair pair) const;
    void clear() { m_events.clear(); }

private:
    std::vector<Pair> m_events;
};

/// What the probe window got: an X event type (KeyPress, ButtonRelease...) and its keycode or button.
struct ProbeEvent {
    int type;
    unsigned detail;
    bool operator==(const ProbeEvent&) const = default;
};

/// A window of the test's own, on its own connection, that holds the keyboard focus and logs
/// the keys and buttons it receives, as any application would see them.
class ProbeWindow {
public:
    ProbeWindow();
    ~ProbeWindow();
    ProbeWindow(const ProbeWindow&) = delete;
    ProbeWindow& operator=(const ProbeWindow&) = delete;

    /// Mapped, focused and ready to log.
    bool ready() const { return m_ready; }
    /// Where to put the pointer so that buttons land on the probe (root coordinates).
    int centreX() const { return kX + kWidth / 2; }
    int centreY() const { return kY + kHeight / 2; }

    const std::vector<ProbeEvent>& events() const { return m_events; }
    /// Reads what arrived without Qt's loop, for a thread other than the loop's while that
    /// thread is held up.
    void drain();
    bool received(int type, unsigned detail) const;
    void clear() { m_events.clear(); }

private:
    static constexpr int kX = 100;
    static constexpr int kY = 100;
    static constexpr int kWidth = 300;
    static constexpr int kHeight = 200;

    X11Connection m_connection;
    unsigned long m_window = 0;
    std::unique_ptr<QSocketNotifier> m_notifier;
    std::vector<ProbeEvent> m_events;
    bool m_mapped = false;
    bool m_ready = false;
};

/// Presses keys as a keyboard would, through XTest on a connection of its own. Keys are named
/// by keysym; every key it pressed and did not release is released on destruction.
class XTestKeyboard {
public:
    XTestKeyboard();
    ~XTestKeyboard();
    XTestKeyboard(const XTestKeyboard&) = delete;
    XTestKeyboard& operator=(const XTestKeyboard&) = delete;

    unsigned keycode(unsigned long keysym) const;
    void press(unsigned long keysym);
    void release(unsigned long keysym);
    void tap(unsigned long keysym);
    void tapKeycode(unsigned keycode);
    /// Gives |keycode| the single keysym |keysym| (NoSymbol: none) in the server's keyboard map.
    void remap(unsigned keycode, unsigned long keysym);
    /// A keycode the server's map leaves without any keysym; 0 when there is none.
    unsigned unusedKeycode() const;
    /// Locks or unlocks NumLock directly in the keyboard's state.
    void setNumLock(bool on);
    Display* display() const { return m_connection.display(); }

private:
    void send(unsigned keycode, bool pressed);

    X11Connection m_connection;
    std::vector<unsigned> m_down;
};
