// The user's own keyboard for the compositor stage: a plain USB-looking keyboard made through
// uinput, typed on by commands read from standard input, one a line, each answered on standard
// output with one line ("ok", or what went wrong):
//   down CODE | up CODE   a key (evdev code) goes down or up, with its scan code, as hardware sends it
//   grabbed | free        waits up to ten seconds until another reader holds a grab on it, or none does
// The first line written is the device's event node.

#include <cerrno>
#include <chrono>
#include <cstring>
#include <iostream>
#include <sstream>
#include <string>
#include <thread>

#include "platform/evdev/uinput_device.h"
#include "test_keyboard.h"

namespace {

bool put(int fd, int type, int code, int value)
{
    input_event event{};
    event.type = static_cast<unsigned short>(type);
    event.code = static_cast<unsigned short>(code);
    event.value = value;
    return write(fd, &event, sizeof event) == static_cast<ssize_t>(sizeof event);
}

} // namespace

int main()
{
    const int fd = createTestKeyboard("Physical test keyboard");
    const std::string node = uinputEventNode(fd);
    if (node.empty()) {
        std::cout << "error: the keyboard could not be made: " << std::strerror(errno) << std::endl;
        return 1;
    }
    std::cout << node << std::endl;

    std::string line;
    while (std::getline(std::cin, line)) {
        std::istringstream words(line);
        std::string command;
        int code = 0;
        words >> command >> code;
        bool ok = false;
        if ((command == "down" || command == "up") && code > 0 && code < KEY_CNT) {
            // A USB keyboard's scan code is its HID usage; any value serves as long as it comes first.
            ok = put(fd, EV_MSC, MSC_SCAN, 0x70000 + code) && put(fd, EV_KEY, code, command == "down")
                && put(fd, EV_SYN, SYN_REPORT, 0);
        } else if (command == "grabbed" || command == "free") {
            for (int i = 0; i < 1000 && !ok; ++i) {
                ok = grabbedByOther(node) == (command == "grabbed");
                if (!ok)
                    std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
        }
        std::cout << (ok ? "ok" : "failed: " + line) << std::endl;
    }
    ioctl(fd, UI_DEV_DESTROY);
    close(fd);
    return 0;
}
