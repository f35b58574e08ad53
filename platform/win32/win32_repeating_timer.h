#pragma once

#include <windows.h>
#include <mmsystem.h>

#include <atomic>
#include <cstdint>

#include "platform/repeating_timer.h"

/// The tick timer: a waitable timer on a thread of its own, each expiry posted to the UI thread.
///
/// Window timers are no good for the tick: SetTimer never goes below 10 ms, it is rounded up to
/// the system clock tick (15.6 ms unless someone asks for a finer clock), and from Windows 11 on
/// a process with no visible window is not granted a finer clock (timeBeginPeriod) at all, so
/// ticks of 10 or 25 ms land 15.6 or 31.2 ms apart. A high-resolution waitable timer
/// (CREATE_WAITABLE_TIMER_HIGH_RESOLUTION, Windows 10 1803 on) expires within about a
/// millisecond whatever the system clock; where the system refuses that flag, a plain waitable
/// timer with the 1 ms clock held while the period is short does the same on older systems.
///
/// The thread keeps the deadlines on the performance counter's grid (deadline += period, never
/// "now + period"), so a late expiry shortens the next wait and the average period is exact.
/// Every tick counts (each moves the pointer one step): ticks that a late thread or a busy UI
/// thread owes are delivered back to back, up to three; a longer stall (a suspend) starts the
/// grid afresh instead of a burst. Posted messages are dispatched by every message loop on the UI thread,
/// so ticks go on while the popup menu or a window move loop runs; a tick that arrives while
/// the previous one is still running (a nested loop inside it) is dropped.
///
/// While the period is short (the pointer moving) the process also asks not to be power
/// throttled (SetProcessInformation, ProcessPowerThrottling, Windows 10 1709 on): an invisible
/// process is otherwise run at the system's efficiency quality of service, on slow cores with
/// its timers coalesced. Both requests are given back the moment the timer stops or slows to
/// the 200 ms idle period.
class Win32RepeatingTimer final : public RepeatingTimer {
public:
    /// What the timer asks of the system while it runs fast (a test counts them).
    struct SystemRequests {
        MMRESULT(WINAPI* beginClock)(UINT);  ///< the 1 ms clock, for the plain waitable timer only
        MMRESULT(WINAPI* endClock)(UINT);
        void (*fullSpeed)(bool wanted);      ///< the process's power-throttling opt-out
    };
    /// Which waitable timer to use: the high-resolution one where the system has it, or the
    /// plain one (the fallback, also for a test).
    enum class Resolution { High, SystemClock };

    /// The system's own requests, the high-resolution timer where there is one.
    static SystemRequests systemRequests();
    /// A stopped timer of 25 ms whose ticks reach the thread that creates it.
    Win32RepeatingTimer() : Win32RepeatingTimer(systemRequests(), Resolution::High) {}
    Win32RepeatingTimer(SystemRequests requests, Resolution wanted);
    Win32RepeatingTimer(const Win32RepeatingTimer&) = delete;
    Win32RepeatingTimer& operator=(const Win32RepeatingTimer&) = delete;
    ~Win32RepeatingTimer() override;

    void setEventSink(TimerTickSink* sink) override { m_sink = sink; }
    void setEnabled(bool enabled) override;
    void setPeriod(std::int32_t milliseconds) override;
    void startNow() override;

    /// True when the high-resolution waitable timer is in use.
    bool highResolution() const { return m_highResolution; }

    /// The wait from |now| to |deadline| in 100 ns units (the waitable timer's), rounded up; 0
    /// when less than 0.1 ms is left (due now). Counter units are |frequency| per second.
    static std::int64_t waitHundredNanoseconds(std::int64_t deadline, std::int64_t now, std::int64_t frequency);
    /// The deadline after a tick that was due at |deadline| and ran at |now|: one period on,
    /// even when that has passed too (the ticks owed come back to back), or, when the program
    /// fell three periods or more behind (suspend, a long block), one period from now.
    static std::int64_t nextDeadline(std::int64_t deadline, std::int64_t now, std::int64_t periodCounts);

private:
    static LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    static DWORD WINAPI threadMain(LPVOID parameter);
    void run();
    void tick();
    /// Hands the UI thread's state to the timer thread: ticks from |deadline| on, or none.
    void publish(std::int64_t deadline);
    void postTick();
    void updateRequests();
    std::int64_t now() const;
    std::int64_t periodCounts() const;

    SystemRequests m_requests;
    HWND m_window = nullptr;
    HANDLE m_timer = nullptr;
    HANDLE m_wake = nullptr;  ///< auto-reset: the shared state changed, or the thread must end
    HANDLE m_thread = nullptr;
    bool m_highResolution = false;
    TimerTickSink* m_sink = nullptr;
    // The UI thread's own state.
    bool m_enabled = false;
    std::int32_t m_period = 25;
    std::int64_t m_frequency = 1;
    bool m_fast = false;       ///< the system requests are held
    bool m_clockHeld = false;  ///< the 1 ms clock was granted
    bool m_inTick = false;
    // Shared with the timer thread: written by the UI thread, then the generation is raised.
    std::atomic<bool> m_sharedEnabled{false};
    std::atomic<std::int64_t> m_sharedDeadline{0};
    std::atomic<std::int64_t> m_sharedPeriod{0};
    std::atomic<std::uint32_t> m_generation{0};
    std::atomic<bool> m_quit{false};
    std::atomic<int> m_ticksPosted{0};  ///< tick messages not yet taken by the UI thread
};
