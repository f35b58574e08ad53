#include "platform/evdev/uinput_device.h"

#include <cerrno>
#include <cstring>
#include <filesystem>

#include <fcntl.h>
#include <linux/uinput.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

// Button codes make the desktop take a device for a mouse or a joystick: the pass-through
// keyboard declares every key code but these.
bool isButtonCode(int code)
{
    return (code >= BTN_MISC && code < KEY_OK) || (code >= BTN_DPAD_UP && code <= BTN_DPAD_RIGHT)
        || (code >= BTN_TRIGGER_HAPPY && code <= BTN_TRIGGER_HAPPY40);
}

bool setBits(int fd, UinputDevice::Kind kind)
{
    bool ok = true;
    auto set = [&](unsigned long request, int bit) { ok = ok && ioctl(fd, request, bit) == 0; };
    if (kind == UinputDevice::Kind::Keyboard) {
        set(UI_SET_EVBIT, EV_KEY);
        for (int code = KEY_ESC; code <= KEY_MAX; ++code) {
            if (!isButtonCode(code))
                set(UI_SET_KEYBIT, code);
        }
        set(UI_SET_EVBIT, EV_MSC);
        set(UI_SET_MSCBIT, MSC_SCAN);
        // The desktop keeps the lock LEDs of every keyboard it knows: ours tell the key source
        // the NumLock state, which decides whether the keypad's arrows are arrows.
        set(UI_SET_EVBIT, EV_LED);
        set(UI_SET_LEDBIT, LED_NUML);
        set(UI_SET_LEDBIT, LED_CAPSL);
        set(UI_SET_LEDBIT, LED_SCROLLL);
    } else {
        set(UI_SET_EVBIT, EV_KEY);
        set(UI_SET_KEYBIT, BTN_LEFT);
        set(UI_SET_KEYBIT, BTN_RIGHT);
        set(UI_SET_KEYBIT, BTN_MIDDLE);
        set(UI_SET_EVBIT, EV_REL);
        set(UI_SET_RELBIT, REL_X);
        set(UI_SET_RELBIT, REL_Y);
        set(UI_SET_PROPBIT, INPUT_PROP_POINTER);
    }
    return ok;
}

} // namespace

UinputDevice::~UinputDevice()
{
    destroy();
}

int UinputDevice::create(const std::string& uinputPath, Kind kind)
{
    destroy();
    const int fd = open(uinputPath.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return errno;
    uinput_setup setup{};
    setup.id.bustype = BUS_VIRTUAL;
    setup.id.vendor = kUinputVendor;
    setup.id.product = kind == Kind::Keyboard ? 1 : 2;
    setup.id.version = 1;
    std::strncpy(setup.name, kind == Kind::Keyboard ? "Pavro pass-through keyboard" : "Pavro pointer",
                 UINPUT_MAX_NAME_SIZE - 1);
    if (!setBits(fd, kind) || ioctl(fd, UI_DEV_SETUP, &setup) != 0 || ioctl(fd, UI_DEV_CREATE) != 0) {
        const int error = errno;
        close(fd);
        return error != 0 ? error : EIO;
    }
    m_fd = fd;
    return 0;
}

void UinputDevice::destroy() noexcept
{
    if (m_fd < 0)
        return;
    ioctl(m_fd, UI_DEV_DESTROY);
    close(m_fd);
    m_fd = -1;
}

bool UinputDevice::send(std::uint16_t type, std::uint16_t code, std::int32_t value) noexcept
{
    if (m_fd < 0)
        return false;
    input_event event{};
    event.type = type;
    event.code = code;
    event.value = value;
    return write(m_fd, &event, sizeof event) == static_cast<ssize_t>(sizeof event);
}

std::string uinputEventNode(int fd)
{
    char sysname[64] = {};
    if (fd < 0 || ioctl(fd, UI_GET_SYSNAME(sizeof sysname - 1), sysname) < 0)
        return {};
    std::error_code error;
    const std::filesystem::path sys = std::filesystem::path("/sys/devices/virtual/input") / sysname;
    for (const auto& entry : std::filesystem::directory_iterator(sys, error)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("event", 0) == 0)
            return "/dev/input/" + name;
    }
    return {};
}
