#pragma once

#include <cstdint>

/// Receives a repeating timer's ticks.
class TimerTickSink {
public:
    virtual void timerTicked() = 0;

protected:
    ~TimerTickSink() = default;
};

/// A repeating timer on the thread that made it. Each tick is delivered as the sink's
/// timerTicked; ticks never arrive in the middle of another handler.
class RepeatingTimer {
public:
    virtual ~RepeatingTimer() = default;
    /// Where ticks go from now on; none (nullptr): nothing ticks.
    virtual void setEventSink(TimerTickSink* sink) = 0;
    virtual void setEnabled(bool enabled) = 0;
    /// Period in milliseconds, from 1 to INT32_MAX; takes effect from the next tick and
    /// should be kept true on average (no drift from the system clock's granularity).
    virtual void setPeriod(std::int32_t milliseconds) = 0;
    /// Enables the timer with its first tick as soon as the handler that called this has
    /// returned, then one every period from that tick. Called on the key path: it must not
    /// allocate, block or log.
    virtual void startNow() = 0;
};
