#pragma once

#include <array>
#include <atomic>
#include <cstdint>

#include "platform/key_event_source.h"

/// Carries (message, virtual-key code) pairs from the thread that reads the X connection to the
/// UI thread: one producer, one consumer, fixed size, no lock and no allocation on either side.
///
/// When the consumer falls far behind (the UI thread stalled for minutes while keys kept
/// coming), the queue stays sound instead of blocking the producer, and never breaks a pairing:
/// - the release of a key whose press got in always gets in: a slot is kept back for it;
/// - a fresh press (its key up so far) gets in while there is room for it, for its own release
///   and for every release owed; otherwise it is dropped, and so is its release, so the
///   consumer sees neither. A later press of that key while it is still held (auto-repeat)
///   counts as fresh again, so a hold whose first press was dropped still starts;
/// - a repeated press (an arrow's auto-repeat adds nothing; an Enter repeat is one drag press
///   less) and a release with no press (a key held since before the capture) only get in
///   while they leave a slot per key free: a fresh press still finds room after a flood of
///   repeats, while up to three other keys are held.
/// Nothing is delivered out of order.
class X11KeyQueue {
public:
    static constexpr std::uint32_t kCapacity = 1024;

    /// Producer side. False when the event was dropped by the rule above.
    bool push(std::uint32_t message, std::uint32_t vkCode) noexcept;
    /// Consumer side. False when empty.
    bool pop(std::uint32_t& message, std::uint32_t& vkCode) noexcept;
    /// Empties the queue; only while neither side runs.
    void reset() noexcept;

private:
    /// Our five keys (Left, Up, Right, Down, Enter): the releases room is kept for.
    static constexpr std::uint32_t kKeys = 5;
    static int keyIndex(std::uint32_t vkCode) noexcept;
    /// Writes the event into slot |written| and publishes it; true.
    bool put(std::uint32_t written, std::uint32_t message, std::uint32_t vkCode) noexcept;

    /// What the consumer was told of a key so far.
    enum class KeyState : std::uint8_t {
        Up,
        /// A press got in that no release has followed: its release is owed a slot.
        PressQueued,
        /// Down, but its press was dropped: its release is dropped too.
        PressDropped,
    };

    std::array<std::uint32_t, kCapacity> m_slots{};
    std::atomic<std::uint32_t> m_written{0};
    std::atomic<std::uint32_t> m_read{0};
    /// Producer's own, per key.
    std::array<KeyState, kKeys> m_keys{};
    /// Producer's own: how many keys are PressQueued, each owed one slot.
    std::uint32_t m_owed = 0;
};
