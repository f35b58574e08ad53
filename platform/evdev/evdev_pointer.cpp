#include "platform/evdev/evdev_pointer.h"

#include <cstdlib>

#include <linux/input-event-codes.h>

namespace {

// The frame's origin is arbitrary: past this distance from it, it moves to the pointer, so the
// sums the caller forms from a read position never leave 32 bits.
constexpr std::int32_t kRecentreDistance = 1 << 30;

} // namespace

EvdevPointer::EvdevPointer(const std::string& uinputPath)
{
    m_device.create(uinputPath, UinputDevice::Kind::Pointer);
}

bool EvdevPointer::read(CursorPoint& point)
{
    if (!m_device.valid())
        return false;
    if (std::abs(m_position.x) > kRecentreDistance || std::abs(m_position.y) > kRecentreDistance)
        m_position = {};
    point = m_position;
    return true;
}

bool EvdevPointer::moveTo(std::int32_t x, std::int32_t y)
{
    if (!m_device.valid())
        return false;
    const std::int64_t dx = static_cast<std::int64_t>(x) - m_position.x;
    const std::int64_t dy = static_cast<std::int64_t>(y) - m_position.y;
    if (dx == 0 && dy == 0)
        return true;
    // A motion value is 32 bits; a larger jump is cut, as the compositor stops at its edge anyway.
    auto clamp = [](std::int64_t v) {
        return static_cast<std::int32_t>(v < INT32_MIN ? INT32_MIN : (v > INT32_MAX ? INT32_MAX : v));
    };
    if (dx != 0)
        m_device.send(EV_REL, REL_X, clamp(dx));
    if (dy != 0)
        m_device.send(EV_REL, REL_Y, clamp(dy));
    m_device.send(EV_SYN, SYN_REPORT, 0);
    m_position = {x, y};
    return true;
}

void EvdevPointer::leftButtonDown() noexcept
{
    button(1);
}

void EvdevPointer::leftButtonUp() noexcept
{
    button(0);
}

void EvdevPointer::button(std::int32_t value) noexcept
{
    m_device.send(EV_KEY, BTN_LEFT, value);
    m_device.send(EV_SYN, SYN_REPORT, 0);
}
