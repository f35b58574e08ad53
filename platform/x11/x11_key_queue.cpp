#include "platform/x11/x11_key_queue.h"

static_assert((X11KeyQueue::kCapacity & (X11KeyQueue::kCapacity - 1)) == 0, "indexes wrap by masking");

int X11KeyQueue::keyIndex(std::uint32_t vkCode) noexcept
{
    if (vkCode >= 37 && vkCode <= 40)
        return static_cast<int>(vkCode - 37);
    return vkCode == 13 ? 4 : -1;
}

bool X11KeyQueue::push(std::uint32_t message, std::uint32_t vkCode) noexcept
{
    const std::uint32_t written = m_written.load(std::memory_order_relaxed);
    const std::uint32_t room = kCapacity - (written - m_read.load(std::memory_order_acquire));
    const bool release = message == kWmKeyUp || message == kWmSysKeyUp;
    const int key = keyIndex(vkCode);
    // Every press that gets in as fresh keeps a slot back for its release (m_owed): the room
    // never falls below m_owed. Any other key (the capture pushes none) pairs with nothing.
    if (key < 0)
        return room > kKeys && put(written, message, vkCode);
    KeyState& state = m_keys[static_cast<std::size_t>(key)];
    if (release) {
        if (state == KeyState::PressDropped) {
            state = KeyState::Up;
            return false;
        }
        if (state == KeyState::PressQueued) {
            // Its slot was kept back since the press.
            state = KeyState::Up;
            --m_owed;
        } else if (room <= kKeys) {
            return false;  // a release without a press: owed releases come first
        }
    } else if (state == KeyState::PressQueued) {
        if (room <= kKeys)
            return false;  // a repeat: the room left is for fresh presses and owed releases
    } else {
        if (room < m_owed + 2) {
            state = KeyState::PressDropped;
            return false;
        }
        state = KeyState::PressQueued;
        ++m_owed;
    }
    return put(written, message, vkCode);
}

bool X11KeyQueue::put(std::uint32_t written, std::uint32_t message, std::uint32_t vkCode) noexcept
{
    // Messages fit in 16 bits (256 to 261), virtual-key codes in 8.
    m_slots[written & (kCapacity - 1)] = (message << 16) | (vkCode & 0xFFu);
    m_written.store(written + 1, std::memory_order_release);
    return true;
}

bool X11KeyQueue::pop(std::uint32_t& message, std::uint32_t& vkCode) noexcept
{
    const std::uint32_t read = m_read.load(std::memory_order_relaxed);
    if (read == m_written.load(std::memory_order_acquire))
        return false;
    const std::uint32_t slot = m_slots[read & (kCapacity - 1)];
    message = slot >> 16;
    vkCode = slot & 0xFFu;
    m_read.store(read + 1, std::memory_order_release);
    return true;
}

void X11KeyQueue::reset() noexcept
{
    m_written.store(0);
    m_read.store(0);
    m_keys.fill(KeyState::Up);
    m_owed = 0;
}
