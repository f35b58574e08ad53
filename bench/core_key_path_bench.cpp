// Figures for the core's hot paths: the key path (a key change to its decision) and the tick.
// Prints medians over repeated runs and the number of heap allocations on the key path and
// in the tick, which must be 0. Run: build/bin/core_key_path_bench
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <vector>

#include "engine/motion_ticker.h"
#include "engine/pointer_control.h"

namespace {

std::atomic<long> g_allocations{0};
long g_allocationsInBodies = 0;

class NullSource final : public KeyEventSource {
public:
    std::uintptr_t install(KeySink&) override { return 1; }
    void uninstall(std::uintptr_t) override {}
    std::string lastError() const override { return {}; }
};

class NullInjector final : public InputInjector {
public:
    void leftButtonDown() noexcept override { ++presses; }
    void leftButtonUp() noexcept override { ++presses; }
    long presses = 0;
};

class NullPointer final : public Pointer {
public:
    bool read(CursorPoint& point) override
    {
        point = position;
        return true;
    }
    bool moveTo(std::int32_t x, std::int32_t y) override
    {
        position = {x % 1280, y % 800};
        return true;
    }
    CursorPoint position{640, 400};
};

template <typename Body>
double medianNanoseconds(int rounds, int iterations, Body&& body)
{
    std::vector<double> samples;
    samples.reserve(rounds);
    for (int round = 0; round < rounds; ++round) {
        const long before = g_allocations.load();
        const auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < iterations; ++i)
            body(i);
        const auto end = std::chrono::steady_clock::now();
        g_allocationsInBodies += g_allocations.load() - before;
        samples.push_back(std::chrono::duration<double, std::nano>(end - start).count() / iterations);
    }
    std::sort(samples.begin(), samples.end());
    return samples[samples.size() / 2];
}

} // namespace

void* operator new(std::size_t size)
{
    ++g_allocations;
    if (void* p = std::malloc(size ? size : 1))
        return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

int main()
{
    NullSource source;
    NullInjector injector;
    NullPointer pointer;
    PointerControl core(source, injector, pointer);
    std::string reason;
    core.switchOn(reason);

    constexpr int kRounds = 21;
    constexpr int kIterations = 200000;
    const KeyChange arrow[2] = {{CapturedKey::Right, true, false}, {CapturedKey::Right, false, false}};
    const KeyChange enter[2] = {{CapturedKey::Enter, true, false}, {CapturedKey::Enter, false, false}};
    const KeyChange altArrow = {CapturedKey::Left, true, true};
    volatile bool sink = false;

    const double arrowNs = medianNanoseconds(kRounds, kIterations, [&](int i) { sink = core.keyChanged(arrow[i & 1]); });
    const double enterNs = medianNanoseconds(kRounds, kIterations, [&](int i) { sink = core.keyChanged(enter[i & 1]); });
    const double altNs = medianNanoseconds(kRounds, kIterations, [&](int) { sink = core.keyChanged(altArrow); });
    const long keyPathAllocations = g_allocationsInBodies;

    // The tick as the loop runs it: two arrows held, one tick due each round.
    core.setMotion({6, 20, 250, 25});
    core.keyChanged({CapturedKey::Left, false, false});
    core.keyChanged({CapturedKey::Up, true, false});
    core.keyChanged({CapturedKey::Right, true, false});
    LoopTime now = 0;
    const double tickNs = medianNanoseconds(kRounds, kIterations / 10, [&](int) {
        now += 25'000'000;
        core.runDue(now);
    });
    const long tickAllocations = g_allocationsInBodies - keyPathAllocations;

    std::printf("key path, arrow (claimed):      median %.1f ns/event\n", arrowNs);
    std::printf("key path, Enter (one injection): median %.1f ns/event\n", enterNs);
    std::printf("key path, Alt+arrow (no effect): median %.1f ns/event\n", altNs);
    std::printf("key path heap allocations:       %ld (over %d events)\n", keyPathAllocations,
                3 * kRounds * kIterations);
    std::printf("tick movement, two arrows held:  median %.1f ns/tick\n", tickNs);
    std::printf("tick heap allocations:           %ld (over %d ticks)\n", tickAllocations, kRounds * (kIterations / 10));
    return keyPathAllocations > 0 || tickAllocations > 0 ? 1 : 0;
}
