#pragma once

#include <cstdint>
#include <string>

/// The keys the capture takes while pointer control is on. The arrows come first, in the order
/// Left, Up, Right, Down, so that an arrow's value is its index among the four.
enum class CapturedKey : std::uint8_t { Left, Up, Right, Down, Enter };

inline constexpr int kArrowCount = 4;

/// One change of a captured key as the desktop reports it, before any application sees it.
/// An auto-repeat is another change with |down| true. |alt|: Alt was held (a press made with
/// Alt held is claimed without effect; a release ends what its press began whatever |alt| says).
struct KeyChange {
    CapturedKey key;
    bool down;
    bool alt;
};

/// The bit of a captured key in a set of claimed presses: the arrows bits 0-3 by their order,
/// Enter bit 4.
constexpr std::uint8_t capturedKeyBit(CapturedKey key) noexcept
{
    return static_cast<std::uint8_t>(1u << static_cast<unsigned>(key));
}

/// Whether the capture claims |change|, keeping |claimed| (capturedKeyBit bits) up to date:
/// every press is claimed, a release only when its press was (the application that saw a press
/// gets its release). A backend that must answer before the program's state is reached decides
/// with this alone, as the program does.
constexpr bool claimKeyEvent(std::uint8_t& claimed, const KeyChange& change) noexcept
{
    const std::uint8_t bit = capturedKeyBit(change.key);
    if (change.down) {
        claimed |= bit;
        return true;
    }
    const bool ours = (claimed & bit) != 0;
    claimed &= static_cast<std::uint8_t>(~bit);
    return ours;
}

/// Receives every change of a captured key while the capture is installed, on the input loop's
/// thread. It is the key path: it must not allocate, block, log or touch the settings store.
class KeySink {
public:
    /// True when the change is claimed (swallowed); false passes it on to the focused application.
    /// A source that decides before the sink runs (claimKeyEvent) may ignore the answer.
    virtual bool keyChanged(const KeyChange& change) noexcept = 0;

protected:
    ~KeySink() = default;
};

/// Delivers the captured keys from the whole desktop before any application sees them, and
/// passes every other key on itself. Abstract so the engine runs without a display; the real
/// ones are X11KeySource, EvdevKeySource and Win32KeyboardHook. Every call comes on the input
/// loop's thread.
class KeyEventSource {
public:
    virtual ~KeyEventSource() = default;
    /// Starts delivering key changes to |sink|. Returns a nonzero handle, or 0 when the system
    /// refused; nothing is delivered then and lastError() says why.
    virtual std::uintptr_t install(KeySink& sink) = 0;
    /// Stops delivery for |handle| and releases everything install() took. Harmless for 0
    /// or a handle already removed.
    virtual void uninstall(std::uintptr_t handle) = 0;
    /// Installs the capture again after the system may have dropped it (|handle| is removed
    /// first). The presses in |claimed| (capturedKeyBit bits) whose keys are still down stay
    /// claimed, so their auto-repeats and releases belong to the same press; those are
    /// returned in |stillDown|. A source that can't tell which keys are down keeps none.
    /// Returns the new handle, or 0 when the system refused.
    virtual std::uintptr_t reinstall(std::uintptr_t handle, KeySink& sink, std::uint8_t claimed,
                                     std::uint8_t& stillDown)
    {
        (void)claimed;
        uninstall(handle);
        stillDown = 0;
        return install(sink);
    }
    /// A one-line reason for the last install() that returned 0, for the user.
    virtual std::string lastError() const = 0;

    /// A descriptor that turns readable when dispatch() has work, -1 when the source needs none
    /// (it delivers from a thread of its own). May change with install() and uninstall().
    virtual int pollFd() const noexcept { return -1; }
    /// Handles everything pending on pollFd(), delivering to the sink. Never blocks; may throw
    /// only when memory runs out (hot-plugging allocates), which the loop survives.
    virtual void dispatch() {}
};
