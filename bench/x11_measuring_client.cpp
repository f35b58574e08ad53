// The measuring client of bench/run: a client of its own on the running Pavro's X server that
// sends keys with XTest and watches what comes back, as any other program on the desktop would.
// It owns a full-screen input window on top (core MotionNotify for every pointer move, ButtonPress
// for clicks) and a second connection that tells whether Pavro's capture is installed: a trial
// XInput2 grab of Left without modifiers is refused exactly while another client holds it.
// Pavro is switched the way a second launch does it: one locked read-flip-write of "OnOff"
// through the same store class.
//
//   x11_measuring_client latency SAMPLES SWITCHES   key-down to first move and Enter to click,
//                                                   through Pavro and through the server's
//                                                   MouseKeys; the store write to the switch
//                                                   (SWITCHES writes each way, none for 0)
//   x11_measuring_client motion SECONDS STD FAST AFTER REFRESH
//                                                   one hold of Right against the tick model
//   x11_measuring_client switch on|off              switches Pavro and waits for the capture
//
// Prints "name=value" lines (milliseconds, pixels, counts) for bench/run's table, and a reason
// on stderr with status 1 when something never happened.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <poll.h>

// Qt's headers before Xlib's, whose macros (Status, Bool) they would otherwise meet.
#include "engine/numbers.h"
#include "platform/qt/qt_settings_store.h"

#include <X11/Xlib.h>
#include <X11/XKBlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include "x11_capture_probe.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

double millisBetween(Clock::time_point from, Clock::time_point to)
{
    return std::chrono::duration<double, std::milli>(to - from).count();
}

/// Sorted-sample figures: the median and the 99th percentile (nearest rank).
struct Figures {
    double median = NAN, p99 = NAN, max = NAN;
    std::size_t count = 0;
};

Figures figuresOf(std::vector<double> values)
{
    Figures f;
    f.count = values.size();
    if (values.empty())
        return f;
    std::sort(values.begin(), values.end());
    const auto rank = [&](double q) {
        const auto index = static_cast<std::size_t>(std::ceil(q * double(values.size()))) - 1;
        return values[std::min(index, values.size() - 1)];
    };
    f.median = values.size() % 2 ? values[values.size() / 2]
                                  : (values[values.size() / 2 - 1] + values[values.size() / 2]) / 2;
    f.p99 = rank(0.99);
    f.max = values.back();
    return f;
}

void print(const char* name, const Figures& f)
{
    std::printf("%s_median=%.3f\n%s_p99=%.3f\n%s_max=%.3f\n%s_samples=%zu\n", name, f.median, name, f.p99, name,
                f.max, name, f.count);
}

struct Motion {
    Clock::time_point at;
    int x = 0, y = 0;
};

class Desk {
public:
    Desk()
    {
        m_display = XOpenDisplay(nullptr);
        m_probe = XOpenDisplay(nullptr);
        if (!m_display || !m_probe) {
            std::fprintf(stderr, "no X display\n");
            std::exit(1);
        }
        int event = 0, error = 0, major = 0, minor = 0;
        if (!XTestQueryExtension(m_display, &event, &error, &major, &minor)) {
            std::fprintf(stderr, "the X server has no XTest\n");
            std::exit(1);
        }
        m_capture = std::make_unique<X11CaptureProbe>(m_probe);
        if (!m_capture->valid()) {
            std::fprintf(stderr, "the X server has no XInput2 keyboard\n");
            std::exit(1);
        }
        const int screen = DefaultScreen(m_display);
        m_root = RootWindow(m_display, screen);
        m_width = DisplayWidth(m_display, screen);
        m_height = DisplayHeight(m_display, screen);
        XSetWindowAttributes attributes{};
        attributes.override_redirect = True;
        attributes.event_mask = PointerMotionMask | ButtonPressMask | ButtonReleaseMask | StructureNotifyMask;
        m_window = XCreateWindow(m_display, m_root, 0, 0, static_cast<unsigned>(m_width),
                                 static_cast<unsigned>(m_height), 0, 0, InputOnly, CopyFromParent,
                                 CWOverrideRedirect | CWEventMask, &attributes);
        XMapRaised(m_display, m_window);
        XEvent mapped;
        do
            XNextEvent(m_display, &mapped);
        while (mapped.type != MapNotify);
        right = keycode(XK_Right);
        left = keycode(XK_Left);
        enter = keycode(XK_Return);
        keypadRight = keycode(XK_KP_Right);
        keypadBegin = keycode(XK_KP_Begin) ? keycode(XK_KP_Begin) : keycode(XK_KP_5);
    }
    ~Desk()
    {
        setMouseKeys(false);
        XDestroyWindow(m_display, m_window);
        XCloseDisplay(m_display);
        m_capture.reset();
        XCloseDisplay(m_probe);
    }

    unsigned right = 0, left = 0, enter = 0, keypadRight = 0, keypadBegin = 0;
    int width() const { return m_width; }
    int height() const { return m_height; }

    /// Whether another client holds Left without modifiers.
    bool captureInstalled() { return m_capture->heldByAnother(left, 0); }

    /// Polls the capture every 100 us until it is |installed|; the moment it was first seen so.
    std::optional<Clock::time_point> waitForCapture(bool installed, Clock::duration limit)
    {
        const Clock::time_point deadline = Clock::now() + limit;
        while (Clock::now() < deadline) {
            if (captureInstalled() == installed)
                return Clock::now();
            std::this_thread::sleep_for(100us);
        }
        return std::nullopt;
    }

    void setMouseKeys(bool on)
    {
        XkbChangeEnabledControls(m_display, XkbUseCoreKbd, XkbMouseKeysMask, on ? XkbMouseKeysMask : 0);
        XSync(m_display, False);
    }

    /// Puts the pointer at (x, y) and forgets every event so far.
    void warpTo(int x, int y)
    {
        XWarpPointer(m_display, None, m_root, 0, 0, 0, 0, x, y);
        XSync(m_display, False);
        drain();
    }

    Clock::time_point key(unsigned keycode, bool down)
    {
        const Clock::time_point sent = Clock::now();
        XTestFakeKeyEvent(m_display, keycode, down ? True : False, CurrentTime);
        XFlush(m_display);
        return sent;
    }

    /// The next event of |type| on the window, with the time it was read; nothing after |limit|.
    std::optional<XEvent> next(int type, Clock::duration limit, Clock::time_point& received)
    {
        const Clock::time_point deadline = Clock::now() + limit;
        for (;;) {
            while (XPending(m_display) > 0) {
                XEvent event;
                XNextEvent(m_display, &event);
                received = Clock::now();
                if (event.type == MotionNotify)
                    m_motions.push_back({received, event.xmotion.x_root, event.xmotion.y_root});
                if (event.type == type && event.xany.window == m_window)
                    return event;
            }
            const auto left = deadline - Clock::now();
            if (left <= 0s)
                return std::nullopt;
            pollfd fd{ConnectionNumber(m_display), POLLIN, 0};
            poll(&fd, 1, static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(left).count()));
        }
    }

    /// Waits until the pointer has not moved for |quiet|; false when it still moves after 5 s.
    bool waitForRest(Clock::duration quiet)
    {
        const Clock::time_point deadline = Clock::now() + 5s;
        Clock::time_point ignored;
        while (Clock::now() < deadline)
            if (!next(MotionNotify, quiet, ignored))
                return true;
        return false;
    }

    void drain()
    {
        while (XPending(m_display) > 0) {
            XEvent event;
            XNextEvent(m_display, &event);
        }
        m_motions.clear();
    }

    /// Every pointer move seen since the last drain(), in order.
    const std::vector<Motion>& motions() const { return m_motions; }

private:
    unsigned keycode(KeySym keysym) const { return XKeysymToKeycode(m_display, keysym); }

    Display* m_display = nullptr;
    Display* m_probe = nullptr;
    std::unique_ptr<X11CaptureProbe> m_capture;
    Window m_root = 0;
    Window m_window = 0;
    int m_width = 0, m_height = 0;
    std::vector<Motion> m_motions;
};

[[noreturn]] void giveUp(const char* what)
{
    std::fprintf(stderr, "%s\n", what);
    std::exit(1);
}

/// A second launch's write: under the store's lock, "1" unless the stored state reads as on.
Clock::time_point flipStoredState(QtSettingsStore& store)
{
    const StoreStatus status = store.update("Pavro", "Settings", "OnOff", [](const StoredText& stored) {
        std::optional<double> value;
        if (stored.status == StoreStatus::Ok)
            value = parseNumber(stored.text, ".");
        return std::optional<std::string>(!value || *value == 0.0 ? "1" : "0");
    });
    if (status != StoreStatus::Ok)
        giveUp(("the store refused the switch: " + store.lastError()).c_str());
    return Clock::now();
}

/// Switches Pavro to |on| through the store unless it is so; false when it never followed.
bool switchPavro(Desk& desk, QtSettingsStore& store, bool on)
{
    if (desk.captureInstalled() == on)
        return true;
    flipStoredState(store);
    return desk.waitForCapture(on, 5s).has_value();
}

/// Key |down| to the first pointer move, pointer in the middle, each time from rest.
std::vector<double> firstMoves(Desk& desk, unsigned keycode, int samples)
{
    std::vector<double> values;
    for (int i = 0; i < samples + 3; ++i) {
        desk.warpTo(desk.width() / 2, desk.height() / 2);
        const Clock::time_point sent = desk.key(keycode, true);
        Clock::time_point moved;
        const bool ok = desk.next(MotionNotify, 2s, moved).has_value();
        desk.key(keycode, false);
        if (!ok)
            giveUp("a key press never moved the pointer");
        if (!desk.waitForRest(80ms))
            giveUp("the pointer did not come to rest after a release");
        if (i >= 3)  // the first ones warm caches and paths up
            values.push_back(millisBetween(sent, moved));
    }
    return values;
}

/// Key down to the window's ButtonPress, with the pointer on the window.
std::vector<double> clicks(Desk& desk, unsigned keycode, int samples)
{
    std::vector<double> values;
    Clock::time_point ignored;
    for (int i = 0; i < samples + 3; ++i) {
        desk.warpTo(desk.width() / 2, desk.height() / 2);
        const Clock::time_point sent = desk.key(keycode, true);
        Clock::time_point pressed;
        if (!desk.next(ButtonPress, 2s, pressed))
            giveUp("a key press never clicked");
        desk.key(keycode, false);
        if (!desk.next(ButtonRelease, 2s, ignored))
            giveUp("a key release never released the button");
        if (i >= 3)
            values.push_back(millisBetween(sent, pressed));
    }
    return values;
}

int latency(int samples, int switches)
{
    Desk desk;
    QtSettingsStore store;
    if (!switchPavro(desk, store, true))
        giveUp("Pavro did not switch on");

    print("keydown_pavro", figuresOf(firstMoves(desk, desk.right, samples)));
    print("click_pavro", figuresOf(clicks(desk, desk.enter, samples)));

    // From the completed write to the capture's change, alternately on and off, each write at
    // a random moment of the running copy's tick (at most 200 ms), as a second launch would
    // come.
    std::vector<double> toOn, toOff;
    std::minstd_rand random(12345);
    for (int i = 0; i < 2 * switches; ++i) {
        const bool wasOn = desk.captureInstalled();
        const Clock::time_point written = flipStoredState(store);
        const auto seen = desk.waitForCapture(!wasOn, 5s);
        if (!seen)
            giveUp("Pavro did not follow a write to the store");
        (wasOn ? toOff : toOn).push_back(millisBetween(written, *seen));
        std::this_thread::sleep_for(std::chrono::microseconds(1000 + random() % 210000));
    }
    if (switches > 0) {
        print("switch_on", figuresOf(toOn));
        print("switch_off", figuresOf(toOff));
    }

    // The server's MouseKeys, with Pavro's capture off so the keypad reaches the server.
    if (!switchPavro(desk, store, false))
        giveUp("Pavro did not switch off");
    desk.setMouseKeys(true);
    print("keydown_mousekeys", figuresOf(firstMoves(desk, desk.keypadRight, samples)));
    print("click_mousekeys", figuresOf(clicks(desk, desk.keypadBegin, samples)));
    desk.setMouseKeys(false);
    return 0;
}

/// The pixels of each tick of one uninterrupted hold from rest: the step chosen after tick k-1
/// is the fast one once the nominal hold time (k-1) * interval has passed the delay.
int modelStep(int tick, int stdStep, int fastStep, int fastAfter, int interval)
{
    const long holdTime = std::min<long>(32767, long(tick - 1) * interval);
    return holdTime > fastAfter ? fastStep : stdStep;
}

int motion(double seconds, double stdSpeed, double fastSpeed, double delay, double refresh)
{
    const int interval = static_cast<int>(roundHalfEven(refresh));
    const int stdStep = static_cast<int>(roundHalfEven(stdSpeed * refresh / 100));
    const int fastStep = static_cast<int>(roundHalfEven(fastSpeed * refresh / 100));
    const int fastAfter = static_cast<int>(roundHalfEven(delay));

    Desk desk;
    QtSettingsStore store;
    if (!switchPavro(desk, store, true))
        giveUp("Pavro did not switch on");
    const int y = desk.height() / 2;
    // A tap first: whatever the ticks did before (a start with the step still 0), the tick
    // after its release leaves the standard step, as before any hold from rest.
    desk.warpTo(desk.width() / 2, y);
    desk.key(desk.right, true);
    Clock::time_point ignored;
    desk.next(MotionNotify, 2s, ignored);
    desk.key(desk.right, false);
    desk.waitForRest(std::chrono::milliseconds(3 * interval + 50));

    desk.warpTo(0, y);
    desk.key(desk.right, true);
    // Reading every move as it comes, so each has the time it arrived.
    desk.next(LASTEvent, std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds)), ignored);
    desk.key(desk.right, false);
    if (!desk.waitForRest(std::chrono::milliseconds(3 * interval + 50)))
        giveUp("the pointer did not come to rest after the hold");
    const std::vector<Motion>& moves = desk.motions();

    int previous = 0;
    long total = 0, modelTotal = 0;
    std::string verdict = "exact";
    std::vector<double> deviations;
    for (std::size_t i = 0; i < moves.size(); ++i) {
        const int tick = static_cast<int>(i) + 1;
        const int step = moves[i].x - previous;
        const int expected = modelStep(tick, stdStep, fastStep, fastAfter, interval);
        previous = moves[i].x;
        total += step;
        modelTotal += expected;
        if (verdict == "exact" && (step != expected || moves[i].y != y))
            verdict = "tick " + std::to_string(tick) + ": moved " + std::to_string(step) + "," +
                      std::to_string(moves[i].y - y) + " px, the model " + std::to_string(expected) + ",0";
        if (i > 0)
            deviations.push_back(std::fabs(millisBetween(moves[i - 1].at, moves[i].at) - interval));
    }
    if (previous >= desk.width() - 1)
        verdict += " (the screen's edge was reached)";
    std::printf("ticks=%zu\npixels=%ld\nmodel_pixels=%ld\nsteps=%d/%d after %d ms\nverdict=%s\n", moves.size(), total,
                modelTotal, stdStep, fastStep, fastAfter, verdict.c_str());
    print("period_deviation", figuresOf(deviations));
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "latency" && argc == 4)
        return latency(std::max(1, std::atoi(argv[2])), std::max(0, std::atoi(argv[3])));
    if (command == "motion" && argc == 7)
        return motion(std::atof(argv[2]), std::atof(argv[3]), std::atof(argv[4]), std::atof(argv[5]),
                      std::atof(argv[6]));
    if (command == "switch" && argc == 3) {
        Desk desk;
        QtSettingsStore store;
        return switchPavro(desk, store, std::strcmp(argv[2], "on") == 0) ? 0 : 1;
    }
    std::fprintf(stderr, "usage: %s latency SAMPLES SWITCHES | motion SECONDS STD FAST AFTER REFRESH | switch on|off\n",
                 argv[0]);
    return 2;
}
