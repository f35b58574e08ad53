#include "platform/x11/x11_key_queue.h"

namespace {
constexpr std::uint32_t kSentAhead = 0x8000u;
}

static_assert((X11KeyQueue::kCapacity & (X11KeyQueue::kCapacity - 1)) == 0, "indexes wrap by masking");

int X11KeyQueue::keyIndex(std::uint32_t vkCode) noexcept
{
    if (vkCode >= 37 && vkCode <= 40)
        return static_cast<int>(vkCode - 37);
    return vkCode == 13 ? 4 : -1;
}

bool X11KeyQueue::push(std::uint32_t message, std::uint32_t vkCode, bool pressSentAhead) noexcept
{
    const std::uint32_t written = m_written.load(std::memory_order_relaxed);
    const std::uint32_t room = kCapacity - (written - m_read.load(std::memory_order_acquire));
    const bool release = message == kWmKeyUp || message == kWmSysKeyUp;
    const int key = keyIndex(vkCode);
    // Room for one release per key whose press is queued is always there: presses and lone
    // releases only get in while more than kKeys slots are free, and each queued press holds
    // at most one of those kKeys slots until its release takes it.
    const bool owed = release && key >= 0 && m_pressQueued[static_cast<std::size_t>(key)];
    if (!owed && room <= kKeys)
        return false;
    if (key >= 0)
        m_pressQueued[static_cast<std::size_t>(key)] = !release;
    // Messages fit in 16 bits (256 to 261), virtual-key codes in 8; the flag takes bit 15.
    m_slots[written & (kCapacity - 1)] = (message << 16) | (pressSentAhead ? kSentAhead : 0u) | (vkCode & 0xFFu);
    m_written.store(written + 1, std::memory_order_release);
    return true;
}

bool X11KeyQueue::pop(std::uint32_t& message, std::uint32_t& vkCode, bool* pressSentAhead) noexcept
{
    const std::uint32_t read = m_read.load(std::memory_order_relaxed);
    if (read == m_written.load(std::memory_order_acquire))
        return false;
    const std::uint32_t slot = m_slots[read & (kCapacity - 1)];
    message = slot >> 16;
    vkCode = slot & 0xFFu;
    if (pressSentAhead != nullptr)
        *pressSentAhead = (slot & kSentAhead) != 0;
    m_read.store(read + 1, std::memory_order_release);
    return true;
}

void X11KeyQueue::reset() noexcept
{
    m_written.store(0);
    m_read.store(0);
    m_pressQueued.fill(false);
}
