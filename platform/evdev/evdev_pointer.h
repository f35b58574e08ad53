#pragma once

#include <cstdint>
#include <string>

#include "platform/evdev/uinput_device.h"
#include "platform/input_injector.h"
#include "platform/pointer.h"

/// The pointer and the left button as a virtual relative mouse made through /dev/uinput.
///
/// Wayland tells no client where the pointer is. Positions read here are in a frame of this
/// object's own, with an arbitrary origin; moveTo() sends the difference from the last position
/// as relative motion, which is all a read-then-move needs. The compositor confines the pointer
/// to its outputs; a move it stopped at an edge is still the start of the next one here, so the
/// next move in the other direction takes effect at once.
///
/// Relative motion goes through the desktop's pointer acceleration. The device declares no
/// resolution, so libinput takes it as 1000 dpi and leaves each unit one pixel: the flat profile
/// then moves exactly the steps asked for (times its speed factor, 1 by default); the adaptive
/// one keeps factor 1 only at slow speeds and enlarges fast steps.
class EvdevPointer final : public Pointer, public InputInjector {
public:
    explicit EvdevPointer(const std::string& uinputPath = "/dev/uinput");

    /// False when the device could not be made (no /dev/uinput, no permission): read() and
    /// moveTo() fail then and nothing moves or clicks.
    bool valid() const noexcept { return m_device.valid(); }
    std::string eventNode() const { return m_device.eventNode(); }

    bool read(CursorPoint& point) override;
    bool moveTo(std::int32_t x, std::int32_t y) override;

    void leftButtonDown() noexcept override;
    void leftButtonUp() noexcept override;

private:
    void button(std::int32_t value) noexcept;

    UinputDevice m_device;
    CursorPoint m_position;
};
