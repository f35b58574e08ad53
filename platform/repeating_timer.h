#pragma once

#include <cstdint>

/// A repeating timer on the UI thread. The backend calls Form1::Timer1_Timer on every tick;
/// ticks never arrive in the middle of another handler.
class RepeatingTimer {
public:
    virtual ~RepeatingTimer() = default;
    virtual void setEnabled(bool enabled) = 0;
    /// Period in milliseconds, from 1 to INT32_MAX; takes effect from the next tick and
    /// should be kept true on average (no drift from the system clock's granularity).
    virtual void setPeriod(std::int32_t milliseconds) = 0;
};
