#pragma once

#include <windows.h>
#include <mmsystem.h>

#include <cstdint>

#include "platform/repeating_timer.h"

/// The window timer, kept true to its period on average.
///
/// A plain SetTimer is rounded up to the system clock tick (about 15.6 ms on most machines),
/// so a 25 ms timer fires about every 31 ms and the pointer runs a fifth slower than the
/// settings say. Each tick therefore re-arms a one-shot SetTimer for the time left until the
/// next deadline on the performance counter (deadline += period, never "now + period"): a
/// tick that the clock granularity made late makes the next wait shorter, so the average
/// period is exact whatever the granularity, with jitter of at most one clock tick. While
/// the period is short (moving the pointer) the program also asks for a 1 ms clock
/// (timeBeginPeriod) to make that jitter small. The request is held exactly while the timer
/// runs with such a period: a stopped timer, or one at the 200 ms idle period, gives it back
/// at once, since a finer clock costs the whole system wakeups and power.
/// Newer systems may ignore the request for a hidden window: the deadline keeps the average.
///
/// Window timer messages, unlike a waitable timer waited on in our own loop, are dispatched
/// by every message loop on the thread, so ticks go on while the popup menu or a window
/// move loop runs. The system never sets a window timer below 10 ms (USER_TIMER_MINIMUM);
/// shorter periods tick every 10 ms.
class Win32RepeatingTimer final : public RepeatingTimer {
public:
    /// How the timer asks the system for the 1 ms clock and gives it back (a test counts).
    struct ClockRequests {
        MMRESULT(WINAPI* begin)(UINT);
        MMRESULT(WINAPI* end)(UINT);
    };

    /// A stopped timer of 25 ms, ticking on the thread that creates it.
    Win32RepeatingTimer() : Win32RepeatingTimer(ClockRequests{timeBeginPeriod, timeEndPeriod}) {}
    explicit Win32RepeatingTimer(ClockRequests clock);
    Win32RepeatingTimer(const Win32RepeatingTimer&) = delete;
    Win32RepeatingTimer& operator=(const Win32RepeatingTimer&) = delete;
    ~Win32RepeatingTimer() override;

    void setEventSink(FormEventSink* sink) override { m_sink = sink; }
    void setEnabled(bool enabled) override;
    void setPeriod(std::int32_t milliseconds) override;
    void startNow() override;

    /// Milliseconds from |now| to the deadline, rounded up, for the one-shot wait; 0 when the
    /// deadline is less than 1 ms away (due now). Counter units are |frequency| per second.
    static std::uint32_t waitMilliseconds(std::int64_t deadline, std::int64_t now, std::int64_t frequency);
    /// The deadline after a tick that was due at |deadline| and ran at |now|: one period on,
    /// or, when the program fell more than a whole period behind (suspend, a long block),
    /// one period from now, so that no burst of catch-up ticks follows.
    static std::int64_t nextDeadline(std::int64_t deadline, std::int64_t now, std::int64_t periodCounts);

private:
    static LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void tick();
    void arm();
    void updateClockRequest();
    std::int64_t now() const;
    std::int64_t periodCounts() const;

    ClockRequests m_clock;
    HWND m_window = nullptr;
    FormEventSink* m_sink = nullptr;
    bool m_enabled = false;
    std::int32_t m_period = 25;
    std::int64_t m_frequency = 1;
    std::int64_t m_deadline = 0;
    bool m_fineClock = false;
    bool m_inTick = false;
};
