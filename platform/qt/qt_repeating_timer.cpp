#include "platform/qt/qt_repeating_timer.h"

#include <algorithm>

#include "platform/form_event_sink.h"

QtRepeatingTimer::QtRepeatingTimer()
{
    // A coarse timer may fire up to 5% late and would make a 25 ms tick drift from the
    // nominal hold time the motion model counts.
    m_timer.setTimerType(Qt::PreciseTimer);
    m_timer.setInterval(25);
    QObject::connect(&m_timer, &QTimer::timeout, [this] {
        if (m_sink)
            m_sink->Timer1_Timer();
    });
}

void QtRepeatingTimer::setEnabled(bool enabled)
{
    if (enabled == m_enabled)
        return;
    m_enabled = enabled;
    if (enabled)
        m_timer.start();
    else
        m_timer.stop();
}

void QtRepeatingTimer::setPeriod(std::int32_t milliseconds)
{
    // QTimer takes 0 as "whenever the loop is idle", which would spin a core; the interface
    // allows 1 and up, and anything lower is held at 1.
    const int period = std::max<std::int32_t>(milliseconds, 1);
    if (period == m_timer.interval())
        return;
    // On a running timer this restarts the period from now: the next tick comes one new
    // period after the call.
    m_timer.setInterval(period);
}
