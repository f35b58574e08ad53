// Enter to ButtonPress in another client, through the real capture, input loop, engine and
// injector, with where the time goes:
//   server -> socket   XTest key sent until a bare grabbing client's socket is readable
//   decode             socket readable until Xlib hands that client the event
//   ungrab             XUngrabKeyboard + XFlush, as the capture does after each grabbed press
//   dispatch           the rest of "key -> decision": the input loop's wake-up and the capture's
//                      way from its socket to the engine; never below 0
//   translate+inject   the decision until the button event is flushed to the server
//   server -> client   the button event flushed until the measuring client reads ButtonPress
//   total              XTest key sent until ButtonPress at the measuring client
// The measuring client is a thread of its own with its own connection and window, blocked in
// poll() between events like any idle client. Also, on the same server, the X server's own
// MouseKeys (keypad 5 clicks): the floor for a click that never leaves the server.
// Needs an X display: tests/x11/run_with_xvfb.sh --wm build/bin/x11_click_latency [samples]
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <utility>
#include <vector>

#include <poll.h>

#include "engine/pointer_control.h"
#include "platform/posix/posix_input_loop.h"
#include "platform/x11/x11_connection.h"
#include "platform/x11/x11_input_injector.h"
#include "platform/x11/x11_key_source.h"
#include "platform/x11/x11_pointer.h"

#include <X11/Xlib.h>
#include <X11/XKBlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

namespace {

using Clock = std::chrono::steady_clock;

double microsBetween(Clock::time_point from, Clock::time_point to)
{
    return std::chrono::duration<double, std::micro>(to - from).count();
}

struct Figures {
    double median = 0;
    double p99 = 0;
};

Figures figures(std::vector<double> values)
{
    if (values.empty())
        return {};
    std::sort(values.begin(), values.end());
    const auto at = [&](double q) { return values[static_cast<std::size_t>(q * double(values.size() - 1))]; };
    return {at(0.5), at(0.99)};
}

/// Times the engine's decision to press and the injection it makes, for the client to read.
class TimedInjector final : public InputInjector {
public:
    explicit TimedInjector(InputInjector& inner) : m_inner(inner) {}
    void leftButtonDown() noexcept override
    {
        const Clock::time_point entered = Clock::now();
        m_inner.leftButtonDown();
        const Clock::time_point left = Clock::now();
        m_entered.store(entered.time_since_epoch().count(), std::memory_order_relaxed);
        m_injected.store(left.time_since_epoch().count(), std::memory_order_release);
    }
    void leftButtonUp() noexcept override { m_inner.leftButtonUp(); }
    Clock::time_point entered() const { return Clock::time_point(Clock::duration(m_entered.load())); }
    Clock::time_point injected() const
    {
        return Clock::time_point(Clock::duration(m_injected.load(std::memory_order_acquire)));
    }

private:
    InputInjector& m_inner;
    std::atomic<Clock::rep> m_entered{0};
    std::atomic<Clock::rep> m_injected{0};
};

/// A client's window under the pointer that waits for buttons, and the XTest keyboard that
/// presses the keys, on one connection.
class MeasuringClient {
public:
    MeasuringClient()
    {
        Display* display = m_connection.display();
        m_window = XCreateSimpleWindow(display, m_connection.root(), 0, 0, 400, 300, 0, 0, 0);
        XSelectInput(display, m_window, ButtonPressMask | ButtonReleaseMask | StructureNotifyMask);
        XMapRaised(display, m_window);
        XEvent event;
        do
            XNextEvent(display, &event);
        while (event.type != MapNotify);
        XWarpPointer(display, None, m_window, 0, 0, 0, 0, 200, 150);
        XSync(display, False);
    }
    Display* display() const { return m_connection.display(); }

    /// Sends the key event and returns when the window got |buttonType|; false after 2 s.
    bool keyUntilButton(unsigned keycode, bool pressed, int buttonType, Clock::time_point& sent,
                        Clock::time_point& received)
    {
        Display* display = m_connection.display();
        sent = Clock::now();
        XTestFakeKeyEvent(display, keycode, pressed ? True : False, CurrentTime);
        XFlush(display);
        return waitFor(buttonType, received);
    }

private:
    bool waitFor(int type, Clock::time_point& received)
    {
        Display* display = m_connection.display();
        const Clock::time_point deadline = Clock::now() + std::chrono::seconds(2);
        for (;;) {
            while (XPending(display) > 0) {
                XEvent event;
                XNextEvent(display, &event);
                if (event.type == type && event.xbutton.window == m_window) {
                    received = Clock::now();
                    return true;
                }
            }
            if (Clock::now() > deadline)
                return false;
            pollfd fd{ConnectionNumber(display), POLLIN, 0};
            poll(&fd, 1, 100);
        }
    }

    X11Connection m_connection;
    Window m_window = 0;
};

/// A bare client grabbing Return as the capture does, timed stage by stage.
struct BareStages {
    std::vector<double> toSocket, decode, ungrab;
};

BareStages measureBareGrab(int samples)
{
    BareStages stages;
    X11Connection grabber;
    X11Connection sender;
    Display* display = grabber.display();
    const unsigned returnKey = XKeysymToKeycode(display, XK_Return);
    XGrabKey(display, static_cast<int>(returnKey), AnyModifier, grabber.root(), False, GrabModeAsync, GrabModeSync);
    XSync(display, False);
    for (int i = 0; i < samples + 5; ++i) {
        for (const bool pressed : {true, false}) {
            const Clock::time_point sent = Clock::now();
            XTestFakeKeyEvent(sender.display(), returnKey, pressed ? True : False, CurrentTime);
            XFlush(sender.display());
            if (!pressed) {
                XSync(sender.display(), False);
                continue;
            }
            pollfd fd{ConnectionNumber(display), POLLIN, 0};
            poll(&fd, 1, 2000);
            const Clock::time_point readable = Clock::now();
            XEvent event;
            do
                XNextEvent(display, &event);
            while (event.type != KeyPress);
            const Clock::time_point decoded = Clock::now();
            XUngrabKeyboard(display, event.xkey.time);
            XFlush(display);
            const Clock::time_point ungrabbed = Clock::now();
            if (i >= 5) {
                stages.toSocket.push_back(microsBetween(sent, readable));
                stages.decode.push_back(microsBetween(readable, decoded));
                stages.ungrab.push_back(microsBetween(decoded, ungrabbed));
            }
        }
    }
    XUngrabKey(display, static_cast<int>(returnKey), AnyModifier, grabber.root());
    XSync(display, False);
    return stages;
}

/// The X server's MouseKeys: keypad 5 with NumLock off clicks the default button.
std::vector<double> measureMouseKeys(MeasuringClient& client, int samples)
{
    Display* display = client.display();
    XkbChangeEnabledControls(display, XkbUseCoreKbd, XkbMouseKeysMask, XkbMouseKeysMask);
    XSync(display, False);
    const unsigned keypad5 = XKeysymToKeycode(display, XK_KP_Begin) != 0 ? XKeysymToKeycode(display, XK_KP_Begin)
                                                                          : XKeysymToKeycode(display, XK_KP_5);
    std::vector<double> totals;
    for (int i = 0; i < samples + 5; ++i) {
        Clock::time_point sent;
        Clock::time_point received;
        Clock::time_point ignored;
        if (!client.keyUntilButton(keypad5, true, ButtonPress, sent, received))
            break;
        client.keyUntilButton(keypad5, false, ButtonRelease, ignored, ignored);
        if (i >= 5)
            totals.push_back(microsBetween(sent, received));
    }
    XkbChangeEnabledControls(display, XkbUseCoreKbd, XkbMouseKeysMask, 0);
    XSync(display, False);
    return totals;
}

void printRow(const char* stage, const Figures& f)
{
    std::printf("  %-36s median %7.1f us   p99 %7.1f us\n", stage, f.median, f.p99);
}

/// Samples of one way through the real capture, engine and injector.
struct CaptureRun {
    std::vector<double> totals, toSink, inject, toClient;
    bool ok = true;
};

CaptureRun measureCapture(int samples)
{
    CaptureRun run;
    X11KeySource source;
    X11InputInjector injector;
    X11Pointer pointer;
    TimedInjector timed(injector);
    PointerControl core(source, timed, pointer);
    std::string reason;
    {
        PosixInputLoop loop(core, source);
        if (!injector.valid() || !loop.switchOn(reason)) {
            std::fprintf(stderr, "capture or injector unavailable: %s\n", reason.c_str());
            run.ok = false;
            return run;
        }
        std::printf("input loop scheduling: %s\n", loop.scheduling());
        MeasuringClient measuring;
        const unsigned returnKey = XKeysymToKeycode(measuring.display(), XK_Return);
        for (int i = 0; i < samples + 10 && run.ok; ++i) {
            Clock::time_point sent;
            Clock::time_point received;
            Clock::time_point ignored;
            run.ok = measuring.keyUntilButton(returnKey, true, ButtonPress, sent, received)
                && measuring.keyUntilButton(returnKey, false, ButtonRelease, ignored, ignored);
            if (run.ok && i >= 10) {  // the first few warm caches up
                run.totals.push_back(microsBetween(sent, received));
                run.toSink.push_back(microsBetween(sent, timed.entered()));
                run.inject.push_back(microsBetween(timed.entered(), timed.injected()));
                run.toClient.push_back(microsBetween(timed.injected(), received));
            }
        }
        // The capture goes (with the loop) before the other measurements, which would otherwise
        // meet its grabs.
    }
    if (!run.ok)
        std::fprintf(stderr, "a click never reached the measuring client\n");
    return run;
}

} // namespace

int main(int argc, char** argv)
{
    const int samples = argc > 1 ? std::max(10, std::atoi(argv[1])) : 200;

    const CaptureRun engine = measureCapture(samples);
    if (!engine.ok)
        return 1;
    BareStages bare;
    std::vector<double> mouseKeys;
    {
        MeasuringClient measuring;
        bare = measureBareGrab(samples);
        mouseKeys = measureMouseKeys(measuring, samples);
    }

    const Figures bareSocket = figures(bare.toSocket);
    const Figures bareDecode = figures(bare.decode);
    const Figures bareUngrab = figures(bare.ungrab);
    const Figures server = figures(mouseKeys);
    std::printf("Enter -> ButtonPress in another client, %d samples each:\n", samples);
    printRow("server -> socket (bare grabber)", bareSocket);
    printRow("decode (bare grabber)", bareDecode);
    printRow("ungrab (bare grabber)", bareUngrab);
    std::printf(" through the capture and the engine (the input loop's thread):\n");
    const Figures sinkFigures = figures(engine.toSink);
    printRow("key -> decision", sinkFigures);
    std::printf("  %-36s median %7.1f us\n", "  of which dispatch",
                std::max(0.0, sinkFigures.median - bareSocket.median - bareDecode.median - bareUngrab.median));
    printRow("translate+inject", figures(engine.inject));
    printRow("server -> client", figures(engine.toClient));
    printRow("total", figures(engine.totals));
    printRow("MouseKeys (in the server), total", server);
    if (server.median > 0) {
        const Figures total = figures(engine.totals);
        std::printf("  ratio to MouseKeys, median %.2f, p99 %.2f\n", total.median / server.median,
                    total.p99 / server.p99);
    }
    return 0;
}
