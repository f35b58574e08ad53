#include "platform/win32/win32_tick_timer.h"

#include <algorithm>

namespace {

constexpr std::int64_t kHundredNanosecondsPerSecond = 10'000'000;
constexpr std::int64_t kNanosecondsPerSecond = 1'000'000'000;

#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
constexpr DWORD CREATE_WAITABLE_TIMER_HIGH_RESOLUTION = 0x00000002;
#endif

// Opts the process out of power throttling (execution speed) while |wanted|, and gives the
// decision back to the system otherwise. Systems before Windows 10 1709 have no such policy:
// the call is looked up, and a refusal changes nothing.
void systemFullSpeed(bool wanted)
{
    using SetProcessInformationFunction = BOOL(WINAPI*)(HANDLE, int, LPVOID, DWORD);
    static const auto setProcessInformation = reinterpret_cast<SetProcessInformationFunction>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "SetProcessInformation")));
    if (setProcessInformation == nullptr)
        return;
    struct {
        ULONG version;
        ULONG controlMask;
        ULONG stateMask;
    } state{1 /* PROCESS_POWER_THROTTLING_CURRENT_VERSION */,
            wanted ? 0x1u /* PROCESS_POWER_THROTTLING_EXECUTION_SPEED */ : 0u, 0u};
    setProcessInformation(GetCurrentProcess(), 4 /* ProcessPowerThrottling */, &state, sizeof state);
}

std::int64_t counterFrequency()
{
    LARGE_INTEGER frequency{};
    QueryPerformanceFrequency(&frequency);
    return frequency.QuadPart > 0 ? frequency.QuadPart : 1;
}

} // namespace

Win32TickTimer::SystemRequests Win32TickTimer::systemRequests()
{
    return SystemRequests{timeBeginPeriod, timeEndPeriod, systemFullSpeed};
}

Win32TickTimer::Win32TickTimer(SystemRequests requests, Resolution wanted) : m_requests(requests)
{
    if (wanted == Resolution::High)
        m_timer = CreateWaitableTimerExW(nullptr, nullptr, CREATE_WAITABLE_TIMER_HIGH_RESOLUTION, TIMER_ALL_ACCESS);
    m_highResolution = m_timer != nullptr;
    // Before Windows 10 1803 the flag is refused (ERROR_INVALID_PARAMETER): the plain timer.
    if (m_timer == nullptr)
        m_timer = CreateWaitableTimerExW(nullptr, nullptr, 0, TIMER_ALL_ACCESS);
}

Win32TickTimer::~Win32TickTimer()
{
    setMoving(false, 0);
    if (m_timer != nullptr)
        CloseHandle(m_timer);
}

LoopTime Win32TickTimer::now() noexcept
{
    static const std::int64_t frequency = counterFrequency();
    LARGE_INTEGER counter{};
    QueryPerformanceCounter(&counter);
    // In two parts, so that a counter of months at 10 MHz does not overflow.
    return counter.QuadPart / frequency * kNanosecondsPerSecond
           + counter.QuadPart % frequency * kNanosecondsPerSecond / frequency;
}

std::int64_t Win32TickTimer::waitHundredNanoseconds(std::int64_t deadline, std::int64_t now, std::int64_t frequency)
{
    const std::int64_t remaining = deadline - now;
    if (frequency <= 0 || remaining < (frequency + 9'999) / 10'000)
        return 0;
    // In two parts, so that a period of days on a 10 MHz counter does not overflow.
    const std::int64_t whole = remaining / frequency * kHundredNanosecondsPerSecond;
    return whole + ((remaining % frequency) * kHundredNanosecondsPerSecond + frequency - 1) / frequency;
}

DWORD Win32TickTimer::arm(std::optional<LoopTime> deadline, LoopTime now) noexcept
{
    if (!deadline) {
        if (m_timer != nullptr)
            CancelWaitableTimer(m_timer);
        return INFINITE;
    }
    // A deadline "at once" may lie at the clock's very beginning: compared, never subtracted.
    if (*deadline <= now)
        return 0;
    // Less than the timer's 0.1 ms left: its shortest wait, rather than a tick run early.
    const std::int64_t wait = std::max<std::int64_t>(1, waitHundredNanoseconds(*deadline, now, kNanosecondsPerSecond));
    LARGE_INTEGER due{};
    due.QuadPart = -wait;  // relative
    if (m_timer != nullptr && SetWaitableTimer(m_timer, &due, 0, nullptr, nullptr, FALSE))
        return INFINITE;
    const std::int64_t milliseconds = wait / 10'000 + 1;
    return milliseconds >= INFINITE ? INFINITE - 1 : static_cast<DWORD>(milliseconds);
}

void Win32TickTimer::setMoving(bool moving, std::int32_t intervalMs) noexcept
{
    const bool wanted = moving && intervalMs < kFastBelowMs;
    if (wanted == m_fast)
        return;
    m_fast = wanted;
    // The high-resolution timer does not depend on the system clock: no 1 ms clock, which would
    // cost the whole system wakeups.
    if (wanted && !m_highResolution) {
        m_clockHeld = m_requests.beginClock(1) == TIMERR_NOERROR;
    } else if (!wanted && m_clockHeld) {
        m_requests.endClock(1);
        m_clockHeld = false;
    }
    m_requests.fullSpeed(wanted);
}
