#include "platform/evdev/evdev_key_source.h"

#include <optional>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <utility>

#include <dirent.h>
#include <fcntl.h>
#include <sys/epoll.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "platform/evdev/evdev_key_table.h"

namespace {

constexpr const char* kPermissionFix =
    "add your user to the input group (sudo usermod -aG input $USER), install the udev rule "
    "60-pavro-uinput.rules that Pavro ships in data/ (cmake --install puts it in place), then log out and in again";

template <std::size_t N>
bool testBit(const unsigned char (&bits)[N], unsigned bit)
{
    return bit / 8 < N && (bits[bit / 8] & (1u << (bit % 8))) != 0;
}

bool anyKeyDown(int fd)
{
    unsigned char keys[KEY_CNT / 8 + 1] = {};
    if (ioctl(fd, EVIOCGKEY(sizeof keys), keys) < 0)
        return false;
    return std::any_of(std::begin(keys), std::end(keys), [](unsigned char byte) { return byte != 0; });
}

bool before(const input_event& event, const timespec& time)
{
    return event.input_event_sec < time.tv_sec
        || (event.input_event_sec == time.tv_sec && static_cast<long>(event.input_event_usec) * 1000 < time.tv_nsec);
}

void addToEpoll(int epoll, int fd)
{
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.fd = fd;
    epoll_ctl(epoll, EPOLL_CTL_ADD, fd, &event);
}

} // namespace

EvdevKeySource::EvdevKeySource(std::string inputDir, std::string uinputPath)
    : m_inputDir(std::move(inputDir)), m_uinputPath(std::move(uinputPath)), m_epoll(epoll_create1(EPOLL_CLOEXEC))
{
}

EvdevKeySource::~EvdevKeySource()
{
    release();
    if (m_epoll >= 0)
        close(m_epoll);
}

std::uintptr_t EvdevKeySource::install(KeySink& sink)
{
    release();
    m_lastError.clear();

    if (const int error = m_passThrough.create(m_uinputPath, UinputDevice::Kind::Keyboard); error != 0) {
        if (error == EACCES || error == EPERM)
            fail(std::string("no permission to create the virtual keyboard through ") + m_uinputPath + ": "
                 + kPermissionFix);
        else if (error == ENOENT || error == ENODEV)
            fail(m_uinputPath + " is missing (the uinput kernel module is not loaded: sudo modprobe uinput); "
                 + kPermissionFix);
        else
            fail("the virtual keyboard could not be created through " + m_uinputPath + ": " + std::strerror(error));
        return 0;
    }
    addToEpoll(m_epoll, m_passThrough.fd());

    m_inotify = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (m_inotify >= 0) {
        // IN_ATTRIB: on a desktop a new node is made for root first and opened to the user a
        // moment later by udev.
        inotify_add_watch(m_inotify, m_inputDir.c_str(), IN_CREATE | IN_ATTRIB);
        addToEpoll(m_epoll, m_inotify);
    }

    bool permissionDenied = false;
    if (DIR* dir = opendir(m_inputDir.c_str())) {
        while (const dirent* entry = readdir(dir)) {
            if (std::strncmp(entry->d_name, "event", 5) == 0)
                addDevice(m_inputDir + "/" + entry->d_name, permissionDenied);
        }
        closedir(dir);
    }
    if (m_keyboards.empty()) {
        if (permissionDenied)
            fail("no permission to read the keyboards under " + m_inputDir + ": " + kPermissionFix);
        else
            fail("no keyboard was found under " + m_inputDir);
        return 0;
    }
    m_sink = &sink;
    m_handle = ++m_lastHandle;
    return m_handle;
}

bool EvdevKeySource::addDevice(const std::string& path, bool& permissionDenied)
{
    if (std::any_of(m_keyboards.begin(), m_keyboards.end(), [&](const auto& kb) { return kb->path == path; }))
        return false;
    // Read-write to pass the desktop's LED changes on; read-only will do without them.
    int fd = open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0 && (errno == EACCES || errno == EPERM))
        fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (errno == EACCES || errno == EPERM)
            permissionDenied = true;
        return false;
    }
    input_id id{};
    unsigned char types[EV_CNT / 8 + 1] = {};
    unsigned char keys[KEY_CNT / 8 + 1] = {};
    const bool described = ioctl(fd, EVIOCGID, &id) == 0 && ioctl(fd, EVIOCGBIT(0, sizeof types), types) >= 0
        && ioctl(fd, EVIOCGBIT(EV_KEY, sizeof keys), keys) >= 0;
    const bool ours = id.bustype == BUS_VIRTUAL && id.vendor == kUinputVendor;
    const bool keyboard = testBit(keys, KEY_LEFT) && testBit(keys, KEY_UP) && testBit(keys, KEY_RIGHT)
        && testBit(keys, KEY_DOWN) && testBit(keys, KEY_ENTER);
    // A device that also moves a pointer is left alone: its motion could not pass through a
    // keyboard, and grabbing it would take the pointer from the desktop.
    const bool pointer = testBit(types, EV_REL) || testBit(types, EV_ABS);
    if (!described || ours || !keyboard || pointer) {
        close(fd);
        return false;
    }
    // Event times in the clock the grab time is taken from.
    const int clock = CLOCK_MONOTONIC;
    ioctl(fd, EVIOCSCLOCKID, &clock);
    if (m_keyboards.empty()) {
        unsigned char leds[LED_CNT / 8 + 1] = {};
        if (ioctl(fd, EVIOCGLED(sizeof leds), leds) >= 0)
            m_numLock = testBit(leds, LED_NUML);
    }
    auto keyboardEntry = std::make_unique<Keyboard>();
    keyboardEntry->fd = fd;
    keyboardEntry->path = path;
    addToEpoll(m_epoll, fd);
    tryGrab(*keyboardEntry);
    m_keyboards.push_back(std::move(keyboardEntry));
    return true;
}

bool EvdevKeySource::tryGrab(Keyboard& keyboard)
{
    if (keyboard.grabbed || anyKeyDown(keyboard.fd))
        return keyboard.grabbed;
    clock_gettime(CLOCK_MONOTONIC, &keyboard.grabTime);
    if (ioctl(keyboard.fd, EVIOCGRAB, 1) != 0)
        return false;
    // A key pressed between the look and the grab went to the desktop: let its release follow.
    if (anyKeyDown(keyboard.fd)) {
        ioctl(keyboard.fd, EVIOCGRAB, 0);
        return false;
    }
    keyboard.grabbed = true;
    return true;
}

int EvdevKeySource::grabbedCount() const noexcept
{
    return static_cast<int>(std::count_if(m_keyboards.begin(), m_keyboards.end(),
                                          [](const auto& kb) { return kb->grabbed; }));
}

void EvdevKeySource::dispatch()
{
    epoll_event events[16];
    const int count = epoll_wait(m_epoll, events, 16, 0);
    const std::uintptr_t handle = m_handle;
    for (int i = 0; i < count && handle != 0 && m_handle == handle; ++i) {
        const int fd = events[i].data.fd;
        if (fd == m_inotify) {
            readHotplug();
        } else if (fd == m_passThrough.fd()) {
            readLeds();
        } else {
            const auto it = std::find_if(m_keyboards.begin(), m_keyboards.end(),
                                         [fd](const auto& kb) { return kb->fd == fd; });
            if (it != m_keyboards.end())
                readKeyboard(**it);
        }
    }
}

void EvdevKeySource::readKeyboard(Keyboard& keyboard)
{
    const std::uintptr_t handle = m_handle;
    for (;;) {
        const ssize_t bytes = read(keyboard.fd, m_buffer.data(), sizeof m_buffer);
        if (bytes < 0) {
            if (errno == ENODEV) {  // unplugged
                // A device plugged back at once may hold the name already, its creation seen
                // before this removal: look again.
                const std::string path = keyboard.path;
                removeKeyboard(keyboard.fd);
                bool permissionDenied = false;
                if (m_handle == handle)
                    addDevice(path, permissionDenied);
            }
            return;
        }
        if (bytes == 0)
            return;
        const std::size_t count = static_cast<std::size_t>(bytes) / sizeof(input_event);
        if (!keyboard.grabbed) {
            // Waiting for every key to be up: these events went to the desktop as well.
            if (!tryGrab(keyboard))
                continue;
            return;
        }
        for (std::size_t i = 0; i < count; ++i) {
            const input_event& event = m_buffer[i];
            if (before(event, keyboard.grabTime))
                continue;
            if (event.type == EV_SYN && event.code == SYN_DROPPED) {
                keyboard.dropping = true;
                m_hasPendingScan = false;
                continue;
            }
            if (keyboard.dropping) {
                if (event.type == EV_SYN && event.code == SYN_REPORT) {
                    keyboard.dropping = false;
                    resync(keyboard);
                    if (m_handle != handle)
                        return;
                }
                continue;
            }
            switch (event.type) {
            case EV_KEY:
                if (!handleKey(keyboard, event))
                    return;
                break;
            case EV_MSC:
                flushScan();
                if (event.code == MSC_SCAN) {
                    m_pendingScan = event;
                    m_hasPendingScan = true;
                } else {
                    m_passThrough.send(event.type, event.code, event.value);
                }
                break;
            case EV_SYN:
                flushScan();
                m_passThrough.send(event.type, event.code, event.value);
                break;
            default:
                // LED echoes and repeat settings are the desktop's business, not key input.
                break;
            }
        }
    }
}

bool EvdevKeySource::handleKey(Keyboard& keyboard, const input_event& event) noexcept
{
    const unsigned code = event.code;
    if (code >= KEY_CNT || m_sink == nullptr)
        return true;
    keyboard.down[code] = event.value != 0;
    if (code == KEY_LEFTALT || code == KEY_RIGHTALT) {
        const unsigned bit = code == KEY_LEFTALT ? 1u : 2u;
        m_altDown = event.value != 0 ? (m_altDown | bit) : (m_altDown & ~bit);
    }
    std::uint8_t vk = m_downVk[code];
    bool sys = m_downSys[code];
    if (event.value == 0) {
        if (vk == 0) {  // pressed before the grab
            vk = evdevKeyVk(code, m_numLock);
            sys = m_altDown != 0;
        }
        m_downVk[code] = 0;
    } else {
        // A repeat keeps what its press was, so the release that follows ends it.
        if (event.value == 1 || vk == 0) {
            vk = evdevKeyVk(code, m_numLock);
            sys = m_altDown != 0;
            m_downVk[code] = vk;
            m_downSys[code] = sys;
        }
    }
    const std::uintptr_t handle = m_handle;
    const std::optional<CapturedKey> key = vk == 13 ? std::optional(CapturedKey::Enter)
                                           : vk >= 37 && vk <= 40 ? std::optional(static_cast<CapturedKey>(vk - 37))
                                                                  : std::nullopt;
    if (key && m_sink->keyChanged({*key, event.value != 0, sys})) {
        m_hasPendingScan = false;  // the scan code goes with its key
        return m_handle == handle;
    }
    if (m_handle != handle)
        return false;
    // Every other key, and a release whose press the desktop saw, goes on unchanged.
    flushScan();
    m_passThrough.send(event.type, event.code, event.value);
    return true;
}

void EvdevKeySource::flushScan() noexcept
{
    if (!m_hasPendingScan)
        return;
    m_hasPendingScan = false;
    m_passThrough.send(m_pendingScan.type, m_pendingScan.code, m_pendingScan.value);
}

void EvdevKeySource::resync(Keyboard& keyboard) noexcept
{
    // Releases were lost with the dropped events: end every press whose key is up now.
    unsigned char keys[KEY_CNT / 8 + 1] = {};
    if (ioctl(keyboard.fd, EVIOCGKEY(sizeof keys), keys) >= 0)
        endPresses(keyboard, keys);
}

bool EvdevKeySource::endPresses(Keyboard& keyboard, const unsigned char (&downNow)[KEY_CNT / 8 + 1]) noexcept
{
    const std::uintptr_t handle = m_handle;
    bool ended = false;
    for (unsigned code = 0; code < KEY_CNT; ++code) {
        if (keyboard.down[code] && !testBit(downNow, code)) {
            m_releaseEvent = input_event{};
            m_releaseEvent.type = EV_KEY;
            m_releaseEvent.code = static_cast<std::uint16_t>(code);
            m_releaseEvent.value = 0;
            if (!handleKey(keyboard, m_releaseEvent))
                return false;
            ended = true;
        }
    }
    if (ended)
        m_passThrough.send(EV_SYN, SYN_REPORT, 0);
    return m_handle == handle;
}

void EvdevKeySource::readLeds()
{
    for (;;) {
        const ssize_t bytes = read(m_passThrough.fd(), m_buffer.data(), sizeof m_buffer);
        if (bytes <= 0)
            return;
        const std::size_t count = static_cast<std::size_t>(bytes) / sizeof(input_event);
        for (std::size_t i = 0; i < count; ++i) {
            const input_event& event = m_buffer[i];
            if (event.type != EV_LED)
                continue;
            if (event.code == LED_NUML)
                m_numLock = event.value != 0;
            // A grab keeps the desktop from setting the grabbed keyboards' LEDs; the holder can.
            for (const auto& keyboard : m_keyboards) {
                if (!keyboard->grabbed)
                    continue;
                const input_event out[2] = {{{}, EV_LED, event.code, event.value}, {{}, EV_SYN, SYN_REPORT, 0}};
                [[maybe_unused]] const ssize_t written = write(keyboard->fd, out, sizeof out);
            }
        }
    }
}

void EvdevKeySource::readHotplug()
{
    alignas(inotify_event) char buffer[4096];
    for (;;) {
        const ssize_t bytes = read(m_inotify, buffer, sizeof buffer);
        if (bytes <= 0)
            return;
        for (ssize_t offset = 0; offset < bytes;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + offset);
            offset += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            if (event->len > 0 && std::strncmp(event->name, "event", 5) == 0) {
                bool permissionDenied = false;
                addDevice(m_inputDir + "/" + event->name, permissionDenied);
            }
        }
    }
}

void EvdevKeySource::removeKeyboard(int fd)
{
    const auto it = std::find_if(m_keyboards.begin(), m_keyboards.end(), [fd](const auto& kb) { return kb->fd == fd; });
    if (it == m_keyboards.end())
        return;
    // Its keys' releases will never come: end what their presses began. A sink that
    // uninstalls meanwhile has closed the keyboard already.
    const unsigned char allUp[KEY_CNT / 8 + 1] = {};
    if (!endPresses(**it, allUp))
        return;
    const auto still = std::find_if(m_keyboards.begin(), m_keyboards.end(), [fd](const auto& kb) { return kb->fd == fd; });
    if (still == m_keyboards.end())
        return;
    close(fd);
    m_keyboards.erase(still);
}

void EvdevKeySource::fail(std::string reason)
{
    m_lastError = std::move(reason);
    release();
}

void EvdevKeySource::uninstall(std::uintptr_t handle)
{
    if (handle != 0 && handle == m_handle)
        release();
}

void EvdevKeySource::release()
{
    for (const auto& keyboard : m_keyboards) {
        if (keyboard->grabbed)
            ioctl(keyboard->fd, EVIOCGRAB, 0);
        close(keyboard->fd);
    }
    m_keyboards.clear();
    if (m_inotify >= 0) {
        close(m_inotify);
        m_inotify = -1;
    }
    // The kernel releases whatever is still down on the virtual keyboard as it goes.
    m_passThrough.destroy();
    m_downVk.fill(0);
    m_downSys.reset();
    m_altDown = 0;
    m_hasPendingScan = false;
    m_sink = nullptr;
    m_handle = 0;
}
