#pragma once

#include <cerrno>
#include <cstring>
#include <string>

#include <fcntl.h>
#include <linux/uinput.h>
#include <sys/ioctl.h>
#include <unistd.h>

/// Makes, through uinput, a keyboard that looks like the user's own rather than Pavro's (USB
/// ids): every key from Esc to MicMute, scan codes and the NumLock LED. Returns the uinput
/// descriptor (non-blocking: the LED changes written to the keyboard are read from it), or -1.
inline int createTestKeyboard(const char* name)
{
    const int fd = open("/dev/uinput", O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return -1;
    ioctl(fd, UI_SET_EVBIT, EV_KEY);
    for (int code = KEY_ESC; code <= KEY_MICMUTE; ++code)
        ioctl(fd, UI_SET_KEYBIT, code);
    ioctl(fd, UI_SET_EVBIT, EV_MSC);
    ioctl(fd, UI_SET_MSCBIT, MSC_SCAN);
    ioctl(fd, UI_SET_EVBIT, EV_LED);
    ioctl(fd, UI_SET_LEDBIT, LED_NUML);
    uinput_setup setup{};
    setup.id = {BUS_USB, 0x1234, 0x5678, 1};
    std::strncpy(setup.name, name, UINPUT_MAX_NAME_SIZE - 1);
    if (ioctl(fd, UI_DEV_SETUP, &setup) != 0 || ioctl(fd, UI_DEV_CREATE) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

/// Whether a reader other than the caller holds a grab on the event node: a grab of our own
/// then fails with EBUSY.
inline bool grabbedByOther(const std::string& node)
{
    const int fd = open(node.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool busy = ioctl(fd, EVIOCGRAB, 1) != 0 && errno == EBUSY;
    if (!busy)
        ioctl(fd, EVIOCGRAB, 0);
    close(fd);
    return busy;
}
