// Time from an XTest key event sent to the X server until X11KeySource hands it to the sink,
// through the whole real path (server, grab or raw event, socket, the loop's poll), for presses and
// releases separately; the heap allocations made on the way (any library's, counted by
// interposing glibc's malloc); and how many key grabs the window manager left to us.
// Needs an X display: tests/x11/run_with_xvfb.sh --wm build/bin/x11_key_latency [events]
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <poll.h>

#include "platform/x11/x11_connection.h"
#include "platform/x11/x11_key_source.h"

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

// glibc's own entry points: every malloc of the process, libX11's and libxcb's included,
// passes through the definitions below while g_counting is set.
extern "C" void* __libc_malloc(std::size_t size);
extern "C" void* __libc_calloc(std::size_t count, std::size_t size);
extern "C" void* __libc_realloc(void* pointer, std::size_t size);

namespace {
std::atomic<bool> g_counting{false};
std::atomic<long> g_allocations{0};
}

extern "C" void* malloc(std::size_t size)
{
    g_allocations += g_counting;
    return __libc_malloc(size);
}

extern "C" void* calloc(std::size_t count, std::size_t size)
{
    g_allocations += g_counting;
    return __libc_calloc(count, size);
}

extern "C" void* realloc(void* pointer, std::size_t size)
{
    g_allocations += g_counting;
    return __libc_realloc(pointer, size);
}

namespace {

using Clock = std::chrono::steady_clock;

class TimingSink final : public KeySink {
public:
    bool keyChanged(const KeyChange&) noexcept override
    {
        last = Clock::now();
        ++count;
        return true;
    }
    Clock::time_point last;
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

// Sends one key event and polls the capture's socket, as the input loop does, until the sink has
// it; microseconds, or -1 on timeout. Adds the allocations made from the moment the server has
// the event to |allocations|.
double timeOne(Display* display, unsigned keycode, bool pressed, X11KeySource& source, TimingSink& sink,
               long& allocations)
{
    const long before = sink.count;
    const Clock::time_point sent = Clock::now();
    XTestFakeKeyEvent(display, keycode, pressed ? True : False, CurrentTime);
    XFlush(display);
    const Clock::time_point deadline = sent + std::chrono::seconds(2);
    g_allocations = 0;
    g_counting = true;
    // The loop sleeps until the socket speaks, as the program's idle loop does, so the figure
    // includes the wake-up.
    while (sink.count == before) {
        if (Clock::now() > deadline) {
            g_counting = false;
            return -1;
        }
        pollfd watched{source.pollFd(), POLLIN, 0};
        poll(&watched, 1, 100);
        source.dispatch();
    }
    g_counting = false;
    allocations += g_allocations;
    return std::chrono::duration<double, std::micro>(sink.last - sent).count();
}

} // namespace

int main(int argc, char** argv)
{
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
    presses.reserve(static_cast<std::size_t>(events));
    releases.reserve(static_cast<std::size_t>(events));
    long pressAllocations = 0;
    long releaseAllocations = 0;
    for (int i = 0; i < events + 10; ++i) {
        if (i == 10)
            pressAllocations = releaseAllocations = 0;
        const double press = timeOne(sender.display(), right, true, source, sink, pressAllocations);
        const double release = timeOne(sender.display(), right, false, source, sink, releaseAllocations);
        if (press < 0 || release < 0) {
            std::fprintf(stderr, "an event never reached the sink\n");
            return 1;
        }
        if (i >= 10) {  // the first few warm caches up
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
    std::printf("heap allocations per event, any library's: press %.2f, release %.2f\n",
                double(pressAllocations) / events, double(releaseAllocations) / events);
    return 0;
}
