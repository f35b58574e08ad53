#pragma once

#include <QSocketNotifier>

#include <memory>

#include "platform/repeating_timer.h"

/// The window's tick: a kernel interval timer (timerfd) read through the event loop.
///
/// The kernel keeps the period exact on average (each expiry is a multiple of the period from
/// the arming, never "now + period"), a stopped timer costs no wakeup at all, and arming it is
/// one system call that allocates nothing, so a key handler can start it with its first tick
/// due at once. Expiries that the loop could not take in time are delivered as one tick, as a
/// window timer's are.
class QtRepeatingTimer final : public RepeatingTimer {
public:
    QtRepeatingTimer();
    ~QtRepeatingTimer() override;
    QtRepeatingTimer(const QtRepeatingTimer&) = delete;
    QtRepeatingTimer& operator=(const QtRepeatingTimer&) = delete;

    void setEventSink(TimerTickSink* sink) override { m_sink = sink; }
    void setEnabled(bool enabled) override;
    void setPeriod(std::int32_t milliseconds) override;
    void startNow() override;

private:
    /// Arms the timer with its first expiry |firstNanoseconds| from now (0 disarms).
    void arm(long long firstNanoseconds);
    void expired();

    int m_fd = -1;
    std::unique_ptr<QSocketNotifier> m_notifier;
    TimerTickSink* m_sink = nullptr;
    bool m_enabled = false;
    std::int32_t m_period = 25;
};
