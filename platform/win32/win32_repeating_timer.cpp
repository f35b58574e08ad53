#include "platform/win32/win32_repeating_timer.h"

#include "platform/form_event_sink.h"
#include "platform/win32/win32_window_messages.h"

namespace {

constexpr const wchar_t* kWindowClass = L"PavroTickWindow";
constexpr UINT kTickMessage = WM_APP + 1;
// Only when the timer thread could not be made: a plain window timer, coarse but ticking.
constexpr UINT_PTR kFallbackTimerId = 1;
// Below this period the program is moving the pointer and asks for full speed.
constexpr std::int32_t kFastBelow = 100;
constexpr std::int64_t kHundredNanosecondsPerSecond = 10'000'000;
// Ticks that a late thread or a busy UI thread may owe and still deliver, back to back.
constexpr int kCatchUpTicks = 3;

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

} // namespace

Win32RepeatingTimer::SystemRequests Win32RepeatingTimer::systemRequests()
{
    return SystemRequests{timeBeginPeriod, timeEndPeriod, systemFullSpeed};
}

Win32RepeatingTimer::Win32RepeatingTimer(SystemRequests requests, Resolution wanted) : m_requests(requests)
{
    LARGE_INTEGER frequency{};
    QueryPerformanceFrequency(&frequency);
    m_frequency = frequency.QuadPart > 0 ? frequency.QuadPart : 1;

    m_window = win32MessageWindow(kWindowClass, windowProc, this);
    if (wanted == Resolution::High)
        m_timer = CreateWaitableTimerExW(nullptr, nullptr, CREATE_WAITABLE_TIMER_HIGH_RESOLUTION, TIMER_ALL_ACCESS);
    m_highResolution = m_timer != nullptr;
    // Before Windows 10 1803 the flag is refused (ERROR_INVALID_PARAMETER): the plain timer.
    if (m_timer == nullptr)
        m_timer = CreateWaitableTimerExW(nullptr, nullptr, 0, TIMER_ALL_ACCESS);
    m_wake = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (m_window != nullptr && m_timer != nullptr && m_wake != nullptr)
        m_thread = CreateThread(nullptr, 0, threadMain, this, 0, nullptr);
}

Win32RepeatingTimer::~Win32RepeatingTimer()
{
    setEnabled(false);
    if (m_thread != nullptr) {
        m_quit.store(true);
        SetEvent(m_wake);
        WaitForSingleObject(m_thread, INFINITE);
        CloseHandle(m_thread);
    }
    if (m_timer != nullptr)
        CloseHandle(m_timer);
    if (m_wake != nullptr)
        CloseHandle(m_wake);
    if (m_window != nullptr) {
        SetWindowLongPtrW(m_window, GWLP_USERDATA, 0);
        DestroyWindow(m_window);
    }
}

std::int64_t Win32RepeatingTimer::waitHundredNanoseconds(std::int64_t deadline, std::int64_t now,
                                                         std::int64_t frequency)
{
    const std::int64_t remaining = deadline - now;
    if (frequency <= 0 || remaining < (frequency + 9'999) / 10'000)
        return 0;
    // In two parts, so that a period of days on a 10 MHz counter does not overflow.
    const std::int64_t whole = remaining / frequency * kHundredNanosecondsPerSecond;
    return whole + ((remaining % frequency) * kHundredNanosecondsPerSecond + frequency - 1) / frequency;
}

std::int64_t Win32RepeatingTimer::nextDeadline(std::int64_t deadline, std::int64_t now, std::int64_t periodCounts)
{
    const std::int64_t next = deadline + periodCounts;
    return now - next < kCatchUpTicks * periodCounts ? next : now + periodCounts;
}

std::int64_t Win32RepeatingTimer::now() const
{
    LARGE_INTEGER counter{};
    QueryPerformanceCounter(&counter);
    return counter.QuadPart;
}

std::int64_t Win32RepeatingTimer::periodCounts() const
{
    return static_cast<std::int64_t>(m_period) * m_frequency / 1000;
}

void Win32RepeatingTimer::setEnabled(bool enabled)
{
    if (enabled == m_enabled)
        return;
    m_enabled = enabled;
    publish(now() + periodCounts());
    updateRequests();
}

void Win32RepeatingTimer::setPeriod(std::int32_t milliseconds)
{
    m_period = milliseconds < 1 ? 1 : milliseconds;
    if (m_enabled)
        publish(now() + periodCounts());
    updateRequests();
}

void Win32RepeatingTimer::startNow()
{
    // On the key path: atomics, one event and one post, nothing that waits.
    m_enabled = true;
    publish(now() + periodCounts());
    // Taken as soon as the current handler returns; the thread's next one is a period later.
    postTick();
    updateRequests();
}

void Win32RepeatingTimer::publish(std::int64_t deadline)
{
    if (m_thread == nullptr) {
        if (m_window == nullptr)
            return;
        if (m_enabled)
            SetTimer(m_window, kFallbackTimerId, static_cast<UINT>(m_period), nullptr);
        else
            KillTimer(m_window, kFallbackTimerId);
        return;
    }
    m_sharedEnabled.store(m_enabled, std::memory_order_relaxed);
    m_sharedDeadline.store(deadline, std::memory_order_relaxed);
    m_sharedPeriod.store(periodCounts(), std::memory_order_relaxed);
    m_generation.fetch_add(1, std::memory_order_release);
    SetEvent(m_wake);
}

void Win32RepeatingTimer::postTick()
{
    if (m_window == nullptr)
        return;
    if (m_ticksPosted.fetch_add(1) < kCatchUpTicks)
        PostMessageW(m_window, kTickMessage, 0, 0);
    else
        m_ticksPosted.fetch_sub(1);
}

DWORD WINAPI Win32RepeatingTimer::threadMain(LPVOID parameter)
{
    static_cast<Win32RepeatingTimer*>(parameter)->run();
    return 0;
}

void Win32RepeatingTimer::run()
{
    // A late wake-up is a visible hitch in the pointer's motion; the thread only waits and posts.
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_HIGHEST);
    const HANDLE waits[2] = {m_wake, m_timer};
    std::uint32_t seen = m_generation.load(std::memory_order_acquire) - 1;
    bool enabled = false;
    std::int64_t deadline = 0;
    std::int64_t period = 0;
    while (!m_quit.load()) {
        // The UI thread writes the state before it raises the generation: a generation read
        // here comes with state at least that new.
        const std::uint32_t generation = m_generation.load(std::memory_order_acquire);
        if (generation != seen) {
            seen = generation;
            enabled = m_sharedEnabled.load(std::memory_order_relaxed);
            deadline = m_sharedDeadline.load(std::memory_order_relaxed);
            period = m_sharedPeriod.load(std::memory_order_relaxed);
        }
        if (!enabled) {
            WaitForSingleObject(m_wake, INFINITE);
            continue;
        }
        const std::int64_t current = now();
        const std::int64_t wait = waitHundredNanoseconds(deadline, current, m_frequency);
        if (wait > 0) {
            LARGE_INTEGER due{};
            due.QuadPart = -wait;  // relative
            if (SetWaitableTimer(m_timer, &due, 0, nullptr, nullptr, FALSE))
                WaitForMultipleObjects(2, waits, FALSE, INFINITE);
            else
                WaitForSingleObject(m_wake, static_cast<DWORD>(wait / 10'000 + 1));
            continue;  // due, or the state changed: look again
        }
        postTick();
        deadline = nextDeadline(deadline, current, period);
    }
}

void Win32RepeatingTimer::tick()
{
    // A nested message loop inside the handler (a dialog, a menu) must not run a second tick
    // in the middle of the first.
    if (!m_enabled || m_inTick)
        return;
    m_inTick = true;
    if (m_sink != nullptr)
        m_sink->Timer1_Timer();
    m_inTick = false;
}

void Win32RepeatingTimer::updateRequests()
{
    const bool wanted = m_enabled && m_period < kFastBelow;
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

LRESULT CALLBACK Win32RepeatingTimer::windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* timer = reinterpret_cast<Win32RepeatingTimer*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (timer != nullptr && message == kTickMessage) {
        timer->m_ticksPosted.fetch_sub(1);
        timer->tick();
        return 0;
    }
    if (timer != nullptr && message == WM_TIMER && wParam == kFallbackTimerId) {
        timer->tick();
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}
