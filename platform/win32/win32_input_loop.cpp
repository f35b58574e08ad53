#include "platform/win32/win32_input_loop.h"

#include <algorithm>
#include <chrono>

namespace {

LoopTime loopNow()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

Win32InputLoop::Win32InputLoop(KeyEventSource& hook, RepeatingTimer& timer) : m_hook(hook), m_timer(timer)
{
    m_timer.setEnabled(false);
    m_timer.setPeriod(m_periodMs);
    m_timer.setEventSink(this);
}

Win32InputLoop::~Win32InputLoop() { m_timer.setEventSink(nullptr); }

void Win32InputLoop::motionChanged(const MotionSettings& motion)
{
    const std::int32_t period = std::max<std::int32_t>(1, motion.intervalMs);
    if (period != m_periodMs) {
        m_periodMs = period;
        m_timer.setPeriod(period);
    }
}

std::uintptr_t Win32InputLoop::install(KeySink& sink)
{
    m_sink = &sink;
    return m_hook.install(*this);
}

void Win32InputLoop::uninstall(std::uintptr_t handle) { m_hook.uninstall(handle); }

std::uintptr_t Win32InputLoop::reinstall(std::uintptr_t handle, KeySink& sink, std::uint8_t claimed,
                                         std::uint8_t& stillDown)
{
    m_sink = &sink;
    return m_hook.reinstall(handle, *this, claimed, stillDown);
}

bool Win32InputLoop::keyChanged(const KeyChange& change) noexcept
{
    const bool claimed = m_sink != nullptr && m_sink->keyChanged(change);
    afterChange();
    return claimed;
}

void Win32InputLoop::Timer1_Timer()
{
    // A tick of the timer is the tick the core waits for, even when the timer came a little
    // early; one that came late runs the ticks owed since.
    if (const auto due = core().nextTick())
        core().runDue(std::max(*due, loopNow()));
    afterChange();
}

void Win32InputLoop::afterChange()
{
    const auto due = core().nextTick();
    if (!due) {
        if (m_running)
            m_timer.setEnabled(false);
        m_running = false;
        return;
    }
    if (*due <= loopNow()) {
        // An arrow pressed from rest: its first step as soon as this handler returns.
        m_timer.startNow();
        m_running = true;
    } else if (!m_running) {
        m_timer.setEnabled(true);
        m_running = true;
    }
}
