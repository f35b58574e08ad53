// The evdev backend against the kernel's real evdev and uinput, run as the init of a small
// virtual machine (see run_vm.sh). A test keyboard made through uinput plays the user's
// keyboard; readers on Pavro's pass-through keyboard and pointer play the desktop.

#include <gtest/gtest.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include <fcntl.h>
#include <linux/uinput.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "engine/pointer_control.h"
#include "engine/motion_ticker.h"
#include "engine/pavro_state.h"
#include "platform/evdev/evdev_key_source.h"
#include "platform/evdev/evdev_pointer.h"
#include "platform/evdev/uinput_device.h"
#include "test_keyboard.h"

template <>
struct TestPeer<EvdevKeySource> {
    static int grabbedCount(const EvdevKeySource& source) { return source.grabbedCount(); }
    static std::string passThroughNode(const EvdevKeySource& source) { return source.passThroughNode(); }
};

namespace {

int grabbedKeyboards(const EvdevKeySource& source) { return TestPeer<EvdevKeySource>::grabbedCount(source); }
std::string passThroughNode(const EvdevKeySource& source) { return TestPeer<EvdevKeySource>::passThroughNode(source); }

using Event = std::tuple<int, int, int>;  // type, code, value
using Events = std::vector<Event>;

Events key(int code, int value)
{
    return {{EV_MSC, MSC_SCAN, 0x70000 + code}, {EV_KEY, code, value}, {EV_SYN, SYN_REPORT, 0}};
}

Events operator+(Events a, const Events& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

void put(int fd, const Events& events)
{
    for (const auto& [type, code, value] : events) {
        input_event event{};
        event.type = static_cast<std::uint16_t>(type);
        event.code = static_cast<std::uint16_t>(code);
        event.value = value;
        ASSERT_EQ(write(fd, &event, sizeof event), static_cast<ssize_t>(sizeof event));
    }
}

/// Every event waiting on |fd| (non-blocking); errno tells why reading stopped.
Events drain(int fd)
{
    Events out;
    input_event event{};
    while (read(fd, &event, sizeof event) == static_cast<ssize_t>(sizeof event))
        out.emplace_back(event.type, event.code, event.value);
    return out;
}

/// The user's keyboard: a plain one, not recognisable as Pavro's, made through uinput.
class TestKeyboard {
public:
    TestKeyboard() : m_fd(createTestKeyboard("Test keyboard")), m_node(uinputEventNode(m_fd)) {}
    ~TestKeyboard() { unplug(); }
    void unplug()
    {
        if (m_fd >= 0) {
            ioctl(m_fd, UI_DEV_DESTROY);
            close(m_fd);
            m_fd = -1;
        }
    }
    void send(const Events& events) { put(m_fd, events); }
    /// Whether someone holds a grab on it.
    bool grabbed() const { return grabbedByOther(m_node); }
    /// What the holder of the grab set on this keyboard: LED events among others.
    Events written() { return drain(m_fd); }

private:
    int m_fd;
    std::string m_node;
};

/// Reads a device as the desktop would, without a grab, and writes to it as the desktop sets LEDs.
class Reader {
public:
    explicit Reader(const std::string& node) : m_fd(open(node.c_str(), O_RDWR | O_NONBLOCK)) {}
    ~Reader() { close(m_fd); }
    bool valid() const { return m_fd >= 0; }
    Events take() { return drain(m_fd); }
    void put(const Events& events) { ::put(m_fd, events); }
    /// The device went away: its readers get ENODEV.
    bool gone() { return drain(m_fd).empty() && errno == ENODEV; }
    /// Events until |last| arrives or two seconds pass.
    Events takeUntil(const Event& last)
    {
        Events out;
        for (int i = 0; i < 200 && (out.empty() || out.back() != last); ++i) {
            pollfd p{m_fd, POLLIN, 0};
            poll(&p, 1, 10);
            out = out + take();
        }
        return out;
    }

private:
    int m_fd;
};

/// Lets the source handle what is pending, until nothing arrives for |quietMs|.
void pump(EvdevKeySource& source, int quietMs = 30)
{
    pollfd p{source.pollFd(), POLLIN, 0};
    while (poll(&p, 1, quietMs) > 0)
        source.dispatch();
}

/// Pavro's key path and devices, installed over the keyboards present.
struct Pavro {
    EvdevPointer pointer;
    EvdevKeySource source;
    PointerControl core{source, pointer, pointer};

    Pavro()
    {
        EXPECT_TRUE(pointer.valid());
        std::string reason;
        EXPECT_TRUE(core.switchOn(reason)) << reason;
    }
    const KeyPathState& state() const { return core.state(); }
};

TEST(EvdevVm, FiveKeysAreSwallowedIntoStateAndButtonsAndEveryOtherKeyPassesExactly)
{
    TestKeyboard keyboard;
    Pavro pavro;
    pump(pavro.source);
    ASSERT_TRUE(keyboard.grabbed());
    Reader desktop(passThroughNode(pavro.source));
    Reader pointer(pavro.pointer.eventNode());
    ASSERT_TRUE(desktop.valid() && pointer.valid());

    struct Step {
        const char* what;
        Events typed;
        std::array<std::int16_t, 4> arrows;
        Events passed;
        Events clicks;
    };
    const Events none;
    const Step steps[] = {
        {"a, shift+b", key(KEY_A, 1) + key(KEY_A, 0) + key(KEY_LEFTSHIFT, 1) + key(KEY_B, 1) + key(KEY_B, 2)
                           + key(KEY_B, 0) + key(KEY_LEFTSHIFT, 0),
         {0, 0, 0, 0},
         key(KEY_A, 1) + key(KEY_A, 0) + key(KEY_LEFTSHIFT, 1) + key(KEY_B, 1) + key(KEY_B, 2) + key(KEY_B, 0)
             + key(KEY_LEFTSHIFT, 0),
         none},
        {"right down", key(KEY_RIGHT, 1), {0, 0, 1, 0}, none, none},
        {"up down with x typed in the same report",
         Events{{EV_KEY, KEY_UP, 1}, {EV_KEY, KEY_X, 1}, {EV_SYN, SYN_REPORT, 0}},
         {0, 1, 1, 0},
         Events{{EV_KEY, KEY_X, 1}, {EV_SYN, SYN_REPORT, 0}},
         none},
        {"right up, up up, x up", key(KEY_RIGHT, 0) + key(KEY_UP, 0) + key(KEY_X, 0), {0, 0, 0, 0}, key(KEY_X, 0),
         none},
        {"a repeat is a key down", key(KEY_LEFT, 2), {1, 0, 0, 0}, none, none},
        {"left pressed and released; keypad 2 with NumLock off is Down",
         key(KEY_LEFT, 1) + key(KEY_LEFT, 0) + key(KEY_KP2, 1), {0, 0, 0, 1}, none, none},
        {"keypad 2 up", key(KEY_KP2, 0), {0, 0, 0, 0}, none, none},
        {"enter, repeat, release; keypad enter",
         key(KEY_ENTER, 1) + key(KEY_ENTER, 2) + key(KEY_ENTER, 0) + key(KEY_KPENTER, 1) + key(KEY_KPENTER, 0),
         {0, 0, 0, 0},
         none,
         // The input layer drops the repeated press of a button already down.
         Events{{EV_KEY, BTN_LEFT, 1}, {EV_SYN, SYN_REPORT, 0}, {EV_KEY, BTN_LEFT, 0}, {EV_SYN, SYN_REPORT, 0},
                {EV_KEY, BTN_LEFT, 1}, {EV_SYN, SYN_REPORT, 0}, {EV_KEY, BTN_LEFT, 0}, {EV_SYN, SYN_REPORT, 0}}},
        {"alt+left is swallowed without effect", key(KEY_LEFTALT, 1) + key(KEY_LEFT, 1) + key(KEY_LEFT, 0)
                                                     + key(KEY_LEFTALT, 0),
         {0, 0, 0, 0},
         key(KEY_LEFTALT, 1) + key(KEY_LEFTALT, 0),
         none},
        {"right held, right alt down: right still held", key(KEY_RIGHT, 1) + key(KEY_RIGHTALT, 1), {0, 0, 1, 0},
         key(KEY_RIGHTALT, 1), none},
        {"right released under alt ends its press", key(KEY_RIGHT, 0) + key(KEY_RIGHTALT, 0), {0, 0, 0, 0},
         key(KEY_RIGHTALT, 0), none},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        keyboard.send(step.typed);
        pump(pavro.source);
        EXPECT_EQ(pavro.state().ArrowDown, step.arrows);
        EXPECT_EQ(desktop.take(), step.passed);
        EXPECT_EQ(pointer.take(), step.clicks);
    }
}

TEST(EvdevVm, NumLockFromTheDesktopMakesTheKeypadDigitsAndReachesTheGrabbedKeyboard)
{
    TestKeyboard keyboard;
    Pavro pavro;
    pump(pavro.source);
    Reader desktop(passThroughNode(pavro.source));
    keyboard.written();

    desktop.put({{EV_LED, LED_NUML, 1}, {EV_SYN, SYN_REPORT, 0}});  // as a compositor sets its keyboards' LEDs
    pump(pavro.source);
    EXPECT_EQ(keyboard.written(), (Events{{EV_LED, LED_NUML, 1}}));
    desktop.take();
    keyboard.send(key(KEY_KP4, 1) + key(KEY_KP4, 0));
    pump(pavro.source);
    EXPECT_EQ(pavro.state().ArrowDown[0], 0);
    EXPECT_EQ(desktop.take(), key(KEY_KP4, 1) + key(KEY_KP4, 0));

    desktop.put({{EV_LED, LED_NUML, 0}, {EV_SYN, SYN_REPORT, 0}});
    pump(pavro.source);
    desktop.take();
    keyboard.send(key(KEY_KP4, 1));
    pump(pavro.source);
    EXPECT_EQ(pavro.state().ArrowDown[0], 1);
    EXPECT_EQ(desktop.take(), Events{});
}

TEST(EvdevVm, TickerStepsArriveAsExactPixels)
{
    TestKeyboard keyboard;
    Pavro pavro;
    pump(pavro.source);
    Reader pointer(pavro.pointer.eventNode());
    // The loop's clock, scripted: each tick runs when it falls due.
    LoopTime now = 0;
    const auto nextTick = [&] {
        now = std::max(now, *pavro.core.nextTick());
        pavro.core.runDue(now);
    };
    pavro.core.setMotion({6, 20, 250, 25});
    nextTick();  // picks the standard step, moves nothing

    keyboard.send(key(KEY_RIGHT, 1));
    pump(pavro.source);
    Events expected;
    for (int tick = 0; tick < 13; ++tick) {
        nextTick();
        expected = expected + Events{{EV_REL, REL_X, tick < 11 ? 6 : 20}, {EV_SYN, SYN_REPORT, 0}};
    }
    keyboard.send(key(KEY_UP, 1) + key(KEY_RIGHT, 0));
    pump(pavro.source);
    nextTick();
    expected = expected + Events{{EV_REL, REL_Y, -20}, {EV_SYN, SYN_REPORT, 0}};
    EXPECT_EQ(pointer.take(), expected);
}

TEST(EvdevVm, KeyboardsPluggedAndUnpluggedAreFollowedAndGrabbedOnlyWithNoKeyDown)
{
    TestKeyboard first;
    Pavro pavro;
    pump(pavro.source);
    const int grabbedWithFirst = grabbedKeyboards(pavro.source);
    Reader desktop(passThroughNode(pavro.source));

    first.send(key(KEY_RIGHT, 1));
    pump(pavro.source);
    EXPECT_EQ(pavro.state().ArrowDown[2], 1);

    // Unplugged with Right held, and plugged again before Pavro looks: the new device takes
    // the same node, and Right's press ends with its keyboard.
    first.unplug();
    TestKeyboard second;
    second.send(key(KEY_B, 1));  // held while it is found
    pump(pavro.source);
    EXPECT_FALSE(second.grabbed());
    second.send(key(KEY_B, 0));
    pump(pavro.source);
    EXPECT_TRUE(second.grabbed());
    EXPECT_EQ(grabbedKeyboards(pavro.source), grabbedWithFirst);
    EXPECT_EQ(pavro.state().ArrowDown[2], 0);
    second.send(key(KEY_C, 1) + key(KEY_C, 0) + key(KEY_DOWN, 1));
    pump(pavro.source);
    // The desktop had b from the keyboard itself: the pass-through must not repeat it.
    EXPECT_EQ(desktop.take(), key(KEY_C, 1) + key(KEY_C, 0));
    EXPECT_EQ(pavro.state().ArrowDown[3], 1);

    second.unplug();
    pump(pavro.source);
    EXPECT_EQ(grabbedKeyboards(pavro.source), grabbedWithFirst - 1);
}

TEST(EvdevVm, UninstallFreesTheKeyboardAndRemovesThePassThroughWithItsHeldKeys)
{
    TestKeyboard keyboard;
    Pavro pavro;
    pump(pavro.source);
    Reader desktop(passThroughNode(pavro.source));
    keyboard.send(key(KEY_A, 1));
    pump(pavro.source);
    EXPECT_EQ(desktop.take(), key(KEY_A, 1));

    pavro.core.switchOff();
    EXPECT_FALSE(keyboard.grabbed());
    // A vanished device holds no key: its readers drop everything it had down.
    EXPECT_TRUE(desktop.gone());
    EXPECT_TRUE(passThroughNode(pavro.source).empty());
}

TEST(EvdevVm, AKilledProcessLeavesNoKeyOrButtonDown)
{
    TestKeyboard keyboard;
    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    const pid_t child = fork();
    if (child == 0) {
        Pavro pavro;
        const std::string nodes = passThroughNode(pavro.source) + " " + pavro.pointer.eventNode() + "\n";
        [[maybe_unused]] const ssize_t written = write(pipeFds[1], nodes.data(), nodes.size());
        for (;;)
            pump(pavro.source, 1000);
    }
    char buffer[128] = {};
    ASSERT_GT(read(pipeFds[0], buffer, sizeof buffer - 1), 0);
    char passThrough[64] = {};
    char pointerNode[64] = {};
    ASSERT_EQ(std::sscanf(buffer, "%63s %63s", passThrough, pointerNode), 2);
    Reader desktop(passThrough);
    Reader pointer(pointerNode);
    keyboard.send(key(KEY_A, 1) + key(KEY_ENTER, 1));
    EXPECT_EQ(desktop.takeUntil({EV_SYN, SYN_REPORT, 0}), key(KEY_A, 1));
    EXPECT_EQ(pointer.takeUntil({EV_SYN, SYN_REPORT, 0}), (Events{{EV_KEY, BTN_LEFT, 1}, {EV_SYN, SYN_REPORT, 0}}));

    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    EXPECT_TRUE(desktop.gone());
    EXPECT_TRUE(pointer.gone());
    EXPECT_FALSE(keyboard.grabbed());
}

TEST(EvdevVm, WithoutPermissionTheCaptureFailsNamingTheFix)
{
    TestKeyboard keyboard;
    const pid_t child = fork();
    if (child == 0) {
        if (setgid(65534) != 0 || setuid(65534) != 0)
            _exit(2);
        EvdevKeySource source;
        EvdevPointer pointer;
        PointerControl core(source, pointer, pointer);
        std::string reason;
        const bool told = !core.switchOn(reason) && reason.find("input group") != std::string::npos
            && source.lastError().find("60-pavro-uinput.rules") != std::string::npos;
        std::fprintf(stderr, "unprivileged install: %s\n", source.lastError().c_str());
        _exit(told && !pointer.valid() ? 0 : 1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_FALSE(keyboard.grabbed());
}

} // namespace
