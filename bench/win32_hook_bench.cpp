// The Windows build's own figures, run under Wine (build-windows/bin/win32_hook_bench.exe):
//   hook_to_sink      SendInput of Enter until the core presses the button: the low-level
//                     hook's callback on the input loop's thread, the decision, the injection
//   deadline_ns       the tick timer's arithmetic for one tick (the wait left to the next
//                     deadline on the grid)
//   tickP_*           a 2 s hold of Right at a refresh of P ms (5, 10, 25, 40): the pointer's
//                     moves from the input loop, from the key-down on, the model's count
//                     (1 + 2000 / P), and how far each interval is from P
// Prints "name=value" lines (microseconds, nanoseconds, milliseconds, counts).
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include <windows.h>

#include "engine/pointer_control.h"
#include "platform/win32/win32_input_loop.h"
#include "platform/win32/win32_keyboard_hook.h"
#include "platform/win32/win32_tick_timer.h"

namespace {

void print(const char* name, std::vector<double> values)
{
    if (values.empty())
        return;
    std::sort(values.begin(), values.end());
    const auto at = [&](double q) {
        return values[std::min(values.size() - 1, static_cast<std::size_t>(std::ceil(q * double(values.size()))) - 1)];
    };
    std::printf("%s_median=%.3f\n%s_p99=%.3f\n%s_max=%.3f\n%s_samples=%zu\n", name, at(0.5), name, at(0.99), name,
                values.back(), name, values.size());
}

void sendKey(WORD vk, bool up)
{
    INPUT input{};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = vk;
    input.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
    SendInput(1, &input, sizeof input);
}

// When the loop last pressed the button and moved the pointer (loop clock).
struct Timestamps final : InputInjector, Pointer {
    void leftButtonDown() noexcept override { pressed.store(Win32TickTimer::now()); }
    void leftButtonUp() noexcept override {}
    bool read(CursorPoint& point) override
    {
        point = {};
        return true;
    }
    bool moveTo(std::int32_t, std::int32_t) override
    {
        if (moveCount < moves.size())
            moves[moveCount++] = Win32TickTimer::now();
        return true;
    }
    std::atomic<LoopTime> pressed{0};
    std::vector<LoopTime> moves = std::vector<LoopTime>(1024);
    std::size_t moveCount = 0;
};

// The key path as the program wires it, switched on with a refresh of |period| ms.
struct KeyPath {
    explicit KeyPath(std::int32_t period)
    {
        loop.setMotion({2, 2, 250, period});
        std::string reason;
        if (!loop.switchOn(reason))
            std::fprintf(stderr, "the hook did not install: %s\n", reason.c_str());
    }
    Win32KeyboardHook hook;
    Timestamps timestamps;
    Win32TickTimer timer;
    PointerControl control{hook, timestamps, timestamps};
    Win32InputLoop loop{control, nullptr, timer};
};

void hookPath(int samples)
{
    KeyPath path(25);
    std::vector<double> values;
    for (int i = 0; i < samples + 5; ++i) {
        path.timestamps.pressed.store(0);
        const LoopTime sent = Win32TickTimer::now();
        sendKey(VK_RETURN, false);
        for (const DWORD start = GetTickCount(); path.timestamps.pressed.load() == 0;)
            if (GetTickCount() - start > 1000) {
                std::fprintf(stderr, "a key never reached the core\n");
                return;
            }
        if (i >= 5)
            values.push_back(double(path.timestamps.pressed.load() - sent) / 1000.0);
        sendKey(VK_RETURN, true);
        Sleep(1);
    }
    print("hook_to_sink", values);
}

void deadlineArithmetic()
{
    constexpr std::int64_t kPeriod = 25'000'000;
    constexpr std::int64_t kSecond = 1'000'000'000;
    constexpr int kTicks = 1'000'000;
    std::vector<double> rounds;
    volatile std::uint32_t sink = 0;
    for (int round = 0; round < 11; ++round) {
        std::int64_t deadline = Win32TickTimer::now();
        const LoopTime start = Win32TickTimer::now();
        for (int i = 0; i < kTicks; ++i) {
            // Seen a little late, as the system timer wakes the loop.
            const std::int64_t now = deadline - kPeriod + (i & 1023);
            sink = sink + static_cast<std::uint32_t>(Win32TickTimer::waitHundredNanoseconds(deadline, now, kSecond));
            deadline += kPeriod;
        }
        rounds.push_back(double(Win32TickTimer::now() - start) / kTicks);
    }
    std::sort(rounds.begin(), rounds.end());
    std::printf("deadline_ns=%.1f\n", rounds[rounds.size() / 2]);
}

void tickHold(int period)
{
    KeyPath path(period);
    sendKey(VK_RIGHT, false);
    Sleep(2000);
    sendKey(VK_RIGHT, true);
    path.loop.switchOff();  // answered: the moves are all written
    const Timestamps& moves = path.timestamps;
    std::vector<double> deviations;
    for (std::size_t i = 1; i < moves.moveCount; ++i)
        deviations.push_back(std::fabs(double(moves.moves[i] - moves.moves[i - 1]) / 1e6 - period));
    const std::string name = "tick" + std::to_string(period);
    std::printf("%s_ticks=%zu\n%s_model=%d\n%s_high_resolution=%d\n", name.c_str(), moves.moveCount, name.c_str(),
                1 + 2000 / period, name.c_str(), path.timer.highResolution() ? 1 : 0);
    print((name + "_deviation").c_str(), deviations);
}

} // namespace

int main()
{
    hookPath(200);
    deadlineArithmetic();
    for (const int period : {5, 10, 25, 40})
        tickHold(period);
    return 0;
}
