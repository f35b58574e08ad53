#pragma once

#include <cstdint>
#include <string>

/// One keyboard event as the desktop reports it, before any application sees it.
struct KeyEvent {
    /// Hook code: kKeyActionCode means an event to act on; any other value (negative
    /// codes included) must be passed on untouched.
    std::int32_t code;
    /// Keyboard message: 256 key down, 257 key up, 260 / 261 the same while Alt is held.
    std::uint32_t message;
    /// Virtual-key code: 13 Enter, 37 Left, 38 Up, 39 Right, 40 Down; others as the platform reports.
    std::uint32_t vkCode;
    /// The backend's own event record (the Win32 lParam); handed back to forward() unchanged.
    std::intptr_t native;
};

inline constexpr std::int32_t kKeyActionCode = 0;
inline constexpr std::uint32_t kWmKeyDown = 256;
inline constexpr std::uint32_t kWmKeyUp = 257;
inline constexpr std::uint32_t kWmSysKeyDown = 260;
inline constexpr std::uint32_t kWmSysKeyUp = 261;

/// The bit of a captured key in a set of claimed presses: the arrows (37-40) bits 0-3, Enter
/// (13) bit 4; 0 for any other key, which the capture never claims.
constexpr std::uint8_t capturedKeyBit(std::uint32_t vkCode) noexcept
{
    if (vkCode == 13)
        return 1u << 4;
    if (vkCode >= 37 && vkCode <= 40)
        return static_cast<std::uint8_t>(1u << (vkCode - 37));
    return 0;
}

/// Whether the capture claims |message| for the captured key of |bit|, keeping |claimed| up
/// to date: every press is claimed, a release only when its press was (the application that
/// saw a press gets its release), anything else is claimed. A backend that must answer
/// before the program's state is reached decides with this alone, as the program does.
constexpr bool claimKeyEvent(std::uint8_t& claimed, std::uint8_t bit, std::uint32_t message) noexcept
{
    if (message == kWmKeyDown || message == kWmSysKeyDown) {
        claimed |= bit;
        return true;
    }
    if (message == kWmKeyUp || message == kWmSysKeyUp) {
        const bool ours = (claimed & bit) != 0;
        claimed &= static_cast<std::uint8_t>(~bit);
        return ours;
    }
    return true;
}

/// Receives every key event while installed. Runs on the UI thread, on the key path:
/// it must not allocate, block, log or touch the settings store.
class KeyEventSink {
public:
    virtual ~KeyEventSink() = default;
    /// Nonzero drops the event; otherwise return what KeyEventSource::forward returned.
    virtual std::intptr_t KeyboardProc(const KeyEvent& event) noexcept = 0;
};

/// Delivers key events from the whole desktop before any application sees them.
/// Abstract so the engine runs without a display; the real ones are X11KeySource and Win32KeyboardHook.
class KeyEventSource {
public:
    virtual ~KeyEventSource() = default;
    /// Starts delivering events to |sink| on the UI thread. Returns a nonzero handle, or 0
    /// when the system refused; nothing is delivered then and lastError() says why.
    virtual std::uintptr_t install(KeyEventSink& sink) = 0;
    /// Passes |event| on to the rest of the chain and its target, unchanged; the sink must
    /// return this result. Must not allocate or block. A source that decides claim or pass
    /// itself, before the sink runs (claimKeyEvent), has already passed the event: nothing here.
    virtual std::intptr_t forward(std::uintptr_t handle, const KeyEvent& event) noexcept = 0;
    /// Stops delivery for |handle| and releases everything install() took. Harmless for 0
    /// or a handle already removed.
    virtual void uninstall(std::uintptr_t handle) = 0;
    /// Installs the capture again after the system may have dropped it (|handle| is removed
    /// first). The presses in |claimed| (capturedKeyBit bits) whose keys are still down stay
    /// claimed, so their auto-repeats and releases belong to the same press; those are
    /// returned in |stillDown|. A source that can't tell which keys are down keeps none.
    /// Returns the new handle, or 0 when the system refused.
    virtual std::uintptr_t reinstall(std::uintptr_t handle, KeyEventSink& sink, std::uint8_t claimed,
                                     std::uint8_t& stillDown)
    {
        (void)claimed;
        uninstall(handle);
        stillDown = 0;
        return install(sink);
    }
    /// A one-line reason for the last install() that returned 0, for the user.
    virtual std::string lastError() const = 0;
};
