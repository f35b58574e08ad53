// The Windows build's own figures, run under Wine (build-windows/bin/win32_hook_bench.exe):
//   hook_to_sink      SendInput of an arrow until the program's sink runs on the UI thread:
//                     the low-level hook on its thread, the claim, the post and the dispatch
//   deadline_ns       the tick timer's deadline arithmetic for one tick (the wait left and
//                     the next deadline)
//   tickP_*           a 2 s hold at a refresh of P ms (5, 10, 25, 40): the ticks of the
//                     Win32RepeatingTimer from its start at once (key-down) on, the model's
//                     count (1 + 2000 / P), and how far each interval is from P
// Prints "name=value" lines (microseconds, nanoseconds, milliseconds, counts).
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include <windows.h>

#include "platform/form_event_sink.h"
#include "platform/win32/win32_keyboard_hook.h"
#include "platform/win32/win32_repeating_timer.h"

namespace {

std::int64_t counter()
{
    LARGE_INTEGER value{};
    QueryPerformanceCounter(&value);
    return value.QuadPart;
}

double g_countsPerMicrosecond = 1;

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

class TimedSink final : public KeySink {
public:
    bool keyChanged(const KeyChange&) noexcept override
    {
        reached = counter();
        return true;
    }
    std::int64_t reached = 0;
};

void sendKey(WORD vk, bool up)
{
    INPUT input{};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = vk;
    input.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
    SendInput(1, &input, sizeof input);
}

/// Runs this thread's messages until |sink| has been reached, at most a second.
bool pumpUntilReached(TimedSink& sink)
{
    const DWORD start = GetTickCount();
    while (sink.reached == 0 && GetTickCount() - start < 1000) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
        MSG message{};
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageW(&message);
    }
    return sink.reached != 0;
}

void hookPath(int samples)
{
    Win32KeyboardHook hook;
    TimedSink sink;
    const std::uintptr_t handle = hook.install(sink);
    if (handle == 0) {
        std::fprintf(stderr, "the hook did not install: %s\n", hook.lastError().c_str());
        return;
    }
    std::vector<double> values;
    for (int i = 0; i < samples + 5; ++i) {
        for (const bool up : {false, true}) {
            sink.reached = 0;
            const std::int64_t sent = counter();
            sendKey(VK_RIGHT, up);
            if (!pumpUntilReached(sink)) {
                std::fprintf(stderr, "a key never reached the sink\n");
                hook.uninstall(handle);
                return;
            }
            if (!up && i >= 5)
                values.push_back(double(sink.reached - sent) / g_countsPerMicrosecond);
        }
    }
    hook.uninstall(handle);
    print("hook_to_sink", values);
}

void deadlineArithmetic()
{
    LARGE_INTEGER frequency{};
    QueryPerformanceFrequency(&frequency);
    const std::int64_t period = 25 * frequency.QuadPart / 1000;
    constexpr int kTicks = 1'000'000;
    std::vector<double> rounds;
    volatile std::uint32_t sink = 0;
    for (int round = 0; round < 11; ++round) {
        std::int64_t deadline = counter();
        const std::int64_t start = counter();
        for (int i = 0; i < kTicks; ++i) {
            // A tick that ran a little late, as the system timer makes them.
            const std::int64_t now = deadline + (i & 1023);
            sink = sink + static_cast<std::uint32_t>(Win32RepeatingTimer::waitHundredNanoseconds(deadline, now, frequency.QuadPart));
            deadline = Win32RepeatingTimer::nextDeadline(deadline, now, period);
        }
        rounds.push_back(double(counter() - start) / g_countsPerMicrosecond * 1000 / kTicks);
    }
    std::sort(rounds.begin(), rounds.end());
    std::printf("deadline_ns=%.1f\n", rounds[rounds.size() / 2]);
}

class TickRecorder final : public TimerTickSink {
public:
    void Timer1_Timer() override { ticks.push_back(counter()); }
    std::vector<std::int64_t> ticks;
};

void timerHold(int period)
{
    Win32RepeatingTimer timer;
    TickRecorder recorder;
    recorder.ticks.reserve(1024);
    timer.setEventSink(&recorder);
    timer.setPeriod(period);
    const std::int64_t start = counter();
    const std::int64_t end = start + std::int64_t(2'000'000 * g_countsPerMicrosecond);
    timer.startNow();
    while (counter() < end) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 1, QS_ALLINPUT);
        MSG message{};
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageW(&message);
    }
    timer.setEnabled(false);
    std::vector<double> deviations;
    for (std::size_t i = 1; i < recorder.ticks.size(); ++i)
        deviations.push_back(
            std::fabs(double(recorder.ticks[i] - recorder.ticks[i - 1]) / g_countsPerMicrosecond / 1000 - period));
    const std::string name = "tick" + std::to_string(period);
    std::printf("%s_ticks=%zu\n%s_model=%d\n%s_high_resolution=%d\n", name.c_str(), recorder.ticks.size(),
                name.c_str(), 1 + 2000 / period, name.c_str(), timer.highResolution() ? 1 : 0);
    print((name + "_deviation").c_str(), deviations);
}

} // namespace

int main()
{
    LARGE_INTEGER frequency{};
    QueryPerformanceFrequency(&frequency);
    g_countsPerMicrosecond = double(frequency.QuadPart) / 1e6;
    hookPath(200);
    deadlineArithmetic();
    for (const int period : {5, 10, 25, 40})
        timerHold(period);
    return 0;
}
