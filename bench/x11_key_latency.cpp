// Time from an XTest key event sent to the X server until X11KeySource hands it to the sink,
// through the whole real path (server, grab or raw event, socket, Qt's loop), for presses and
// releases separately; and how many key grabs the window manager left to us.
// Needs an X display: tests/x11/run_with_xvfb.sh --wm build/bin/x11_key_latency [events]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <QCoreApplication>
#include <QDeadlineTimer>

#include "platform/x11/x11_connection.h"
#include "platform/x11/x11_key_source.h"

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

namespace {

using Clock = std::chrono::steady_clock;

class TimingSink final : public KeyEventSink {
public:
    std::intptr_t KeyboardProc(const KeyEvent& event) noexcept override
    {
        last = Clock::now();
        lastMessage = event.message;
        ++count;
        return 1;
    }
    Clock::time_point last;
    std::uint32_t lastMessage = 0;
    long count = 0;
};

struct Figures {
    double median;
    double p99;
    double worst;
};

Figures figures(std::vector<double> micros)
{
    std::sort(micros.begin(), micros.end());
    const auto at = [&](double q) { return micros[static_cast<std::size_t>(q * double(micros.size() - 1))]; };
    return {at(0.5), at(0.99), micros.back()};
}

// Sends one key event and runs Qt's loop until the sink has it; microseconds, or -1 on timeout.
double timeOne(Display* display, unsigned keycode, bool pressed, TimingSink& sink)
{
    const long before = sink.count;
    const Clock::time_point sent = Clock::now();
    XTestFakeKeyEvent(display, keycode, pressed ? True : False, CurrentTime);
    XFlush(display);
    QDeadlineTimer deadline(2000);
    while (sink.count == before) {
        if (deadline.hasExpired())
            return -1;
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    }
    return std::chrono::duration<double, std::micro>(sink.last - sent).count();
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    const int events = argc > 1 ? std::max(10, std::atoi(argv[1])) : 200;

    TimingSink sink;
    X11KeySource source;
    const std::uintptr_t handle = source.install(sink);
    std::printf("grabs: %d succeeded, %d held by another client\n", source.grabCounts().succeeded,
                source.grabCounts().failed);
    if (handle == 0) {
        std::fprintf(stderr, "install failed: %s\n", source.lastError().c_str());
        return 1;
    }

    X11Connection sender;
    const unsigned right = XKeysymToKeycode(sender.display(), XK_Right);
    std::vector<double> presses;
    std::vector<double> releases;
    for (int i = 0; i < events + 10; ++i) {
        const double press = timeOne(sender.display(), right, true, sink);
        const double release = timeOne(sender.display(), right, false, sink);
        if (press < 0 || release < 0) {
            std::fprintf(stderr, "an event never reached the sink\n");
            return 1;
        }
        if (i >= 10) {  // the first few warm caches and Qt's dispatcher up
            presses.push_back(press);
            releases.push_back(release);
        }
    }
    source.uninstall(handle);

    const Figures p = figures(presses);
    const Figures r = figures(releases);
    std::printf("XTest key sent -> sink, %d events each:\n", events);
    std::printf("  press (grab):         median %.0f us, p99 %.0f us, worst %.0f us\n", p.median, p.p99, p.worst);
    std::printf("  release (raw event):  median %.0f us, p99 %.0f us, worst %.0f us\n", r.median, r.p99, r.worst);
    return 0;
}
