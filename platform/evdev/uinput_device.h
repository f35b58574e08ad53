#pragma once

#include <cstdint>
#include <string>

/// The devices Pavro creates carry this vendor id on the virtual bus, so that its own key
/// source never takes them for keyboards of the user's.
inline constexpr std::uint16_t kUinputVendor = 0x5056;

/// The event node (e.g. /dev/input/event5) of the device created on the uinput descriptor |fd|,
/// empty when there is none.
std::string uinputEventNode(int fd);

/// A device created through /dev/uinput. Destroying it (this object going, or the process
/// dying, which closes the descriptor) makes the kernel release every key and button still
/// down on it, so nothing stays pressed for the rest of the desktop.
class UinputDevice {
public:
    enum class Kind {
        Keyboard,  ///< every key code that is no button, NumLock/CapsLock/ScrollLock LEDs
        Pointer,   ///< relative X/Y motion and the three buttons
    };

    UinputDevice() = default;
    ~UinputDevice();
    UinputDevice(const UinputDevice&) = delete;
    UinputDevice& operator=(const UinputDevice&) = delete;

    /// Creates the device through |uinputPath|: 0, or the errno of the step that failed.
    int create(const std::string& uinputPath, Kind kind);
    void destroy() noexcept;
    bool valid() const noexcept { return m_fd >= 0; }
    /// Readable for the LED changes the desktop sets on a keyboard; -1 when none was created.
    int fd() const noexcept { return m_fd; }

    /// Writes one event. No allocation; the descriptor is non-blocking. False when refused.
    bool send(std::uint16_t type, std::uint16_t code, std::int32_t value) noexcept;

    /// The event node the kernel made for the device (e.g. /dev/input/event5), empty if unknown.
    std::string eventNode() const { return uinputEventNode(m_fd); }

private:
    int m_fd = -1;
};
