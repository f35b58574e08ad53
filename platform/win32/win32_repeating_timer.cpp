#include "platform/win32/win32_repeating_timer.h"

#include <mmsystem.h>

#include "platform/form_event_sink.h"
#include "platform/win32/win32_window_messages.h"

namespace {

constexpr UINT_PTR kTimerId = 1;
constexpr const wchar_t* kWindowClass = L"PavroTickWindow";
// Below this period the program is moving the pointer and asks for a 1 ms system clock.
constexpr std::int32_t kFineClockBelow = 100;

} // namespace

Win32RepeatingTimer::Win32RepeatingTimer(ClockRequests clock) : m_clock(clock)
{
    LARGE_INTEGER frequency{};
    QueryPerformanceFrequency(&frequency);
    m_frequency = frequency.QuadPart > 0 ? frequency.QuadPart : 1;

    m_window = win32MessageWindow(kWindowClass, windowProc, this);
}

Win32RepeatingTimer::~Win32RepeatingTimer()
{
    setEnabled(false);
    if (m_window != nullptr) {
        SetWindowLongPtrW(m_window, GWLP_USERDATA, 0);
        DestroyWindow(m_window);
    }
}

std::uint32_t Win32RepeatingTimer::waitMilliseconds(std::int64_t deadline, std::int64_t now, std::int64_t frequency)
{
    const std::int64_t remaining = deadline - now;
    if (frequency <= 0 || remaining * 1000 < frequency)
        return 0;
    const std::int64_t milliseconds = (remaining * 1000 + frequency - 1) / frequency;
    return milliseconds > USER_TIMER_MAXIMUM ? USER_TIMER_MAXIMUM : static_cast<std::uint32_t>(milliseconds);
}

std::int64_t Win32RepeatingTimer::nextDeadline(std::int64_t deadline, std::int64_t now, std::int64_t periodCounts)
{
    const std::int64_t next = deadline + periodCounts;
    return next > now ? next : now + periodCounts;
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
    if (enabled) {
        m_deadline = now() + periodCounts();
        arm();
    } else if (m_window != nullptr) {
        KillTimer(m_window, kTimerId);
    }
    updateClockRequest();
}

void Win32RepeatingTimer::setPeriod(std::int32_t milliseconds)
{
    m_period = milliseconds < 1 ? 1 : milliseconds;
    if (m_enabled) {
        m_deadline = now() + periodCounts();
        arm();
    }
    updateClockRequest();
}

void Win32RepeatingTimer::startNow()
{
    m_enabled = true;
    m_deadline = now();
    // A posted tick is taken as soon as the current handler returns; a window timer would
    // wait at least the system minimum. The tick then arms the timer for one period on.
    if (m_window != nullptr)
        PostMessageW(m_window, WM_TIMER, kTimerId, 0);
    updateClockRequest();
}

void Win32RepeatingTimer::arm()
{
    if (m_window == nullptr)
        return;
    // One-shot use of a window timer: each arming replaces the previous one, and tick()
    // kills it as soon as it fires. A wait of 0 becomes the system minimum (10 ms).
    SetTimer(m_window, kTimerId, waitMilliseconds(m_deadline, now(), m_frequency), nullptr);
}

void Win32RepeatingTimer::tick()
{
    KillTimer(m_window, kTimerId);
    // A nested message loop inside the handler (a dialog, a menu) must not run a second
    // tick in the middle of the first; the timer is armed again when the first returns.
    if (!m_enabled || m_inTick)
        return;
    const std::int64_t current = now();
    if (waitMilliseconds(m_deadline, current, m_frequency) > 0) {
        arm();
        return;
    }
    m_deadline = nextDeadline(m_deadline, current, periodCounts());
    m_inTick = true;
    if (m_sink != nullptr)
        m_sink->Timer1_Timer();
    m_inTick = false;
    if (m_enabled)
        arm();
}

void Win32RepeatingTimer::updateClockRequest()
{
    const bool wanted = m_enabled && m_period < kFineClockBelow;
    if (wanted == m_fineClock)
        return;
    if (wanted)
        m_fineClock = m_clock.begin(1) == TIMERR_NOERROR;
    else {
        m_clock.end(1);
        m_fineClock = false;
    }
}

LRESULT CALLBACK Win32RepeatingTimer::windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_TIMER && wParam == kTimerId) {
        auto* timer = reinterpret_cast<Win32RepeatingTimer*>(GetWindowLongPtrW(window, GWLP_USERDATA));
        if (timer != nullptr)
            timer->tick();
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}
