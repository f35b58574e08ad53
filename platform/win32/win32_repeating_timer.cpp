#include "platform/win32/win32_repeating_timer.h"

#include "platform/win32/win32_window_messages.h"

namespace {

constexpr const wchar_t* kWindowClass = L"PavroTimerWindow";
constexpr UINT kTickAtOnceMessage = WM_APP + 1;
constexpr UINT_PTR kTimerId = 1;

} // namespace

Win32RepeatingTimer::Win32RepeatingTimer()
{
    m_window = win32MessageWindow(kWindowClass, windowProc, this);
}

Win32RepeatingTimer::~Win32RepeatingTimer()
{
    if (m_window != nullptr) {
        KillTimer(m_window, kTimerId);
        SetWindowLongPtrW(m_window, GWLP_USERDATA, 0);
        DestroyWindow(m_window);
    }
}

void Win32RepeatingTimer::setEnabled(bool enabled)
{
    m_enabled = enabled;
    if (m_window == nullptr)
        return;
    if (enabled)
        SetTimer(m_window, kTimerId, static_cast<UINT>(m_period), nullptr);
    else
        KillTimer(m_window, kTimerId);
}

void Win32RepeatingTimer::setPeriod(std::int32_t milliseconds)
{
    m_period = milliseconds < 1 ? 1 : milliseconds;
    if (m_enabled)
        setEnabled(true);  // the next tick a period from now
}

void Win32RepeatingTimer::startNow()
{
    setEnabled(true);
    // Taken as soon as the current handler returns; the timer's next one is a period later.
    if (m_window != nullptr && !m_tickPosted)
        m_tickPosted = PostMessageW(m_window, kTickAtOnceMessage, 0, 0) != FALSE;
}

void Win32RepeatingTimer::tick()
{
    // A nested message loop inside the handler (a dialog, a menu) must not run a second tick
    // in the middle of the first.
    if (!m_enabled || m_inTick)
        return;
    m_inTick = true;
    if (m_sink != nullptr)
        m_sink->timerTicked();
    m_inTick = false;
}

LRESULT CALLBACK Win32RepeatingTimer::windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* timer = reinterpret_cast<Win32RepeatingTimer*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (timer != nullptr && message == kTickAtOnceMessage) {
        timer->m_tickPosted = false;
        timer->tick();
        return 0;
    }
    if (timer != nullptr && message == WM_TIMER && wParam == kTimerId) {
        timer->tick();
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}
