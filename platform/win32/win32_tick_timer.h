#pragma once

#include <windows.h>
#include <mmsystem.h>

#include <cstdint>
#include <optional>

#include "platform/input_loop.h"

/// The input loop's tick timer: a waitable timer that the loop's thread waits on beside its
/// commands and its messages, armed for the core's next tick on the loop's clock.
///
/// Window timers are no good for the tick: SetTimer never goes below 10 ms, it is rounded up to
/// the system clock tick (15.6 ms unless someone asks for a finer clock), and from Windows 11 on
/// a process with no visible window is not granted a finer clock (timeBeginPeriod) at all, so
/// ticks of 10 or 25 ms land 15.6 or 31.2 ms apart. A high-resolution waitable timer
/// (CREATE_WAITABLE_TIMER_HIGH_RESOLUTION, Windows 10 1803 on) expires within about a
/// millisecond whatever the system clock; where the system refuses that flag, a plain waitable
/// timer with the 1 ms clock held while the pointer moves does the same on older systems.
///
/// While the pointer moves with a short interval the process also asks not to be power
/// throttled (SetProcessInformation, ProcessPowerThrottling, Windows 10 1709 on): an invisible
/// process is otherwise run at the system's efficiency quality of service, on slow cores with
/// its timers coalesced. Both requests are given back the moment the motion stops or slows to
/// an interval of 100 ms or more. Used on the loop's thread only.
class Win32TickTimer {
public:
    /// What the timer asks of the system while the pointer moves fast (a test counts them).
    struct SystemRequests {
        MMRESULT(WINAPI* beginClock)(UINT);  ///< the 1 ms clock, for the plain waitable timer only
        MMRESULT(WINAPI* endClock)(UINT);
        void (*fullSpeed)(bool wanted);      ///< the process's power-throttling opt-out
    };
    /// Which waitable timer to use: the high-resolution one where the system has it, or the
    /// plain one (the fallback, also for a test).
    enum class Resolution { High, SystemClock };
    /// Intervals below this are the pointer moving, and ask for full speed.
    static constexpr std::int32_t kFastBelowMs = 100;

    /// The system's own requests.
    static SystemRequests systemRequests();
    explicit Win32TickTimer(SystemRequests requests = systemRequests(), Resolution wanted = Resolution::High);
    Win32TickTimer(const Win32TickTimer&) = delete;
    Win32TickTimer& operator=(const Win32TickTimer&) = delete;
    /// Gives back what is still held.
    ~Win32TickTimer();

    /// The loop's clock: nanoseconds on the performance counter.
    static LoopTime now() noexcept;
    /// The handle to wait on; null when no waitable timer could be made (then arm() gives a
    /// timeout for the wait instead).
    HANDLE handle() const noexcept { return m_timer; }
    bool highResolution() const noexcept { return m_highResolution; }

    /// Arms the timer for |deadline| (none: at rest) seen at |now| and returns the timeout for
    /// the loop's wait: 0 when the tick is due already (|deadline| not after |now|), INFINITE
    /// when the timer's handle (or nothing) will end the wait, else the milliseconds to wait
    /// where the timer can't be armed.
    DWORD arm(std::optional<LoopTime> deadline, LoopTime now) noexcept;
    /// Holds the system requests while |moving| with an interval below kFastBelowMs.
    void setMoving(bool moving, std::int32_t intervalMs) noexcept;

    /// The wait from |now| to |deadline| in 100 ns units (the waitable timer's), rounded up; 0
    /// when less than 0.1 ms is left (due now). Counter units are |frequency| per second.
    static std::int64_t waitHundredNanoseconds(std::int64_t deadline, std::int64_t now, std::int64_t frequency);

private:
    SystemRequests m_requests;
    HANDLE m_timer = nullptr;
    bool m_highResolution = false;
    bool m_fast = false;       ///< the system requests are held
    bool m_clockHeld = false;  ///< the 1 ms clock was granted
};
