// How long X11KeySource::install() and uninstall() take, which is most of what switching
// pointer control on or off costs, and how many key combinations the grabs cover. Each install
// is checked to capture Right before it counts.
// Needs an X display; run under a window manager to see its bindings left to it:
//   tests/x11/run_with_xvfb.sh --wm build/bin/x11_grab_install [rounds]
#include <algorithm>
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

namespace {

using Clock = std::chrono::steady_clock;

class CountingSink final : public KeySink {
public:
    bool keyChanged(const KeyChange&) noexcept override
    {
        ++count;
        return true;
    }
    long count = 0;
};

struct Figures {
    double median = 0;
    double p99 = 0;
};

Figures figures(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const auto at = [&](double q) { return values[static_cast<std::size_t>(q * double(values.size() - 1))]; };
    return {at(0.5), at(0.99)};
}

double millisSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

} // namespace

int main(int argc, char** argv)
{
    const int rounds = argc > 1 ? std::max(5, std::atoi(argv[1])) : 40;
    X11Connection sender;
    const unsigned right = XKeysymToKeycode(sender.display(), XK_Right);

    CountingSink sink;
    X11KeySource source;
    std::vector<double> installs;
    std::vector<double> uninstalls;
    for (int i = 0; i < rounds + 2; ++i) {
        Clock::time_point start = Clock::now();
        const std::uintptr_t handle = source.install(sink);
        const double installed = millisSince(start);
        if (handle == 0) {
            std::fprintf(stderr, "install failed: %s\n", source.lastError().c_str());
            return 1;
        }
        const long before = sink.count;
        XTestFakeKeyEvent(sender.display(), right, True, CurrentTime);
        XTestFakeKeyEvent(sender.display(), right, False, CurrentTime);
        XFlush(sender.display());
        // As the input loop runs it: the first dispatch right after install, then on the socket.
        source.dispatch();
        const Clock::time_point deadline = Clock::now() + std::chrono::seconds(2);
        while (sink.count < before + 2 && Clock::now() < deadline) {
            pollfd watched{source.pollFd(), POLLIN, 0};
            poll(&watched, 1, 50);
            source.dispatch();
        }
        if (sink.count < before + 2) {
            std::fprintf(stderr, "an installed capture missed Right\n");
            return 1;
        }
        start = Clock::now();
        source.uninstall(handle);
        const double uninstalled = millisSince(start);
        if (i >= 2) {
            installs.push_back(installed);
            uninstalls.push_back(uninstalled);
        }
    }
    const Figures in = figures(installs);
    const Figures out = figures(uninstalls);
    std::printf("key combinations grabbed: %d, left to another client: %d\n", source.grabCounts().succeeded,
                source.grabCounts().failed);
    std::printf("install   (%d rounds): median %7.2f ms   p99 %7.2f ms\n", rounds, in.median, in.p99);
    std::printf("uninstall (%d rounds): median %7.2f ms   p99 %7.2f ms\n", rounds, out.median, out.p99);
    return 0;
}
