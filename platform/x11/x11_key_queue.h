#pragma once

#include <array>
#include <atomic>
#include <cstdint>

#include "platform/key_event_source.h"

/// Carries (message, virtual-key code) pairs from the thread that reads the X connection to the
/// UI thread: one producer, one consumer, fixed size, no lock and no allocation on either side.
///
/// When the consumer falls far behind (the UI thread stalled for minutes while keys kept
/// coming), the queue stays sound instead of blocking the producer: presses beyond the room are
/// dropped (an arrow's auto-repeat adds nothing; a dropped Enter repeat is one drag press less),
/// and so is a release whose key has no press waiting in the queue, while the release of a key
/// whose press is queued always gets in: room for one release per key is kept back. So every
/// press the consumer gets is followed by its release, and nothing is delivered out of order.
class X11KeyQueue {
public:
    static constexpr std::uint32_t kCapacity = 1024;

    /// Producer side. False when the event was dropped by the rule above. |pressSentAhead|
    /// travels with the event: the producer already sent the left-button press it stands for.
    bool push(std::uint32_t message, std::uint32_t vkCode, bool pressSentAhead = false) noexcept;
    /// Consumer side. False when empty.
    bool pop(std::uint32_t& message, std::uint32_t& vkCode, bool* pressSentAhead = nullptr) noexcept;
    /// Empties the queue; only while neither side runs.
    void reset() noexcept;

private:
    /// Our five keys (Left, Up, Right, Down, Enter): the releases room is kept for.
    static constexpr std::uint32_t kKeys = 5;
    static int keyIndex(std::uint32_t vkCode) noexcept;

    std::array<std::uint32_t, kCapacity> m_slots{};
    std::atomic<std::uint32_t> m_written{0};
    std::atomic<std::uint32_t> m_read{0};
    /// Producer's own: per key, whether a press is in the queue that no release has followed.
    std::array<bool, kKeys> m_pressQueued{};
};
